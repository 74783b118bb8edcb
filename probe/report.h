// The records of a device query as zorvquery shows them to people: one line per option (its
// query, what it gave, the choice it picks, the PPD's default), the filter's messages for it
// indented below. Everything from the PPD or the device is shown escaped.
#ifndef ZORV_PROBE_REPORT_H
#define ZORV_PROBE_REPORT_H

#include <cstddef>
#include <cstdio>

#include "probe/record.h"

// Writes the report of result to out; uri is the device URI the query was given. Returns the
// number of options that got an answer.
int writeProbeReport(FILE* out, const ProbeResult& result, const char* uri);

// The text between double quotes as the reply attributes see it: control characters, '"' and
// '\' escaped, into buffer (always terminated).
void quoteReply(const char* text, char* buffer, size_t size);

#endif  // ZORV_PROBE_REPORT_H
