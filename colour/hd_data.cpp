// The HD data block: PJL header, $IMG header, $CMS tag, the profile padded to whole pages
// with 0xFF, and a checksum that makes the payload's 16-bit words add up to 0xA5A5.
#include "colour/hd_data.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "common/copy.h"
#include "common/handles.h"
#include "log/log.h"

#if defined(__SSE2__) && defined(__x86_64__)
#include <emmintrin.h>
#endif

namespace {

constexpr uint64_t kPage = 4096;
constexpr size_t kHeadSize = kHdPjlSize + kHdImgSize + kHdCmsSize;
constexpr size_t kChecksumSize = 2;
// $IMG header fields that each block overwrites.
constexpr size_t kImgLengthOffset = 8;
constexpr size_t kImgProfileOffset = 12;
// The profile bytes lifted into the $IMG header.
constexpr uint64_t kProfileFieldOffset = 84;
constexpr uint64_t kProfileFieldSize = 8;
constexpr uint32_t kChecksumTarget = 0xA5A5;
constexpr unsigned char kFill = 0xFF;
// The $IMG length field holds N + 2 in 32 bits; a larger block cannot be described.
constexpr uint64_t kMaxLengthField = 0xFFFFFFFF;

// The piece buffer holds the fill and the checksum at the end, and the first piece holds the
// profile bytes that the $IMG header carries.
static_assert(kHdPiece >= kPage + kChecksumSize &&
                  kHdPiece >= kProfileFieldOffset + kProfileFieldSize,
              "one buffer serves all");

constexpr char kPjlText[] = "\x1b%-12345X@PJL\r\n@PJL DEFAULT P1284VALUE=0xAA   \r\n";
static_assert(sizeof(kPjlText) - 1 == kHdPjlSize, "PJL header is 48 bytes, no terminator");
constexpr unsigned char kImgTemplate[kHdImgSize] = {0x24, 0x49, 0x4D, 0x47, 0xFF, 0xFF, 0xFF, 0xFF,
                                                    0x00, 0x00, 0xF0, 0x0A, 0x04, 0x00, 0x00, 0x0E,
                                                    0x00, 0x0C, 0x00, 0x02, 0x00, 0x00, 0x00, 0x00};
constexpr unsigned char kCms1Template[kHdCmsSize] = {0x24, 0x43, 0x4D, 0x53,
                                                     0x01, 0x00, 0x00, 0x01};
constexpr unsigned char kCms2Template[kHdCmsSize] = {0x24, 0x43, 0x4D, 0x53,
                                                     0xFF, 0x01, 0x00, 0x01};

// Running sum of big-endian 16-bit words, kept as the sum of their high bytes and the sum of
// their low bytes: the word sum is 256 * high + low.
struct WordSum {
  uint64_t high = 0;
  uint64_t low = 0;
};

// Adds the words of data (size even, starting at an even payload offset) to sum. With SSE2,
// sixteen bytes at a time: the bytes at even offsets are the low bytes of the little-endian
// 16-bit lanes, and psadbw adds eight bytes at once into a 64-bit lane that cannot overflow.
void add_words(WordSum& sum, const unsigned char* data, size_t size) {
  size_t i = 0;
#if defined(__SSE2__) && defined(__x86_64__)
  const __m128i zero = _mm_setzero_si128();
  const __m128i low_bytes = _mm_set1_epi16(0x00FF);
  __m128i even = zero;
  __m128i odd = zero;
  for (; size - i >= 16; i += 16) {
    __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + i));
    even = _mm_add_epi64(even, _mm_sad_epu8(_mm_and_si128(x, low_bytes), zero));
    odd = _mm_add_epi64(odd, _mm_sad_epu8(_mm_srli_epi16(x, 8), zero));
  }
  sum.high += static_cast<uint64_t>(_mm_cvtsi128_si64(even)) +
              static_cast<uint64_t>(_mm_cvtsi128_si64(_mm_unpackhi_epi64(even, even)));
  sum.low += static_cast<uint64_t>(_mm_cvtsi128_si64(odd)) +
             static_cast<uint64_t>(_mm_cvtsi128_si64(_mm_unpackhi_epi64(odd, odd)));
