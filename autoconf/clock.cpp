// Run-time clock of the auto-configuration filter.
#include "autoconf/clock.h"

#include <sys/time.h>

#include <cstdio>

namespace {
constexpr size_t kElapsedSize = 32;
}

int64_t now_ms() {
  struct timeval tv;
  if (gettimeofday(&tv, nullptr) != 0) return 0;
  return static_cast<int64_t>(tv.tv_sec) * 1000 + tv.tv_usec / 1000;
}

// Signed division, printed unsigned: a clock that stepped back shows as a huge number rather
// than a negative one, which a reader of the log spots at once.
char* format_elapsed_ms(char* buffer, size_t size, int64_t elapsed_ms) {
  snprintf(buffer, size, "%lu.%03lu", static_cast<unsigned long>(elapsed_ms / 1000),
           static_cast<unsigned long>(elapsed_ms % 1000));
  return buffer;
}

const char* elapsed_seconds_text(int64_t start_ms) {
  static char text[kElapsedSize];
  return format_elapsed_ms(text, sizeof(text), now_ms() - start_ms);
}
