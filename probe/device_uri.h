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

// The host of "scheme://[user[:password]@]host[:port][/path][?query][#fragment]" into host
// (size bytes): an IPv6 literal without its brackets, %XX escapes decoded. False, with host
// empty, when the URI has no "//" right after a well-formed scheme, the host is empty, holds a
// zero byte or does not fit: a cut host would send the queries to another machine.
bool hostOfUri(const char* uri, char* host, size_t size);

#endif  // ZORV_PROBE_DEVICE_URI_H
