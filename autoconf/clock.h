// Run-time clock of the auto-configuration filter.
#ifndef ZORV_AUTOCONF_CLOCK_H
#define ZORV_AUTOCONF_CLOCK_H

#include <cstddef>
#include <cstdint>

// Wall-clock milliseconds since the epoch; 0 when the clock cannot be read.
int64_t now_ms();
// "%lu.%03lu" seconds since start_ms, in a static 32-byte buffer that the next call overwrites.
const char* elapsed_seconds_text(int64_t start_ms);
// The text of elapsed_seconds_text for a given span of milliseconds, into buffer; returns it.
char* format_elapsed_ms(char* buffer, size_t size, int64_t elapsed_ms);

#endif  // ZORV_AUTOCONF_CLOCK_H
