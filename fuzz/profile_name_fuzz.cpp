// Fuzzes the profile-name resolution of the preload filter: the job options ("ucs="), the
// queue name and the PPD path, and the vendor-file lookup of the name found. The input is
// split at zero bytes into options, queue and PPD path; its first byte picks buffer sizes.
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "colour/profile.h"
#include "fuzz_support.h"

namespace {

std::vector<std::string> split_fields(const uint8_t* data, size_t size) {
  std::vector<std::string> fields(1);
  for (size_t i = 0; i < size; i++) {
    if (data[i] == 0) {
      fields.emplace_back();
    } else {
      fields.back().push_back(static_cast<char>(data[i]));
    }
  }
  fields.resize(3);
  return fields;
}

// The "ucs=" value as the filter documents it: from after the first "ucs=" up to white space
// of the C locale, a double quote, a comma or the end.
std::string expected_ucs(const std::string& options) {
  size_t at = options.find("ucs=");
  if (at == std::string::npos) return "";
  std::string value = options.substr(at + 4);
  return value.substr(0, value.find_first_of(" \t\n\v\f\r\",", 0, 8));
}

void check_terminated(const std::vector<char>& buffer, const char* what) {
  if (memchr(buffer.data(), 0, buffer.size()) == nullptr) fuzz_fail(what);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const size_t dst_size = 1 + data[0] % 64;
  const std::vector<std::string> f = split_fields(data + 1, size - 1);
  const std::string& options = f[0];
  const std::string& queue = f[1];
  const std::string& ppd = f[2];

  // Buffers of exactly the size passed, so that an overrun is caught.
  std::vector<char> small(dst_size, 'x');
  if (ucsFromOptions(small.data(), small.size(), options.c_str()) == 0) {
    check_terminated(small, "ucs= value not terminated");
    if (expected_ucs(options).substr(0, dst_size - 1) != small.data()) {
      fuzz_fail("ucs= value differs from its definition");
    }
  } else if (options.find("ucs=") != std::string::npos) {
    fuzz_fail("ucs= present but not found");
  }

  std::vector<char> name(kProfileNameSize, 'x');
  resolveProfileName(name.data(), name.size(), queue.c_str(), options.c_str(),
                     (data[0] & 0x80) != 0 ? nullptr : ppd.c_str());
  check_terminated(name, "profile name not terminated");

  // The lookup of the name found, under a root that does not exist: access() is all it does.
  char bare[kBareNameSize];
  snprintf(bare, sizeof(bare), kUcsNameFormat, name.data());
  std::vector<char> path(1 + (data[0] % 2 == 0 ? kProfilePathSize - 1 : dst_size), 'x');
  int found = findVendorFile(path.data(), path.size(), "/nonexistent-zorvfuzz/%s/mfp/ucs/%s",
                             kPreloadVendors, bare, R_OK);
  if (found != -1) fuzz_fail("a profile was found where none exists");
  if (path[0] != '\0') fuzz_fail("path not emptied when nothing was found");
  return 0;
}
