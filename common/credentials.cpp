// Credentials kept out of standard error and the log.
#include "common/credentials.h"

#include <strings.h>

#include <cstdlib>
#include <cstring>

namespace {

constexpr char kMask[] = "****";
constexpr char kUriEnd[] = " \t\n\r\v\f";
constexpr const char* kSecretNameParts[] = {"PASSWORD", "PASSWD", "SECRET", "TOKEN"};

// Appends to a fixed buffer, always terminated, silently cutting what does not fit.
struct Appender {
  char* out;
  size_t size;
  size_t length = 0;
  void add(const char* text, size_t n) {
    for (size_t i = 0; i < n && length + 1 < size; i++) out[length++] = text[i];
    if (size > 0) out[length] = '\0';
  }
};

void mask_uri_passwords(const char* text, Appender& out) {
  for (;;) {
    const char* scheme_end = strstr(text, "://");
    if (scheme_end == nullptr) break;
    const char* authority = scheme_end + 3;
    const char* uri_end = authority + strcspn(authority, kUriEnd);
    const char* at = nullptr;
    for (const char* p = authority; p < uri_end; p++) {
      if (*p == '@') at = p;
    }
    const char* colon =
        at != nullptr ? static_cast<const char*>(memchr(authority, ':', at - authority)) : nullptr;
    if (colon != nullptr) {
      out.add(text, static_cast<size_t>(colon + 1 - text));
      out.add(kMask, sizeof(kMask) - 1);
      text = at;
    } else {
      out.add(text, static_cast<size_t>(authority - text));
      text = authority;
    }
  }
  out.add(text, strlen(text));
}

bool contains_ignoring_case(const char* text, size_t length, const char* part) {
  const size_t part_length = strlen(part);
  for (size_t i = 0; i + part_length <= length; i++) {
    if (strncasecmp(text + i, part, part_length) == 0) return true;
  }
  return false;
}

bool secret_name(const char* name, size_t length) {
  if (length >= 5 && strncmp(name, "AUTH_", 5) == 0) return true;
  for (const char* part : kSecretNameParts) {
    if (contains_ignoring_case(name, length, part)) return true;
  }
  return false;
}

}  // namespace

size_t masked_entry_size(const char* entry) {
  return 2 * strlen(entry) + sizeof(kMask) + 1;
}

void mask_uri_password(const char* text, char* out, size_t size) {
  Appender appender{out, size};
  appender.add("", 0);
  mask_uri_passwords(text, appender);
}

void mask_environment_entry(const char* entry, char* out, size_t size) {
  Appender appender{out, size};
  appender.add("", 0);
  const char* equals = strchr(entry, '=');
  if (equals != nullptr && secret_name(entry, static_cast<size_t>(equals - entry))) {
    appender.add(entry, static_cast<size_t>(equals + 1 - entry));
    appender.add(kMask, sizeof(kMask) - 1);
    return;
  }
  mask_uri_passwords(entry, appender);
}

MaskedText::MaskedText(const char* text) {
  if (text == nullptr) return;
  const size_t size = masked_entry_size(text);
  text_ = static_cast<char*>(malloc(size));
  if (text_ != nullptr) mask_uri_password(text, text_, size);
}

MaskedText::~MaskedText() {
  free(text_);
}
