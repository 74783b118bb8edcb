// All SNMP GETs of a query in flight together, or the GETNEXT chains of a walk. One session
// carries every request: only datagrams from the printer's address and port reach its socket,
// each request has a random id, and the library matches each answer to its request by that id,
// drops an answer that comes twice, late or for an id it never sent, and expires each request on
// its own time-out. The round waits with ppoll on the session's socket until the next answer,
// the next expiry or a cancel.
// Net-SNMP is not built reentrant here: every call into it holds one process-wide lock, taken only
// around the calls, never across a wait, so that rounds of several threads interleave.
#include "probe/snmp_round.h"

#include <net-snmp/net-snmp-config.h>
#include <net-snmp/net-snmp-includes.h>
#include <net-snmp/library/large_fd_set.h>
#include <poll.h>
#include <pthread.h>
#include <sys/random.h>
#include <sys/socket.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <optional>

#include "common/signals.h"
#include "probe/snmp_handles.h"
#include "probe/snmp_lock.h"
#include "probe/snmp_session.h"
#include "probe/snmp_transport.h"
#include "probe/snmp_usm.h"

namespace {

constexpr long kMicrosecondsPerMillisecond = 1000;

using LibraryLock = SnmpLibraryLock;

char* copy_heap_text(const char* text) {
  return strdup(text != nullptr ? text : "");
}

// A request id from the kernel's random source: the library's own ids start from the time of
// day and count up by one, which anyone who sees the socket can follow. Positive, as the
// library's own, and never 0.
long random_request_id() {
  uint32_t bits = 0;
  while (bits == 0) {
    if (getrandom(&bits, sizeof(bits), 0) != static_cast<ssize_t>(sizeof(bits))) bits = 0;
    bits &= 0x7FFFFFFF;
  }
  return static_cast<long>(bits);
}

// Where an SNMPv3 round is with the discovery of the printer's engine.
enum class Discovery { kNone, kWaiting, kKnown, kNoEngine, kFailed };

static_assert(sizeof(oid) == sizeof(unsigned long) && MAX_OID_LEN == kSnmpMaxOidLength,
              "a walk's names are the library's OIDs");

// The requests of one round and how far the round has got with them.
struct Round {
  SnmpRequest* requests;
  size_t count;
  size_t next = 0;     // the next request to send
  size_t waiting = 0;  // sent and not yet answered or expired
  Discovery discovery = Discovery::kNone;
  char* discovery_error = nullptr;  // the library's words for kFailed (heap)
  const SnmpFollow* follow = nullptr;  // a walk's; null for GETs
  struct timespec start = {};
  int timeout_ms = 0;  // a walk's, for all of it
};

// Owns a large descriptor set of the library.
class FdSet {
 public:
  FdSet() { netsnmp_large_fd_set_init(&set_, FD_SETSIZE); }
  ~FdSet() { netsnmp_large_fd_set_cleanup(&set_); }
  FdSet(const FdSet&) = delete;
  FdSet& operator=(const FdSet&) = delete;
  netsnmp_large_fd_set* get() { return &set_; }

