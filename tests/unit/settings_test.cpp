// The settings line reader: sources, results, line pieces and the newline rule.
#include "log/settings.h"

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "support/paths.h"

namespace {

struct Seen {
  std::vector<std::string> lines;
  int accept_at = -1;  // index of the line to accept, -1 for none
  int accept_value = 1;
};

int record(char* line, void* context) {
  auto* seen = static_cast<Seen*>(context);
  seen->lines.emplace_back(line);
  return static_cast<int>(seen->lines.size()) - 1 == seen->accept_at ? seen->accept_value : 0;
}

int never_called(char*, void*) {
  ADD_FAILURE() << "callback called";
  return 0;
}

class SettingsReader : public ::testing::Test {
 protected:
  std::string source(const std::string& bytes) {
    const std::string path = dir_.file("settings" + std::to_string(count_++));
    EXPECT_TRUE(write_file(path, bytes));
    return path;
  }
  TempDir dir_;
  int count_ = 0;
};

TEST_F(SettingsReader, NullPathOrCallbackIsRefused) {
  Seen seen;
  EXPECT_EQ(read_settings(nullptr, record, &seen), -3);
  EXPECT_EQ(read_settings(source("A=1\n").c_str(), nullptr, &seen), -3);
  EXPECT_TRUE(seen.lines.empty());
}

TEST_F(SettingsReader, MissingFileCannotBeOpened) {
  EXPECT_EQ(read_settings(dir_.file("absent").c_str(), never_called, nullptr), -1);
}

TEST_F(SettingsReader, UnreadableFileCannotBeOpened) {
  const std::string path = source("A=1\n");
  chmod(path.c_str(), 0);
  if (!running_as_root()) {
    EXPECT_EQ(read_settings(path.c_str(), never_called, nullptr), -1);
    return;
  }
  // Root reads every file: the reading is done by a child that gave up root.
  chmod(dir_.path().c_str(), 0755);
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    if (setgid(65534) != 0 || setuid(65534) != 0) _exit(99);
    _exit(read_settings(path.c_str(), never_called, nullptr) == -1 ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
}

TEST_F(SettingsReader, DirectoryIsAReadError) {
  // fopen succeeds on a directory and the first read fails with EISDIR.
  EXPECT_EQ(read_settings(dir_.path().c_str(), never_called, nullptr), -2);
}

TEST_F(SettingsReader, EmptyFileGivesNoLine) {
  EXPECT_EQ(read_settings(source("").c_str(), never_called, nullptr), 0);
}

TEST_F(SettingsReader, LinesArriveInOrderWithTheirNewlines) {
  Seen seen;
  EXPECT_EQ(read_settings(source("A=1\n\nB=2\r\nC=3").c_str(), record, &seen), 0);
  EXPECT_EQ(seen.lines, (std::vector<std::string>{"A=1\n", "\n", "B=2\r\n", "C=3"}));
}

TEST_F(SettingsReader, AcceptedLineStopsTheReading) {
  Seen seen;
  seen.accept_at = 2;
  EXPECT_EQ(read_settings(source("1\n2\n3\n4\n5\n").c_str(), record, &seen), 1);
  EXPECT_EQ(seen.lines.size(), 3u);
}

TEST_F(SettingsReader, CallbackValuesMapToResults) {
  const std::string path = source("only\n");
  const struct {
    int returned;
    int result;
  } table[] = {{1, 1}, {-1, 1}, {-2, 1}, {-3, 1}, {2, 2}, {7, 7}, {-4, -4}, {-100, -100}};
  for (const auto& row : table) {
    SCOPED_TRACE("callback returns " + std::to_string(row.returned));
    Seen seen;
    seen.accept_at = 0;
    seen.accept_value = row.returned;
    EXPECT_EQ(read_settings(path.c_str(), record, &seen), row.result);
  }
}

TEST_F(SettingsReader, LongLineArrivesInPieces) {
  Seen seen;
  EXPECT_EQ(read_settings(source(std::string(1500, 'x') + "\n").c_str(), record, &seen), 0);
  ASSERT_EQ(seen.lines.size(), 2u);
  EXPECT_EQ(seen.lines[0], std::string(1023, 'x'));
  EXPECT_EQ(seen.lines[1], std::string(477, 'x') + "\n");
}

TEST_F(SettingsReader, LineAtTheBufferEdges) {
  for (size_t length : {1021u, 1022u, 1023u, 1024u}) {
    SCOPED_TRACE("line of " + std::to_string(length) + " characters and a newline");
    Seen seen;
    read_settings(source(std::string(length, 'y') + "\n").c_str(), record, &seen);
    std::string joined;
    for (const auto& line : seen.lines) {
      EXPECT_LE(line.size(), 1023u);
      joined += line;
    }
    EXPECT_EQ(joined, std::string(length, 'y') + "\n");
    EXPECT_EQ(seen.lines.size(), length + 1 <= 1023 ? 1u : 2u);
  }
}

TEST_F(SettingsReader, HugeFileIsReadToItsEnd) {
  std::string bytes;
  for (int i = 0; i < 20000; ++i)
    bytes += "KEY" + std::to_string(i) + "=" + std::string(100, 'v') + "\n";
  Seen seen;
  EXPECT_EQ(read_settings(source(bytes).c_str(), record, &seen), 0);
  EXPECT_EQ(seen.lines.size(), 20000u);
}

TEST_F(SettingsReader, BinaryFileLinesEndAtNewlinesOnly) {
  const std::string bytes("\x01\xff\x00zz\n\x7f", 7);
  Seen seen;
  EXPECT_EQ(read_settings(source(bytes).c_str(), record, &seen), 0);
  // A zero byte ends the text the callback sees; the bytes are still consumed.
  EXPECT_EQ(seen.lines, (std::vector<std::string>{"\x01\xff", "\x7f"}));
}

TEST_F(SettingsReader, EveryPrefixOfASourceIsRead) {
  const std::string bytes = "A=1\r\nSNMP_COMMUNITY=x\n\nlast";
  for (size_t n = 0; n <= bytes.size(); ++n) {
    SCOPED_TRACE("prefix of " + std::to_string(n) + " bytes");
    Seen seen;
    EXPECT_EQ(read_settings(source(bytes.substr(0, n)).c_str(), record, &seen), 0);
    std::string joined;
    for (const auto& line : seen.lines) joined += line;
    EXPECT_EQ(joined, bytes.substr(0, n));
  }
}

TEST(SettingsCommand, OutputLinesOfTheCommand) {
  Seen seen;
  EXPECT_EQ(read_settings("exec:printf 'A=1\\nB=2\\n'", record, &seen), 0);
  EXPECT_EQ(seen.lines, (std::vector<std::string>{"A=1\n", "B=2\n"}));
}

TEST(SettingsCommand, EmptyCommandPrintsNothing) {
  EXPECT_EQ(read_settings("exec:", never_called, nullptr), 0);
}

TEST(SettingsCommand, FailingCommandOnlyYieldsNoLines) {
  Seen seen;
  EXPECT_EQ(read_settings("exec:exit 3", record, &seen), 0);
  EXPECT_EQ(read_settings("exec:/nonexistent/command 2>/dev/null", record, &seen), 0);
  EXPECT_TRUE(seen.lines.empty());
}

TEST(SettingsCommand, LinesBeforeAFailureStillCount) {
  Seen seen;
  seen.accept_at = 0;
  EXPECT_EQ(read_settings("exec:echo SNMP_COMMUNITY=x; exit 1", record, &seen), 1);
  EXPECT_EQ(seen.lines, (std::vector<std::string>{"SNMP_COMMUNITY=x\n"}));
}

TEST(SettingsCommand, UpperCasePrefixIsAFileName) {
  EXPECT_EQ(read_settings("EXEC:echo hi", never_called, nullptr), -1);
}

TEST(StripNewline, RemovesOneTrailingNewlineOnly) {
  const struct {
    const char* in;
    const char* out;
  } table[] = {{"abc\n", "abc"},   {"", ""},           {"abc", "abc"},
               {"ab\r\n", "ab\r"}, {"ab\n\n", "ab\n"}, {"\n", ""}};
  for (const auto& row : table) {
    SCOPED_TRACE(row.in);
    std::string buffer(row.in);
    buffer.push_back('\0');
    char* result = strip_newline(buffer.data());
    EXPECT_EQ(result, buffer.data());
    EXPECT_STREQ(result, row.out);
  }
}

}  // namespace
