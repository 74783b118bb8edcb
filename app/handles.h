// RAII owners of the handles that the Printer Application gets from PAPPL and libcups: IPP
// messages, print options and option arrays (opened PPD files: probe/ppd_handles.h).
#ifndef ZORV_APP_HANDLES_H
#define ZORV_APP_HANDLES_H

#include <pappl/pappl.h>
#include <pthread.h>

#include <memory>

struct IppDeleter {
  void operator()(ipp_t* ipp) const { ippDelete(ipp); }
};
using UniqueIpp = std::unique_ptr<ipp_t, IppDeleter>;

struct PrintOptionsDeleter {
  void operator()(pappl_pr_options_t* options) const {
    if (options != nullptr) papplJobDeletePrintOptions(options);
  }
};
using UniquePrintOptions = std::unique_ptr<pappl_pr_options_t, PrintOptionsDeleter>;

// The name/value pairs of cupsParseOptions or papplDeviceParseID with their count.
class CupsOptions {
 public:
  CupsOptions() = default;
  ~CupsOptions() { cupsFreeOptions(count, options); }
  CupsOptions(const CupsOptions&) = delete;
  CupsOptions& operator=(const CupsOptions&) = delete;
  const char* get(const char* name) const { return cupsGetOption(name, count, options); }

  int count = 0;
  cups_option_t* options = nullptr;
};

// A mutex and a condition variable that are destroyed with their owner, and a lock held for a
// scope.
class Mutex {
 public:
  Mutex() { pthread_mutex_init(&mutex_, nullptr); }
  ~Mutex() { pthread_mutex_destroy(&mutex_); }
  Mutex(const Mutex&) = delete;
  Mutex& operator=(const Mutex&) = delete;
  pthread_mutex_t* get() { return &mutex_; }

 private:
  pthread_mutex_t mutex_;
};

class Condition {
 public:
  Condition() { pthread_cond_init(&condition_, nullptr); }
  ~Condition() { pthread_cond_destroy(&condition_); }
  Condition(const Condition&) = delete;
  Condition& operator=(const Condition&) = delete;
  void wait(Mutex& mutex) { pthread_cond_wait(&condition_, mutex.get()); }
  void broadcast() { pthread_cond_broadcast(&condition_); }

 private:
  pthread_cond_t condition_;
};

class Locked {
 public:
  explicit Locked(Mutex& mutex) : mutex_(mutex) { pthread_mutex_lock(mutex_.get()); }
  ~Locked() { pthread_mutex_unlock(mutex_.get()); }
  Locked(const Locked&) = delete;
  Locked& operator=(const Locked&) = delete;

 private:
  Mutex& mutex_;
};

#endif  // ZORV_APP_HANDLES_H
