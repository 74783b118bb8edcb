// The one lock around every call into the SNMP library.
#include "probe/snmp_lock.h"

#include <pthread.h>

namespace {

pthread_mutex_t g_library = PTHREAD_MUTEX_INITIALIZER;

}  // namespace

SnmpLibraryLock::SnmpLibraryLock() {
  pthread_mutex_lock(&g_library);
}

SnmpLibraryLock::~SnmpLibraryLock() {
  pthread_mutex_unlock(&g_library);
}
