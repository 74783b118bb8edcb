// What a device query found, as data: one record per installable option, in option order, with
// the warnings that belong to it, and the notes of the device as a whole. Nothing here writes
// anywhere; the filter, the query tool and the Printer Application decide where it goes
// (probe/messages.h words it as the filter does).
#ifndef ZORV_PROBE_RECORD_H
#define ZORV_PROBE_RECORD_H

#include <cups/ppd.h>

#include <cstddef>
#include <cstdint>

#include "common/handles.h"
#include "probe/cancel.h"
#include "probe/ppd_attributes.h"
#include "probe/snmp_v3_settings.h"

// The reply text of an SNMP answer: at most 255 characters.
inline constexpr size_t kReplyTextSize = 256;
// A library's own words for a failure, and the text of a regular-expression error.
inline constexpr size_t kDetailSize = 256;

// What one option's query gave.
enum class ProbeOutcome : uint8_t {
  kNotAsked,     // the query stopped (cancelled) before this option
  kNoQuery,      // no query attribute (or one without a value): nothing was asked
  kBadQuery,     // the query cannot be read: an OID the library cannot parse, setup bytes
                 // without a mask byte
  kNoSession,    // SNMP: no session parameters (failed_call null) or none could be opened
  kNoAnswer,     // SNMP: time-out, send or receive error (failed_call, detail); USB: the
                 // transfer failed (transferred < 0, detail) or delivered nothing (0)
  kErrorStatus,  // SNMP: the agent answered with an error status (detail words it)
  kNoValue,      // SNMP: an answer without a variable, or an SNMPv2c exception (exception)
  kAnswered,     // reply holds the text the reply attributes were tried against
  kRefused,      // SNMPv3: the printer refused the request with a report (report says why), or
                 // named no engine in its answer to the discovery (detail: the library's words)
};

// A warning that matching the reply raised, in the order it arose.
enum class ProbeNoteKind : uint8_t {
  kReplyEmpty,       // a reply attribute without a value
  kRegexInvalid,     // an Snmp<Keyword> expression that does not compile (detail)
  kReplyUnreadable,  // an Ep0<Keyword> value without a hexadecimal byte
  kChoiceMissing,    // the matching reply attribute names a choice the option lacks
};

struct ProbeNote {
  ProbeNoteKind kind;
  const ppd_attr_t* attr;  // the reply attribute concerned (the PPD's)
  char detail[kDetailSize];
};

// One installable option. Texts taken from the PPD point into the PPD handle and live as long
// as it stays open; everything the device said is copied in.
struct ProbeRecord {
  const ppd_option_t* option = nullptr;  // its keyword is the option's name
  ProbeFamily family = ProbeFamily::kSnmp;
  char query_name[kAttributeNameSize] = "";  // the query attribute's name as looked up
  char reply_name[kAttributeNameSize] = "";  // the reply attributes' name
  const char* query = nullptr;               // the query attribute's value; null without one
  ProbeOutcome outcome = ProbeOutcome::kNotAsked;
  // kAnswered: SNMP, the rendered value; USB, the eight masked reply bytes as "01 00 ..".
  char reply[kReplyTextSize] = "";
  long transferred = 0;                 // USB: what the control request returned
  long error_status = 0;                // SNMP kErrorStatus
  bool exception = false;               // SNMP kNoValue: an SNMPv2c exception
  SnmpReport report = SnmpReport::kNone;  // SNMP kRefused
  const char* failed_call = nullptr;    // SNMP kNoSession, kNoAnswer: the library call (static)
  char detail[kDetailSize] = "";        // the library's words for the failure
  const ppd_attr_t* matched = nullptr;  // the reply attribute that matched
  size_t reply_count = 0;               // reply attributes tried, up to the one that matched
  const char* choice = nullptr;         // its choice, when the option has one of that name
  size_t first_note = 0;                // this record's notes in ProbeResult::notes
  size_t note_count = 0;
};

// Notes of the device as a whole rather than of one option.
enum class DeviceNoteKind : uint8_t {
  kNoHost,             // the device URI names no host
  kNoPpd,              // no PPD handle
  kFindBussesFailed,   // usb_find_busses() (detail: the library's words)
  kFindDevicesFailed,  // usb_find_devices()
  kOpenFailed,         // usb_open() of a candidate printer
  kStringFailed,       // usb_get_string_simple() of a candidate (index)
  kCloseFailed,        // usb_close() of a candidate that did not match
  kNoDevice,           // no attached printer belongs to the PPD
  kFinalCloseFailed,   // usb_close() of the matched printer, after the options
  kSnmpSettingsUnused, // SNMPv3 settings not used (detail: "file: why"); SNMPv1 instead
};

struct DeviceNote {
  DeviceNoteKind kind;
  unsigned char index;  // kStringFailed: the string descriptor's index
  char detail[kDetailSize];
};

// Results of a whole query (ProbeResult::status).
inline constexpr int kProbeDone = 0;          // every record has its outcome
inline constexpr int kProbeNoDevice = -1;     // no host, no bus list, or no matching printer
inline constexpr int kProbeCancelled = -2;    // stopped; records not reached are kNotAsked
inline constexpr int kProbeUnsupported = -3;  // the URI's kind cannot be queried
inline constexpr int kProbeNoMemory = -4;     // no room for the records


// Everything one query found. Owns its records and notes; the PPD handle they point into
// belongs to the caller and must outlive them.
struct ProbeResult {
  int status = kProbeDone;
  size_t count = 0;  // records
  UniqueMalloc<ProbeRecord[]> records;
  HeapList<ProbeNote> notes;
  HeapList<DeviceNote> device_notes;
  // device_notes[0, notes_before) come before the records, the rest after them.
  size_t notes_before = 0;

  const ProbeNote* notes_of(const ProbeRecord& record) const {
    return record.note_count > 0 ? &notes[record.first_note] : nullptr;
  }
};

// Adds a note to the result for record (which must be the last record that got notes).
void addProbeNote(HeapList<ProbeNote>& notes, ProbeRecord& record, ProbeNoteKind kind,
                  const ppd_attr_t* attr, const char* detail = "");
void addDeviceNote(HeapList<DeviceNote>& notes, DeviceNoteKind kind, const char* detail,
                   unsigned char index = 0);

#endif  // ZORV_PROBE_RECORD_H
