// RAII owners of Net-SNMP's PDUs and single sessions. This header brings in the Net-SNMP headers
// itself; a file that includes it cannot include log/log.h as well, since Net-SNMP declares an
// xdump of its own that clashes with the log library's.
#ifndef ZORV_AUTOCONF_SNMP_HANDLES_H
#define ZORV_AUTOCONF_SNMP_HANDLES_H

#include <net-snmp/net-snmp-config.h>
#include <net-snmp/net-snmp-includes.h>

#include <memory>

struct SnmpPduFreer {
  void operator()(netsnmp_pdu* pdu) const { snmp_free_pdu(pdu); }
};
// A PDU handed to the library with a send that succeeds belongs to the library: release() it.
using UniqueSnmpPdu = std::unique_ptr<netsnmp_pdu, SnmpPduFreer>;

// The single-session interface hands out an opaque pointer.
struct SnmpSessionCloser {
  void operator()(void* session) const { snmp_sess_close(session); }
};
using UniqueSnmpSession = std::unique_ptr<void, SnmpSessionCloser>;

#endif  // ZORV_AUTOCONF_SNMP_HANDLES_H
