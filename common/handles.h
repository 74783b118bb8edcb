// RAII owners for the C handles of the system's libraries: streams, descriptors, heap blocks,
// compiled regular expressions, and temporary files named by path.
#ifndef ZORV_COMMON_HANDLES_H
#define ZORV_COMMON_HANDLES_H

#include <dirent.h>
#include <regex.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <new>
#include <type_traits>

#include "log/text.h"

struct FileCloser {
  void operator()(FILE* file) const {
    if (file != nullptr) fclose(file);
  }
};
using UniqueFile = std::unique_ptr<FILE, FileCloser>;

struct DirCloser {
  void operator()(DIR* dir) const {
    if (dir != nullptr) closedir(dir);
  }
};
using UniqueDir = std::unique_ptr<DIR, DirCloser>;

struct FreeDeleter {
  void operator()(void* block) const { free(block); }
};
template <typename T>
using UniqueMalloc = std::unique_ptr<T, FreeDeleter>;

// An array of count value-initialized T on the C heap, or null when memory runs out. The
// programs do without the C++ runtime library (no exceptions, no operator new), so arrays come
// from calloc; T must need no destructor, since free() releases them.
template <typename T>
UniqueMalloc<T[]> make_array(size_t count) {
  static_assert(std::is_trivially_destructible_v<T>, "free() runs no destructors");
  T* array = static_cast<T*>(calloc(count > 0 ? count : 1, sizeof(T)));
  if (array != nullptr) {
    for (size_t i = 0; i < count; ++i) new (array + i) T();
  }
  return UniqueMalloc<T[]>(array);
}

// One T on the C heap, made and destroyed as an object (T may own locks and handles), for
// objects whose lifetime no scope bounds; null when memory runs out.
template <typename T>
struct DestroyFree {
  void operator()(T* object) const {
    if (object == nullptr) return;
    object->~T();
    free(object);
  }
};
template <typename T>
using UniqueObject = std::unique_ptr<T, DestroyFree<T>>;
template <typename T>
UniqueObject<T> make_object() {
  void* block = calloc(1, sizeof(T));
  return UniqueObject<T>(block != nullptr ? new (block) T() : nullptr);
}

// A list of trivially copyable T on the C heap that grows as elements are added, for lists
// whose length is known only at their end. add() is false when memory runs out; the element
// is then not kept and the list stays as it was.
template <typename T>
class HeapList {
 public:
  static_assert(std::is_trivially_copyable_v<T>, "realloc() moves the elements as bytes");
  HeapList() = default;
  HeapList(const HeapList&) = delete;
  HeapList& operator=(const HeapList&) = delete;
  HeapList(HeapList&& other) noexcept
      : items_(other.items_), size_(other.size_), capacity_(other.capacity_) {
    other.items_ = nullptr;
    other.size_ = other.capacity_ = 0;
  }
  ~HeapList() { free(items_); }

  bool add(const T& item) {
    if (size_ == capacity_) {
      const size_t capacity = capacity_ > 0 ? 2 * capacity_ : 8;
      T* grown = static_cast<T*>(reallocarray(items_, capacity, sizeof(T)));
      if (grown == nullptr) return false;
      items_ = grown;
      capacity_ = capacity;
    }
    items_[size_++] = item;
    return true;
  }
  // Removes element i; the last element takes its place.
  void remove_at(size_t i) {
    items_[i] = items_[size_ - 1];
    --size_;
  }
  size_t size() const { return size_; }
  const T& operator[](size_t i) const { return items_[i]; }
  T& operator[](size_t i) { return items_[i]; }

 private:
  T* items_ = nullptr;
  size_t size_ = 0;
  size_t capacity_ = 0;
};

// Owns a file descriptor; descriptors 0 to 2 are never closed by it.
class UniqueFd {
 public:
  UniqueFd() = default;
  explicit UniqueFd(int fd) : fd_(fd) {}
  UniqueFd(const UniqueFd&) = delete;
  UniqueFd& operator=(const UniqueFd&) = delete;
  UniqueFd(UniqueFd&& other) noexcept : fd_(other.release()) {}
  UniqueFd& operator=(UniqueFd&& other) noexcept {
    if (this != &other) reset(other.release());
    return *this;
  }
  ~UniqueFd() { reset(); }

  int get() const { return fd_; }
  int release() {
    int fd = fd_;
    fd_ = -1;
    return fd;
  }
  void reset(int fd = -1) {
    if (fd_ > 2) close(fd_);
    fd_ = fd;
  }

 private:
  int fd_ = -1;
};

// Frees a compiled expression that lives elsewhere (usually on the stack); set it only after
// regcomp succeeded.
struct RegexFreer {
  void operator()(regex_t* expression) const { regfree(expression); }
};
using RegexOwner = std::unique_ptr<regex_t, RegexFreer>;

// Removes a temporary file at destruction. The path is copied in, because the CUPS library
// returns fetched paths in one buffer that its next fetch overwrites. A path that does not fit
// is not held at all: removing a cut name would remove another file.
class TempPathGuard {
 public:
  static constexpr size_t kPathSize = 4096;

  TempPathGuard() = default;
  explicit TempPathGuard(const char* path) { reset(path); }
  TempPathGuard(const TempPathGuard&) = delete;
  TempPathGuard& operator=(const TempPathGuard&) = delete;
  ~TempPathGuard() { reset(nullptr); }

  const char* path() const { return path_; }
  bool empty() const { return path_[0] == '\0'; }
  // Removes the file held so far, then holds path (nothing for null or a path too long).
  void reset(const char* path) {
    if (path_[0] != '\0') unlink(path_);
    path_[0] = '\0';
    if (path != nullptr && copy_text(path_, sizeof(path_), path) >= sizeof(path_)) {
      path_[0] = '\0';
    }
  }
  // Stops holding the file without removing it.
  void release() { path_[0] = '\0'; }

 private:
  char path_[kPathSize] = {};
};

#endif  // ZORV_COMMON_HANDLES_H
