// What a device URI says to a device query: which kind of connection it is, and the printer's
// host for the network kind.
#ifndef ZORV_PROBE_DEVICE_URI_H
#define ZORV_PROBE_DEVICE_URI_H

#include <cstddef>

// Connection types of a device URI.
inline constexpr int kConnectionUnsupported = 0;
inline constexpr int kConnectionUsb = 1;      // usb:, mfp:
inline constexpr int kConnectionNetwork = 2;  // http:, ipp:, socket:, lpd:

// The type of uri by its exact scheme: only "scheme:" as written in the table counts, so
// "ipps:", "IPP:" and a URI without a colon are unsupported. A null URI is unsupported.
int connectionType(const char* uri);

// Room for a host name or address: at most 255 characters.
inline constexpr size_t kHostSize = 256;
// The longest DNS name, without its final dot.
inline constexpr size_t kMaxDnsNameLength = 253;

// The host of "scheme://[userinfo@]host[:port][/path][?query][#fragment]" into host (size
// bytes). The host is a host and nothing else, since the queries (and the credentials they
// carry) go where it says:
//   - an IPv4 address in dotted decimal ("192.0.2.10");
//   - an IPv6 address in brackets, given without them ("[fe80::1%25eth0]" gives
//     "fe80::1%eth0": a zone, for a link-local address, is written "%25" and made of letters,
//     digits, '-', '.', '_' and '~');
//   - a DNS name: labels of letters, digits and '-' (1 to 63 characters, no '-' at either end),
//     at most 253 characters, whose last label does not start with a digit (the C library
//     would read "127.1" or "2130706433" as an address).
// A port, when there is one, is digits. Percent escapes are taken only in the user
// information and as the zone's "%25": an escape elsewhere could hide a colon, a bracket or a
// port in the host. False, with host empty and *why (when given) saying why in words, for
// anything else, including a host that does not fit: a cut host is another host.
bool hostOfUri(const char* uri, char* host, size_t size, const char** why = nullptr);

#endif  // ZORV_PROBE_DEVICE_URI_H