#endif
  for (; i + 1 < size; i += 2) {
    sum.high += data[i];
    sum.low += data[i + 1];
  }
}

// Adds size bytes that stand at payload offset at: the profile arrives in pieces of any length,
// so a piece may start with the low byte of a word and end with the high byte of the next.
void add_bytes(WordSum& sum, uint64_t at, const unsigned char* data, size_t size) {
  if (size == 0) return;
  if (at % 2 == 1) {
    sum.low += data[0];
    data++;
    size--;
  }
  add_words(sum, data, size & ~size_t{1});
  if (size % 2 == 1) sum.high += data[size - 1];
}

// 0xA5A5 minus the word sum, modulo 65536.
uint16_t checksum_of(const WordSum& sum) {
  return static_cast<uint16_t>((kChecksumTarget - ((sum.high << 8) + sum.low)) & 0xFFFF);
}

void store_be32(unsigned char* at, uint32_t value) {
  at[0] = static_cast<unsigned char>(value >> 24);
  at[1] = static_cast<unsigned char>(value >> 16);
  at[2] = static_cast<unsigned char>(value >> 8);
  at[3] = static_cast<unsigned char>(value);
}

// Copies the profile's bytes 84 to 91 that a piece holding profile offsets [at, at + size)
// carries into the $IMG header; where the profile ends before 92 the template bytes stay.
void lift_profile_field(unsigned char* img, uint64_t at, const unsigned char* data, size_t size) {
  const uint64_t begin = std::max(at, kProfileFieldOffset);
  const uint64_t end = std::min(at + size, kProfileFieldOffset + kProfileFieldSize);
  if (begin >= end) return;
  memcpy(img + kImgProfileOffset + (begin - kProfileFieldOffset), data + (begin - at),
         static_cast<size_t>(end - begin));
}

// Reads up to want bytes into buffer, fewer only at the end of the file; false on a read error.
bool read_piece(int fd, unsigned char* buffer, size_t want, size_t* got) {
  *got = 0;
  while (*got < want) {
    ssize_t n = read(fd, buffer + *got, want - *got);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return false;
    if (n == 0) break;
    *got += static_cast<size_t>(n);
  }
  return true;
}

// Opens the profile for reading, regular files only: a directory opens on Linux but cannot
// be read, and a FIFO would block the job until some writer appeared (O_NONBLOCK avoids
// waiting for one at open). measured receives its status.
UniqueFd open_profile(const char* path, struct stat* measured) {
  UniqueFd profile(open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC));
  if (profile.get() < 0 || fstat(profile.get(), measured) != 0 || !S_ISREG(measured->st_mode)) {
    return UniqueFd();
  }
  return profile;
}

// True when the open profile still has the length and modification time it was opened with:
// any write or truncation since then changed one of them, unless it came within the clock
// tick of the change before it.
bool unchanged(int profile, const struct stat& measured) {
  struct stat now;
  return fstat(profile, &now) == 0 && now.st_size == measured.st_size &&
         now.st_mtim.tv_sec == measured.st_mtim.tv_sec &&
         now.st_mtim.tv_nsec == measured.st_mtim.tv_nsec;
}

// Where a block goes: a descriptor through the job's write loop (after flushing the stream
// that stands for it, if any), or a sink.
struct Output {
  int fd = -1;
  FILE* stream = nullptr;
  HdSink sink = nullptr;
  void* context = nullptr;
};

// Readies out for the block's first byte; false when the stream cannot be flushed.
bool begin_output(Output& out) {
  if (out.stream == nullptr) return true;
  if (fflush(out.stream) != 0) return false;
  out.fd = fileno(out.stream);
  return out.fd >= 0;
}

bool emit(const Output& out, const unsigned char* bytes, size_t count) {
  if (out.sink == nullptr) return write_all(out.fd, bytes, count);
  for (size_t done = 0; done < count;) {
    const size_t piece = std::min(count - done, kHdSinkPiece);
    if (!out.sink(out.context, bytes + done, piece)) return false;
    done += piece;
  }
  return true;
}

