// The socket of a round to one printer.
#include "probe/snmp_transport.h"

#include <linux/filter.h>
#include <net-snmp/net-snmp-config.h>
#include <net-snmp/net-snmp-includes.h>
// After the library's configuration, which its other headers need.
#include <net-snmp/library/snmpIPBaseDomain.h>
#include <net-snmp/library/snmpUDPDomain.h>
#include <net-snmp/library/snmpUDPIPv6Domain.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <cstring>

#include "probe/snmp_lock.h"

namespace {

constexpr char kSnmpPort[] = "161";

}  // namespace

// Only the printer may answer. The library matches an answer to its request by request id
// alone and reads its socket with recvfrom: a socket filter lets only datagrams from the
// printer's address and port reach the socket, and the kernel drops every other. (Connecting
// the socket would do the same, but would also turn a printer's ICMP "port unreachable" into
// failed sends, where a silent printer is a time-out.) Datagrams that came before the filter
// are read away. False when the transport is not a UDP one whose peer can be told.
bool restrictToPrinter(void* open) {
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

// The session's transport to the SNMP port of the printer at host (an address, or a name
// resolved here, outside the library's lock): made from the address itself, so that the
// library never reads a peer text, which could name another transport or another port. Null,
// with the session's error set, when host gives no address.
netsnmp_transport* printerTransport(netsnmp_session* session) {
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
    SnmpLibraryLock lock;
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
