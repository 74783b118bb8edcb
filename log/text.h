// Always-terminating text helpers that replace strcpy, strcat and unchecked snprintf.
#ifndef ZORV_LOG_TEXT_H
#define ZORV_LOG_TEXT_H

#include <cstddef>

// Copies at most size - 1 bytes of src into dst and terminates it; returns strlen(src) so
// that a result >= size tells the caller the text was cut. Nothing is written when size is 0.
size_t copy_text(char* dst, size_t size, const char* src);

// snprintf into dst that reports whether the whole text fitted.
bool format_text(char* dst, size_t size, const char* format, ...)
    __attribute__((format(printf, 3, 4)));

// A blank: a space or a tab.
inline bool is_blank(char c) {
  return c == ' ' || c == '\t';
}

// The value of a hexadecimal digit (either letter case), or -1 for any other character.
inline int hex_digit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

#endif  // ZORV_LOG_TEXT_H
