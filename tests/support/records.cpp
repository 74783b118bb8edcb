// The records of a device query as the tests compare them.
#include "support/records.h"

#include <cstring>

#include "log/escape.h"
#include "probe/messages.h"

const ProbeRecord* record_of(const ProbeResult& result, const char* keyword) {
  for (size_t i = 0; i < result.count; ++i) {
    if (strcmp(result.records[i].option->keyword, keyword) == 0) return &result.records[i];
  }
  return nullptr;
}

std::string lines_of(const ProbeResult& result) {
  std::string text = "status " + std::to_string(result.status) + "\n";
  for (size_t i = 0; i < result.count; ++i) {
    const ProbeRecord& r = result.records[i];
    char words[512];
    probeFailureWords(r, words, sizeof(words));
    text += std::string(r.option->keyword) + " " + std::to_string(static_cast<int>(r.outcome)) +
            " [" + ShownText(r.reply).c_str() + "] " + (r.choice != nullptr ? r.choice : "-") +
            " (" + words + ") " + std::to_string(r.note_count) + "\n";
  }
  return text;
}
