// The words of a device query's records as the auto-configuration filter writes them.
#include "probe/messages.h"

#include <cstdarg>

#include "common/credentials.h"
#include "log/escape.h"
#include "probe/reply_match.h"

namespace {

// Text from the PPD, the device or a library, as it may stand in a message: it can never end
// the line and start one of its own that the scheduler would act on, nor drive a terminal.
using S = ShownText;

// One message: the layout's indent, then the text, which ends its own line.
__attribute__((format(printf, 3, 4))) void say(FILE* out, const MessageLayout& layout,
                                               const char* format, ...) {
  fputs(layout.indent, out);
  va_list args;
  va_start(args, format);
  vfprintf(out, format, args);
  va_end(args);
}

const char* keyword_of(const ProbeRecord& record) {
  return record.option != nullptr ? record.option->keyword : "";
}

void write_note(FILE* out, const ProbeRecord& record, const ProbeNote& note,
                const MessageLayout& layout) {
  switch (note.kind) {
    case ProbeNoteKind::kReplyEmpty:
      say(out, layout, "WARNING: reply attribute '%s' is empty\n", S(record.reply_name).c_str());
      break;
    case ProbeNoteKind::kRegexInvalid:
      // The C library's own words.
      say(out, layout, "ERROR: regcomp failed: <%s>\n", note.detail);
      break;
    case ProbeNoteKind::kReplyUnreadable:
      say(out, layout, "WARNING: reply attribute '%s' has incorrect format '%s'\n",
          S(record.reply_name).c_str(), S(note.attr->value).c_str());
      break;
    case ProbeNoteKind::kChoiceMissing:
      say(out, layout,
          "WARNING: reply attribute '%s' names choice '%s', which option '%s' does not have\n",
          S(record.reply_name).c_str(), S(note.attr->spec).c_str(), S(keyword_of(record)).c_str());
      break;
  }
}

// An answer that marks no choice, in the same words whether the option's reply attributes all
// failed to match or it has none: scheduler-log readers know this line. The option's line of
// zorvquery and its --check tell the two apart. reply is the answer as shown (already escaped).
void write_no_match(FILE* out, const ProbeRecord& record, const char* reply,
                    const MessageLayout& layout) {
  say(out, layout, "WARNING: option '%s' has no reply attribute '%s' with value '%s'\n",
      S(keyword_of(record)).c_str(), S(record.reply_name).c_str(), reply);
}

void write_usb_messages(FILE* out, const ProbeRecord& record, const ProbeNote* notes,
                        const MessageLayout& layout) {
  switch (record.outcome) {
    case ProbeOutcome::kBadQuery:
      say(out, layout, "WARNING: query attribute '%s' has incorrect format '%s'\n",
          S(record.query_name).c_str(), S(record.query).c_str());
      return;
    case ProbeOutcome::kNoAnswer:
      if (record.transferred < 0) {
        say(out, layout, "WARNING: USB query (%s) failure (%ld)\n", S(record.query).c_str(),
            record.transferred);
      } else {
        say(out, layout, "WARNING: USB query (%s) timeout\n", S(record.query).c_str());
      }
      return;
    case ProbeOutcome::kAnswered:
      break;
    default:
      return;
  }
  if (record.transferred != static_cast<long>(kUsbReplySize)) {
    say(out, layout, "WARNING: USB reply (%s) has unexpected size (%ld)\n", S(record.query).c_str(),
        record.transferred);
  }
  for (size_t i = 0; i < record.note_count; ++i) write_note(out, record, notes[i], layout);
  if (record.matched == nullptr) write_no_match(out, record, record.reply, layout);
}

// An SNMPv3 refusal in words, naming the USM counter that the printer's report carried.
void refusal_words(const ProbeRecord& record, char* buffer, size_t size) {
  const char* words = "";
  switch (record.report) {
    case SnmpReport::kWrongDigest:
      words = "the authentication passphrase or protocol is not the printer's "
              "(usmStatsWrongDigests)";
      break;
    case SnmpReport::kUnknownUser:
      words = "the printer has no SNMPv3 user of that name (usmStatsUnknownUserNames)";
      break;
    case SnmpReport::kUnsupportedLevel:
      words = "the printer does not allow this security level for the user "
              "(usmStatsUnsupportedSecLevels)";
      break;
    case SnmpReport::kDecryptionError:
      words = "the printer cannot decrypt the request: the privacy passphrase or protocol is "
              "not the printer's (usmStatsDecryptionErrors)";
      break;
    case SnmpReport::kUnknownEngine:
      words = "the printer's engine changed during the query (usmStatsUnknownEngineIDs)";
      break;
    case SnmpReport::kNotInTimeWindow:
      words = "the request is outside the printer's time window (usmStatsNotInTimeWindows)";
      break;
    case SnmpReport::kNoEngine:
      words = "the printer's answer to the engine discovery named no engine";
      break;
    case SnmpReport::kNone:
    case SnmpReport::kOther:
      snprintf(buffer, size, "a report the query does not know (%s)", record.detail);
      return;
  }
  snprintf(buffer, size, "%s", words);
}

void write_snmp_messages(FILE* out, const ProbeRecord& record, const ProbeNote* notes,
                         const MessageLayout& layout) {
  if (record.outcome != ProbeOutcome::kAnswered) {
    writeGetFailure(out, record, layout);
    say(out, layout, "WARNING: SNMP query (%s) failure\n", S(record.query).c_str());
    return;
  }
  for (size_t i = 0; i < record.note_count; ++i) write_note(out, record, notes[i], layout);
  // The reply text is the device's: shown escaped, so that it can never end this line and
  // start one of its own that the scheduler would act on.
  if (record.matched == nullptr) write_no_match(out, record, S(record.reply).c_str(), layout);
}

}  // namespace

