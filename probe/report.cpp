// The records of a device query as zorvquery shows them to people.
#include "probe/report.h"

#include "log/escape.h"
#include "probe/messages.h"

namespace {

constexpr size_t kQuotedSize = escaped_size(256) + 256;
constexpr size_t kLineWordsSize = 512;
// The filter's own messages (what the scheduler's error log would show) are shown indented
// under the option they belong to.
constexpr MessageLayout kIndented = {"    "};

// Why an answer marks no choice. The first reply attribute that matches ends the search, so
// one that names a choice the option lacks hides every line after it.
void no_choice_words(const ProbeRecord& record, char* buffer, size_t size) {
  if (record.matched != nullptr) {
    snprintf(buffer, size, "'%s %s' matches and ends the search, but the option has no choice '%s'",
             record.reply_name, record.matched->spec, record.matched->spec);
  } else if (record.reply_count == 0) {
    snprintf(buffer, size, "no reply attribute '%s'", record.reply_name);
  } else {
    snprintf(buffer, size, "no reply attribute matches");
  }
}

// One line per option: keyword, query, what it gave, the choice it picks, the PPD's default.
// Everything from the PPD or the device is shown escaped: a copy from "/var/tmp/autoconf" is
// anyone's to write, and its text must not drive the administrator's terminal.
void show_option_line(FILE* out, const ProbeRecord& record) {
  const ppd_option_t* option = record.option;
  const ShownText keyword(option->keyword);
  const ShownText query_name(record.query_name);
  const ShownText default_choice(option->defchoice[0] != '\0' ? option->defchoice : "-");
  if (record.outcome == ProbeOutcome::kNoQuery) {
    fprintf(out, "%s: no query attribute '%s'; default %s\n", keyword.c_str(), query_name.c_str(),
            default_choice.c_str());
    return;
  }
  char query[kQuotedSize];
  quoteReply(record.query, query, sizeof(query));
  char words[kLineWordsSize];
  probeFailureWords(record, words, sizeof(words));
  if (record.outcome != ProbeOutcome::kAnswered) {
    fprintf(out, "%s: %s \"%s\" -> %s; default %s\n", keyword.c_str(), query_name.c_str(), query,
            ShownText(words).c_str(), default_choice.c_str());
    return;
  }
  char reply[kQuotedSize];
  quoteReply(record.reply, reply, sizeof(reply));
  char no_choice[kLineWordsSize] = "";
  if (record.choice == nullptr) no_choice_words(record, no_choice, sizeof(no_choice));
  fprintf(out, "%s: %s \"%s\" -> \"%s\" -> %s%s%s%s%s%s; default %s\n", keyword.c_str(),
          query_name.c_str(), query, reply,
          ShownText(record.choice != nullptr ? record.choice : "-").c_str(),
          no_choice[0] != '\0' ? " (" : "", ShownText(no_choice).c_str(),
          no_choice[0] != '\0' ? ")" : "", words[0] != '\0' ? ", " : "", ShownText(words).c_str(),
          default_choice.c_str());
}

}  // namespace

int writeProbeReport(FILE* out, const ProbeResult& result, const char* uri) {
  writeDeviceNotes(out, result, false, uri, kIndented);
  int answered = 0;
  for (size_t i = 0; i < result.count; ++i) {
    const ProbeRecord& record = result.records[i];
    if (record.outcome == ProbeOutcome::kNotAsked) continue;
    if (record.outcome == ProbeOutcome::kAnswered) ++answered;
    show_option_line(out, record);
    writeRecordMessages(out, result, record, kIndented);
  }
  writeDeviceNotes(out, result, true, uri, kIndented);
  return answered;
}

void quoteReply(const char* text, char* buffer, size_t size) {
  ShownText shown(text);
  size_t length = 0;
  for (const char* p = shown.c_str(); *p != '\0' && length + 2 < size; ++p) {
    if (*p == '"') buffer[length++] = '\\';
    buffer[length++] = *p;
  }
  if (size > 0) buffer[length < size ? length : size - 1] = '\0';
}
