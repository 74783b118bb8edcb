// The printer's answers as the queue's own defaults: when the PPD asks for it, every choice that
// the device query marked is reported to the scheduler on standard error, as a line
// "PPD: Default<Keyword>=<Choice> ...", which the scheduler applies to the queue's PPD when the
// job ends.
#ifndef ZORV_AUTOCONF_QUEUE_DEFAULTS_H
#define ZORV_AUTOCONF_QUEUE_DEFAULTS_H

#include <cups/ppd.h>

// True when the PPD carries "*zorvUpdateQueue: True"; any other value, or none, is false.
bool queueUpdateWanted(ppd_file_t* ppd);

// True when text can stand on a "PPD:" line as a keyword or a value: printable ASCII without
// blanks, quotes, backslashes, braces or "=", which the scheduler's option parser would split,
// unquote or misread.
bool safeOnPpdLine(const char* text);

// Writes the "PPD:" lines for every installable option with a marked choice (several pairs a
// line, each line well below the scheduler's line limit) and a warning for each option whose
// keyword or choice could not be carried safely. Returns the number of options reported.
int reportQueueDefaults(ppd_file_t* ppd);

#endif  // ZORV_AUTOCONF_QUEUE_DEFAULTS_H
