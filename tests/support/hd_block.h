// The HD data block, the colour-profile block ahead of a job, read back as a printer reads it:
// its fields, its size for a profile, what the block of a given profile must be (the format
// written out once more, apart from the writer), and what the writers make of a profile file.
// Used by the tests and by the fuzz target of the writer.
#ifndef ZORV_TESTS_SUPPORT_HD_BLOCK_H
#define ZORV_TESTS_SUPPORT_HD_BLOCK_H

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

constexpr size_t kHdHeadersSize = 48 + 24;  // the PJL header and the $IMG header
constexpr size_t kHdPage = 4096;            // the profile is filled up to whole pages
extern const std::string kHdPjlHeader;
extern const std::string kHdImgTemplate;  // the $IMG fields when the profile has no bytes 84..91

struct HdBlock {
  size_t size = 0;           // of the whole block; 0 when the bytes do not hold one
  std::string pjl;           // the PJL header
  std::string img_tag;       // "$IMG" and four 0xFF bytes
  uint32_t length = 0;       // the $IMG length field: tag, profile, fill and checksum
  std::string img_fields;    // the 8 bytes after the length field
  std::string img_reserved;  // the 4 bytes after them
  std::string cms_tag;       // "$CMS" and the 4 bytes of the type
  std::string data;          // the profile and its fill
  // The 16-bit big-endian words from the $CMS tag through the checksum, modulo 65536: 0xA5A5
  // when the checksum is right.
  uint32_t word_sum = 0;
};

// The block at the start of bytes, as long as its length field says.
HdBlock read_hd_block(const std::string& bytes);
// The size of the block of a profile of profile_size bytes.
size_t hd_block_size(size_t profile_size);
// "" when bytes start with the block of profile (type 1 or 2), or the first field that is not
// what it must be.
std::string hd_block_mismatch(const std::string& bytes, const std::string& profile, int type = 1);

// The three writers of the block: writeHdData to a stream, writeHdBlock to a descriptor,
// writeHdBlockTo through a sink.
enum class HdWriter { kStream, kDescriptor, kSink };

// What a writer wrote for a profile file, and its result.
struct WrittenHdBlock {
  int result = -1;
  std::string bytes;
  size_t pieces = 0;         // handed to the sink (kSink)
  size_t largest_piece = 0;  // of those
};
// between, when given, runs once after the first piece reached the sink (kSink): a change of
// the profile file while its block is written.
WrittenHdBlock write_hd_block(const std::string& profile_path, int type = 1,
                              HdWriter writer = HdWriter::kStream,
                              const std::function<void()>& between = nullptr);

#endif  // ZORV_TESTS_SUPPORT_HD_BLOCK_H
