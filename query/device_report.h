// The query modes of zorvquery: the device queries of the auto-configuration filter for a
// device URI and a PPD, without a job, shown one line per installable option; and the
// printer's state.
#ifndef ZORV_QUERY_DEVICE_REPORT_H
#define ZORV_QUERY_DEVICE_REPORT_H

#include <cups/ppd.h>

#include <cstdio>

// Exit statuses of zorvquery.
inline constexpr int kQueryAnswered = 0;  // the device answered at least one query
inline constexpr int kQueryUsage = 1;     // bad arguments, PPD or device URI
inline constexpr int kQueryNoAnswer = 2;  // no query got an answer
inline constexpr int kQueryProblems = 3;  // --check found something to report

// Asks the device of uri about every installable option of ppd, the way the filter does, and
// writes one line per option to out, each followed by the messages the filter would write for
// it, indented. Returns one of the statuses above.
int queryDevice(const char* uri, ppd_file_t* ppd, FILE* out);

// Asks the printer of a network uri for its state (trays, bins, supplies, alerts, status) with
// the settings of ppd's manufacturer (null: the default community) and writes it to out, one
// line each, after a line saying which settings. kQueryAnswered; kQueryNoAnswer, with why on
// standard error, when the walk gave no state; kQueryUsage for a URI without a network host.
int queryState(const char* uri, ppd_file_t* ppd, FILE* out);


#endif  // ZORV_QUERY_DEVICE_REPORT_H
