// Text from a device or a job made safe to show on one line of standard error or the log. The
// scheduler reads standard error line by line and acts on lines that begin with "PPD:",
// "STATE:" or "ATTR:", so such text must never end a line or start one.
#ifndef ZORV_LOG_ESCAPE_H
#define ZORV_LOG_ESCAPE_H

#include <cstddef>

// Room for the escaped form of a text of length bytes: every byte may take four.
constexpr size_t escaped_size(size_t length) {
  return 4 * length + 1;
}

// Writes text into out with every control character escaped as "\n", "\r", "\t" or "\xHH",
// and a backslash as "\\": the C0 controls below 0x20, 0x7f, and the C1 controls both as
// single bytes 0x80 to 0x9f (which 8-bit terminals obey) and as their UTF-8 forms C2 80 to
// C2 9F (both bytes escaped). Every other byte is copied, well-formed UTF-8 characters whole.
// The result is always terminated when size > 0, and an escape or a character is never cut in
// half: a text that does not fit ends before the first piece that does not fit whole. Returns
// the length of the whole escaped text, so that a result >= size tells that it was cut.
size_t escape_control(char* out, size_t size, const char* text);

// The same, and every byte that is not part of a well-formed UTF-8 character escaped too
// ("\xE9" for a Latin-1 e acute): the result is well-formed UTF-8, as IPP text and names must be.
size_t escape_utf8(char* out, size_t size, const char* text);

// The escaped form of a text of any length, in a heap buffer owned by this object; the empty
// text when memory runs out (the text is then not shown rather than shown raw).
class ShownText {
 public:
  explicit ShownText(const char* text);
  ~ShownText();
  ShownText(const ShownText&) = delete;
  ShownText& operator=(const ShownText&) = delete;
  const char* c_str() const { return text_ != nullptr ? text_ : ""; }

 private:
  char* text_ = nullptr;
};

#endif  // ZORV_LOG_ESCAPE_H
