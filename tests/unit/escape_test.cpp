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
      {"\xc3\xa9 \x80\xff", "\xc3\xa9 \x80\xff"},  // bytes above 0x7f are shown as they are
      {"", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.shown);
    EXPECT_EQ(escaped(c.text, escaped_size(strlen(c.text))), c.shown);
    EXPECT_EQ(escape_control(nullptr, 0, c.text), strlen(c.shown));
    EXPECT_STREQ(ShownText(c.text).c_str(), c.shown);
  }
}

TEST(EscapeControl, ACutNeverSplitsAnEscape) {
  // "ab\x01" becomes "ab\x01" in six characters: sizes below 7 stop before the escape.
  EXPECT_EQ(escaped("ab\x01", 7), "ab\\x01");
  for (size_t size = 3; size < 7; ++size) EXPECT_EQ(escaped("ab\x01", size), "ab") << size;
  EXPECT_EQ(escaped("ab\x01", 2), "a");
  EXPECT_EQ(escaped("ab\x01", 1), "");
  EXPECT_EQ(escaped("\nz", 3), "\\n");
}

}  // namespace
