// Fuzzes the hex dump. Checked: one row per 16 bytes (a title adds its two lines and blank
// lines around), each row gives its offset and its bytes in hexadecimal, and the character
// column shows printable bytes as they are and every other byte as a dot, so that no byte of
// the dumped data can break a line of the log.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "fuzz_support.h"
#include "log/log.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  char* text = nullptr;
  size_t length = 0;
  FILE* out = open_memstream(&text, &length);
  if (out == nullptr) fuzz_fail("cannot open a memory stream");
  hexdump(out, data, static_cast<int>(size), nullptr);
  fclose(out);
  const std::string dump(text, length);
  free(text);

  size_t rows = 0;
  size_t start = 0;
  for (size_t offset = 0; offset < size; offset += 16, ++rows) {
    const size_t end = dump.find('\n', start);
    if (end == std::string::npos) fuzz_fail("a row does not end");
    const std::string row = dump.substr(start, end - start);
    start = end + 1;
    char expected[16];
    snprintf(expected, sizeof(expected), "%06zx  ", offset);
    if (size <= 0x1000000 && row.compare(0, 8, expected) != 0) fuzz_fail("wrong offset");
    const size_t count = size - offset < 16 ? size - offset : 16;
    const size_t hex_start = row.find("  ") + 2;
    for (size_t i = 0; i < count; ++i) {
      char pair[4];
      snprintf(pair, sizeof(pair), "%02x ", data[offset + i]);
      if (row.compare(hex_start + i * 3 + i / 4, 3, pair) != 0) fuzz_fail("wrong byte");
    }
    const std::string characters = row.substr(row.size() - count);
    for (size_t i = 0; i < count; ++i) {
      const uint8_t c = data[offset + i];
      const char shown = c >= 32 && c <= 126 ? static_cast<char>(c) : '.';
      if (characters[i] != shown) fuzz_fail("wrong character column");
    }
  }
  if (start != dump.size()) fuzz_fail("more rows than bytes");
  return 0;
}
