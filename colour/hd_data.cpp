// The HD data block: PJL header, $IMG header, $CMS tag, the profile padded to whole pages
// with 0xFF, and a checksum that makes the payload's 16-bit words add up to 0xA5A5.
#include "colour/hd_data.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "common/copy.h"
#include "common/handles.h"

#if defined(__SSE2__) && defined(__x86_64__)
#include <emmintrin.h>
#endif

namespace {

constexpr size_t kPjlSize = 48;
constexpr size_t kImgSize = 24;
constexpr size_t kCmsSize = 8;
constexpr uint64_t kPage = 4096;
// $IMG header fields that each block overwrites.
constexpr size_t kImgLengthOffset = 8;
constexpr size_t kImgProfileOffset = 12;
// The profile bytes lifted into the $IMG header.
constexpr uint64_t kProfileFieldOffset = 84;
constexpr uint64_t kProfileFieldSize = 8;
constexpr uint32_t kChecksumTarget = 0xA5A5;
constexpr unsigned char kFill = 0xFF;
// The profile is read in pieces of this size, each summed while it is in the cache.
constexpr size_t kReadPiece = size_t{256} << 10;
// The $IMG length field holds N + 2 in 32 bits; a larger block cannot be described.
constexpr uint64_t kMaxLengthField = 0xFFFFFFFF;

constexpr char kPjlText[] = "\x1b%-12345X@PJL\r\n@PJL DEFAULT P1284VALUE=0xAA   \r\n";
static_assert(sizeof(kPjlText) - 1 == kPjlSize, "PJL header is 48 bytes, no terminator");
constexpr unsigned char kImgTemplate[kImgSize] = {0x24, 0x49, 0x4D, 0x47, 0xFF, 0xFF, 0xFF, 0xFF,
                                                  0x00, 0x00, 0xF0, 0x0A, 0x04, 0x00, 0x00, 0x0E,
                                                  0x00, 0x0C, 0x00, 0x02, 0x00, 0x00, 0x00, 0x00};
constexpr unsigned char kCms1Template[kCmsSize] = {0x24, 0x43, 0x4D, 0x53, 0x01, 0x00, 0x00, 0x01};
constexpr unsigned char kCms2Template[kCmsSize] = {0x24, 0x43, 0x4D, 0x53, 0xFF, 0x01, 0x00, 0x01};

// The templates every block starts from; refilled by initHdTemplates() before each block.
unsigned char g_pjl[kPjlSize];
unsigned char g_img[kImgSize];
unsigned char g_cms1[kCmsSize];
unsigned char g_cms2[kCmsSize];

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

// 0xA5A5 minus the word sum, modulo 65536.
uint16_t checksum_of(const WordSum& sum) {
  return static_cast<uint16_t>((kChecksumTarget - ((sum.high << 8) + sum.low)) & 0xFFFF);
}

// Asks for 2 MiB pages for a large buffer that is filled at once: a 64 MiB profile would
// otherwise cost 16384 page faults. Only a hint; the buffer works without it.
void prefer_huge_pages(void* buffer, size_t size) {
  constexpr size_t kHugePage = size_t{2} << 20;
  if (size < 2 * kHugePage) return;
  uintptr_t page = static_cast<uintptr_t>(sysconf(_SC_PAGESIZE));
  uintptr_t start = (reinterpret_cast<uintptr_t>(buffer) + page - 1) & ~(page - 1);
  uintptr_t end = (reinterpret_cast<uintptr_t>(buffer) + size) & ~(page - 1);
  madvise(reinterpret_cast<void*>(start), end - start, MADV_HUGEPAGE);
}

// Opens the profile for reading, regular files only: a directory opens on Linux but cannot
// be read, and a FIFO would block the job until some writer appeared (O_NONBLOCK avoids
// waiting for one at open).
UniqueFile open_profile(const char* path) {
  int fd = open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return nullptr;
  struct stat st;
  FILE* file = nullptr;
  if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) file = fdopen(fd, "rb");
  if (file == nullptr) close(fd);
  return UniqueFile(file);
}

