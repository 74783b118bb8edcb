// The opening that both filters share: log, begin line, streams, command line, environment.
#ifndef ZORV_COMMON_FILTER_MAIN_H
#define ZORV_COMMON_FILTER_MAIN_H

#include <cstddef>

// Registers log_close at exit, opens the log under the fixed program name, logs the begin
// line, makes standard error and output unbuffered, installs the filter signals and logs
// the command line (level 4) and the environment (level 7). Returns 0, or 1 after the usage
// and error lines on standard error when the argument count is not 6 or 7.
int filter_begin(const char* program, int argc, char* argv[]);

// Writes the environment string as it may appear in the log into out (always terminated):
// the values of AUTH_* variables and the password of any URI's user information become
// "****". An out of masked_entry_size(entry) bytes holds the whole text.
void mask_environment_entry(const char* entry, char* out, size_t size);
size_t masked_entry_size(const char* entry);

#endif  // ZORV_COMMON_FILTER_MAIN_H
