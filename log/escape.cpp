// Escaping of device and job text for standard error and the log.
#include "log/escape.h"

#include <cstdlib>
#include <cstring>

namespace {

constexpr char kHexDigits[] = "0123456789ABCDEF";

// "\xHH" for one byte into piece; returns 4.
size_t hex_escape(unsigned char c, char* piece) {
  piece[0] = '\\';
  piece[1] = 'x';
  piece[2] = kHexDigits[c >> 4];
  piece[3] = kHexDigits[c & 0xF];
  return 4;
}

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
  // The C0 controls, DEL, and the C1 controls as 8-bit bytes (CSI 0x9B, OSC 0x9D, ...).
  if (c < 0x20 || c == 0x7f || (c >= 0x80 && c <= 0x9f)) return hex_escape(c, piece);
  piece[0] = static_cast<char>(c);
  return 1;
}

// The length of the well-formed UTF-8 sequence at p (2 to 4), or 0 when none starts there.
size_t utf8_sequence(const unsigned char* p) {
  size_t length = 0;
  unsigned char low = 0x80;
  unsigned char high = 0xBF;
  if (p[0] >= 0xC2 && p[0] <= 0xDF) {
    length = 2;
  } else if (p[0] >= 0xE0 && p[0] <= 0xEF) {
    length = 3;
    if (p[0] == 0xE0) low = 0xA0;
    if (p[0] == 0xED) high = 0x9F;
  } else if (p[0] >= 0xF0 && p[0] <= 0xF4) {
    length = 4;
    if (p[0] == 0xF0) low = 0x90;
    if (p[0] == 0xF4) high = 0x8F;
  } else {
    return 0;
  }
  if (p[1] < low || p[1] > high) return 0;
  for (size_t i = 2; i < length; ++i) {
    if (p[i] < 0x80 || p[i] > 0xBF) return 0;
  }
  return length;
}

// The escape of the text at p into piece (at most 8 bytes, not terminated); *consumed tells how
// many bytes of the text it stands for. A well-formed UTF-8 character is kept whole, unless it
// is one of the C1 controls U+0080 to U+009F, whose two bytes are both escaped. strict: a byte
// of no well-formed character is escaped as well.
size_t escape_piece(const unsigned char* p, char* piece, size_t* consumed, bool strict) {
  const size_t sequence = utf8_sequence(p);
  if (sequence == 2 && p[0] == 0xC2 && p[1] <= 0x9F) {
    *consumed = 2;
    return hex_escape(p[0], piece) + hex_escape(p[1], piece + 4);
  }
  if (sequence > 0) {
    memcpy(piece, p, sequence);
    *consumed = sequence;
    return sequence;
  }
  *consumed = 1;
  if (strict && p[0] >= 0x80) return hex_escape(p[0], piece);
  return escape_byte(p[0], piece);
}

size_t escape_text(char* out, size_t size, const char* text, bool strict) {
  size_t length = 0;
  bool full = size == 0;
  const auto* p = reinterpret_cast<const unsigned char*>(text);
  while (*p != '\0') {
    char piece[8];
    size_t consumed = 0;
    const size_t n = escape_piece(p, piece, &consumed, strict);
    p += consumed;
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

}  // namespace

size_t escape_control(char* out, size_t size, const char* text) {
  return escape_text(out, size, text, false);
}

size_t escape_utf8(char* out, size_t size, const char* text) {
  return escape_text(out, size, text, true);
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
