// Fuzzes the HD data block writer on a profile file of fuzzer bytes. Checked: the block is
// the two headers, the tag, the profile padded to whole 4096-byte pages with 0xFF and the
// checksum; its length field says so; the payload words and the checksum add up to 0xA5A5;
// and the $IMG header carries the profile's bytes 84 to 91 as far as they exist.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include "fuzz_support.h"
#include "preload/hd_data.h"

namespace {

constexpr size_t kHeaders = 48 + 24;
constexpr size_t kPage = 4096;

std::string file_bytes(FILE* file) {
  fflush(file);
  std::string bytes;
  char buffer[65536];
  ssize_t n;
  for (off_t at = 0; (n = pread(fileno(file), buffer, sizeof(buffer), at)) > 0; at += n) {
    bytes.append(buffer, static_cast<size_t>(n));
  }
  return bytes;
}

uint32_t byte_at(const std::string& bytes, size_t at) {
  return static_cast<unsigned char>(bytes[at]);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const int type = size > 0 && (data[0] & 1) ? 2 : 1;
  const std::string path = fuzz_scratch_dir() + "/profile.ucs";
  if (!fuzz_write_file(path, data, size)) fuzz_fail("cannot write the profile");
  FILE* out = tmpfile();
  if (out == nullptr) fuzz_fail("cannot make the output file");
  if (writeHdData(out, path.c_str(), type) != kHdWritten) fuzz_fail("no block from a profile");
  const std::string block = file_bytes(out);
  fclose(out);

  const size_t padded = (size + kPage - 1) / kPage * kPage;
  if (block.size() != kHeaders + 8 + padded + 2) fuzz_fail("wrong block length");
  const uint32_t field = byte_at(block, 56) << 24 | byte_at(block, 57) << 16 |
                         byte_at(block, 58) << 8 | byte_at(block, 59);
  if (field != 8 + padded + 2) fuzz_fail("the length field does not count payload and checksum");
  if (memcmp(block.data() + kHeaders + 8, data, size) != 0) fuzz_fail("profile bytes changed");
  for (size_t i = kHeaders + 8 + size; i < kHeaders + 8 + padded; ++i) {
    if (byte_at(block, i) != 0xFF) fuzz_fail("fill is not 0xFF");
  }
  uint32_t sum = 0;
  for (size_t i = kHeaders; i + 1 < block.size(); i += 2) {
    sum += byte_at(block, i) << 8 | byte_at(block, i + 1);
  }
  if ((sum & 0xFFFF) != 0xA5A5) fuzz_fail("payload and checksum do not add up to 0xA5A5");
  for (size_t i = 84; i < 92 && i < size; ++i) {
    if (byte_at(block, 48 + 12 + (i - 84)) != data[i]) fuzz_fail("$IMG lacks profile bytes");
  }
  return 0;
}
