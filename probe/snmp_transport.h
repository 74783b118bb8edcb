// The socket of a round to one printer: its transport made from the printer's address, and a
// socket filter that lets only the printer's datagrams reach it.
#ifndef ZORV_PROBE_SNMP_TRANSPORT_H
#define ZORV_PROBE_SNMP_TRANSPORT_H

struct snmp_session;
struct netsnmp_transport_s;

// The session's transport to the SNMP port (161) of the printer at the session's peer name (an
// address, or a name resolved here, outside the library's lock): made from the address
// itself, so that the library never reads a peer text, which could name another transport or
// another port. Null, with the session's error set, when the name gives no address. Takes
// SnmpLibraryLock itself.
struct netsnmp_transport_s* printerTransport(struct snmp_session* session);

// Lets only datagrams from the printer's address and port reach the open session's socket, and
// reads away what came before. False when the transport is not a UDP one whose peer can be
// told. Call with SnmpLibraryLock held.
bool restrictToPrinter(void* open);

#endif  // ZORV_PROBE_SNMP_TRANSPORT_H
