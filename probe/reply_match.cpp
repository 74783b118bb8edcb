// How an answer picks a choice among the option's reply attributes.
#include "probe/reply_match.h"

#include <regex.h>

#include <cctype>
#include <cstdio>
#include <cstring>

#include "log/text.h"

namespace {

// "262144 KBytes": true, with the number's length in digits, when value is digits, one space
// and a word of letters.
bool number_with_unit(const char* value, size_t* digits) {
  size_t n = 0;
  while (isdigit(static_cast<unsigned char>(value[n]))) ++n;
  if (n == 0 || value[n] != ' ' || !isalpha(static_cast<unsigned char>(value[n + 1]))) {
    return false;
  }
  for (const char* p = value + n + 1; *p != '\0'; ++p) {
    if (!isalpha(static_cast<unsigned char>(*p))) return false;
  }
  *digits = n;
  return true;
}

// Whether the expression matches all of text; false for an expression that does not compile.
// POSIX matching is leftmost-longest: when a match of the whole text exists, the first match
// starts at 0 and is the longest from there.
bool matches_whole(const char* expression, const char* text) {
  regex_t regex;
  if (regcomp(&regex, expression, REG_EXTENDED) != 0) return false;
  RegexOwner owner(&regex);
  regmatch_t match[1];
  return regexec(&regex, text, 1, match, 0) == 0 && match[0].rm_so == 0 &&
         static_cast<size_t>(match[0].rm_eo) == strlen(text);
}

// Whether one reply attribute's value matches the answer; notes what keeps it from being tried.
bool value_matches(const ProbeRecord& record, const ppd_attr_t* attr, const UsbAnswer* usb,
                   ProbeNoteKind* problem, char (&detail)[kDetailSize]) {
  switch (record.family) {
    case ProbeFamily::kSnmp: {
      const int result = regexSearch(attr->value, record.reply, detail, sizeof(detail));
      if (result != 0 && result != REG_NOMATCH) *problem = ProbeNoteKind::kRegexInvalid;
      return result == 0;
    }
    case ProbeFamily::kOid:
      return oidValueMatches(attr->value, record.reply);
    case ProbeFamily::kEp0: {
      unsigned char expected[kUsbReplySize] = {};
      if (usb == nullptr || parseEp0Reply(attr->value, expected) < 1) {
        *problem = ProbeNoteKind::kReplyUnreadable;
        return false;
      }
      // The expected bytes line up with the first significant reply byte.
      return memcmp(usb->bytes + usb->skip, expected,
                    kUsbReplySize - static_cast<size_t>(usb->skip)) == 0;
    }
  }
  return false;
}

}  // namespace

void matchReply(ppd_file_t* ppd, ProbeRecord& record, HeapList<ProbeNote>& notes,
                const UsbAnswer* usb) {
  const char* name = record.reply_name;
  for (ppd_attr_t* attr = ppdFindAttr(ppd, name, nullptr); attr != nullptr;
       attr = ppdFindNextAttr(ppd, name, nullptr)) {
    if (!isReplyAttribute(record.family, attr)) continue;
    ++record.reply_count;
    // The PPD library stores "" for an attribute written without a value: as an expression
    // it would match every answer, so it is passed over like a missing one.
    if (!attributeHasValue(attr)) {
      addProbeNote(notes, record, ProbeNoteKind::kReplyEmpty, attr);
      continue;
    }
    ProbeNoteKind problem = ProbeNoteKind::kReplyEmpty;
    char detail[kDetailSize] = "";
    if (value_matches(record, attr, usb, &problem, detail)) {
      record.matched = attr;
      // A choice the option does not have marks nothing; a note says so, since the PPD's
      // author would otherwise see nothing at all.
      if (ppdFindChoice(const_cast<ppd_option_t*>(record.option), attr->spec) != nullptr) {
        record.choice = attr->spec;
      } else {
        addProbeNote(notes, record, ProbeNoteKind::kChoiceMissing, attr);
      }
      return;
    }
    if (problem != ProbeNoteKind::kReplyEmpty) addProbeNote(notes, record, problem, attr, detail);
  }
}

int regexSearch(const char* pattern, const char* text, char* error, size_t error_size) {
  regex_t regex;
  const int compiled = regcomp(&regex, pattern, REG_EXTENDED | REG_NOSUB);
  if (compiled != 0) {
    if (error != nullptr && error_size > 0) regerror(compiled, &regex, error, error_size);
    return compiled;
  }
  RegexOwner owner(&regex);
  return regexec(&regex, text, 0, nullptr, 0);
}

bool oidValueMatches(const char* value, const char* text) {
  if (strcmp(value, text) == 0 || matches_whole(value, text)) return true;
  size_t digits = 0;
  return number_with_unit(value, &digits) && strlen(text) == digits &&
         strncmp(value, text, digits) == 0;
}

bool parseEp0Query(const char* text, unsigned char (&setup)[kUsbSetupSize],
                   unsigned char (&mask)[kUsbReplySize]) {
  // Each %hhx stores one byte (the low byte of a larger number), so nothing lands outside
  // the arrays whatever the attribute holds.
  const int fields = sscanf(text, "%hhx %hhx %hhx %hhx / %hhx %hhx %hhx %hhx %hhx %hhx %hhx %hhx",
                            &setup[0], &setup[1], &setup[2], &setup[3], &mask[0], &mask[1],
                            &mask[2], &mask[3], &mask[4], &mask[5], &mask[6], &mask[7]);
  return fields > static_cast<int>(kUsbSetupSize);
}

int parseEp0Reply(const char* text, unsigned char (&expected)[kUsbReplySize]) {
  return sscanf(text, "%hhx %hhx %hhx %hhx %hhx %hhx %hhx %hhx", &expected[0], &expected[1],
                &expected[2], &expected[3], &expected[4], &expected[5], &expected[6], &expected[7]);
}

void probeAnsweredRecord(ppd_file_t* ppd, const ppd_option_t* option, ProbeFamily family,
                         const char* reply, ProbeRecord& record, HeapList<ProbeNote>& notes) {
  record = ProbeRecord();
  record.option = option;
  record.family = family;
  formatReplyName(record.reply_name, family, option->keyword);
  record.outcome = ProbeOutcome::kAnswered;
  copy_text(record.reply, sizeof(record.reply), reply);
  matchReply(ppd, record, notes);
}
