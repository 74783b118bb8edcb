// All SNMP GETs of a query in flight together. One session carries every request: only
// datagrams from the printer's address and port reach its socket, each request has a random id,
// and the library matches each answer to its request by that id, drops an answer that comes
// twice, late or for an id it never sent, and expires each request on its own time-out. The round
// waits with ppoll on the session's socket until the next answer, the next expiry or a cancel.
// Net-SNMP is not built reentrant here: every call into it holds one process-wide lock, taken only
// around the calls, never across a wait, so that rounds of several threads interleave.
#include "probe/snmp_round.h"

#include <linux/filter.h>
#include <net-snmp/net-snmp-config.h>
#include <net-snmp/net-snmp-includes.h>
#include <net-snmp/library/large_fd_set.h>
#include <net-snmp/library/snmpIPBaseDomain.h>
#include <net-snmp/library/snmpUDPDomain.h>
#include <net-snmp/library/snmpUDPIPv6Domain.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <pthread.h>
#include <sys/random.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <optional>

#include "common/signals.h"
#include "probe/snmp_handles.h"
#include "probe/snmp_lock.h"
#include "probe/snmp_usm.h"

namespace {

constexpr long kMicrosecondsPerMillisecond = 1000;
constexpr char kSnmpPort[] = "161";

// The SNMP library is set up once for the process; every call into it holds SnmpLibraryLock.
pthread_once_t g_init_once = PTHREAD_ONCE_INIT;
const char* g_program = "";

using LibraryLock = SnmpLibraryLock;

void init_library() {
  // A registered handler that drops everything also keeps the library from falling back to
  // standard error, which the scheduler shows to the user: a query never writes there itself.
  netsnmp_register_loghandler(NETSNMP_LOGHANDLER_NONE, LOG_DEBUG);
  snmp_disable_stderrlog();
  init_snmp(g_program);
  snmp_set_do_debugging(0);
  netsnmp_ds_set_boolean(NETSNMP_DS_LIBRARY_ID, NETSNMP_DS_LIB_DUMP_PACKET, 0);
}

// Only the printer may answer. The library matches an answer to its request by request id
// alone and reads its socket with recvfrom: a socket filter lets only datagrams from the
// printer's address and port reach the socket, and the kernel drops every other. (Connecting
// the socket would do the same, but would also turn a printer's ICMP "port unreachable" into
// failed sends, where a silent printer is a time-out.) Datagrams that came before the filter
// are read away. False when the transport is not a UDP one whose peer can be told.
bool restrict_to_printer(void* open) {
  const netsnmp_transport* transport = snmp_sess_transport(open);
  if (transport == nullptr || transport->sock < 0 || transport->data == nullptr ||
      transport->data_length < static_cast<int>(sizeof(netsnmp_indexed_addr_pair))) {
    return false;
  }
  const auto* pair = static_cast<const netsnmp_indexed_addr_pair*>(transport->data);
  const auto* peer = reinterpret_cast<const struct sockaddr*>(&pair->remote_addr);
  // The filter sees a datagram from its UDP header on; the IP header is reached through
  // SKF_NET_OFF. It compares the source address a word at a time, then the source port; every
  // comparison that fails jumps to the last instruction, which drops the datagram.
  const bool ipv6 = peer->sa_family == AF_INET6;
  if (!ipv6 && peer->sa_family != AF_INET) return false;
  uint32_t address[4] = {};
  uint32_t words = 1;
  uint32_t address_offset = 12;
  uint16_t port = 0;
  if (ipv6) {
    const auto* in6 = reinterpret_cast<const struct sockaddr_in6*>(peer);
    memcpy(address, in6->sin6_addr.s6_addr, sizeof(address));
    words = 4;
    address_offset = 8;
    port = ntohs(in6->sin6_port);
  } else {
    const auto* in = reinterpret_cast<const struct sockaddr_in*>(peer);
    address[0] = in->sin_addr.s_addr;
    port = ntohs(in->sin_port);
  }
  const unsigned short total = static_cast<unsigned short>(2 * words + 4);
  struct sock_filter code[12];
  unsigned short n = 0;
  const auto expect = [&](uint32_t value) {
    code[n] =
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, value, 0, static_cast<unsigned char>(total - n - 2));
    ++n;
  };
  for (uint32_t word = 0; word < words; ++word) {
    code[n++] = BPF_STMT(BPF_LD | BPF_W | BPF_ABS,
                         static_cast<uint32_t>(SKF_NET_OFF) + address_offset + 4 * word);
    expect(ntohl(address[word]));
  }
  code[n++] = BPF_STMT(BPF_LD | BPF_H | BPF_ABS, 0);
  expect(port);
  code[n++] = BPF_STMT(BPF_RET | BPF_K, 0xFFFFFFFF);
  code[n++] = BPF_STMT(BPF_RET | BPF_K, 0);
  const struct sock_fprog program = {n, code};
  if (setsockopt(transport->sock, SOL_SOCKET, SO_ATTACH_FILTER, &program, sizeof(program)) != 0) {
    return false;
  }
  char discarded[1];
  while (recv(transport->sock, discarded, sizeof(discarded), MSG_DONTWAIT) >= 0) {
  }
  return true;
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

char* copy_heap_text(const char* text) {
  return strdup(text != nullptr ? text : "");
}

// The session's transport to the SNMP port of the printer at host (an address, or a name
// resolved here, outside the library's lock): made from the address itself, so that the
// library never reads a peer text, which could name another transport or another port. Null,
// with the session's error set, when host gives no address.
netsnmp_transport* printer_transport(netsnmp_session* session) {
  const char* host = session->peername;
  struct addrinfo hints = {};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_DGRAM;
  hints.ai_flags = AI_NUMERICSERV;
  struct addrinfo* found = nullptr;
  if (host == nullptr || host[0] == '\0' || getaddrinfo(host, kSnmpPort, &hints, &found) != 0) {
    found = nullptr;
  }
  struct netsnmp_ep endpoint = {};
  netsnmp_transport* transport = nullptr;
  {
    LibraryLock lock;
    if (found != nullptr && found->ai_family == AF_INET6 &&
        found->ai_addrlen <= sizeof(endpoint.a.sin6)) {
      memcpy(&endpoint.a.sin6, found->ai_addr, found->ai_addrlen);
      transport = netsnmp_udp6_transport(&endpoint, 0);
    } else if (found != nullptr && found->ai_family == AF_INET &&
               found->ai_addrlen <= sizeof(endpoint.a.sin)) {
      memcpy(&endpoint.a.sin, found->ai_addr, found->ai_addrlen);
      transport = netsnmp_udp_transport(&endpoint, 0);
    }
    if (transport == nullptr) {
      snmp_set_detail(host != nullptr ? host : "");
      session->s_snmp_errno = SNMPERR_BAD_ADDRESS;
    }
  }
  if (found != nullptr) freeaddrinfo(found);
  return transport;
}

// Where an SNMPv3 round is with the discovery of the printer's engine.
enum class Discovery { kNone, kWaiting, kKnown, kNoEngine, kFailed };

// The requests of one round and how far the round has got with them.
struct Round {
  SnmpRequest* requests;
  size_t count;
  size_t next = 0;     // the next request to send
  size_t waiting = 0;  // sent and not yet answered or expired
  Discovery discovery = Discovery::kNone;
  char* discovery_error = nullptr;  // the library's words for kFailed (heap)
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

// Sends the next request of the round, unless its OID cannot be read.
void send_next(void* open, Round& round) {
  SnmpRequest& request = round.requests[round.next++];
  oid name[MAX_OID_LEN];
  size_t length = MAX_OID_LEN;
  if (request.outcome == SnmpOutcome::kInvalidOid || !read_oid(request.oid_text, name, &length)) {
    return;
  }
  LibraryLock lock;
  UniqueSnmpPdu pdu(snmp_pdu_create(SNMP_MSG_GET));
  if (!pdu) {
    fail_with_session_error(request, "snmp_pdu_create", snmp_sess_session(open));
    return;
  }
  snmp_add_null_var(pdu.get(), name, length);
  pdu->reqid = random_request_id();
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

void probeSnmpInit(const char* program) {
  g_program = program;
  pthread_once(&g_init_once, init_library);
}

void setupSnmpSession(netsnmp_session* session, const char* host, const char* community) {
  {
    LibraryLock lock;
    snmp_sess_init(session);
  }
  session->version = SNMP_VERSION_1;
  if (host != nullptr && strchr(host, ':') != nullptr) session->version = SNMP_VERSION_2c;
  session->peername = copy_heap_text(host);
  char* copy = copy_heap_text(community);
  session->community = reinterpret_cast<u_char*>(copy);
  session->community_len = copy != nullptr ? strlen(copy) : 0;
}

void releaseSnmpSession(netsnmp_session* session) {
  if (session == nullptr) return;
  free(session->peername);
  session->peername = nullptr;
  free(session->community);
  session->community = nullptr;
  session->community_len = 0;
  free(session->securityName);
  session->securityName = nullptr;
  session->securityNameLen = 0;
  free(session->contextName);
  session->contextName = nullptr;
  session->contextNameLen = 0;
  explicit_bzero(session->securityAuthKey, sizeof(session->securityAuthKey));
  explicit_bzero(session->securityPrivKey, sizeof(session->securityPrivKey));
  session->securityAuthKeyLen = 0;
  session->securityPrivKeyLen = 0;
}

bool snmpOidReadable(const char* text) {
  oid name[MAX_OID_LEN];
  size_t length = MAX_OID_LEN;
  return read_oid(text, name, &length);
}

int snmpGetAll(netsnmp_session* session, SnmpRequest* requests, size_t count, int timeout_ms,
               int retries, const ProbeCancel& cancel) {
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
  UniqueSnmpSession open;
  netsnmp_transport* transport = printer_transport(session);
  {
    LibraryLock lock;
    // The session owns the transport from here, also when it cannot be added.
    if (transport != nullptr) open.reset(snmp_sess_add(session, transport, nullptr, nullptr));
    if (open && !restrict_to_printer(open.get())) {
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
  struct timespec start;
  clock_gettime(CLOCK_MONOTONIC, &start);
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
      char no_user[kDetailSize] = "";
      if (round.discovery == Discovery::kKnown) {
        LibraryLock lock;
        netsnmp_session* opened = snmp_sess_session(open.get());
        acquired = usmUserAcquire(opened, no_user, sizeof(no_user)) == 0;
        // The GETs wait what the discovery left of the one time-out.
        const long left = timeout_ms - elapsed_ms(start);
        opened->timeout = (left > 0 ? left : 1) * kMicrosecondsPerMillisecond;
        if (!acquired) round.discovery = Discovery::kFailed;
      }
      if (round.discovery != Discovery::kKnown) {
        end_without_engine(round, no_user[0] != '\0' ? no_user : nullptr);
        round.next = count;
      }
    }
    if (!discovering) {
      while (round.waiting < kSnmpInFlight && round.next < count) send_next(open.get(), round);
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

void snmpRoundRelease(SnmpRequest* requests, size_t count) {
  for (size_t i = 0; i < count; ++i) {
    free(requests[i].error_text);
    requests[i].error_text = nullptr;
    if (requests[i].variable != nullptr) snmp_free_var(requests[i].variable);
    requests[i].variable = nullptr;
  }
}
