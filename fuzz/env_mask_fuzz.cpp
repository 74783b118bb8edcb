// Fuzzes the credential masking of the environment dump: the input is one environment string.
// Checked: the output is always terminated within its buffer, the size that
// masked_entry_size promises is enough for the whole text, the value of a secret variable
// (AUTH_*, or a name holding PASSWORD, PASSWD, SECRET or TOKEN) never shows, and an entry
// with neither a secret name nor a URI is left as it is.
#include <cctype>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "common/credentials.h"
#include "fuzz_support.h"

namespace {

bool secret_name(const std::string& entry) {
  const size_t equals = entry.find('=');
  if (equals == std::string::npos) return false;
  std::string name = entry.substr(0, equals);
  if (name.compare(0, 5, "AUTH_") == 0) return true;
  for (char& c : name) c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
  for (const char* part : {"PASSWORD", "PASSWD", "SECRET", "TOKEN"}) {
    if (name.find(part) != std::string::npos) return true;
  }
  return false;
}

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
  if (secret_name(entry) && whole != entry.substr(0, entry.find('=') + 1) + "****") {
    fuzz_fail("a secret value was not masked");
  }
  if (entry.find("://") == std::string::npos && !secret_name(entry) && whole != entry) {
    fuzz_fail("an entry without credentials was changed");
  }

  const std::string cut = masked(entry, small);
  if (small > 0 && (cut.size() > small - 1 || whole.compare(0, cut.size(), cut) != 0)) {
    fuzz_fail("a cut output is not a prefix of the whole one");
  }
  return 0;
}
