// The network path of a device query: one round of GETs for all installable options, then each
// answer tried against its option's reply attributes, in option order.
#include "probe/snmp_probe.h"

#include <net-snmp/net-snmp-config.h>
#include <net-snmp/net-snmp-includes.h>

#include <cstring>

#include "common/secret.h"
#include "log/text.h"
#include "probe/reply_match.h"
#include "probe/snmp_session.h"
#include "probe/snmp_usm.h"
#include "probe/snmp_value.h"

namespace {

bool is_exception(u_char type) {
  return type == SNMP_NOSUCHOBJECT || type == SNMP_NOSUCHINSTANCE || type == SNMP_ENDOFMIBVIEW;
}

// Fills the record's query line: its own "?Snmp<Keyword>", else the CUPS-standard one. Without
// either, the record names "?Snmp<Keyword>" and is kNoQuery.
void find_query_line(ppd_file_t* ppd, ProbeRecord& record) {
  const char* keyword = record.option->keyword;
  record.family = ProbeFamily::kSnmp;
  formatQueryName(record.query_name, ProbeFamily::kSnmp, keyword);
  formatReplyName(record.reply_name, ProbeFamily::kSnmp, keyword);
  record.outcome = ProbeOutcome::kNoQuery;
  ppd_attr_t* attr = ppdFindAttr(ppd, record.query_name, nullptr);
  if (attr == nullptr || attr->value == nullptr) {
    char name[kAttributeNameSize];
    attr = findOidQuery(ppd, record.option, name);
    if (attr == nullptr) return;
    record.family = ProbeFamily::kOid;
    copy_text(record.query_name, sizeof(record.query_name), name);
    formatReplyName(record.reply_name, ProbeFamily::kOid, keyword);
  }
  record.query = attr->value;
  record.outcome = ProbeOutcome::kNotAsked;
}

SnmpTextForm form_of(const ProbeRecord& record) {
  return record.family == ProbeFamily::kOid ? SnmpTextForm::kNatural : SnmpTextForm::kReply;
}

// An answered record is tried against its reply attributes.
void finish_record(ppd_file_t* ppd, ProbeRecord& record, HeapList<ProbeNote>& notes) {
  if (record.outcome == ProbeOutcome::kAnswered) matchReply(ppd, record, notes);
}

}  // namespace

void snmpRecordOutcome(const SnmpRequest& request, SnmpTextForm form, ProbeRecord& record) {
  const char* error_text = request.error_text != nullptr ? request.error_text : "";
  switch (request.outcome) {
    case SnmpOutcome::kNotSent:
      record.outcome = ProbeOutcome::kNotAsked;
      return;
    case SnmpOutcome::kInvalidOid:
      record.outcome = ProbeOutcome::kBadQuery;
      return;
    case SnmpOutcome::kOpenFailed:
      record.outcome = ProbeOutcome::kNoSession;
      record.failed_call = "snmp_sess_open";
      break;
    case SnmpOutcome::kFailed:
      record.outcome = ProbeOutcome::kNoAnswer;
      record.failed_call = request.failed_call;
      break;
    case SnmpOutcome::kErrorStatus:
      record.outcome = ProbeOutcome::kErrorStatus;
      record.error_status = request.error_status;
      copy_text(record.detail, sizeof(record.detail),
                snmp_errstring(static_cast<int>(request.error_status)));
      return;
    case SnmpOutcome::kRefused:
      record.outcome = ProbeOutcome::kRefused;
      record.report = request.report;
      break;
    case SnmpOutcome::kAnswered:
      break;
  }
  // A GET that gave no answer keeps the library's words for why.
  if (request.outcome != SnmpOutcome::kAnswered) {
    copy_text(record.detail, sizeof(record.detail), error_text);
    return;
  }
  // An SNMPv2c exception (noSuchObject, noSuchInstance, endOfMibView) carries no value.
  if (request.variable == nullptr || is_exception(request.variable->type)) {
    record.outcome = ProbeOutcome::kNoValue;
    record.exception = request.variable != nullptr;
    return;
  }
  const int length = form == SnmpTextForm::kNatural
                         ? snmpNaturalText(request.variable, record.reply, sizeof(record.reply))
                         : snmpValueText(request.variable, record.reply, sizeof(record.reply));
  record.outcome = length < 0 ? ProbeOutcome::kNoValue : ProbeOutcome::kAnswered;
}

void probeSnmpOption(ppd_file_t* ppd, const ppd_option_t* option, netsnmp_session* session,
                     const ProbeCancel& cancel, ProbeRecord& record, HeapList<ProbeNote>& notes) {
  record.option = option;
  find_query_line(ppd, record);
  if (record.outcome == ProbeOutcome::kNoQuery) return;
  if (session == nullptr) {
    record.outcome = ProbeOutcome::kNoSession;
    return;
  }
  SnmpRequest request;
  request.oid_text = record.query;
  snmpGetAll(session, &request, 1, kSnmpQueryTimeoutMs, kSnmpQueryRetries, cancel);
  snmpRecordOutcome(request, form_of(record), record);
  snmpRoundRelease(&request, 1);
  finish_record(ppd, record, notes);
}

