// Where a job's option code goes in a PostScript document.
#include "app/ps_document.h"

#include <cstring>

namespace {

bool starts_with(const char* data, size_t count, const char* marker) {
  const size_t n = strlen(marker);
  return count >= n && memcmp(data, marker, n) == 0;
}

// The offset after the line terminator (CR, LF or CR LF) of the line containing from, or
// count when the line goes on past the bytes seen.
size_t after_line(const char* data, size_t count, size_t from) {
  for (size_t i = from; i < count; i++) {
    if (data[i] == '\n') return i + 1;
    if (data[i] == '\r') return i + 1 < count && data[i + 1] == '\n' ? i + 2 : i + 1;
  }
  return count;
}

bool line_ended(const char* data, size_t count, size_t end) {
  return end > 0 && end <= count && (data[end - 1] == '\n' || data[end - 1] == '\r');
}

}  // namespace

SetupPlace findSetupPlace(SetupScan* scan, const char* data, size_t count, bool at_end,
                          size_t* offset) {
  size_t pos = 0;
  if (!scan->started) {
    if (count < kLongestMarker && !at_end) {
      *offset = 0;
      return SetupPlace::kNotYet;
    }
    scan->started = true;
    *offset = 0;
    if (!starts_with(data, count, "%!")) return SetupPlace::kNotPostScript;
    scan->structured = starts_with(data, count, "%!PS-Adobe-");
    scan->mid_line = true;
  }
  if (scan->mid_line) {
    pos = after_line(data, count, 0);
    if (!line_ended(data, count, pos)) {
      *offset = count;
      return SetupPlace::kNotYet;
    }
    scan->mid_line = false;
    // Without the conventions there is no setup to find: the code follows the first line.
    if (!scan->structured) {
      *offset = pos;
      return SetupPlace::kBeforeLine;
    }
  }
  while (pos < count) {
    const size_t left = count - pos;
    if (left < kLongestMarker && !at_end) {
      *offset = pos;
      return SetupPlace::kNotYet;
    }
    const char* line = data + pos;
    if (starts_with(line, left, "%%EndSetup")) {
      *offset = pos;
      return SetupPlace::kBeforeLine;
    }
    if (starts_with(line, left, "%%Page:") || starts_with(line, left, "%%Trailer") ||
        starts_with(line, left, "%%EOF")) {
      *offset = pos;
      return SetupPlace::kWrapped;
    }
    const size_t next = after_line(data, count, pos);
    if (!line_ended(data, count, next)) {
      scan->mid_line = true;
      *offset = count;
      return SetupPlace::kNotYet;
    }
    pos = next;
  }
  *offset = count;
  return SetupPlace::kNotYet;
}
