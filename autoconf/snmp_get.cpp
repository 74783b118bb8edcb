// One SNMP GET on its own, as the filter reports it.
#include "autoconf/snmp_get.h"

#include <cstdio>

#include "probe/probe.h"

int snmpGetText(struct snmp_session* session, const char* oid_text, char* buffer, size_t size,
                int timeout_ms, int retries) {
  ProbeRecord record;
  const int length = probeSnmpGet(session, oid_text, buffer, size, timeout_ms, retries, record);
  if (record.outcome != ProbeOutcome::kAnswered) writeGetFailure(stderr, record);
  return length;
}
