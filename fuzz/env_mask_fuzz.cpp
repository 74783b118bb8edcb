// Fuzzes the credential masking of the environment dump: the input is one environment string.
// Checked: the output is always terminated within its buffer, the size that
// masked_entry_size promises is enough for the whole text, and an AUTH_ value never shows.
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "common/filter_main.h"
#include "fuzz_support.h"

namespace {

std::string masked(const std::string& entry, size_t size) {
  // Exactly size bytes, so that a write past the end is caught by the address sanitizer.
  std::vector<char> out(size);
  mask_environment_entry(entry.c_str(), out.data(), size);
  if (size > 0 && memchr(out.data(), 0, size) == nullptr) fuzz_fail("output not terminated");
  return size > 0 ? std::string(out.data()) : std::string();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  // The first byte picks a small buffer size, the rest is the entry.
  const size_t small = data[0] % 48;
  const std::string entry = fuzz_text(data + 1, size - 1);

  const size_t promised = masked_entry_size(entry.c_str());
  const std::string whole = masked(entry, promised);
  if (whole != masked(entry, promised * 2 + 64)) fuzz_fail("masked_entry_size is too small");
  if (entry.compare(0, 5, "AUTH_") == 0 && entry.find('=') != std::string::npos &&
      whole != entry.substr(0, entry.find('=') + 1) + "****") {
    fuzz_fail("an AUTH_ value was not masked");
  }
  if (entry.find("://") == std::string::npos && entry.compare(0, 5, "AUTH_") != 0 &&
      whole != entry) {
    fuzz_fail("an entry without credentials was changed");
  }

  const std::string cut = masked(entry, small);
  if (small > 0 && (cut.size() > small - 1 || whole.compare(0, cut.size(), cut) != 0)) {
    fuzz_fail("a cut output is not a prefix of the whole one");
  }
  return 0;
}
