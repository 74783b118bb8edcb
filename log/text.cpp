// Always-terminating text helpers.
#include "log/text.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

size_t copy_text(char* dst, size_t size, const char* src) {
  size_t length = strlen(src);
  if (size == 0) return length;
  size_t n = length < size - 1 ? length : size - 1;
  memcpy(dst, src, n);
  dst[n] = '\0';
  return length;
}

bool format_text(char* dst, size_t size, const char* format, ...) {
  va_list args;
  va_start(args, format);
  int n = vsnprintf(dst, size, format, args);
  va_end(args);
  return n >= 0 && static_cast<size_t>(n) < size;
}
