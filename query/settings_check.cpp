// The key lines of a settings file whose value holds more than its author meant.
#include "query/settings_check.h"

#include <algorithm>
#include <cstring>

#include "log/escape.h"
#include "log/settings.h"
#include "log/text.h"
#include "probe/probe.h"

namespace {

// The keys read by the line rule. A passphrase may hold " #" on purpose, so its line is not
// taken for one with a comment.
constexpr struct {
  const char* name;
  bool community;
  bool passphrase;
} kKeys[] = {
    {kSnmpCommunityKey, true, false},       {kSnmpVersionKey, false, false},
    {kSnmpUserKey, false, false},           {kSnmpLevelKey, false, false},
    {kSnmpAuthProtocolKey, false, false},   {kSnmpAuthPassphraseKey, false, true},
    {kSnmpPrivProtocolKey, false, false},   {kSnmpPrivPassphraseKey, false, true},
    {kSnmpContextKey, false, false},
};
constexpr size_t kKeyCount = sizeof(kKeys) / sizeof(kKeys[0]);

// What a key's line holds besides the value meant, one bit each, in the order they are named.
enum Pitfall : unsigned {
  kCommented = 1U << 0U,
  kBlankAfterEquals = 1U << 1U,
  kBlankAtEnd = 1U << 2U,
  kQuotes = 1U << 3U,
  kComment = 1U << 4U,
  kCarriageReturn = 1U << 5U,
  kEmptyCommunity = 1U << 6U,
};
constexpr struct {
  Pitfall pitfall;
  const char* words;
} kPitfallWords[] = {
    {kCommented,
     "the line is commented out, but a comment sign does not stop the key, and the key's "
     "later lines are passed over"},
    {kBlankAfterEquals, "the blank after '=' is part of the value"},
    {kBlankAtEnd, "the blanks at the end are part of the value"},
    {kQuotes, "the quotes are part of the value"},
    {kComment, "the comment is part of the value"},
    {kCarriageReturn, "the carriage return of a Windows line end is part of the value"},
    {kEmptyCommunity, "the empty value is the empty community, not the default"},
};

struct KeyLine {
  int line = 0;  // 0: no line sets the key
  unsigned pitfalls = 0;
};

struct Scan {
  KeyLine keys[kKeyCount];
  int line = 1;  // the number of the line the next piece belongs to
};

// The pitfalls of a line that sets a key, value being what follows its '='.
unsigned pitfalls_of(const char* line, const char* value, bool community, bool passphrase) {
  unsigned found = 0;
  const char* first = line;
  while (is_blank(*first)) ++first;
  if (*first == '#' || *first == ';') found |= kCommented;
  size_t length = strlen(value);
  if (length > 0 && value[length - 1] == '\r') {
    found |= kCarriageReturn;
    --length;
  }
  if (length == 0) {
    if (community) found |= kEmptyCommunity;
    return found;
  }
  if (is_blank(value[0])) found |= kBlankAfterEquals;
  if (is_blank(value[length - 1])) found |= kBlankAtEnd;
  const char last = value[length - 1];
  if (value[0] == '"' || value[0] == '\'' || last == '"' || last == '\'') found |= kQuotes;
  for (size_t i = 1; i < length && !passphrase; ++i) {
    if ((value[i] == '#' || value[i] == ';') && is_blank(value[i - 1])) found |= kComment;
  }
  return found;
}

// Each key by the readers' own rule: the first line that holds the key and an '=' after the
// key's length sets it.
int scan_line(char* piece, void* context) {
  Scan& scan = *static_cast<Scan*>(context);
  const size_t length = strlen(piece);
  const bool line_ends = length > 0 && piece[length - 1] == '\n';
  strip_newline(piece);
  for (size_t k = 0; k < kKeyCount; ++k) {
    const char* value = scan.keys[k].line != 0 ? nullptr : settingLineValue(piece, kKeys[k].name);
    if (value == nullptr) continue;
    scan.keys[k].line = scan.line;
    scan.keys[k].pitfalls = pitfalls_of(piece, value, kKeys[k].community, kKeys[k].passphrase);
  }
  if (line_ends) ++scan.line;
  return 0;
}

}  // namespace

int checkSettingsLines(const char* path, FILE* out) {
  Scan scan;
  if (read_settings(path, scan_line, &scan) < 0) return 0;
  // In the file's order.
  size_t order[kKeyCount];
  for (size_t k = 0; k < kKeyCount; ++k) order[k] = k;
  std::stable_sort(order, order + kKeyCount,
                   [&scan](size_t a, size_t b) { return scan.keys[a].line < scan.keys[b].line; });
  int problems = 0;
  for (size_t k : order) {
    const KeyLine& key = scan.keys[k];
    if (key.pitfalls == 0) continue;
    fprintf(out, "%s, line %d: %s:", ShownText(path).c_str(), key.line, kKeys[k].name);
    const char* separator = " ";
    for (const auto& words : kPitfallWords) {
      if ((key.pitfalls & words.pitfall) == 0) continue;
      fprintf(out, "%s%s", separator, words.words);
      separator = "; ";
    }
    fputc('\n', out);
    ++problems;
  }
  return problems;
}
