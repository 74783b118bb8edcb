// The HD data block writer: byte format, fill, checksum, $IMG fields and every way a block
// can fail to be built or written.
#include "colour/hd_data.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "support/bytes.h"
#include "support/hd_block.h"
#include "support/paths.h"

namespace {

std::string hex_bytes(std::initializer_list<int> values) {
  std::string bytes;
  for (int v : values) bytes.push_back(static_cast<char>(v));
  return bytes;
}

// Collects what a stream receives, in an unnamed file: the writer writes to the descriptor
// behind the stream, as it does to standard output.
class MemoryStream {
 public:
  MemoryStream() : stream_(tmpfile()) {}
  ~MemoryStream() {
    if (stream_ != nullptr) fclose(stream_);
  }
  FILE* get() { return stream_; }
  std::string bytes() { return stream_bytes(stream_); }

 private:
  FILE* stream_;
};

WrittenHdBlock block_of(const std::string& profile, int type = 1) {
  TempDir dir;
  std::string path = dir.file("profile.ucs");
  EXPECT_TRUE(write_file(path, profile));
  return write_hd_block(path, type);
}

TEST(HdData, EmptyProfileIsHeadersTagAndChecksum) {
  WrittenHdBlock block = block_of("");
  ASSERT_EQ(block.result, 1);
  std::string expected =
      kHdPjlHeader +
      hex_bytes({0x24, 0x49, 0x4D, 0x47, 0xFF, 0xFF, 0xFF, 0xFF, 0x00, 0x00, 0x00, 0x0A,
                 0x04, 0x00, 0x00, 0x0E, 0x00, 0x0C, 0x00, 0x02, 0x00, 0x00, 0x00, 0x00}) +
      hex_bytes({0x24, 0x43, 0x4D, 0x53, 0x01, 0x00, 0x00, 0x01}) + hex_bytes({0x33, 0x0E});
  EXPECT_EQ(block.bytes.size(), 82u);
  EXPECT_EQ(block.bytes, expected);
}

TEST(HdData, EmptyProfileOfTypeTwoHasItsOwnTagAndChecksum) {
  WrittenHdBlock block = block_of("", 2);
  ASSERT_EQ(block.result, 1);
  ASSERT_EQ(block.bytes.size(), 82u);
  EXPECT_EQ(block.bytes.substr(72, 8), hex_bytes({0x24, 0x43, 0x4D, 0x53, 0xFF, 0x01, 0x00, 0x01}));
  EXPECT_EQ(block.bytes.substr(80), hex_bytes({0x35, 0x0D}));
}

TEST(HdData, OneZeroByteIsFilledToAPage) {
  WrittenHdBlock block = block_of(std::string(1, '\0'));
  ASSERT_EQ(block.result, 1);
  ASSERT_EQ(block.bytes.size(), 4178u);
  EXPECT_EQ(read_hd_block(block.bytes).pjl, kHdPjlHeader);
  EXPECT_EQ(read_hd_block(block.bytes).length, 0x100Au);
  EXPECT_EQ(read_hd_block(block.bytes).img_fields, kHdImgTemplate);
  EXPECT_EQ(block.bytes[80], '\0');
  EXPECT_EQ(block.bytes.substr(81, 4095), std::string(4095, '\xFF'));
  EXPECT_EQ(block.bytes.substr(4176), hex_bytes({0x3A, 0x0E}));
}

TEST(HdData, LengthFieldAndFillFollowTheProfileLength) {
  struct Case {
    size_t length;
    size_t block_size;
    uint32_t length_field;
  };
  const Case cases[] = {
      {0, 82, 0x0A},        {1, 4178, 0x100A},    {4095, 4178, 0x100A}, {4096, 4178, 0x100A},
      {4097, 8274, 0x200A}, {8191, 8274, 0x200A}, {8192, 8274, 0x200A}, {8193, 12370, 0x300A},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE("profile length " + std::to_string(c.length));
    std::string profile = pseudo_random_bytes(c.length, static_cast<unsigned>(c.length));
    WrittenHdBlock block = block_of(profile);
    ASSERT_EQ(block.result, 1);
    ASSERT_EQ(block.bytes.size(), c.block_size);
    EXPECT_EQ(read_hd_block(block.bytes).length, c.length_field);
    // The length field counts the payload and the two checksum bytes.
    EXPECT_EQ(c.length_field, c.block_size - kHdHeadersSize);
    EXPECT_EQ(block.bytes.substr(80, c.length), profile);
    size_t fill = c.block_size - 82 - c.length;
    EXPECT_EQ(block.bytes.substr(80 + c.length, fill), std::string(fill, '\xFF'));
  }
}

TEST(HdData, ImgHeaderTakesProfileBytes84To91AsFarAsTheyExist) {
  for (size_t length : {0u, 83u, 84u, 85u, 88u, 91u, 92u, 100u, 5000u}) {
    SCOPED_TRACE("profile length " + std::to_string(length));
    std::string profile = pseudo_random_bytes(length, 7);
    // No 0xFF in the profile, so a field taken from the fill would show.
    for (auto& c : profile) {
      if (c == '\xFF') c = 'x';
    }
    WrittenHdBlock block = block_of(profile);
    ASSERT_EQ(block.result, 1);
    size_t present = length > 84 ? std::min<size_t>(length - 84, 8) : 0;
    std::string expected =
        profile.substr(std::min<size_t>(length, 84), present) + kHdImgTemplate.substr(present);
    EXPECT_EQ(block.bytes.substr(48 + 12, 8), expected);
    EXPECT_EQ(block.bytes.substr(48, 8),
              hex_bytes({0x24, 0x49, 0x4D, 0x47, 0xFF, 0xFF, 0xFF, 0xFF}));
    EXPECT_EQ(block.bytes.substr(48 + 20, 4), std::string(4, '\0'));
  }
}

TEST(HdData, ProfileOf100BytesMatchesTheReferenceBlocks) {
  const std::string profile = std::string(TEST_DATA_DIR) + "/preload/profile100.ucs";
  ASSERT_EQ(read_file(profile).size(), 100u);
  // The reference blocks were computed by a separate implementation of the format.
  for (int type : {1, 2}) {
    SCOPED_TRACE("type " + std::to_string(type));
    WrittenHdBlock block = write_hd_block(profile, type);
    ASSERT_EQ(block.result, 1);
    EXPECT_EQ(block.bytes, read_file(std::string(TEST_DATA_DIR) + "/preload/profile100-type" +
                                     std::to_string(type) + ".block"));
    EXPECT_EQ(block.bytes.substr(48 + 12, 8), read_file(profile).substr(84, 8));
    // The block reader of the other tests agrees with the reference.
    EXPECT_EQ(hd_block_mismatch(block.bytes, read_file(profile), type), "");
  }
}

TEST(HdData, PayloadWordsAndChecksumAddUpToA5A5) {
  unsigned seed = 1;
  for (size_t length : {0u, 1u, 2u, 3u, 2047u, 2048u, 2049u, 4095u, 4096u, 4097u, 70000u,
                        (1u << 20) - 9, 1u << 20, (1u << 20) + 1, (3u << 20) + 3}) {
    for (int type : {1, 2}) {
      SCOPED_TRACE("length " + std::to_string(length) + " type " + std::to_string(type));
      WrittenHdBlock block = block_of(pseudo_random_bytes(length, seed++), type);
      ASSERT_EQ(block.result, 1);
      EXPECT_EQ(read_hd_block(block.bytes).word_sum, 0xA5A5u);
    }
  }
  // Sums that wrap many times: all bytes 0xFF and all bytes 0x00.
  EXPECT_EQ(read_hd_block(block_of(std::string(65536, '\xFF')).bytes).word_sum, 0xA5A5u);
  EXPECT_EQ(read_hd_block(block_of(std::string(65536, '\0')).bytes).word_sum, 0xA5A5u);
}

TEST(HdData, SecondBlockCarriesNothingOfTheFirst) {
  TempDir dir;
  std::string first = dir.file("first.ucs");
  std::string second = dir.file("second.ucs");
  ASSERT_TRUE(write_file(first, pseudo_random_bytes(5000, 3)));
  ASSERT_TRUE(write_file(second, "short"));
  MemoryStream out;
  ASSERT_EQ(writeHdData(out.get(), first.c_str(), 2), 1);
  ASSERT_EQ(writeHdData(out.get(), second.c_str(), 1), 1);
  std::string both = out.bytes();
  WrittenHdBlock alone_first = write_hd_block(first, 2);
  WrittenHdBlock alone_second = write_hd_block(second, 1);
  ASSERT_EQ(both.size(), alone_first.bytes.size() + alone_second.bytes.size());
  EXPECT_EQ(both.substr(0, alone_first.bytes.size()), alone_first.bytes);
  std::string tail = both.substr(alone_first.bytes.size());
  EXPECT_EQ(tail, alone_second.bytes);
  EXPECT_EQ(read_hd_block(tail).length, 0x100Au);
  EXPECT_EQ(read_hd_block(tail).img_fields, kHdImgTemplate);
}

TEST(HdData, OutputStreamStaysOpenForTheJob) {
  TempDir dir;
  std::string path = dir.file("p.ucs");
  ASSERT_TRUE(write_file(path, "abc"));
  MemoryStream out;
  ASSERT_EQ(writeHdData(out.get(), path.c_str(), 1), 1);
  EXPECT_EQ(fputs("job", out.get()), 1);
  std::string bytes = out.bytes();
  EXPECT_EQ(bytes.substr(bytes.size() - 3), "job");
}

TEST(HdData, MissingProfileOrUnknownTypeWritesNothing) {
  TempDir dir;
  std::string path = dir.file("p.ucs");
  ASSERT_TRUE(write_file(path, "abc"));
  WrittenHdBlock missing = write_hd_block(dir.file("absent.ucs"), 1);
  EXPECT_EQ(missing.result, 0);
  EXPECT_EQ(missing.bytes, "");
  for (int type : {0, 3, -1, 256}) {
    SCOPED_TRACE("type " + std::to_string(type));
    WrittenHdBlock block = write_hd_block(path, type);
    EXPECT_EQ(block.result, 0);
    EXPECT_EQ(block.bytes, "");
  }
}

TEST(HdData, ProfileThatIsNotARegularFileWritesNothing) {
  TempDir dir;
  std::string fifo = dir.file("fifo.ucs");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0644), 0);
  // A directory opens on Linux but cannot be read; a FIFO without a writer must not block.
  for (const std::string& path : {dir.path(), fifo, std::string("/dev/null")}) {
    SCOPED_TRACE(path);
    WrittenHdBlock block = write_hd_block(path, 1);
    EXPECT_EQ(block.result, 0);
    EXPECT_EQ(block.bytes, "");
  }
}

