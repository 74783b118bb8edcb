// What the test process itself writes to standard output or standard error while a call runs,
// for the functions that report on standard error as the filters do.
#ifndef ZORV_TESTS_SUPPORT_CAPTURE_H
#define ZORV_TESTS_SUPPORT_CAPTURE_H

#include <cstdio>
#include <string>

// Sends the descriptor behind stream to an unnamed file until finish().
class StreamCapture {
 public:
  explicit StreamCapture(FILE* stream = stderr);
  ~StreamCapture() { finish(); }
  StreamCapture(const StreamCapture&) = delete;
  StreamCapture& operator=(const StreamCapture&) = delete;

  // Puts the stream back and returns everything written to it since the capture began ("" on
  // a second call).
  std::string finish();

 private:
  FILE* stream_;
  FILE* file_ = nullptr;
  int saved_ = -1;
};

// Runs fn and returns what it wrote to standard error.
template <typename Fn>
std::string stderr_of(Fn&& fn) {
  StreamCapture err(stderr);
  fn();
  return err.finish();
}

#endif  // ZORV_TESTS_SUPPORT_CAPTURE_H
