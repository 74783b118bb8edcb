// Escaping of device and job text for standard error and the log.
#include "log/escape.h"

#include <cstdlib>
#include <cstring>

namespace {

constexpr char kHexDigits[] = "0123456789ABCDEF";

// The escape of one byte into piece (at most 4 bytes, not terminated); returns its length.
size_t escape_byte(unsigned char c, char* piece) {
  char letter = '\0';
  switch (c) {
    case '\n':
      letter = 'n';
      break;
    case '\r':
      letter = 'r';
      break;
    case '\t':
      letter = 't';
      break;
    case '\\':
      letter = '\\';
      break;
    default:
      break;
  }
  if (letter != '\0') {
    piece[0] = '\\';
    piece[1] = letter;
    return 2;
  }
  if (c < 0x20 || c == 0x7f) {
    piece[0] = '\\';
    piece[1] = 'x';
    piece[2] = kHexDigits[c >> 4];
    piece[3] = kHexDigits[c & 0xF];
    return 4;
  }
  piece[0] = static_cast<char>(c);
  return 1;
}

}  // namespace

size_t escape_control(char* out, size_t size, const char* text) {
  size_t length = 0;
  bool full = size == 0;
  for (const char* p = text; *p != '\0'; ++p) {
    char piece[4];
    const size_t n = escape_byte(static_cast<unsigned char>(*p), piece);
    if (!full && length + n < size) {
      memcpy(out + length, piece, n);
    } else if (!full) {
      out[length] = '\0';
      full = true;
    }
    length += n;
  }
  if (!full) out[length] = '\0';
  return length;
}

ShownText::ShownText(const char* text) {
  if (text == nullptr) return;
  const size_t size = escaped_size(strlen(text));
  text_ = static_cast<char*>(malloc(size));
  if (text_ != nullptr) escape_control(text_, size, text);
}

ShownText::~ShownText() {
  free(text_);
}
