// The HD data block writer: byte format, fill, checksum, $IMG fields and every way a block
// can fail to be built or written.
#include "colour/hd_data.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
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

// The address and thread sanitizers map shadow memory far beyond any address-space limit.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define ZORV_SHADOW_SANITIZER 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define ZORV_SHADOW_SANITIZER 1
#endif
#endif

#ifndef ZORV_SHADOW_SANITIZER
// Counts what a sink gets and keeps its last two bytes.
struct CountingSink {
  uint64_t size = 0;
  std::string tail;
};

bool count_bytes(void* context, const void* bytes, size_t count) {
  CountingSink* sink = static_cast<CountingSink*>(context);
  const char* data = static_cast<const char*>(bytes);
  sink->size += count;
  for (size_t i = count > 2 ? count - 2 : 0; i < count; i++) sink->tail += data[i];
  if (sink->tail.size() > 2) sink->tail.erase(0, sink->tail.size() - 2);
  return true;
}

// Runs in the death-test child: limits the address space to 256 MiB, then exits 0 when the
// block of the zero profile at path, size bytes (whole pages), went whole through a sink: as
// long as its length field says, closed by the checksum of the type 1 tag alone, 33 0E.
[[noreturn]] void write_under_memory_limit(const std::string& path, uint64_t size) {
  constexpr rlim_t kLimit = rlim_t{256} << 20;
  struct rlimit limit = {kLimit, kLimit};
  setrlimit(RLIMIT_AS, &limit);
  CountingSink sink;
  const int result = writeHdBlockTo(count_bytes, &sink, path.c_str(), 1);
  _exit(result == kHdWritten && sink.size == hd_block_size(size) &&
                sink.tail == hex_bytes({0x33, 0x0E})
            ? 0
            : 1);
}
#endif

TEST(HdDataDeathTest, ProfileLargerThanTheAddressSpaceIsWrittenInPieces) {
#ifdef ZORV_SHADOW_SANITIZER
  GTEST_SKIP() << "a sanitizer with shadow memory cannot run under an address-space limit";
#else
  // A sparse 512 MiB profile in a child process whose address space is limited to 256 MiB:
  // the block of a profile of any size takes one piece of memory.
  TempDir dir;
  std::string path = dir.file("big.ucs");
  constexpr uint64_t kSize = uint64_t{512} << 20;
  ASSERT_TRUE(make_sparse_file(path, static_cast<off_t>(kSize)));
  EXPECT_EXIT(write_under_memory_limit(path, kSize), ::testing::ExitedWithCode(0), "");
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

// --- The descriptor and sink writers -----------------------------------------------------

const HdWriter kWriters[] = {HdWriter::kStream, HdWriter::kDescriptor, HdWriter::kSink};

std::string writer_name(HdWriter writer) {
  return writer == HdWriter::kStream       ? "stream"
         : writer == HdWriter::kDescriptor ? "descriptor"
                                           : "sink";
}

TEST(HdData, EveryWriterWritesTheSameBlockInPiecesTheSinkCanTake) {
  unsigned seed = 11;
  for (size_t length : {size_t{0}, size_t{1}, size_t{100}, size_t{4097}, size_t{100000},
                        kHdPiece - 1, kHdPiece, kHdPiece + 1, 2 * kHdPiece + 4097}) {
    const std::string profile = pseudo_random_bytes(length, seed++);
    TempDir dir;
    const std::string path = dir.file("profile.ucs");
    ASSERT_TRUE(write_file(path, profile));
    for (int type : {1, 2}) {
      for (HdWriter writer : kWriters) {
        SCOPED_TRACE("length " + std::to_string(length) + " type " + std::to_string(type) + " " +
                     writer_name(writer));
        WrittenHdBlock block = write_hd_block(path, type, writer);
        ASSERT_EQ(block.result, kHdWritten);
        EXPECT_EQ(hd_block_mismatch(block.bytes, profile, type), "");
        EXPECT_EQ(block.bytes.size(), hd_block_size(length));
        EXPECT_LE(block.largest_piece, kHdSinkPiece);
      }
    }
  }
}

TEST(HdData, EveryWriterRefusesWhatItCannotBuildAndWritesNothing) {
  TempDir dir;
  const std::string fifo = dir.file("fifo.ucs");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0644), 0);
  const std::string profile = dir.file("p.ucs");
  ASSERT_TRUE(write_file(profile, "abc"));
  const struct {
    std::string path;
    int type;
  } cases[] = {{dir.file("absent.ucs"), 1}, {fifo, 1}, {dir.path(), 1}, {profile, 3}};
  for (const auto& c : cases) {
    for (HdWriter writer : kWriters) {
      SCOPED_TRACE(c.path + " type " + std::to_string(c.type) + " " + writer_name(writer));
      WrittenHdBlock block = write_hd_block(c.path, c.type, writer);
      EXPECT_EQ(block.result, kHdNotBuilt);
      EXPECT_EQ(block.bytes, "");
      EXPECT_EQ(block.pieces, 0u);
    }
  }
  EXPECT_EQ(writeHdBlock(-1, profile.c_str(), 1), kHdNotBuilt);
  EXPECT_EQ(writeHdBlockTo(nullptr, nullptr, profile.c_str(), 1), kHdNotBuilt);
}