// Writes the block of the profile at path to out; the results of the writers.
int write_block(const char* path, int type, Output& out) {
  if (path == nullptr || (type != 1 && type != 2)) return kHdNotBuilt;
  struct stat measured;
  UniqueFd profile = open_profile(path, &measured);
  if (profile.get() < 0) return kHdNotBuilt;

  // The profile padded to whole pages, behind the 8-byte tag.
  const uint64_t length = static_cast<uint64_t>(measured.st_size);
  const uint64_t padded = (length + kPage - 1) / kPage * kPage;
  const uint64_t payload_size = kHdCmsSize + padded;
  if (payload_size + kChecksumSize > kMaxLengthField) return kHdNotBuilt;
  // Aligned to a page like the page cache it is read from: the kernel's copy into a buffer
  // that malloc leaves 16 bytes off a page boundary runs at a third of the speed.
  UniqueMalloc<unsigned char> piece(static_cast<unsigned char*>(aligned_alloc(kPage, kHdPiece)));
  if (piece == nullptr) return kHdNotBuilt;
  unsigned char* buffer = piece.get();

  HdTemplates templates;
  initHdTemplates(&templates);
  unsigned char head[kHeadSize];
  unsigned char* img = head + kHdPjlSize;
  unsigned char* cms = img + kHdImgSize;
  memcpy(head, templates.pjl, kHdPjlSize);
  memcpy(img, templates.img, kHdImgSize);
  memcpy(cms, type == 2 ? templates.cms2 : templates.cms1, kHdCmsSize);
  store_be32(img + kImgLengthOffset, static_cast<uint32_t>(payload_size + kChecksumSize));

  WordSum sum;
  add_bytes(sum, 0, cms, kHdCmsSize);
  // One byte more than the length is asked for at the end, so that a profile that grew shows.
  // Until the first piece has been checked nothing has left: a profile that cannot be read, or
  // has changed, is no block at all.
  bool started = false;
  for (uint64_t done = 0;;) {
    const size_t want = static_cast<size_t>(std::min<uint64_t>(kHdPiece, length - done + 1));
    size_t got = 0;
    const bool read_whole = read_piece(profile.get(), buffer, want, &got);
    const bool at_end = got < want;
    if (!read_whole || got > length - done || (at_end && done + got != length) ||
        !unchanged(profile.get(), measured)) {
      if (!started) return kHdNotBuilt;
      log_printf(1,
                 "ERROR: colour profile changed or failed to read while its block was "
                 "written, block cut short\n");
      return kHdWriteFailed;
    }
    add_bytes(sum, kHdCmsSize + done, buffer, got);
    if (!started) {
      lift_profile_field(img, done, buffer, got);
      if (!begin_output(out) || !emit(out, head, kHeadSize)) return kHdWriteFailed;
      started = true;
    }
    if (!emit(out, buffer, got)) return kHdWriteFailed;
    done += got;
    if (at_end) break;
  }
  profile.reset();

  const size_t fill = static_cast<size_t>(padded - length);
  memset(buffer, kFill, fill);
  add_bytes(sum, kHdCmsSize + length, buffer, fill);
  const uint16_t checksum = checksum_of(sum);
  buffer[fill] = static_cast<unsigned char>(checksum >> 8);
  buffer[fill + 1] = static_cast<unsigned char>(checksum & 0xFF);
  return emit(out, buffer, fill + kChecksumSize) ? kHdWritten : kHdWriteFailed;
}

}  // namespace

void initHdTemplates(HdTemplates* templates) {
  memcpy(templates->pjl, kPjlText, kHdPjlSize);
  memcpy(templates->img, kImgTemplate, kHdImgSize);
  memcpy(templates->cms1, kCms1Template, kHdCmsSize);
  memcpy(templates->cms2, kCms2Template, kHdCmsSize);
}

int writeHdData(FILE* out, const char* profilePath, int type) {
  if (out == nullptr) return kHdNotBuilt;
  Output output;
  output.stream = out;
  return write_block(profilePath, type, output);
}

int writeHdBlock(int fd, const char* profilePath, int type) {
  if (fd < 0) return kHdNotBuilt;
  Output output;
  output.fd = fd;
  return write_block(profilePath, type, output);
}

int writeHdBlockTo(HdSink sink, void* context, const char* profilePath, int type) {
  if (sink == nullptr) return kHdNotBuilt;
  Output output;
  output.sink = sink;
  output.context = context;
  return write_block(profilePath, type, output);
}