 private:
  netsnmp_large_fd_set set_;
};

// The session's error as the library words it (snmp_sess_error and snmp_sess_perror use the
// same text), in a new heap string.
char* session_error(netsnmp_session* session) {
  char* text = nullptr;
  int library_error = 0;
  int system_error = 0;
  snmp_error(session, &system_error, &library_error, &text);
  return text;
}

bool read_oid(const char* text, oid* name, size_t* length) {
  if (text == nullptr) return false;
  *length = MAX_OID_LEN;
  // A MIB name that is not loaded yet is looked for, which changes the library's tree.
  LibraryLock lock;
  return read_objid(text, name, length) != 0;
}

void fail_with_session_error(SnmpRequest& request, const char* what, netsnmp_session* session) {
  char* text = session_error(session);
  request.outcome = SnmpOutcome::kFailed;
  request.failed_call = what;
  request.error_text = text;
}

// The library tells of a report twice, first as a security error and then as the message
// received, and of a resend it makes after a report; only the end of a request counts.
bool ends_request(int operation) {
  return operation != NETSNMP_CALLBACK_OP_SEC_ERROR && operation != NETSNMP_CALLBACK_OP_RESEND;
}

// The end of one request: its answer, or its time-out. The answer PDU stays the library's;
// only its first variable is taken out of it.
int on_answer(int operation, netsnmp_session* session, int /*request_id*/, netsnmp_pdu* pdu,
              void* magic) {
  if (!ends_request(operation)) return 1;
  SnmpRequest& request = *static_cast<SnmpRequest*>(magic);
  static_cast<Round*>(request.round)->waiting--;
  request.round = nullptr;
  if (operation == NETSNMP_CALLBACK_OP_RECEIVED_MESSAGE && pdu != nullptr) {
    if (pdu->command == SNMP_MSG_REPORT) {
      request.outcome = SnmpOutcome::kRefused;
      request.report = snmpReportOf(pdu);
      request.error_text = copy_heap_text(snmp_api_errstring(snmpv3_get_report_type(pdu)));
    } else if (pdu->errstat != SNMP_ERR_NOERROR) {
      request.outcome = SnmpOutcome::kErrorStatus;
      request.error_status = pdu->errstat;
      request.error_index = pdu->errindex;
    } else {
      request.outcome = SnmpOutcome::kAnswered;
      request.variable = pdu->variables;
      pdu->variables = nullptr;
    }
  } else {
    // Worded as a GET on its own words it: the time-out is the session's error, on a session
    // that has seen no system error of its own.
    if (operation == NETSNMP_CALLBACK_OP_TIMED_OUT) {
      session->s_snmp_errno = SNMPERR_TIMEOUT;
      session->s_errno = 0;
    }
    fail_with_session_error(request, "snmp_sess_synch_response", session);
  }
  request.ended = true;
  return 1;
}

// The end of the discovery: the library has taken the engine from the answer (a report, as a
// rule) into the session; an agent that answers with a response instead may name it there.
int on_discovery(int operation, netsnmp_session* session, int /*request_id*/, netsnmp_pdu* pdu,
                 void* magic) {
  Round& round = *static_cast<Round*>(magic);
  // Only the discovery that the round waits for can end: not one the send itself failed.
  if (!ends_request(operation) || round.discovery != Discovery::kWaiting) return 1;
  if (operation != NETSNMP_CALLBACK_OP_RECEIVED_MESSAGE || pdu == nullptr) {
    if (operation == NETSNMP_CALLBACK_OP_TIMED_OUT) {
      session->s_snmp_errno = SNMPERR_TIMEOUT;
      session->s_errno = 0;
    }
    round.discovery = Discovery::kFailed;
    round.discovery_error = session_error(session);
    return 1;
  }
  if (session->securityEngineIDLen == 0 && pdu->securityEngineIDLen > 0) {
    session->securityEngineID =
        static_cast<u_char*>(netsnmp_memdup(pdu->securityEngineID, pdu->securityEngineIDLen));
    if (session->securityEngineID != nullptr) {
      session->securityEngineIDLen = pdu->securityEngineIDLen;
    }
  }
  round.discovery = session->securityEngineIDLen > 0 ? Discovery::kKnown : Discovery::kNoEngine;
  return 1;
}

// Sends the discovery of the printer's engine; false (the round's discovery kFailed) when it
// cannot be sent.
bool send_discovery(void* open, Round& round) {
  LibraryLock lock;
  UniqueSnmpPdu pdu(snmpDiscoveryPdu());
  if (pdu) pdu->reqid = random_request_id();
  if (pdu && snmp_sess_async_send(open, pdu.get(), on_discovery, &round) != 0) {
    // The library owns the PDU now.
    (void)pdu.release();
    round.discovery = Discovery::kWaiting;
    return true;
  }
  round.discovery = Discovery::kFailed;
  free(round.discovery_error);
  round.discovery_error = session_error(snmp_sess_session(open));
  return false;
}

// Every request whose OID can be read ends as the discovery did: as its time-out or failure,
// as a refusal without an engine, or, when no user could be made, as a session not opened.
void end_without_engine(Round& round, const char* no_user) {
  for (size_t i = 0; i < round.count; ++i) {
    SnmpRequest& request = round.requests[i];
    if (request.outcome == SnmpOutcome::kInvalidOid) continue;
    if (no_user != nullptr) {
      request.outcome = SnmpOutcome::kOpenFailed;
      request.error_text = copy_heap_text(no_user);
    } else if (round.discovery == Discovery::kNoEngine) {
      request.outcome = SnmpOutcome::kRefused;
      request.report = SnmpReport::kNoEngine;
      request.error_text = copy_heap_text(snmp_api_errstring(SNMPERR_BAD_ENG_ID));
    } else {
      request.outcome = SnmpOutcome::kFailed;
      request.failed_call = "snmp_sess_synch_response";
      request.error_text = copy_heap_text(round.discovery_error);
    }
  }
}

long elapsed_ms(const struct timespec& start) {
  struct timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return (now.tv_sec - start.tv_sec) * 1000 + (now.tv_nsec - start.tv_nsec) / 1000000;
}

// A request that ends before it is sent: the walk has no time left for it.
void end_as_time_out(SnmpRequest& request) {
  request.outcome = SnmpOutcome::kFailed;
  request.failed_call = "snmp_sess_synch_response";
  request.error_text = copy_heap_text(snmp_api_errstring(SNMPERR_TIMEOUT));
  request.ended = true;
}

// Sends a request of the round: a GET of its OID text, unless that cannot be read, or a
// walk's GETNEXT of its names, waiting what is left of the walk's time-out.
void send_request(void* open, Round& round, SnmpRequest& request) {
  oid name[MAX_OID_LEN];
  size_t length = MAX_OID_LEN;
  if (request.names == nullptr &&
      (request.outcome == SnmpOutcome::kInvalidOid || !read_oid(request.oid_text, name, &length))) {
    return;
  }
  long left = 0;
  if (round.follow != nullptr) {
    left = round.timeout_ms - elapsed_ms(round.start);
    if (left <= 0) {
      end_as_time_out(request);
      return;
    }
  }
  LibraryLock lock;
  int command = SNMP_MSG_GET;
  if (request.names != nullptr) {
    command = request.bulk_rows > 0 ? SNMP_MSG_GETBULK : SNMP_MSG_GETNEXT;
  }
  UniqueSnmpPdu pdu(snmp_pdu_create(command));
  if (!pdu) {
    fail_with_session_error(request, "snmp_pdu_create", snmp_sess_session(open));
    request.ended = true;
    return;
  }
  if (request.names == nullptr) {
    snmp_add_null_var(pdu.get(), name, length);
  } else {
    for (size_t i = 0; i < request.name_count; ++i) {
      snmp_add_null_var(pdu.get(), request.names[i].ids, request.names[i].length);
    }
    snmp_sess_session(open)->timeout = left * kMicrosecondsPerMillisecond;
    if (command == SNMP_MSG_GETBULK) {
      pdu->non_repeaters = 0;
      pdu->max_repetitions = request.bulk_rows;
    }
  }
  pdu->reqid = random_request_id();
  // The library takes the PDU when the send succeeds and leaves it to the caller otherwise. A
  // send the kernel refuses is ended through on_answer inside the call, so the request counts
  // as waiting from before it.
  request.round = &round;
  round.waiting++;
  if (snmp_sess_async_send(open, pdu.get(), on_answer, &request) == 0) {
    if (request.round != nullptr) {
      request.round = nullptr;
      round.waiting--;
      fail_with_session_error(request, "snmp_sess_synch_response", snmp_sess_session(open));
    }
    request.ended = true;
    return;
  }
  // The library owns the PDU now.
  (void)pdu.release();
}

// Waits for the next answer or expiry, or a cancel, and hands what came to the library. With
// the filter's SIGTERM, deferred holds it off except inside the wait.
void wait_and_read(void* open, const std::optional<TermDeferred>& deferred, int cancel_fd) {
  FdSet fds;
  int count = 0;
  int block = 1;
  struct timeval timeout = {};
  NETSNMP_LARGE_FD_ZERO(fds.get());
  {
    LibraryLock lock;
    snmp_sess_select_info2(open, &count, fds.get(), &timeout, &block);
  }
  struct pollfd polled[4];
  nfds_t used = 0;
  if (cancel_fd >= 0) polled[used++] = {cancel_fd, POLLIN, 0};
  for (int fd = 0; fd < count && used < sizeof(polled) / sizeof(polled[0]); ++fd) {
    if (netsnmp_large_fd_is_set(fd, fds.get())) polled[used++] = {fd, POLLIN, 0};
  }
  const struct timespec wait = {timeout.tv_sec, timeout.tv_usec * 1000};
  const int ready =
      ppoll(polled, used, block != 0 ? nullptr : &wait, deferred ? deferred->wait_mask() : nullptr);
  if (ready < 0 && errno == EINTR) return;
  LibraryLock lock;
  if (ready > 0) {
    NETSNMP_LARGE_FD_ZERO(fds.get());
    for (nfds_t i = 0; i < used; ++i) {
      if (polled[i].fd != cancel_fd && polled[i].revents != 0) {
        netsnmp_large_fd_setfd(polled[i].fd, fds.get());
      }
    }
    snmp_sess_read2(open, fds.get());
  }
  // Expiries are due whether or not an answer came meanwhile.
  snmp_sess_timeout(open);
}

}  // namespace

