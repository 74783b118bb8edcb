// All SNMP GETs of a run in flight together: one session, one request per OID, each with its own
// time-out, and the outcomes kept so that they can be reported afterwards in the order of the
// options, exactly as GETs made one after another would report them.
#ifndef ZORV_AUTOCONF_SNMP_ROUND_H
#define ZORV_AUTOCONF_SNMP_ROUND_H

#include <cstddef>

struct snmp_session;
struct variable_list;

// At most this many requests wait for an answer at a time: a PPD with hundreds of queried
// options holds one socket and a bounded amount of memory.
inline constexpr size_t kSnmpInFlight = 64;

// What a GET gave.
enum class SnmpOutcome {
  kNotSent,      // the round was cancelled before this request went out
  kInvalidOid,   // the OID text cannot be read
  kOpenFailed,   // no session could be opened to the host
  kFailed,       // no answer (time-out, send or receive error): error_text says why
  kErrorStatus,  // the agent answered with an error status (error_status)
  kAnswered,     // an answer, its first variable in variable (null when it had none)
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
};

// Whether the OID text (numeric, or a name of a loaded MIB) can be read; the library's own
// complaints are kept off standard error.
bool snmpOidReadable(const char* text);

// Results of snmpGetAll.
inline constexpr int kSnmpRoundDone = 0;        // every request has its outcome
inline constexpr int kSnmpRoundCancelled = -1;  // SIGTERM arrived: the rest were not waited for

// Sends the GET of every request's OID to the host of the session parameters (one session for
// all, opened only when some OID can be read), at most kSnmpInFlight at a time, each waiting at
// most timeout_ms with the given retries, and collects the answers. Writes nothing: the
// outcomes are reported by snmpReportAnswer. SIGTERM wakes the wait at once and ends the round;
// no request is sent after it.
int snmpGetAll(struct snmp_session* session, SnmpRequest* requests, size_t count, int timeout_ms,
               int retries);
// Frees what snmpGetAll left in the requests.
void snmpRoundRelease(SnmpRequest* requests, size_t count);

// How an answer is rendered: the reply text of the Snmp<Keyword> attributes (snmpValueText), or
// the natural text of the CUPS-standard OID<Keyword> attributes (snmpNaturalText).
enum class SnmpTextForm { kReply, kNatural };

// Writes the failure messages of one outcome to standard error, exactly as a GET made on its
// own at that point writes them, and renders an answer's first variable into buffer. Returns
// the text's length, or -1 when the GET gave no value.
int snmpReportAnswer(const SnmpRequest& request, char* buffer, size_t size,
                     SnmpTextForm form = SnmpTextForm::kReply);
// A round of one: the GET of oid_text goes out and its outcome is reported at once, as
// snmpReportAnswer reports it. A null session is reported as "invalid session value" (-1).
int snmpGetOne(struct snmp_session* session, const char* oid_text, char* buffer, size_t size,
               int timeout_ms, int retries, SnmpTextForm form);
// Why a GET gave no value, in words for people ("no answer: Timeout"), into buffer.
void snmpFailureWords(const SnmpRequest& request, char* buffer, size_t size);

#endif  // ZORV_AUTOCONF_SNMP_ROUND_H