// A sink that takes two pieces and refuses the third.
bool take_two_pieces(void* context, const void*, size_t) {
  return ++*static_cast<int*>(context) <= 2;
}

TEST(HdData, SinkThatRefusesAPieceEndsTheBlock) {
  TempDir dir;
  const std::string path = dir.file("p.ucs");
  ASSERT_TRUE(write_file(path, pseudo_random_bytes(300000, 4)));
  int calls = 0;
  EXPECT_EQ(writeHdBlockTo(take_two_pieces, &calls, path.c_str(), 1), kHdWriteFailed);
  EXPECT_EQ(calls, 3);
}

// Rewrites the file in place with every byte turned over: its length never changes.
void turn_bytes_over(const std::string& path) {
  std::string bytes = read_file(path);
  for (char& c : bytes) c = static_cast<char>(~c);
  int fd = open(path.c_str(), O_WRONLY | O_CLOEXEC);
  ASSERT_GE(fd, 0);
  EXPECT_EQ(pwrite(fd, bytes.data(), bytes.size(), 0), static_cast<ssize_t>(bytes.size()));
  close(fd);
}

// The profile changes after the first bytes of its block have left. A profile shorter than a
// piece was read whole before that and its block is unchanged. Of a longer one, the pieces
// already read have left and the rest of the block does not: no checksum follows, so the
// output never holds a whole block of two contents. A profile removed or replaced by another
// file is still read whole through the open descriptor.
TEST(HdData, ProfileChangedWhileItsBlockIsWrittenGivesItsBlockOrAPrefixOfIt) {
  enum Outcome { kWhole, kPrefix };
  struct Change {
    const char* name;
    std::function<void(const std::string&)> make;
    Outcome long_profile;
  };
  const Change changes[] = {
      {"rewritten in place", turn_bytes_over, kPrefix},
      {"cut to half",
       [](const std::string& path) {
         ASSERT_EQ(truncate(path.c_str(), static_cast<off_t>(read_file(path).size() / 2)), 0);
       },
       kPrefix},
      {"grown", [](const std::string& path) { std::ofstream(path, std::ios::app) << "more"; },
       kPrefix},
      {"removed", [](const std::string& path) { ASSERT_EQ(unlink(path.c_str()), 0); }, kWhole},
      {"replaced by a FIFO",
       [](const std::string& path) {
         ASSERT_EQ(unlink(path.c_str()), 0);
         ASSERT_EQ(mkfifo(path.c_str(), 0644), 0);
       },
       kWhole},
  };
  for (size_t length : {size_t{100000}, 2 * kHdPiece + 5}) {
    const std::string profile = pseudo_random_bytes(length, 9);
    const std::string block = block_of(profile).bytes;
    ASSERT_EQ(hd_block_mismatch(block, profile), "");
    for (const Change& change : changes) {
      SCOPED_TRACE(std::string(change.name) + ", profile of " + std::to_string(length));
      TempDir dir;
      const std::string path = dir.file("p.ucs");
      ASSERT_TRUE(write_file(path, profile));
      ASSERT_TRUE(backdate_file(path));
      WrittenHdBlock written = write_hd_block(path, 1, HdWriter::kSink, [&] { change.make(path); });
      const Outcome outcome = length < kHdPiece ? kWhole : change.long_profile;
      if (outcome == kWhole) {
        EXPECT_EQ(written.result, kHdWritten);
        EXPECT_EQ(hd_block_mismatch(written.bytes, profile), "");
      } else {
        EXPECT_EQ(written.result, kHdWriteFailed);
        EXPECT_LT(written.bytes.size(), hd_block_size(length));
        EXPECT_TRUE(written.bytes == block.substr(0, written.bytes.size()));
        EXPECT_EQ(read_hd_block(written.bytes).size, 0u) << "a whole block";
      }
    }
  }
}

TEST(HdData, TwoThreadsWriteTwoBlocksAtOnce) {
  TempDir dir;
  const struct {
    std::string profile;
    int type;
  } jobs[] = {{pseudo_random_bytes(kHdPiece + 300, 21), 2}, {pseudo_random_bytes(90000, 22), 1}};
  const std::string paths[2] = {dir.file("p0.ucs"), dir.file("p1.ucs")};
  ASSERT_TRUE(write_file(paths[0], jobs[0].profile));
  ASSERT_TRUE(write_file(paths[1], jobs[1].profile));
  std::string mismatches[2];
  std::thread threads[2];
  for (int i = 0; i < 2; i++) {
    threads[i] = std::thread([&, i] {
      const std::string& path = paths[i];
      for (int round = 0; round < 20; round++) {
        WrittenHdBlock block = write_hd_block(path, jobs[i].type, HdWriter::kSink);
        mismatches[i] += hd_block_mismatch(block.bytes, jobs[i].profile, jobs[i].type);
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(mismatches[0], "");
  EXPECT_EQ(mismatches[1], "");
}

}  // namespace