void probeSnmpOptions(ppd_file_t* ppd, const char* host, const char* community,
                      const ProbeCancel& cancel, ProbeResult& result) {
  SnmpCredentials credentials;
  copy_text(credentials.community, sizeof(credentials.community), community);
  probeSnmpOptions(ppd, host, credentials, cancel, result);
}

void noteSnmpSettings(const SnmpSettingsReport& report, ProbeResult& result) {
  if (report.problem == SnmpSettingsProblem::kNone) return;
  char words[kDetailSize];
  snmpSettingsProblemWords(report, words, sizeof(words));
  char detail[kDetailSize];
  format_text(detail, sizeof(detail), "%s: %s", report.path, words);
  addDeviceNote(result.device_notes, DeviceNoteKind::kSnmpSettingsUnused, detail);
  result.notes_before = result.device_notes.size();
}

void probeSnmpOptions(ppd_file_t* ppd, const char* host, const SnmpCredentials& credentials,
                      const ProbeCancel& cancel, ProbeResult& result) {
  ppd_group_t* group = installableGroup(ppd);
  const size_t total = group != nullptr ? static_cast<size_t>(group->num_options) : 0;
  result.records = make_array<ProbeRecord>(total);
  UniqueMalloc<SnmpRequest[]> requests = make_array<SnmpRequest>(total);
  // Which request each record's answer is in.
  UniqueMalloc<size_t[]> request_of = make_array<size_t>(total);
  if (result.records == nullptr || requests == nullptr || request_of == nullptr) {
    result.status = kProbeNoMemory;
    return;
  }
  result.count = total;
  size_t count = 0;
  for (size_t i = 0; i < total; ++i) {
    ProbeRecord& record = result.records[i];
    record.option = &group->options[i];
    find_query_line(ppd, record);
    if (record.outcome == ProbeOutcome::kNoQuery) continue;
    request_of[i] = count;
    requests[count++].oid_text = record.query;
  }

  // The session parameters hold the master keys of SNMPv3.
  Secret<netsnmp_session> session;
  if (session.get() == nullptr) {
    result.status = kProbeNoMemory;
    return;
  }
  char no_session[kDetailSize] = "";
  int round = kSnmpRoundDone;
  if (setupCredentialSession(session.get(), host, credentials, no_session, sizeof(no_session)) !=
      0) {
    // Nothing is sent: every query's line says why.
    for (size_t i = 0; i < count; ++i) {
      requests[i].outcome = snmpOidReadable(requests[i].oid_text) ? SnmpOutcome::kOpenFailed
                                                                  : SnmpOutcome::kInvalidOid;
      if (requests[i].outcome == SnmpOutcome::kOpenFailed) {
        requests[i].error_text = strdup(no_session);
      }
    }
  }
  if (no_session[0] == '\0') {
    round = snmpGetAll(session.get(), requests.get(), count, kSnmpQueryTimeoutMs,
                       kSnmpQueryRetries, cancel);
  }
  releaseSnmpSession(session.get());
  if (round == kSnmpRoundCancelled) {
    for (size_t i = 0; i < total; ++i) result.records[i].outcome = ProbeOutcome::kNotAsked;
    result.status = kProbeCancelled;
  } else {
    for (size_t i = 0; i < total; ++i) {
      ProbeRecord& record = result.records[i];
      if (record.outcome == ProbeOutcome::kNoQuery) continue;
      snmpRecordOutcome(requests[request_of[i]], form_of(record), record);
      finish_record(ppd, record, result.notes);
    }
    result.status = kProbeDone;
  }
  snmpRoundRelease(requests.get(), count);
}

int probeSnmpGet(netsnmp_session* session, const char* oid_text, char* buffer, size_t size,
                 int timeout_ms, int retries, ProbeRecord& record) {
  record = ProbeRecord();
  record.query = oid_text;
  if (session == nullptr) {
    record.outcome = ProbeOutcome::kNoSession;
    return -1;
  }
  SnmpRequest request;
  request.oid_text = oid_text;
  ProbeCancel cancel;
  cancel.sigterm = true;
  snmpGetAll(session, &request, 1, timeout_ms, retries, cancel);
  snmpRecordOutcome(request, SnmpTextForm::kReply, record);
  int length = -1;
  // Rendered into the caller's buffer, whose size sets the length rule's limit.
  if (record.outcome == ProbeOutcome::kAnswered && buffer != nullptr && size > 0) {
    length = snmpValueText(request.variable, buffer, size);
  }
  snmpRoundRelease(&request, 1);
  return length;
}
