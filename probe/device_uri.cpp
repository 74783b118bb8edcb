// What a device URI says to a device query.
#include "probe/device_uri.h"

#include <arpa/inet.h>

#include <cctype>
#include <cstring>

#include "log/text.h"

namespace {

struct SchemeRow {
  const char* scheme;
  int type;
};

constexpr SchemeRow kSchemes[] = {
    {"http:", kConnectionNetwork}, {"ipp:", kConnectionNetwork}, {"socket:", kConnectionNetwork},
    {"lpd:", kConnectionNetwork},  {"usb:", kConnectionUsb},     {"mfp:", kConnectionUsb},
};

constexpr size_t kMaxLabelLength = 63;
constexpr size_t kMaxPortDigits = 5;
constexpr char kZoneEscape[] = "%25";
constexpr size_t kZoneEscapeLength = sizeof(kZoneEscape) - 1;

constexpr char kNoAuthority[] = "it has no \"//\" and host after its scheme";
constexpr char kBadUserInfo[] = "its user information holds a character that a URI does not allow";
constexpr char kEmptyHost[] = "its host is empty";
constexpr char kBadIpv6[] =
    "its bracketed host is not an IPv6 address (with a zone written %25 and made of letters, "
    "digits, '-', '.', '_' or '~')";
constexpr char kBadName[] =
    "its host is neither an IPv4 address, nor an IPv6 address in brackets, nor a DNS name";
constexpr char kLongName[] = "its host is longer than a DNS name may be";
constexpr char kBadPort[] = "its port is not a number";

bool is_unreserved(char c) {
  return isalnum(static_cast<unsigned char>(c)) != 0 || c == '-' || c == '.' || c == '_' ||
         c == '~';
}

// userinfo = *( unreserved / pct-encoded / sub-delims / ":" )
bool user_info_ok(const char* begin, const char* end) {
  for (const char* p = begin; p < end; ++p) {
    if (*p == '%') {
      if (end - p < 3 || hex_digit(p[1]) < 0 || hex_digit(p[2]) < 0) return false;
      p += 2;
    } else if (!is_unreserved(*p) && strchr("!$&'()*+,;=:", *p) == nullptr) {
      return false;
    }
  }
  return true;
}

bool port_ok(const char* begin, const char* end) {
  if (static_cast<size_t>(end - begin) > kMaxPortDigits) return false;
  for (const char* p = begin; p < end; ++p) {
    if (isdigit(static_cast<unsigned char>(*p)) == 0) return false;
  }
  return true;
}

// A DNS name (with an optional final dot) that the C library will not take for an address.
bool dns_name_ok(const char* name, size_t length) {
  if (length > 0 && name[length - 1] == '.') --length;
  if (length == 0) return false;
  size_t label = 0;
  const char* last_label = name;
  for (size_t i = 0; i < length; ++i) {
    const char c = name[i];
    if (c == '.') {
      if (label == 0 || name[i - 1] == '-') return false;
      label = 0;
      last_label = name + i + 1;
      continue;
    }
    if (isalnum(static_cast<unsigned char>(c)) == 0 && c != '-') return false;
    if (label == 0 && c == '-') return false;
    if (++label > kMaxLabelLength) return false;
  }
  if (name[length - 1] == '-') return false;
  return isdigit(static_cast<unsigned char>(*last_label)) == 0;
}

// The inside of "[...]": an IPv6 address, then "%25" and a zone. Copied without the escape
// into host.
bool ipv6_ok(const char* begin, const char* end, char* host, size_t size, const char** why) {
  const char* zone = nullptr;
  const char* address_end = end;
  for (const char* p = begin; p < end; ++p) {
    if (*p == '%') {
      if (static_cast<size_t>(end - p) < kZoneEscapeLength ||
          strncmp(p, kZoneEscape, kZoneEscapeLength) != 0) {
        *why = kBadIpv6;
        return false;
      }
      address_end = p;
      zone = p + kZoneEscapeLength;
      break;
    }
  }
  char address[INET6_ADDRSTRLEN];
  struct in6_addr parsed;
  const size_t length = static_cast<size_t>(address_end - begin);
  if (length == 0 || length >= sizeof(address)) {
    *why = kBadIpv6;
    return false;
  }
  memcpy(address, begin, length);
  address[length] = '\0';
  if (inet_pton(AF_INET6, address, &parsed) != 1) {
    *why = kBadIpv6;
    return false;
  }
  if (zone != nullptr) {
    if (zone == end) {
      *why = kBadIpv6;
      return false;
    }
    for (const char* p = zone; p < end; ++p) {
      if (!is_unreserved(*p)) {
        *why = kBadIpv6;
        return false;
      }
    }
  }
  // The address, then '%' and the zone: one character shorter than the URI's text.
  const size_t total = zone != nullptr ? length + 1 + static_cast<size_t>(end - zone) : length;
  if (total + 1 > size) {
    *why = kLongName;
    return false;
  }
  memcpy(host, begin, length);
  if (zone != nullptr) {
    host[length] = '%';
    memcpy(host + length + 1, zone, static_cast<size_t>(end - zone));
  }
  host[total] = '\0';
  return true;
}

// The authority of "scheme://authority/path?query#fragment", or null when the URI has no "//"
// right after a well-formed scheme.
const char* authority_start(const char* uri) {
  if (!isalpha(static_cast<unsigned char>(uri[0]))) return nullptr;
  const char* p = uri + 1;
  while (isalnum(static_cast<unsigned char>(*p)) || *p == '+' || *p == '-' || *p == '.') ++p;
  if (strncmp(p, "://", 3) != 0) return nullptr;
  return p + 3;
}

bool parse_host(const char* uri, char* host, size_t size, const char** why) {
  const char* authority = authority_start(uri);
  if (authority == nullptr) {
    *why = kNoAuthority;
    return false;
  }
  const char* authority_end = authority + strcspn(authority, "/?#");
  const char* start = authority;
  const char* at = static_cast<const char*>(
      memchr(authority, '@', static_cast<size_t>(authority_end - authority)));
  if (at != nullptr) {
    if (!user_info_ok(authority, at)) {
      *why = kBadUserInfo;
      return false;
    }
    start = at + 1;
  }
  if (start == authority_end || *start == ':') {
    *why = kEmptyHost;
    return false;
  }
  const char* host_end = nullptr;
  const char* port = nullptr;
  if (*start == '[') {
    const char* close = static_cast<const char*>(
        memchr(start, ']', static_cast<size_t>(authority_end - start)));
    if (close == nullptr) {
      *why = kBadIpv6;
      return false;
    }
    if (!ipv6_ok(start + 1, close, host, size, why)) return false;
    host_end = close + 1;
  } else {
    host_end = static_cast<const char*>(
        memchr(start, ':', static_cast<size_t>(authority_end - start)));
    if (host_end == nullptr) host_end = authority_end;
    const size_t length = static_cast<size_t>(host_end - start);
    if (length >= size) {
      *why = kLongName;
      return false;
    }
    memcpy(host, start, length);
    host[length] = '\0';
    struct in_addr parsed;
    if (inet_pton(AF_INET, host, &parsed) != 1) {
      const size_t name_length = length > 0 && host[length - 1] == '.' ? length - 1 : length;
      if (name_length > kMaxDnsNameLength) {
        *why = kLongName;
        return false;
      }
      if (!dns_name_ok(host, length)) {
        *why = kBadName;
        return false;
      }
    }
  }
  if (host_end < authority_end) {
    if (*host_end != ':') {
      *why = kBadName;
      return false;
    }
    port = host_end + 1;
    if (!port_ok(port, authority_end)) {
      *why = kBadPort;
      return false;
    }
  }
  return true;
}

}  // namespace

int connectionType(const char* uri) {
  if (uri == nullptr) return kConnectionUnsupported;
  const char* colon = strchr(uri, ':');
  const size_t scheme_length = colon != nullptr ? static_cast<size_t>(colon - uri) + 1 : 0;
  if (scheme_length == 0) return kConnectionUnsupported;
  for (const SchemeRow& row : kSchemes) {
    if (strncmp(uri, row.scheme, scheme_length) == 0) return row.type;
  }
  return kConnectionUnsupported;
}

bool hostOfUri(const char* uri, char* host, size_t size, const char** why) {
  const char* reason = kNoAuthority;
  bool ok = false;
  if (host != nullptr && size > 0) {
    host[0] = '\0';
    if (uri != nullptr) ok = parse_host(uri, host, size, &reason);
    if (!ok) host[0] = '\0';
  }
  if (why != nullptr) *why = ok ? "" : reason;
  return ok;
}
