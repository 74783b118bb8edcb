// The opening that both filters share: log, begin line, streams, command line, environment.
#ifndef ZORV_COMMON_FILTER_BEGIN_H
#define ZORV_COMMON_FILTER_BEGIN_H

// Registers log_close at exit, opens the log under the fixed program name, logs the begin
// line, makes standard error and output unbuffered, installs the filter signals and logs
// the command line (level 4) and the environment (level 7). Returns 0, or 1 after the usage
// and error lines on standard error when the argument count is not 6 or 7.
int filter_begin(const char* program, int argc, char* argv[]);

#endif  // ZORV_COMMON_FILTER_BEGIN_H
