// What a device URI says to a device query.
#include "probe/device_uri.h"

#include <cctype>
#include <cstring>

namespace {

struct SchemeRow {
  const char* scheme;
  int type;
};

constexpr SchemeRow kSchemes[] = {
    {"http:", kConnectionNetwork}, {"ipp:", kConnectionNetwork}, {"socket:", kConnectionNetwork},
    {"lpd:", kConnectionNetwork},  {"usb:", kConnectionUsb},     {"mfp:", kConnectionUsb},
};

int hex_value(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Copies the host text [begin, end) into host, decoding %XX escapes (an IPv6 zone is written
// "%25" in a URI). False when it is empty, holds a zero byte or does not fit.
bool store_host(const char* begin, const char* end, char* host, size_t size) {
  size_t length = 0;
  for (const char* p = begin; p < end; ++p) {
    char c = *p;
    if (c == '%' && end - p >= 3 && hex_value(p[1]) >= 0 && hex_value(p[2]) >= 0) {
      c = static_cast<char>(hex_value(p[1]) * 16 + hex_value(p[2]));
      p += 2;
    }
    if (c == '\0' || length + 1 >= size) return false;
    host[length++] = c;
  }
  host[length] = '\0';
  return length > 0;
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

bool hostOfUri(const char* uri, char* host, size_t size) {
  if (host == nullptr || size == 0) return false;
  host[0] = '\0';
  if (uri == nullptr) return false;
  const char* authority = authority_start(uri);
  if (authority == nullptr) return false;
  const char* authority_end = authority + strcspn(authority, "/?#");

  // User information ends at the last '@' of the authority.
  const char* start = authority;
  for (const char* p = authority; p < authority_end; ++p) {
    if (*p == '@') start = p + 1;
  }

  const char* end = nullptr;
  if (*start == '[') {
    // An IPv6 literal: the address without its brackets, a port may follow.
    ++start;
    end = static_cast<const char*>(memchr(start, ']', static_cast<size_t>(authority_end - start)));
    if (end == nullptr) return false;
  } else {
    end = static_cast<const char*>(memchr(start, ':', static_cast<size_t>(authority_end - start)));
    if (end == nullptr) end = authority_end;
  }
  if (!store_host(start, end, host, size)) {
    host[0] = '\0';
    return false;
  }
  return true;
}
