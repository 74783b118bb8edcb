// One SNMP GET per call and the reply text of its value.
#ifndef ZORV_AUTOCONF_SNMP_GET_H
#define ZORV_AUTOCONF_SNMP_GET_H

#include <cstddef>

struct snmp_session;

// Fills the session parameters for host and community (heap copies released below).
void setupSnmpSession(struct snmp_session* session, const char* host, const char* community);
void releaseSnmpSession(struct snmp_session* session);
// Length of the reply text written to buffer (0 to size - 1), or -1 when no value came.
int snmpGetText(struct snmp_session* session, const char* oid, char* buffer, size_t size,
                int timeout_ms, int retries);

#endif  // ZORV_AUTOCONF_SNMP_GET_H
