// Hex dumps: rows of offset, sixteen bytes in hexadecimal and the same bytes as characters.
#include <cstdio>

#include "log/log.h"
#include "log/log_internal.h"

namespace {

constexpr int kRowBytes = 16;
// Offsets below 16 MiB fit in six digits; a longer dump widens the column for every row,
// so that all rows of one dump stay aligned.
constexpr int kNarrowOffsetLimit = 0x1000000;
constexpr int kNarrowOffsetDigits = 6;
constexpr int kWideOffsetDigits = 8;

void dump_row(FILE* stream, const unsigned char* row, int count, int offset, int digits) {
  fprintf(stream, "%0*x  ", digits, static_cast<unsigned>(offset));
  for (int i = 0; i < kRowBytes; i++) {
    if (i < count) {
      fprintf(stream, "%02x ", row[i]);
    } else {
      fputs("   ", stream);
    }
    if (i % 4 == 3) fputc(' ', stream);
  }
  for (int i = 0; i < count; i++) fputc(row[i] >= 32 && row[i] <= 126 ? row[i] : '.', stream);
  fputc('\n', stream);
}

}  // namespace

extern "C" {

int hexdump(FILE* stream, const unsigned char* data, int length, const char* title) {
  if (stream == nullptr) return -1;
  if (title != nullptr) fprintf(stream, "\n%s begin {\n", title);
  int digits = length > kNarrowOffsetLimit ? kWideOffsetDigits : kNarrowOffsetDigits;
  for (int offset = 0; data != nullptr && offset < length; offset += kRowBytes) {
    int count = length - offset < kRowBytes ? length - offset : kRowBytes;
    dump_row(stream, data + offset, count, offset, digits);
  }
  if (title != nullptr) fprintf(stream, "%s end   }\n\n", title);
  return 0;
}

int log_hexdump(const unsigned char* data, int length, const char* title) {
  FILE* stream = log_stream_for_dump();
  if (stream == nullptr) return 0;
  return hexdump(stream, data, length, title);
}

int hexdump_stdout(const unsigned char* data, int length, const char* title) {
  return hexdump(stdout, data, length, title);
}

int xdump(const unsigned char* data, int length) {
  return hexdump(stdout, data, length, nullptr);
}

}  // extern "C"