TEST(HdData, ProfileShorterThanItsMeasuredLengthWritesNothing) {
  // A sysfs attribute reports a length of a page but reads as a few bytes: the same as a
  // profile that shrinks between measuring and reading.
  const char* path = "/sys/devices/system/cpu/online";
  struct stat st;
  if (stat(path, &st) != 0 || !S_ISREG(st.st_mode) ||
      static_cast<size_t>(st.st_size) <= read_file(path).size()) {
    GTEST_SKIP() << path << " does not read shorter than its length here";
  }
  WrittenHdBlock block = write_hd_block(path, 1);
  EXPECT_EQ(block.result, 0);
  EXPECT_EQ(block.bytes, "");
}

// A file of the given size that takes no disk space.
bool make_sparse_file(const std::string& path, off_t size) {
  int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0) return false;
  bool sized = ftruncate(fd, size) == 0;
  return close(fd) == 0 && sized;
}

TEST(HdData, ProfileTooLargeForTheLengthFieldWritesNothing) {
  // 4 GiB of profile cannot be stated in the 32-bit length field. The file is sparse.
  TempDir dir;
  std::string path = dir.file("huge.ucs");
  ASSERT_TRUE(make_sparse_file(path, off_t{1} << 32));
  WrittenHdBlock block = write_hd_block(path, 1);
  EXPECT_EQ(block.result, 0);
  EXPECT_EQ(block.bytes, "");
}