void writeDeviceNotes(FILE* out, const ProbeResult& result, bool after_records, const char* uri,
                      const MessageLayout& layout) {
  const size_t first = after_records ? result.notes_before : 0;
  const size_t end = after_records ? result.device_notes.size() : result.notes_before;
  for (size_t i = first; i < end; ++i) {
    const DeviceNote& note = result.device_notes[i];
    const S shown(note.detail);
    const char* detail = shown.c_str();
    switch (note.kind) {
      case DeviceNoteKind::kNoHost:
        // The URI may carry a password in its user information.
        say(out, layout, "ERROR: hostFromUri(%s) failed:\n",
            ShownUri(uri != nullptr ? uri : "(null)").c_str());
        if (detail[0] != '\0') say(out, layout, "ERROR: device URI refused: %s\n", detail);
        break;
      case DeviceNoteKind::kNoPpd:
        say(out, layout, "ERROR: invalid ppd\n");
        break;
      case DeviceNoteKind::kFindBussesFailed:
        say(out, layout, "ERROR: usb_find_busses() failed: <%s>\n", detail);
        break;
      case DeviceNoteKind::kFindDevicesFailed:
        say(out, layout, "ERROR: usb_find_devices() failed: <%s>\n", detail);
        break;
      case DeviceNoteKind::kOpenFailed:
        say(out, layout, "ERROR: usb_open() failed: <%s>\n", detail);
        break;
      case DeviceNoteKind::kStringFailed:
        say(out, layout, "ERROR: usb_get_string_simple(,%hhu,,) failed: <%s>\n", note.index,
            detail);
        break;
      case DeviceNoteKind::kCloseFailed:
        say(out, layout, "ERROR: usb_close() failed: <%s>\n", detail);
        break;
      case DeviceNoteKind::kNoDevice:
        say(out, layout, "ERROR: usb_open_matched_device() failed: <%s>\n", detail);
        break;
      case DeviceNoteKind::kFinalCloseFailed:
        say(out, layout, "ERROR: usb_close() failed: <%s>\n", detail);
        break;
      case DeviceNoteKind::kSnmpSettingsUnused:
        say(out, layout, "WARNING: SNMPv3 settings not used (%s); the queries use SNMPv1\n",
            detail);
        break;
    }
  }
}

