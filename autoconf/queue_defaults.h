// The printer's answers as the queue's own defaults: when the PPD asks for it, every choice that
// the device query marked is reported to the scheduler on standard error, as a line
// "PPD: Default<Keyword>=<Choice> ...", which the scheduler applies to the queue's PPD when the
// job ends.
#ifndef ZORV_AUTOCONF_QUEUE_DEFAULTS_H
#define ZORV_AUTOCONF_QUEUE_DEFAULTS_H

#include <cups/ppd.h>

#include <cstddef>
#include <cstdio>

// True when the PPD carries "*zorvUpdateQueue: True"; any other value, or none, is false.
bool queueUpdateWanted(ppd_file_t* ppd);

// True when text can stand on a "PPD:" line as a keyword or a value: printable ASCII without
// blanks, quotes, backslashes, braces or "=", which the scheduler's option parser would split,
// unquote or misread.
bool safeOnPpdLine(const char* text);

// The scheduler reads a filter's messages in lines of at most 2047 bytes; a "PPD:" line is
// closed before it could come near that: with its newline it has at most kPpdLineLimit - 1.
inline constexpr size_t kPpdLineLimit = 1024;

// Collects " Default<Keyword>=<Choice>" pairs into "PPD:" lines on out, each written when the
// next pair would not fit it and at destruction.
class PpdLine {
 public:
  explicit PpdLine(FILE* out) : out_(out) {}
  ~PpdLine();
  PpdLine(const PpdLine&) = delete;
  PpdLine& operator=(const PpdLine&) = delete;

  // False, with nothing added, for a pair that does not fit a line even on its own.
  bool add(const char* keyword, const char* choice);
  void flush();

 private:
  FILE* out_;
  char line_[kPpdLineLimit] = {};
  size_t used_ = 0;
};

// Writes the "PPD:" lines for every installable option with a marked choice (several pairs a
// line, each line well below the scheduler's line limit) and a warning for each option whose
// keyword or choice could not be carried safely. Returns the number of options reported.
int reportQueueDefaults(ppd_file_t* ppd);

#endif  // ZORV_AUTOCONF_QUEUE_DEFAULTS_H
