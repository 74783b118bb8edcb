// The words of a device query's records as the auto-configuration filter writes them to the
// scheduler: each message exact, a line of its own, the PPD's and the device's text escaped.
// The filter writes them to standard error; the query tool writes them indented under the
// option they belong to.
#ifndef ZORV_PROBE_MESSAGES_H
#define ZORV_PROBE_MESSAGES_H

#include <cstddef>
#include <cstdio>

#include "probe/record.h"

struct MessageLayout {
  const char* indent = "";  // written before every message
};

// The device notes of result that come before its records (after_records false) or after
// them; uri is the device URI the query was given (shown with its password masked).
void writeDeviceNotes(FILE* out, const ProbeResult& result, bool after_records, const char* uri,
                      const MessageLayout& layout = {});
// Every message of one record, in the order the query raised them; nothing for kNotAsked.
void writeRecordMessages(FILE* out, const ProbeResult& result, const ProbeRecord& record,
                         const MessageLayout& layout = {});
// The same, with the record's notes given directly.
void writeOptionMessages(FILE* out, const ProbeRecord& record, const ProbeNote* notes,
                         const MessageLayout& layout = {});
// The SNMP library's words for a GET that gave no value (the line before "WARNING: SNMP query
// (...) failure"); nothing for an answer.
void writeGetFailure(FILE* out, const ProbeRecord& record, const MessageLayout& layout = {});

// Why an option has no usable reply, or a remark on a reply (a short USB reply), in words for
// people ("no answer: Timeout"), into buffer; the empty text for a plain answer.
void probeFailureWords(const ProbeRecord& record, char* buffer, size_t size);

#endif  // ZORV_PROBE_MESSAGES_H
