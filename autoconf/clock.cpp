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

const char* elapsed_seconds_text(int64_t start_ms) {
  static char text[kElapsedSize];
  int64_t elapsed = now_ms() - start_ms;
  snprintf(text, sizeof(text), "%lu.%03lu", static_cast<unsigned long>(elapsed / 1000),
           static_cast<unsigned long>(elapsed % 1000));
  return text;
}
