// The IEEE 1284 device ID of a network printer, over SNMP.
#include "probe/probe.h"

#include <net-snmp/net-snmp-config.h>
#include <net-snmp/net-snmp-includes.h>

#include "common/secret.h"
#include "log/text.h"
#include "probe/snmp_probe.h"
#include "probe/snmp_round.h"
#include "probe/snmp_session.h"
#include "probe/snmp_usm.h"

bool snmpDeviceId(const char* host, const SnmpCredentials& credentials, const ProbeCancel& cancel,
                  char* id, size_t size, char* why, size_t why_size) {
  copy_text(id, size, "");
  probeSnmpInit();
  ProbeRecord record;
  record.query = kPwgDeviceIdOid;
  Secret<netsnmp_session> session;
  if (session.get() == nullptr) {
    copy_text(why, why_size, "no memory for the session");
    return false;
  }
  SnmpRequest request;
  request.oid_text = kPwgDeviceIdOid;
  char no_session[kDetailSize] = "";
  if (setupCredentialSession(session.get(), host, credentials, no_session, sizeof(no_session)) !=
      0) {
    record.outcome = ProbeOutcome::kNoSession;
    record.failed_call = "snmp_sess_open";
    copy_text(record.detail, sizeof(record.detail), no_session);
  } else {
    snmpGetAll(session.get(), &request, 1, kSnmpQueryTimeoutMs, kSnmpQueryRetries, cancel);
    snmpRecordOutcome(request, SnmpTextForm::kNatural, record);
  }
  releaseSnmpSession(session.get());
  bool found = false;
  if (record.outcome == ProbeOutcome::kAnswered && request.variable != nullptr &&
      request.variable->type == ASN_OCTET_STR) {
    stateText(id, size, request.variable->val.string, request.variable->val_len);
    found = id[0] != '\0';
    copy_text(why, why_size, found ? "" : "an empty device ID");
  } else if (record.outcome == ProbeOutcome::kAnswered) {
    copy_text(why, why_size, "a device ID that is no text");
  } else {
    probeFailureWords(record, why, why_size);
  }
  snmpRoundRelease(&request, 1);
  return found;
}
