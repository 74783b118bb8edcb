// One SNMP GET on its own, as the filter reports it: the reply text, or the library's words
// for the failure on standard error.
#ifndef ZORV_AUTOCONF_SNMP_GET_H
#define ZORV_AUTOCONF_SNMP_GET_H

#include <cstddef>

struct snmp_session;

// One GET of oid (numeric or a loaded MIB name), a round of one request (probe/snmp_round.h).
// Returns the length of the reply text written to buffer (0 to size - 1), or -1 when no value
// came; every failure is reported on standard error.
int snmpGetText(struct snmp_session* session, const char* oid, char* buffer, size_t size,
                int timeout_ms, int retries);

#endif  // ZORV_AUTOCONF_SNMP_GET_H
