// The SNMP side of a device query: the library set up once per process, the session parameters
// of a printer, and a round that has all GETs of a query in flight together, each with its own
// time-out, keeping the outcomes so that they can be read afterwards in the order of the
// options. Writes nothing anywhere.
#ifndef ZORV_PROBE_SNMP_ROUND_H
#define ZORV_PROBE_SNMP_ROUND_H

#include <cstddef>

#include "probe/record.h"

struct snmp_session;
struct variable_list;

// At most this many requests wait for an answer at a time: a PPD with hundreds of queried
// options holds one socket and a bounded amount of memory.
inline constexpr size_t kSnmpInFlight = 64;

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

// What a GET gave.
enum class SnmpOutcome {
  kNotSent,      // the round was cancelled before this request went out
  kInvalidOid,   // the OID text cannot be read
  kOpenFailed,   // no session could be opened to the host
  kFailed,       // no answer (time-out, send or receive error): error_text says why
  kErrorStatus,  // the agent answered with an error status (error_status)
  kAnswered,     // an answer, its first variable in variable (null when it had none)
  kRefused,      // SNMPv3: a report instead of an answer (report), or a discovery answer that
                 // named no engine; error_text holds the library's words
};

// One request of a round: the OID text goes in, the outcome comes out. Filled by snmpGetAll;
// owns its error text and variable, which snmpRoundRelease frees.
struct SnmpRequest {
  const char* oid_text = nullptr;  // belongs to the caller (the PPD's attribute value)
  SnmpOutcome outcome = SnmpOutcome::kNotSent;
  long error_status = 0;
  const char* failed_call = nullptr;         // the library call that failed, for kFailed
  char* error_text = nullptr;                // the library's words, for kFailed and kOpenFailed
  struct variable_list* variable = nullptr;  // for kAnswered
  // The round the request belongs to while it waits for its answer.
  void* round = nullptr;
  SnmpReport report = SnmpReport::kNone;  // for kRefused
};

// Whether the OID text (numeric, or a name of a loaded MIB) can be read.
bool snmpOidReadable(const char* text);

// Results of snmpGetAll.
inline constexpr int kSnmpRoundDone = 0;        // every request has its outcome
inline constexpr int kSnmpRoundCancelled = -1;  // cancelled: the rest were not waited for

// Sends the GET of every request's OID to the host of the session parameters (one session for
// all, opened only when some OID can be read), at most kSnmpInFlight at a time, each waiting at
// most timeout_ms with the given retries, and collects the answers. With SNMPv3 parameters
// whose engine is unknown, the discovery of the printer's engine comes first, within the same
// timeout_ms: a silent printer costs one time-out, and each GET waits what the discovery left
// of it. A cancel wakes the wait at once and ends the round; no request is sent after it.
// Several rounds may run at once in different threads, each with session parameters of its
// own.
int snmpGetAll(struct snmp_session* session, SnmpRequest* requests, size_t count, int timeout_ms,
               int retries, const ProbeCancel& cancel);
// Frees what snmpGetAll left in the requests.
void snmpRoundRelease(SnmpRequest* requests, size_t count);

#endif  // ZORV_PROBE_SNMP_ROUND_H