void writeRecordMessages(FILE* out, const ProbeResult& result, const ProbeRecord& record,
                         const MessageLayout& layout) {
  writeOptionMessages(out, record, result.notes_of(record), layout);
}

void writeOptionMessages(FILE* out, const ProbeRecord& record, const ProbeNote* notes,
                         const MessageLayout& layout) {
  if (record.outcome == ProbeOutcome::kNotAsked) return;
  if (record.outcome == ProbeOutcome::kNoQuery) {
    say(out, layout, "WARNING: option '%s' has no query attribute '%s'\n",
        S(keyword_of(record)).c_str(), S(record.query_name).c_str());
    return;
  }
  if (record.family == ProbeFamily::kEp0) {
    write_usb_messages(out, record, notes, layout);
  } else {
    write_snmp_messages(out, record, notes, layout);
  }
}

void writeGetFailure(FILE* out, const ProbeRecord& record, const MessageLayout& layout) {
  switch (record.outcome) {
    case ProbeOutcome::kBadQuery:
      say(out, layout, "invalid OID string <%s>\n",
          S(record.query != nullptr ? record.query : "(null)").c_str());
      break;
    case ProbeOutcome::kNoSession:
      if (record.failed_call == nullptr) {
        say(out, layout, "invalid session value\n");
      } else {
        // As the library's own report of a session that cannot be opened words it.
        say(out, layout, "%s: %s\n", record.failed_call, S(record.detail).c_str());
      }
      break;
    case ProbeOutcome::kNoAnswer:
      say(out, layout, "%s failed: <%s>\n", record.failed_call, S(record.detail).c_str());
      break;
    case ProbeOutcome::kErrorStatus:
      say(out, layout, "Error in packet: <%s>\n", S(record.detail).c_str());
      break;
    case ProbeOutcome::kRefused: {
      char words[kDetailSize + 64];
      refusal_words(record, words, sizeof(words));
      say(out, layout, "WARNING: SNMPv3 request refused: %s\n", S(words).c_str());
      break;
    }
    default:
      break;
  }
}

void probeFailureWords(const ProbeRecord& record, char* buffer, size_t size) {
  if (buffer == nullptr || size == 0) return;
  buffer[0] = '\0';
  const bool usb = record.family == ProbeFamily::kEp0;
  switch (record.outcome) {
    case ProbeOutcome::kNotAsked:
      snprintf(buffer, size, "not asked");
      break;
    case ProbeOutcome::kNoQuery:
      snprintf(buffer, size, "no query attribute '%s'", record.query_name);
      break;
    case ProbeOutcome::kBadQuery:
      snprintf(buffer, size, "%s",
               usb ? "the query is not 4 setup bytes, a slash and mask bytes"
                   : "the OID cannot be read");
      break;
    case ProbeOutcome::kNoSession:
      snprintf(buffer, size, "no session: %s",
               record.failed_call != nullptr ? record.detail : "no session parameters");
      break;
    case ProbeOutcome::kNoAnswer:
      if (!usb) {
        snprintf(buffer, size, "no answer: %s", record.detail);
      } else if (record.transferred < 0) {
        snprintf(buffer, size, "the request failed (%ld: %s)", record.transferred, record.detail);
      } else {
        snprintf(buffer, size, "no answer (time-out)");
      }
      break;
    case ProbeOutcome::kErrorStatus:
      snprintf(buffer, size, "error status: %s", record.detail);
      break;
    case ProbeOutcome::kNoValue:
      snprintf(
          buffer, size, "%s",
          record.exception ? "no such object (an SNMPv2c exception)" : "an answer without a value");
      break;
    case ProbeOutcome::kRefused: {
      char words[kDetailSize + 64];
      refusal_words(record, words, sizeof(words));
      snprintf(buffer, size, "refused: %s", words);
      break;
    }
    case ProbeOutcome::kAnswered:
      if (usb && record.transferred != static_cast<long>(kUsbReplySize)) {
        snprintf(buffer, size, "a reply of %ld bytes, the rest taken as 00", record.transferred);
      }
      break;
  }
}
