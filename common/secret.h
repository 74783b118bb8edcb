// Memory for secrets (SNMPv3 passphrases and the keys made from them): pages of their own that
// a core dump leaves out, cleared before they are given back.
#ifndef ZORV_COMMON_SECRET_H
#define ZORV_COMMON_SECRET_H

#include <sys/mman.h>
#include <sys/prctl.h>
#include <unistd.h>

#include <cstring>
#include <new>
#include <type_traits>

// Owns one value-initialized T on anonymous pages marked MADV_DONTDUMP (and locked in memory
// where the process may, so that they are never swapped out). get() is null when no pages
// could be had; the caller then goes without the secret. T needs no destructor: the pages are
// cleared with explicit_bzero and unmapped.
template <typename T>
class Secret {
 public:
  static_assert(std::is_trivially_destructible_v<T>, "the pages are cleared, not destroyed");
  Secret() {
    const long page = sysconf(_SC_PAGESIZE);
    size_ = (sizeof(T) + static_cast<size_t>(page) - 1) / static_cast<size_t>(page) *
            static_cast<size_t>(page);
    void* pages = mmap(nullptr, size_, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (pages == MAP_FAILED) return;
    madvise(pages, size_, MADV_DONTDUMP);
    // Without the right to lock pages the secret may reach swap; it is still cleared.
    (void)mlock(pages, size_);
    value_ = new (pages) T();
  }
  ~Secret() {
    if (value_ == nullptr) return;
    explicit_bzero(value_, size_);
    munlock(value_, size_);
    munmap(value_, size_);
  }
  Secret(const Secret&) = delete;
  Secret& operator=(const Secret&) = delete;

  T* get() const { return value_; }
  T* operator->() const { return value_; }
  T& operator*() const { return *value_; }

 private:
  T* value_ = nullptr;
  size_t size_ = 0;
};

// For a program that holds secrets: no core dump of the process at all, since the SNMP
// library keeps copies of the keys on its own heap while a query runs. Also keeps other
// users' debuggers out. False when the kernel refused.
inline bool keepSecretsOutOfCoreDumps() {
  return prctl(PR_SET_DUMPABLE, 0, 0, 0, 0) == 0;
}

#endif  // ZORV_COMMON_SECRET_H
