// All SNMP GETs of a run in flight together. One session carries every request: the library
// matches each answer to its request by request id, drops an answer that comes twice, late or
// for an id it never sent, and expires each request on its own time-out. The program stays
// single-threaded: the round waits with ppoll on the session's socket until the next answer or
// the next expiry, or SIGTERM.
#include "autoconf/snmp_round.h"

#include <net-snmp/library/large_fd_set.h>
#include <net-snmp/net-snmp-config.h>
#include <net-snmp/net-snmp-includes.h>
#include <poll.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "autoconf/snmp_get.h"
#include "autoconf/snmp_handles.h"
#include "common/signals.h"

namespace {

constexpr long kMicrosecondsPerMillisecond = 1000;

// The requests of one round and how far the round has got with them.
struct Round {
  SnmpRequest* requests;
  size_t count;
  size_t next = 0;     // the next request to send
  size_t waiting = 0;  // sent and not yet answered or expired
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
  // A MIB name that is not loaded must not bring the library's own lines to standard error.
  SnmpLogHush hush;
  *length = MAX_OID_LEN;
  return read_objid(text, name, length) != 0;
}

void fail_with_session_error(SnmpRequest& request, const char* what, netsnmp_session* session) {
  char* text = session_error(session);
  request.outcome = SnmpOutcome::kFailed;
  request.failed_call = what;
  request.error_text = text;
}

// The end of one request: its answer, or its time-out. The answer PDU stays the library's;
// only its first variable is taken out of it.
int on_answer(int operation, netsnmp_session* session, int /*request_id*/, netsnmp_pdu* pdu,
              void* magic) {
  SnmpRequest& request = *static_cast<SnmpRequest*>(magic);
  static_cast<Round*>(request.round)->waiting--;
  request.round = nullptr;
  if (operation == NETSNMP_CALLBACK_OP_RECEIVED_MESSAGE && pdu != nullptr) {
    if (pdu->errstat != SNMP_ERR_NOERROR) {
      request.outcome = SnmpOutcome::kErrorStatus;
      request.error_status = pdu->errstat;
    } else {
      request.outcome = SnmpOutcome::kAnswered;
      request.variable = pdu->variables;
      if (request.variable != nullptr) {
        pdu->variables = request.variable->next_variable;
        request.variable->next_variable = nullptr;
      }
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
  return 1;
}

// Sends the next request of the round, unless its OID cannot be read.
void send_next(void* open, Round& round) {
  SnmpRequest& request = round.requests[round.next++];
  oid name[MAX_OID_LEN];
  size_t length = MAX_OID_LEN;
  if (request.outcome == SnmpOutcome::kInvalidOid || !read_oid(request.oid_text, name, &length)) {
    return;
  }
  UniqueSnmpPdu pdu(snmp_pdu_create(SNMP_MSG_GET));
  if (!pdu) {
    fail_with_session_error(request, "snmp_pdu_create", snmp_sess_session(open));
    return;
  }
  snmp_add_null_var(pdu.get(), name, length);
  // The library takes the PDU when the send succeeds and leaves it to the caller otherwise.
  request.round = &round;
  if (snmp_sess_async_send(open, pdu.get(), on_answer, &request) == 0) {
    request.round = nullptr;
    fail_with_session_error(request, "snmp_sess_synch_response", snmp_sess_session(open));
    return;
  }
  // The library owns the PDU now.
  (void)pdu.release();
  round.waiting++;
}

// Waits for the next answer or expiry, or SIGTERM, and hands what came to the library.
void wait_and_read(void* open, const TermDeferred& deferred) {
  FdSet fds;
  int count = 0;
  int block = 1;
  struct timeval timeout = {};
  NETSNMP_LARGE_FD_ZERO(fds.get());
  snmp_sess_select_info2(open, &count, fds.get(), &timeout, &block);
  struct pollfd polled[4];
  nfds_t used = 0;
  for (int fd = 0; fd < count && used < sizeof(polled) / sizeof(polled[0]); ++fd) {
    if (netsnmp_large_fd_is_set(fd, fds.get())) polled[used++] = {fd, POLLIN, 0};
  }
  const struct timespec wait = {timeout.tv_sec, timeout.tv_usec * 1000};
  const int ready = ppoll(polled, used, block != 0 ? nullptr : &wait, deferred.wait_mask());
  if (ready < 0 && errno == EINTR) return;
  if (ready > 0) {
    NETSNMP_LARGE_FD_ZERO(fds.get());
    for (nfds_t i = 0; i < used; ++i) {
      if (polled[i].revents != 0) netsnmp_large_fd_setfd(polled[i].fd, fds.get());
    }
    snmp_sess_read2(open, fds.get());
  }
  // Expiries are due whether or not an answer came meanwhile.
  snmp_sess_timeout(open);
}

bool is_exception(u_char type) {
  return type == SNMP_NOSUCHOBJECT || type == SNMP_NOSUCHINSTANCE || type == SNMP_ENDOFMIBVIEW;
}

}  // namespace

bool snmpOidReadable(const char* text) {
  oid name[MAX_OID_LEN];
  size_t length = MAX_OID_LEN;
  return read_oid(text, name, &length);
}

int snmpGetAll(netsnmp_session* session, SnmpRequest* requests, size_t count, int timeout_ms,
               int retries) {
  // A session is opened only when some OID can be read, as one GET after another would.
  bool any = false;
  for (size_t i = 0; i < count; ++i) {
    if (snmpOidReadable(requests[i].oid_text)) {
      any = true;
    } else {
      requests[i].outcome = SnmpOutcome::kInvalidOid;
    }
  }
  if (!any || session == nullptr) return kSnmpRoundDone;

  session->timeout = timeout_ms * kMicrosecondsPerMillisecond;
  session->retries = retries;
  UniqueSnmpSession open(snmp_sess_open(session));
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

  TermDeferred deferred;
  Round round{requests, count};
  for (;;) {
    if (job_cancelled()) {
      // Closing the session ends what is still waiting (as time-outs, which nobody reads).
      open.reset();
      return kSnmpRoundCancelled;
    }
    while (round.waiting < kSnmpInFlight && round.next < count) send_next(open.get(), round);
    if (round.waiting == 0) break;
    wait_and_read(open.get(), deferred);
  }
  return kSnmpRoundDone;
}

void snmpRoundRelease(SnmpRequest* requests, size_t count) {
  for (size_t i = 0; i < count; ++i) {
    free(requests[i].error_text);
    requests[i].error_text = nullptr;
    if (requests[i].variable != nullptr) snmp_free_var(requests[i].variable);
    requests[i].variable = nullptr;
  }
}

int snmpReportAnswer(const SnmpRequest& request, char* buffer, size_t size, SnmpTextForm form) {
  const char* error_text = request.error_text != nullptr ? request.error_text : "";
  switch (request.outcome) {
    case SnmpOutcome::kInvalidOid:
      fprintf(stderr, "invalid OID string <%s>\n",
              request.oid_text != nullptr ? request.oid_text : "(null)");
      return -1;
    case SnmpOutcome::kOpenFailed:
      // Through the library's log, as snmp_sess_perror reports a session that cannot be opened.
      snmp_log(LOG_ERR, "snmp_sess_open: %s\n", error_text);
      return -1;
    case SnmpOutcome::kFailed:
      fprintf(stderr, "%s failed: <%s>\n", request.failed_call, error_text);
      return -1;
    case SnmpOutcome::kErrorStatus:
      fprintf(stderr, "Error in packet: <%s>\n",
              snmp_errstring(static_cast<int>(request.error_status)));
      return -1;
    case SnmpOutcome::kAnswered:
      // An SNMPv2c exception (noSuchObject, noSuchInstance, endOfMibView) carries no value.
      if (request.variable == nullptr || buffer == nullptr || size == 0 ||
          is_exception(request.variable->type)) {
        return -1;
      }
      return form == SnmpTextForm::kNatural ? snmpNaturalText(request.variable, buffer, size)
                                            : snmpValueText(request.variable, buffer, size);
    case SnmpOutcome::kNotSent:
      break;
  }
  return -1;
}

int snmpGetOne(netsnmp_session* session, const char* oid_text, char* buffer, size_t size,
               int timeout_ms, int retries, SnmpTextForm form) {
  if (session == nullptr) {
    fputs("invalid session value\n", stderr);
    return -1;
  }
  SnmpRequest request;
  request.oid_text = oid_text;
  snmpGetAll(session, &request, 1, timeout_ms, retries);
  const int result = snmpReportAnswer(request, buffer, size, form);
  snmpRoundRelease(&request, 1);
  return result;
}

void snmpFailureWords(const SnmpRequest& request, char* buffer, size_t size) {
  const char* error_text = request.error_text != nullptr ? request.error_text : "";
  switch (request.outcome) {
    case SnmpOutcome::kInvalidOid:
      snprintf(buffer, size, "the OID cannot be read");
      break;
    case SnmpOutcome::kOpenFailed:
      snprintf(buffer, size, "no session: %s", error_text);
      break;
    case SnmpOutcome::kFailed:
      snprintf(buffer, size, "no answer: %s", error_text);
      break;
    case SnmpOutcome::kErrorStatus:
      snprintf(buffer, size, "error status: %s",
               snmp_errstring(static_cast<int>(request.error_status)));
      break;
    case SnmpOutcome::kAnswered:
      snprintf(buffer, size, "%s",
               request.variable == nullptr ? "an answer without a value"
                                           : "no such object (an SNMPv2c exception)");
      break;
    case SnmpOutcome::kNotSent:
      snprintf(buffer, size, "not asked");
      break;
  }
}
