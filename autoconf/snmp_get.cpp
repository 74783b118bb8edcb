// One SNMP GET on its own, as the filter reports it.
#include "autoconf/snmp_get.h"

#include <net-snmp/net-snmp-config.h>
#include <net-snmp/net-snmp-includes.h>

#include <cstdio>

#include "probe/messages.h"
#include "probe/snmp_probe.h"
#include "probe/snmp_value.h"

int snmpGetText(netsnmp_session* session, const char* oid_text, char* buffer, size_t size,
                int timeout_ms, int retries) {
  ProbeRecord record;
  record.query = oid_text;
  if (session == nullptr) {
    record.outcome = ProbeOutcome::kNoSession;
    writeGetFailure(stderr, record);
    return -1;
  }
  SnmpRequest request;
  request.oid_text = oid_text;
  ProbeCancel cancel;
  cancel.sigterm = true;
  snmpGetAll(session, &request, 1, timeout_ms, retries, cancel);
  snmpRecordOutcome(request, SnmpTextForm::kReply, record);
  int length = -1;
  if (record.outcome != ProbeOutcome::kAnswered) {
    writeGetFailure(stderr, record);
  } else if (buffer != nullptr && size > 0) {
    // Rendered into the caller's buffer, whose size sets the length rule's limit.
    length = snmpValueText(request.variable, buffer, size);
  }
  snmpRoundRelease(&request, 1);
  return length;
}
