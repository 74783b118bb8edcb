// Where a job's option code goes in a PostScript document.
#include "app/ps_document.h"

#include <cstdlib>
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

constexpr char kPageMarker[] = "%%Page:";
constexpr int kPageMarkerLength = sizeof(kPageMarker) - 1;

constexpr char kPagesMarker[] = "%%Pages:";

bool is_line_end(char c) {
  return c == '\n' || c == '\r';
}

// The count of a "%%Pages:" line of left bytes; 0 for "(atend)" or no count.
unsigned pages_value(const char* line, size_t left) {
  size_t at = sizeof(kPagesMarker) - 1;
  while (at < left && (line[at] == ' ' || line[at] == '\t')) at++;
  unsigned pages = 0;
  for (; at < left && line[at] >= '0' && line[at] <= '9' && pages < 1000000; at++) {
    pages = pages * 10 + static_cast<unsigned>(line[at] - '0');
  }
  return pages;
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

void countPages(PageScan* scan, const char* data, size_t count) {
  size_t i = 0;
  // A marker begun at the end of the last block.
  if (scan->partial >= 0) {
    while (scan->partial < kPageMarkerLength && i < count && data[i] == kPageMarker[scan->partial]) {
      scan->partial++;
      i++;
    }
    if (scan->partial == kPageMarkerLength) {
      scan->pages++;
    } else if (i == count) {
      return;
    }
  }
  // Markers wholly in this block, but one at its start (counted above).
  for (const char* hit = data; (hit = static_cast<const char*>(memmem(
                                    hit, count - static_cast<size_t>(hit - data), kPageMarker,
                                    kPageMarkerLength))) != nullptr;
       hit++) {
    if (hit > data && is_line_end(hit[-1])) scan->pages++;
  }
  // A marker that may go on in the next block: the block ends at most a marker's length after
  // a line end.
  scan->partial = -1;
  for (size_t back = 0; back < static_cast<size_t>(kPageMarkerLength) && back < count; back++) {
    const size_t at = count - 1 - back;
    if (!is_line_end(data[at])) continue;
    const size_t after = count - at - 1;
    if (memcmp(data + at + 1, kPageMarker, after) == 0) scan->partial = static_cast<int>(after);
    break;
  }
}

unsigned declaredPages(const char* data, size_t count) {
  size_t pos = 0;
  while (pos < count && data[pos] == '%') {
    const char* line = data + pos;
    const size_t left = count - pos;
    if (starts_with(line, left, "%%EndComments")) break;
    const size_t next = after_line(data, count, pos);
    // A count is read only whole: its line ends within the bytes seen.
    if (!line_ended(data, count, next)) break;
    if (starts_with(line, left, kPagesMarker)) return pages_value(line, left);
    pos = next;
  }
  return 0;
}

unsigned trailerPages(const char* data, size_t count) {
  const char* found = nullptr;
  for (const char* hit = data; (hit = static_cast<const char*>(memmem(
                                    hit, count - static_cast<size_t>(hit - data), kPagesMarker,
                                    sizeof(kPagesMarker) - 1))) != nullptr;
       hit++) {
    if (hit > data && is_line_end(hit[-1])) found = hit;
  }
  if (found == nullptr) return 0;
  const size_t left = count - static_cast<size_t>(found - data);
  const size_t end = after_line(found, left, 0);
  return line_ended(found, left, end) ? pages_value(found, left) : 0;
}
