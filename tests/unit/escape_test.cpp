// Escaping of device and job text: what is escaped, and how a small buffer cuts it.
#include "log/escape.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace {

std::string escaped(const std::string& text, size_t size) {
  std::vector<char> out(size + 1, '#');
  escape_control(out.data(), size, text.c_str());
  EXPECT_EQ(out[size], '#') << "wrote past the buffer";
  return size > 0 ? std::string(out.data()) : std::string();
}

TEST(EscapeControl, ControlCharactersAndTheBackslashAreEscaped) {
  struct Case {
    const char* text;
    const char* shown;
  } cases[] = {
      {"PF-500-EU", "PF-500-EU"},
      {"a\nb\rc\td", "a\\nb\\rc\\td"},
      {"\x01\x1b\x1f\x7f", "\\x01\\x1B\\x1F\\x7F"},
      {"C:\\x\\n", "C:\\\\x\\\\n"},
      {"\xc3\xa9 \xa0\xff", "\xc3\xa9 \xa0\xff"},  // other bytes above 0x7f as they are
      // The C1 controls, CSI, OSC and the rest, in their 8-bit and UTF-8 forms.
      {"\x9b"
       "31m \x9d"
       "0;x\x07",
       "\\x9B31m \\x9D0;x\\x07"},
      {"\x80\x9f", "\\x80\\x9F"},
      {"\xc2\x9b"
       "2J \xc2\x80",
       "\\xC2\\x9B2J \\xC2\\x80"},
      {"\x1b[2J \x1b]0;t\x1b\\", "\\x1B[2J \\x1B]0;t\\x1B\\\\"},
      // UTF-8 characters whose continuation bytes lie in 0x80 to 0x9f are kept whole; a lone
      // lead byte is not a character, and the C1 byte after it is escaped.
      {"\xe2\x82\xac \xf0\x9f\x98\x80 \xc2\xa9", "\xe2\x82\xac \xf0\x9f\x98\x80 \xc2\xa9"},
      {"\xe2\x82 \xc3\x9b", "\xe2\\x82 \xc3\x9b"},
      {"", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.shown);
    EXPECT_EQ(escaped(c.text, escaped_size(strlen(c.text))), c.shown);
    EXPECT_EQ(escape_control(nullptr, 0, c.text), strlen(c.shown));
    EXPECT_STREQ(ShownText(c.text).c_str(), c.shown);
  }
}

// For IPP text the result must be well-formed UTF-8: a byte of no character is escaped too, a
// character is kept whole.
TEST(EscapeControl, Utf8FormEscapesEveryByteOfNoCharacter) {
  struct Case {
    const char* text;
    const char* shown;
  } cases[] = {
      {"caf\xc3\xa9 caf\xe9", "caf\xc3\xa9 caf\\xE9"},
      {"\xa0\xff\xfe", "\\xA0\\xFF\\xFE"},
      {"\xe2\x82 \xe2\x82\xac", "\\xE2\\x82 \xe2\x82\xac"},
      {"a\nb\x1b\xc2\x9b", "a\\nb\\x1B\\xC2\\x9B"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.shown);
    char out[64];
    EXPECT_EQ(escape_utf8(out, sizeof(out), c.text), strlen(c.shown));
    EXPECT_STREQ(out, c.shown);
  }
  // A cut stops before the escape that does not fit.
  char small[6];
  escape_utf8(small, sizeof(small), "ab\xff");
  EXPECT_STREQ(small, "ab");
}

TEST(EscapeControl, ACutNeverSplitsAnEscape) {
  // "ab\x01" becomes "ab\x01" in six characters: sizes below 7 stop before the escape.
  EXPECT_EQ(escaped("ab\x01", 7), "ab\\x01");
  for (size_t size = 3; size < 7; ++size) EXPECT_EQ(escaped("ab\x01", size), "ab") << size;
  EXPECT_EQ(escaped("ab\x01", 2), "a");
  EXPECT_EQ(escaped("ab\x01", 1), "");
  EXPECT_EQ(escaped("\nz", 3), "\\n");
  // Nor a character or a C1 pair: "a\xe2\x82\xac" needs 5 bytes, "a\xC2\x9B" 10.
  EXPECT_EQ(escaped("a\xe2\x82\xac", 4), "a");
  EXPECT_EQ(escaped("a\xe2\x82\xac", 5), "a\xe2\x82\xac");
  EXPECT_EQ(escaped("a\xc2\x9b", 9), "a");
  EXPECT_EQ(escaped("a\xc2\x9b", 10), "a\\xC2\\x9B");
}

}  // namespace
