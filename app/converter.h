// A converter run as a confined child process: its own session (killed with all it started),
// no new privileges, limits on its memory, processor time and file sizes, no descriptor of the
// server's, an empty environment but PATH and LANG, and a wall-clock limit kept by the reader.
// Its output is read through a pipe as it comes; its standard error is kept short.
#ifndef ZORV_APP_CONVERTER_H
#define ZORV_APP_CONVERTER_H

#include <sys/types.h>

#include <cstddef>
#include <cstdint>

inline constexpr size_t kConverterMessageSize = 200;

struct ConverterLimits {
  int seconds = 0;          // wall-clock time (and, plus one, processor time) of the run
  uint64_t memory = 0;      // address space of the child, in bytes
  uint64_t output = 0;      // bytes of output before the run is stopped
};

// A running converter; start it with startConverter, end it with endConverter.
struct Converter {
  pid_t pid = -1;
  int out_fd = -1;
  int err_fd = -1;
  int64_t deadline_ms = 0;
  uint64_t output = 0;                      // bytes read so far
  uint64_t max_output = 0;
  char message[kConverterMessageSize] = {};  // its first line of standard error, escaped
  size_t message_length = 0;
  bool message_done = false;
};

enum class ConverterRead {
  kData,      // *count bytes read
  kEnd,       // the output ended
  kTimedOut,  // the wall-clock limit passed
  kTooLarge,  // the output passed its limit
  kFailed,    // reading failed
};

// Starts argv (argv[0] an absolute path, the list null-terminated) under limits with its
// standard input from input_fd (-1: /dev/null). False, with why, when it could not be started.
bool startConverter(Converter* converter, const char* const* argv, int input_fd,
                    const ConverterLimits& limits, char* why, size_t why_size);

// Reads at most size bytes of its output, waiting at most until the deadline and at most
// wait_ms (so that the caller can look at its job now and then: kData with *count 0 then).
ConverterRead readConverter(Converter* converter, char* buffer, size_t size, int wait_ms,
                            size_t* count);

// Stops the converter (its whole session) unless it has ended, and reaps it. Returns its exit
// status (0 to 255), or -signal when a signal ended it (-SIGKILL when it was stopped here).
int endConverter(Converter* converter, bool stop);

#endif  // ZORV_APP_CONVERTER_H