bool snmpOidReadable(const char* text) {
  oid name[MAX_OID_LEN];
  size_t length = MAX_OID_LEN;
  return read_oid(text, name, &length);
}

namespace {

// A walk's requests that ended: each is followed, and sent again when the walk asks for it.
void follow_ended(void* open, Round& round) {
  bool again = true;
  while (again) {
    again = false;
    for (size_t i = 0; i < round.count; ++i) {
      SnmpRequest& request = round.requests[i];
      if (!request.ended) continue;
      request.ended = false;
      if (!round.follow->next(request, round.follow->data)) continue;
      snmpRoundRelease(&request, 1);
      request.outcome = SnmpOutcome::kNotSent;
      request.error_status = 0;
      request.error_index = 0;
      request.failed_call = nullptr;
      request.report = SnmpReport::kNone;
      send_request(open, round, request);
      // A request that could not be sent has ended again.
      again |= request.ended;
    }
  }
}

// The round of snmpGetAll (follow null) or of snmpWalk.
int run_round(netsnmp_session* session, SnmpRequest* requests, size_t count, int timeout_ms,
              int retries, const ProbeCancel& cancel, const SnmpFollow* follow) {
  // A session is opened only when some OID can be read, as one GET after another would.
  bool any = false;
  for (size_t i = 0; i < count; ++i) {
    if (requests[i].names != nullptr ? requests[i].name_count > 0
                                     : snmpOidReadable(requests[i].oid_text)) {
      any = true;
    } else {
      requests[i].outcome = SnmpOutcome::kInvalidOid;
    }
  }
  if (!any || session == nullptr) return kSnmpRoundDone;

  session->timeout = timeout_ms * kMicrosecondsPerMillisecond;
  session->retries = retries;
  UniqueSnmpSession open;
  netsnmp_transport* transport = printerTransport(session);
  {
    LibraryLock lock;
    // The session owns the transport from here, also when it cannot be added.
    if (transport != nullptr) open.reset(snmp_sess_add(session, transport, nullptr, nullptr));
    if (open && !restrictToPrinter(open.get())) {
      open.reset();
      snmp_set_detail("cannot restrict the session to the printer's address");
      session->s_snmp_errno = SNMPERR_BAD_ADDRESS;
    }
    if (!open) {
      char* text = session_error(session);
      for (size_t i = 0; i < count; ++i) {
        if (requests[i].outcome == SnmpOutcome::kInvalidOid) continue;
        requests[i].outcome = SnmpOutcome::kOpenFailed;
        requests[i].error_text = text != nullptr ? strdup(text) : nullptr;
      }
      free(text);
      return kSnmpRoundDone;
    }
  }

  std::optional<TermDeferred> deferred;
  if (cancel.sigterm) deferred.emplace();
  Round round{requests, count};
  round.follow = follow;
  round.timeout_ms = timeout_ms;
  clock_gettime(CLOCK_MONOTONIC, &round.start);
  bool discovering = false;
  {
    LibraryLock lock;
    netsnmp_session* opened = snmp_sess_session(open.get());
    discovering = snmpNeedsDiscovery(opened);
    // The library leaves the flag out of the open session, whose first request would then
    // discover the engine itself, waiting for the answer with this lock held.
    if (discovering) opened->flags |= SNMP_FLAGS_DONT_PROBE;
  }
  if (discovering) send_discovery(open.get(), round);
  bool acquired = false;
  int result = kSnmpRoundDone;
  for (;;) {
    if (probeCancelled(cancel)) {
      result = kSnmpRoundCancelled;
      break;
    }
    if (discovering && round.discovery != Discovery::kWaiting) {
      discovering = false;
      char no_user[kSnmpWordsSize] = "";
      if (round.discovery == Discovery::kKnown) {
        LibraryLock lock;
        netsnmp_session* opened = snmp_sess_session(open.get());
        acquired = usmUserAcquire(opened, no_user, sizeof(no_user)) == 0;
        // The GETs wait what the discovery left of the one time-out.
        const long left = timeout_ms - elapsed_ms(round.start);
        opened->timeout = (left > 0 ? left : 1) * kMicrosecondsPerMillisecond;
        if (!acquired) round.discovery = Discovery::kFailed;
      }
      if (round.discovery != Discovery::kKnown) {
        end_without_engine(round, no_user[0] != '\0' ? no_user : nullptr);
        round.next = count;
      }
    }
    if (!discovering) {
      if (follow != nullptr) follow_ended(open.get(), round);
      while (round.waiting < kSnmpInFlight && round.next < count) {
        send_request(open.get(), round, round.requests[round.next++]);
      }
      if (follow != nullptr) follow_ended(open.get(), round);
      if (round.waiting == 0) break;
    }
    wait_and_read(open.get(), deferred, cancel.fd);
  }
  // Closing the session ends what is still waiting (as time-outs, which nobody reads).
  LibraryLock lock;
  usmRoundEnd(snmp_sess_session(open.get()), acquired);
  open.reset();
  free(round.discovery_error);
  return result;
}

}  // namespace

int snmpGetAll(netsnmp_session* session, SnmpRequest* requests, size_t count, int timeout_ms,
               int retries, const ProbeCancel& cancel) {
  return run_round(session, requests, count, timeout_ms, retries, cancel, nullptr);
}

int snmpWalk(netsnmp_session* session, SnmpRequest* requests, size_t count, int timeout_ms,
             const SnmpFollow& follow, const ProbeCancel& cancel) {
  return run_round(session, requests, count, timeout_ms, 0, cancel, &follow);
}

void snmpRoundRelease(SnmpRequest* requests, size_t count) {
  for (size_t i = 0; i < count; ++i) {
    free(requests[i].error_text);
    requests[i].error_text = nullptr;
    if (requests[i].variable != nullptr) snmp_free_varbind(requests[i].variable);
    requests[i].variable = nullptr;
  }
}
