// RAII owners for the C handles of the standard library: streams, descriptors, heap blocks.
#ifndef ZORV_COMMON_HANDLES_H
#define ZORV_COMMON_HANDLES_H

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <new>
#include <type_traits>

struct FileCloser {
  void operator()(FILE* file) const {
    if (file != nullptr) fclose(file);
  }
};
using UniqueFile = std::unique_ptr<FILE, FileCloser>;

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

#endif  // ZORV_COMMON_HANDLES_H
