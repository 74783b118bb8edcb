// The SNMP library as a process sets it up, and the session parameters of a printer, which a
// round opens. Writes nothing anywhere.
#ifndef ZORV_PROBE_SNMP_SESSION_H
#define ZORV_PROBE_SNMP_SESSION_H

struct snmp_session;

// The name the SNMP library reads its configuration files under, whichever program asks.
inline constexpr char kProbeSnmpName[] = "zorvautoconf";

// Sets the SNMP library up for the process, once, whichever thread comes first: init_snmp under
// program's name (it names the configuration files the library reads), with the library's own
// log lines (MIB loading warnings, "Cannot find module") going nowhere, and packet dumps and
// debugging off whatever the machine's snmp.conf says: packet dumps go through xdump, which
// the filter exports and which writes to standard output, the job stream.
void probeSnmpInit(const char* program = kProbeSnmpName);

// Fills the session parameters for host and community: SNMPv1 to the host, or SNMPv2c over
// "udp6:" when the host is an IPv6 address (it holds a colon). The heap copies of the peer name
// and the community belong to the record until releaseSnmpSession frees them. (SNMPv3:
// setupSnmpV3Session in probe/snmp_usm.h.)
void setupSnmpSession(struct snmp_session* session, const char* host, const char* community);
// Frees the heap copies of either kind of session parameters and clears their keys.
void releaseSnmpSession(struct snmp_session* session);

#endif  // ZORV_PROBE_SNMP_SESSION_H
