// The SNMP session parameters of a run, one GET on its own, and the reply text of a value.
#ifndef ZORV_AUTOCONF_SNMP_GET_H
#define ZORV_AUTOCONF_SNMP_GET_H

#include <cstddef>

struct snmp_session;
struct variable_list;
struct netsnmp_log_handler_s;

// While it lives, the SNMP library's own log lines (MIB loading warnings, "Cannot find module")
// go nowhere instead of to standard error, which the scheduler shows to the user.
class SnmpLogHush {
 public:
  SnmpLogHush();
  ~SnmpLogHush();
  SnmpLogHush(const SnmpLogHush&) = delete;
  SnmpLogHush& operator=(const SnmpLogHush&) = delete;

 private:
  struct netsnmp_log_handler_s* handler_;
};

// Fills the session parameters for host and community: SNMPv1 to the host, or SNMPv2c over
// "udp6:" when the host is an IPv6 address (it holds a colon). The heap copies of the peer name
// and the community belong to the record until releaseSnmpSession frees them.
void setupSnmpSession(struct snmp_session* session, const char* host, const char* community);
void releaseSnmpSession(struct snmp_session* session);

// One GET of oid (numeric or a loaded MIB name), a round of one request (snmp_round.h). Returns
// the length of the reply text written to buffer (0 to size - 1), or -1 when no value came;
// every failure is reported on standard error.
int snmpGetText(struct snmp_session* session, const char* oid, char* buffer, size_t size,
                int timeout_ms, int retries);

// The reply text of one variable: decimal for INTEGER, the bytes up to the first zero for
// OCTET STRING, "<NULL>", dotted decimal for OBJECT IDENTIFIER, the low 32 bits least
// significant byte first in hexadecimal for the 32-bit unsigned types, and the stored bytes in
// hexadecimal for any other type. Returns the text length (size - 1 when cut), or -1 for a
// missing variable or buffer.
int snmpValueText(const struct variable_list* variable, char* buffer, size_t size);

// The natural text of one variable, which the CUPS-standard OID<Keyword> values are compared
// with: an OCTET STRING up to its first zero byte, every integer type in decimal (signed for
// INTEGER, unsigned for the others), an OBJECT IDENTIFIER and an IpAddress dotted, anything
// else as hexadecimal bytes. Same length rule and results as snmpValueText.
int snmpNaturalText(const struct variable_list* variable, char* buffer, size_t size);

#endif  // ZORV_AUTOCONF_SNMP_GET_H
