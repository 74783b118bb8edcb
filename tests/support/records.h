// The records of a device query as the tests compare them: one line per record.
#ifndef ZORV_TESTS_SUPPORT_RECORDS_H
#define ZORV_TESTS_SUPPORT_RECORDS_H

#include <string>

#include "probe/record.h"

// The record of the option keyword, or null.
const ProbeRecord* record_of(const ProbeResult& result, const char* keyword);
// Every record of a result as one line each: keyword, outcome, reply, choice, words, notes.
std::string lines_of(const ProbeResult& result);

#endif  // ZORV_TESTS_SUPPORT_RECORDS_H
