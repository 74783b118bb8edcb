// The SNMP round of a query: all GETs of a query in flight together, each with its own
// time-out, keeping the outcomes so that they can be read afterwards in the order of the
// options; or a walk, whose GETNEXT requests each follow the answer to the one before, under
// one time-out for the whole walk. Writes nothing anywhere.
#ifndef ZORV_PROBE_SNMP_ROUND_H
#define ZORV_PROBE_SNMP_ROUND_H

#include <cstddef>

#include "probe/cancel.h"
#include "probe/snmp_v3_settings.h"

struct snmp_session;
struct variable_list;

// The library's words for a failure of a round: room for them.
inline constexpr size_t kSnmpWordsSize = 256;

// At most this many requests wait for an answer at a time: a PPD with hundreds of queried
// options holds one socket and a bounded amount of memory.
inline constexpr size_t kSnmpInFlight = 64;

// An object identifier as numbers, for the requests of a walk. The SNMP library's longest.
inline constexpr size_t kSnmpMaxOidLength = 128;
struct SnmpName {
  unsigned long ids[kSnmpMaxOidLength];
  size_t length;
};

// What a GET (or a GETNEXT) gave.
enum class SnmpOutcome {
  kNotSent,      // the round was cancelled before this request went out
  kInvalidOid,   // the OID text cannot be read
  kOpenFailed,   // no session could be opened to the host
  kFailed,       // no answer (time-out, send or receive error): error_text says why
  kErrorStatus,  // the agent answered with an error status (error_status)
  kAnswered,     // an answer, its variables in variable (null when it had none)
  kRefused,      // SNMPv3: a report instead of an answer (report), or a discovery answer that
                 // named no engine; error_text holds the library's words
};

// One request of a round: the OID text (or, for a walk, the names) goes in, the outcome comes
// out. Filled by snmpGetAll or snmpWalk; owns its error text and variables, which
// snmpRoundRelease frees.
struct SnmpRequest {
  const char* oid_text = nullptr;  // belongs to the caller (the PPD's attribute value)
  SnmpOutcome outcome = SnmpOutcome::kNotSent;
  long error_status = 0;
  const char* failed_call = nullptr;         // the library call that failed, for kFailed
  char* error_text = nullptr;                // the library's words, for kFailed and kOpenFailed
  struct variable_list* variable = nullptr;  // for kAnswered: the first of the answer's list
  // The round the request belongs to while it waits for its answer.
  void* round = nullptr;
  SnmpReport report = SnmpReport::kNone;  // for kRefused
  // A GETNEXT of a walk: the names to ask after, name_count of them (the caller's), read when
  // the request is sent; oid_text is then not read.
  const SnmpName* names = nullptr;
  size_t name_count = 0;
  long error_index = 0;  // for kErrorStatus: the variable it names, 1 for the first
  // A walk's GETBULK instead of its GETNEXT (SNMPv2c and SNMPv3): the answers to this many
  // GETNEXTs in a row, for each name, in one answer; 0 for a GETNEXT.
  int bulk_rows = 0;
  bool ended = false;  // the round's: ended since the walk last looked
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
// How a walk goes on: when one of its requests ends, next(request, data) reads the outcome and
// either sets the request's names up again and returns true (the request is sent again at
// once, its last answer freed before), or returns false (the request stays as it ended).
struct SnmpFollow {
  bool (*next)(SnmpRequest& request, void* data);
  void* data;
};

// Sends the GETNEXT of every request's names to the host of the session parameters, as
// snmpGetAll sends its GETs (one session, the printer's answers only, the discovery of an
// SNMPv3 engine first), and after each answer asks follow what comes next. The whole walk,
// discovery included, ends within timeout_ms: a request sent later waits only what is left,
// and one that would be sent with nothing left ends as a time-out. Sent once each. A cancel
// ends it as it ends snmpGetAll.
int snmpWalk(struct snmp_session* session, SnmpRequest* requests, size_t count, int timeout_ms,
             const SnmpFollow& follow, const ProbeCancel& cancel);

// Frees what snmpGetAll or snmpWalk left in the requests; also what one request left before it
// is set up again.
void snmpRoundRelease(SnmpRequest* requests, size_t count);

#endif  // ZORV_PROBE_SNMP_ROUND_H