// Length of the open profile measured by seeking to its end; -1 when it cannot be told.
int64_t profile_length(FILE* file) {
  if (fseeko(file, 0, SEEK_END) != 0) return -1;
  off_t length = ftello(file);
  if (length < 0 || fseeko(file, 0, SEEK_SET) != 0) return -1;
  return static_cast<int64_t>(length);
}

void store_be32(unsigned char* at, uint32_t value) {
  at[0] = static_cast<unsigned char>(value >> 24);
  at[1] = static_cast<unsigned char>(value >> 16);
  at[2] = static_cast<unsigned char>(value >> 8);
  at[3] = static_cast<unsigned char>(value);
}

}  // namespace

void initHdTemplates(void) {
  memcpy(g_pjl, kPjlText, kPjlSize);
  memcpy(g_img, kImgTemplate, kImgSize);
  memcpy(g_cms1, kCms1Template, kCmsSize);
  memcpy(g_cms2, kCms2Template, kCmsSize);
}

int writeHdData(FILE* out, const char* profilePath, int type) {
  if (out == nullptr || profilePath == nullptr || (type != 1 && type != 2)) return kHdNotBuilt;
  UniqueFile profile = open_profile(profilePath);
  if (profile == nullptr) return kHdNotBuilt;
  int64_t measured = profile_length(profile.get());
  if (measured < 0) return kHdNotBuilt;
  initHdTemplates();

  // The profile padded to whole pages, behind the 8-byte tag.
  uint64_t length = static_cast<uint64_t>(measured);
  uint64_t padded = (length + kPage - 1) / kPage * kPage;
  uint64_t payload_size = kCmsSize + padded;
  if (payload_size + 2 > kMaxLengthField || payload_size > SIZE_MAX) return kHdNotBuilt;
  size_t size = static_cast<size_t>(payload_size);
  UniqueMalloc<unsigned char> payload(static_cast<unsigned char*>(malloc(size)));
  if (payload == nullptr) return kHdNotBuilt;
  prefer_huge_pages(payload.get(), size);

  unsigned char* data = payload.get();
  memcpy(data, type == 2 ? g_cms2 : g_cms1, kCmsSize);
  unsigned char* contents = data + kCmsSize;
  // Read in pieces, adding each piece's words while it is still in the cache. A profile that
  // shrank after it was measured would leave a hole: no block from it.
  WordSum sum;
  size_t summed = 0;
  for (uint64_t done = 0; done < length;) {
    size_t piece = static_cast<size_t>(std::min<uint64_t>(kReadPiece, length - done));
    if (fread(contents + done, 1, piece, profile.get()) != piece) return kHdNotBuilt;
    done += piece;
    size_t even = (kCmsSize + static_cast<size_t>(done) - summed) & ~size_t{1};
    add_words(sum, data + summed, even);
    summed += even;
  }
  memset(contents + length, kFill, static_cast<size_t>(padded - length));
  add_words(sum, data + summed, size - summed);
  profile.reset();

  store_be32(g_img + kImgLengthOffset, static_cast<uint32_t>(payload_size + 2));
  // The profile's bytes 84 to 91, as far as the file has them; the payload holds them
  // unchanged, and where the file ends the template bytes stay.
  if (length > kProfileFieldOffset) {
    uint64_t count = length - kProfileFieldOffset;
    if (count > kProfileFieldSize) count = kProfileFieldSize;
    memcpy(g_img + kImgProfileOffset, contents + kProfileFieldOffset, static_cast<size_t>(count));
  }

  uint16_t checksum = checksum_of(sum);
  const unsigned char tail[2] = {static_cast<unsigned char>(checksum >> 8),
                                 static_cast<unsigned char>(checksum & 0xFF)};
  // The block leaves through the same write loop as the job, straight to the descriptor behind
  // the stream: interrupted, partial and would-block writes are completed, and a cancellation
  // or a failure stops it the same way.
  if (fflush(out) != 0) return kHdWriteFailed;
  const int fd = fileno(out);
  bool written = fd >= 0 && write_all(fd, g_pjl, kPjlSize) && write_all(fd, g_img, kImgSize) &&
                 write_all(fd, data, size) && write_all(fd, tail, sizeof(tail));
  return written ? kHdWritten : kHdWriteFailed;
}
