// Fuzzes the HD data block writers (stream, descriptor, sink) on a profile file of fuzzer
// bytes. Checked with the block reader of the tests (tests/support/hd_block.h): the block is
// the two headers, the tag, the profile padded to whole 4096-byte pages with 0xFF and the
// checksum; its length field says so; the payload words and the checksum add up to 0xA5A5;
// the $IMG header carries the profile's bytes 84 to 91 as far as they exist; and a sink gets
// pieces of at most 64 KiB.
#include <cstdint>
#include <string>

#include "colour/hd_data.h"
#include "fuzz_support.h"
#include "support/hd_block.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const int type = size > 0 && (data[0] & 1) ? 2 : 1;
  const HdWriter writers[] = {HdWriter::kStream, HdWriter::kDescriptor, HdWriter::kSink};
  const HdWriter writer = writers[size > 0 ? (data[0] >> 1) % 3 : 0];
  const std::string path = fuzz_scratch_dir() + "/profile.ucs";
  if (!fuzz_write_file(path, data, size)) fuzz_fail("cannot write the profile");
  const WrittenHdBlock block = write_hd_block(path, type, writer);
  if (block.result != kHdWritten) fuzz_fail("no block from a profile");
  const std::string profile(reinterpret_cast<const char*>(data), size);
  const std::string mismatch = hd_block_mismatch(block.bytes, profile, type);
  if (!mismatch.empty()) fuzz_fail(("wrong block: " + mismatch).c_str());
  if (block.bytes.size() != hd_block_size(size)) fuzz_fail("bytes after the block");
  if (block.largest_piece > kHdSinkPiece) fuzz_fail("a sink piece larger than promised");
  return 0;
}
