// The SNMP library set up once for the process, and session parameters.
#include "probe/snmp_session.h"

#include <net-snmp/net-snmp-config.h>
#include <net-snmp/net-snmp-includes.h>
#include <pthread.h>

#include <atomic>
#include <cstdlib>
#include <cstring>

#include "probe/snmp_lock.h"

namespace {

// The SNMP library is set up once for the process; every call into it holds SnmpLibraryLock.
pthread_once_t g_init_once = PTHREAD_ONCE_INIT;
// The name the library is set up under: the first caller's. Query threads call
// probeSnmpInit at once, so it is set only while it is null, and read by the one set-up.
std::atomic<const char*> g_program{nullptr};

void init_library() {
  // A registered handler that drops everything also keeps the library from falling back to
  // standard error, which the scheduler shows to the user: a query never writes there itself.
  netsnmp_register_loghandler(NETSNMP_LOGHANDLER_NONE, LOG_DEBUG);
  snmp_disable_stderrlog();
  const char* program = g_program.load();
  init_snmp(program != nullptr ? program : "");
  snmp_set_do_debugging(0);
  netsnmp_ds_set_boolean(NETSNMP_DS_LIBRARY_ID, NETSNMP_DS_LIB_DUMP_PACKET, 0);
}

char* copy_heap_text(const char* text) {
  return strdup(text != nullptr ? text : "");
}

}  // namespace

void probeSnmpInit(const char* program) {
  const char* unset = nullptr;
  g_program.compare_exchange_strong(unset, program);
  pthread_once(&g_init_once, init_library);
}

void setupSnmpSession(netsnmp_session* session, const char* host, const char* community) {
  {
    SnmpLibraryLock lock;
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
