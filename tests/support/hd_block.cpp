// The HD data block as a printer reads it.
#include "support/hd_block.h"

#include <algorithm>
#include <cstdio>

#include "colour/hd_data.h"
#include "support/paths.h"

const std::string kHdPjlHeader = "\x1b%-12345X@PJL\r\n@PJL DEFAULT P1284VALUE=0xAA   \r\n";
const std::string kHdImgTemplate("\x04\x00\x00\x0E\x00\x0C\x00\x02", 8);

namespace {

constexpr size_t kLengthAt = 56;
constexpr size_t kProfileFieldsAt = 84;  // the profile's bytes that the $IMG fields carry
constexpr size_t kTagAndChecksum = 8 + 2;
const std::string kImgTag("$IMG\xff\xff\xff\xff", 8);

uint32_t byte_at(const std::string& bytes, size_t at) {
  return static_cast<unsigned char>(bytes[at]);
}

std::string cms_tag(int type) {
  return type == 2 ? std::string("$CMS\xff\x01\x00\x01", 8)
                   : std::string("$CMS\x01\x00\x00\x01", 8);
}

}  // namespace

HdBlock read_hd_block(const std::string& bytes) {
  HdBlock block;
  if (bytes.size() < kHdHeadersSize + kTagAndChecksum) return block;
  block.length = byte_at(bytes, kLengthAt) << 24 | byte_at(bytes, kLengthAt + 1) << 16 |
                 byte_at(bytes, kLengthAt + 2) << 8 | byte_at(bytes, kLengthAt + 3);
  if (block.length < kTagAndChecksum || bytes.size() - kHdHeadersSize < block.length) {
    return block;
  }
  block.size = kHdHeadersSize + block.length;
  block.pjl = bytes.substr(0, 48);
  block.img_tag = bytes.substr(48, 8);
  block.img_fields = bytes.substr(60, 8);
  block.img_reserved = bytes.substr(68, 4);
  block.cms_tag = bytes.substr(72, 8);
  block.data = bytes.substr(80, block.size - 82);
  for (size_t i = kHdHeadersSize; i + 1 < block.size; i += 2) {
    block.word_sum += byte_at(bytes, i) << 8 | byte_at(bytes, i + 1);
  }
  block.word_sum &= 0xFFFF;
  return block;
}

size_t hd_block_size(size_t profile_size) {
  return kHdHeadersSize + kTagAndChecksum + (profile_size + kHdPage - 1) / kHdPage * kHdPage;
}

std::string hd_block_mismatch(const std::string& bytes, const std::string& profile, int type) {
  const HdBlock block = read_hd_block(bytes);
  const size_t size = hd_block_size(profile.size());
  if (block.size != size) {
    return "a block of " + std::to_string(block.size) + " bytes (0: none), not " +
           std::to_string(size);
  }
  const size_t present = profile.size() > kProfileFieldsAt
                             ? std::min<size_t>(profile.size() - kProfileFieldsAt, 8)
                             : 0;
  const std::string fields = (present > 0 ? profile.substr(kProfileFieldsAt, present) : "") +
                             kHdImgTemplate.substr(present);
  const std::string fill(size - kHdHeadersSize - kTagAndChecksum - profile.size(), '\xff');
  if (block.pjl != kHdPjlHeader) return "the PJL header";
  if (block.img_tag != kImgTag) return "the $IMG tag";
  if (block.img_fields != fields) return "the $IMG fields";
  if (block.img_reserved != std::string(4, '\0')) return "the $IMG reserved bytes";
  if (block.cms_tag != cms_tag(type)) return "the $CMS tag";
  if (block.data.compare(0, profile.size(), profile) != 0) return "the profile bytes";
  if (block.data.compare(profile.size(), std::string::npos, fill) != 0) return "the 0xFF fill";
  if (block.word_sum != 0xA5A5) return "the checksum";
  return "";
}

namespace {

struct SinkRun {
  WrittenHdBlock* written;
  const std::function<void()>* between;
};

bool keep_piece(void* context, const void* bytes, size_t count) {
  SinkRun* run = static_cast<SinkRun*>(context);
  run->written->bytes.append(static_cast<const char*>(bytes), count);
  run->written->largest_piece = std::max(run->written->largest_piece, count);
  if (++run->written->pieces == 1 && *run->between) (*run->between)();
  return true;
}

}  // namespace

WrittenHdBlock write_hd_block(const std::string& profile_path, int type, HdWriter writer,
                              const std::function<void()>& between) {
  WrittenHdBlock written;
  const char* path = profile_path.c_str();
  if (writer == HdWriter::kSink) {
    SinkRun run = {&written, &between};
    written.result = writeHdBlockTo(keep_piece, &run, path, type);
    return written;
  }
  // The writer writes to the descriptor behind its stream, as it does to standard output: an
  // unnamed file keeps what arrives there.
  FILE* out = tmpfile();
  if (out == nullptr) return written;
  written.result = writer == HdWriter::kStream ? writeHdData(out, path, type)
                                               : writeHdBlock(fileno(out), path, type);
  written.bytes = stream_bytes(out);
  fclose(out);
  return written;
}