#if defined(__SANITIZE_ADDRESS__)
#define ZORV_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define ZORV_ASAN 1
#endif
#endif

#ifndef ZORV_ASAN
// Runs in the death-test child: limits the address space, then exits 0 when the writer
// refused the profile and wrote nothing.
[[noreturn]] void write_under_memory_limit(const std::string& path) {
  constexpr rlim_t kLimit = rlim_t{256} << 20;
  struct rlimit limit = {kLimit, kLimit};
  setrlimit(RLIMIT_AS, &limit);
  MemoryStream out;
  int result = writeHdData(out.get(), path.c_str(), 1);
  _exit(result == 0 && out.bytes().empty() ? 0 : 1);
}
#endif

TEST(HdDataDeathTest, FailedAllocationWritesNothing) {
#ifdef ZORV_ASAN
  GTEST_SKIP() << "the address sanitizer cannot run under an address-space limit";
#else
  // A sparse 1 GiB profile in a child process whose address space is limited to 256 MiB.
  TempDir dir;
  std::string path = dir.file("big.ucs");
  ASSERT_TRUE(make_sparse_file(path, off_t{1} << 30));
  EXPECT_EXIT(write_under_memory_limit(path), ::testing::ExitedWithCode(0), "");
#endif
}

TEST(HdData, FailedWriteIsReported) {
  TempDir dir;
  std::string path = dir.file("p.ucs");
  ASSERT_TRUE(write_file(path, pseudo_random_bytes(10000, 5)));
  FILE* full = fopen("/dev/full", "w");
  ASSERT_NE(full, nullptr);
  EXPECT_EQ(writeHdData(full, path.c_str(), 1), kHdWriteFailed);
  fclose(full);

  // A pipe whose reader is gone, with SIGPIPE ignored as the filter does.
  signal(SIGPIPE, SIG_IGN);
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  close(fds[0]);
  FILE* pipe_out = fdopen(fds[1], "w");
  ASSERT_NE(pipe_out, nullptr);
  setbuf(pipe_out, nullptr);
  EXPECT_EQ(writeHdData(pipe_out, path.c_str(), 1), kHdWriteFailed);
  fclose(pipe_out);
}

}  // namespace
