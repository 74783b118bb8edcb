// Hex dumps: row layout, titles, short rows, long dumps, and the log and stdout variants.
#include <cstdio>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "log/log.h"
#include "support/capture.h"
#include "support/paths.h"
#include "support/text.h"

namespace {

std::string dump(const std::string& bytes, const char* title) {
  char* text = nullptr;
  size_t size = 0;
  FILE* stream = open_memstream(&text, &size);
  EXPECT_EQ(hexdump(stream, reinterpret_cast<const unsigned char*>(bytes.data()),
                    static_cast<int>(bytes.size()), title),
            0);
  fclose(stream);
  std::string result(text, size);
  free(text);
  return result;
}

TEST(Hexdump, MatchesTheReferenceLayout) {
  std::string bytes = "GET status\r\n";
  bytes += std::string("\x00\x01\x7f\x80\xff", 5);
  bytes += "~ 0A";
  EXPECT_EQ(dump(bytes, "reply"),
            "\nreply begin {\n"
            "000000  47 45 54 20  73 74 61 74  75 73 0d 0a  00 01 7f 80  GET status......\n"
            "000010  ff 7e 20 30  41                                     .~ 0A\n"
            "reply end   }\n\n");
}

TEST(Hexdump, RowBoundaries) {
  EXPECT_EQ(dump("", "t"), "\nt begin {\nt end   }\n\n");
  EXPECT_EQ(dump("", nullptr), "");

  std::vector<std::string> rows = split_lines(dump(std::string(16, 'a'), nullptr));
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0].size(), 76u);

  rows = split_lines(dump(std::string(17, 'b'), nullptr));
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[1].size(), 61u);
  EXPECT_EQ(rows[1][60], 'b');
  EXPECT_EQ(rows[1].substr(0, 12), "000010  62  ");
}

TEST(Hexdump, NonPrintableBytesShowAsFullStops) {
  std::string bytes;
  for (int b : {31, 32, 126, 127, 0, 255}) bytes.push_back(static_cast<char>(b));
  std::vector<std::string> rows = split_lines(dump(bytes, nullptr));
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0].substr(60), ". ~...");
}

TEST(Hexdump, NullStreamFails) {
  EXPECT_EQ(hexdump(nullptr, reinterpret_cast<const unsigned char*>("x"), 1, "t"), -1);
}

TEST(Hexdump, DumpsBeyondSixteenMebibytesKeepEveryRowAligned) {
  const int length = 0x1000000 + 20;
  std::string bytes(length, 'z');
  std::string text = dump(bytes, nullptr);
  std::vector<std::string> rows = split_lines(text);
  ASSERT_EQ(rows.size(), static_cast<size_t>(length / 16 + 1));
  const size_t full = rows.front().size();
  EXPECT_EQ(rows.front().substr(0, 10), "00000000  ");
  EXPECT_EQ(rows[rows.size() - 2].substr(0, 10), "01000000  ");
  EXPECT_EQ(rows[rows.size() - 2].size(), full);
  // The short last row keeps its characters in the same column as the full rows.
  EXPECT_EQ(rows.back().find('z'), full - 16);
  EXPECT_EQ(rows.back().substr(0, 10), "01000010  ");
}

TEST(Hexdump, StdoutVariantsWriteToStandardOutput) {
  StreamCapture out(stdout);
  const unsigned char bytes[] = {'h', 'i'};
  EXPECT_EQ(xdump(bytes, 2), 0);
  EXPECT_EQ(hexdump_stdout(bytes, 2, "s"), 0);
  const std::string text = out.finish();
  std::string row = "000000  68 69" + std::string(47, ' ') + "hi\n";
  EXPECT_EQ(text, row + "\ns begin {\n" + row + "s end   }\n\n");
}

TEST(Hexdump, LogDumpIgnoresTheFilterAndNeverFlushes) {
  TempDir dir;
  std::string path = dir.file("dump.log");
  log_open(0, path.c_str());
  log_flush_mode = 1;
  const unsigned char bytes[] = {0x41};
  EXPECT_EQ(log_hexdump(bytes, 1, "x"), 0);
  EXPECT_EQ(read_file(path), "");
  log_close();
  log_flush_mode = 0;
  EXPECT_EQ(read_file(path), "\nx begin {\n000000  41" + std::string(50, ' ') + "A\nx end   }\n\n");
  EXPECT_EQ(log_hexdump(bytes, 1, "x"), 0);
}

}  // namespace
