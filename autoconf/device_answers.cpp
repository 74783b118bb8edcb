// What the device query found, as the filter passes it on.
#include "autoconf/device_answers.h"

#include <cstdio>

#include "probe/probe.h"

void reportOptionAnswer(ppd_file_t* ppd, const ProbeRecord& record, const ProbeNote* notes) {
  writeOptionMessages(stderr, record, notes);
  if (record.choice != nullptr) ppdMarkOption(ppd, record.option->keyword, record.choice);
}

void reportDeviceAnswers(ppd_file_t* ppd, const ProbeResult& result, const char* device_uri) {
  writeDeviceNotes(stderr, result, false, device_uri);
  for (size_t i = 0; i < result.count; ++i) {
    reportOptionAnswer(ppd, result.records[i], result.notes_of(result.records[i]));
  }
  writeDeviceNotes(stderr, result, true, device_uri);
}
