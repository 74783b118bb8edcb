// The diagnostic log: configuration keys, file names, filter, close, timestamps, file safety.
#include "log/log.h"

#include <glob.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <regex>
#include <string>

#include <gtest/gtest.h>

#include "support/bytes.h"
#include "support/capture.h"
#include "support/paths.h"

namespace {

// Each test uses a program name of its own, so its /tmp/<name>.lcf and logs are its own.
class LogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    name_ = "zorvlogtest-" + std::to_string(getpid()) + "-" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name();
    log_level = 0;
    log_flush_mode = 0;
  }
  void TearDown() override {
    log_close();
    unlink(config().c_str());
    unlink(log_path().c_str());
    log_level = 0;
    log_flush_mode = 0;
  }
  std::string config() const { return "/tmp/" + name_ + ".lcf"; }
  std::string log_path() const { return "/tmp/" + name_ + ".log"; }
  void configure(const std::string& text) { ASSERT_TRUE(write_file(config(), text)); }
  void init() { log_init(("/usr/lib/cups/filter/" + name_).c_str()); }

  std::string name_;
};

TEST_F(LogTest, WithoutConfigurationThereIsNoLogAndCallsReturnZero) {
  init();
  EXPECT_EQ(log_printf(1, "ERROR: x\n"), 0);
  EXPECT_EQ(log_line("x"), 0);
  EXPECT_EQ(log_hexdump(reinterpret_cast<const unsigned char*>("ab"), 2, "t"), 0);
  EXPECT_EQ(log_set_buffer(nullptr, _IOFBF, 0), 0);
  log_close();
  EXPECT_FALSE(path_exists(log_path()));
  EXPECT_EQ(log_level, 0);
}

TEST_F(LogTest, EmptyConfigurationWritesSeverityOneAndTwoOnly) {
  configure("");
  init();
  EXPECT_EQ(log_level, 2);
  EXPECT_EQ(log_printf(1, "one %d\n", 1), 6);
  EXPECT_EQ(log_printf(2, "two\n"), 4);
  EXPECT_EQ(log_printf(3, "three\n"), 0);
  EXPECT_EQ(log_printf(7, "seven\n"), 0);
  log_close();
  EXPECT_EQ(read_file(log_path()), "one 1\ntwo\n");
}

TEST_F(LogTest, LevelZeroLeavesAnEmptyLogThatCloseRemoves) {
  configure("LOG_LEVEL=0\n");
  init();
  EXPECT_TRUE(path_exists(log_path()));
  EXPECT_EQ(log_printf(1, "x\n"), 0);
  log_close();
  EXPECT_FALSE(path_exists(log_path()));
}

TEST_F(LogTest, SeverityZeroIsWrittenWheneverTheLogIsOpen) {
  configure("LOG_LEVEL=0\n");
  init();
  EXPECT_EQ(log_printf(0, "always\n"), 7);
  log_close();
  EXPECT_EQ(read_file(log_path()), "always\n");
}

TEST_F(LogTest, MinusOneLetsEveryMessagePass) {
  configure("LOG_LEVEL=-1\n");
  init();
  EXPECT_EQ(log_level, -1);
  EXPECT_GT(log_printf(15, "a\n"), 0);
  EXPECT_GT(log_printf(static_cast<int>(0x80000007u), "b\n"), 0);
  log_close();
  EXPECT_EQ(read_file(log_path()), "a\nb\n");
}

TEST_F(LogTest, CategorisedMessagesNeedACategoryInCommon) {
  configure("LOG_LEVEL=19\n");
  init();
  EXPECT_GT(log_printf(3, "plain\n"), 0);
  EXPECT_GT(log_printf(19, "cat16\n"), 0);
  EXPECT_EQ(log_printf(35, "cat32\n"), 0);
  EXPECT_EQ(log_printf(20, "too severe\n"), 0);
  log_level = 3;
  EXPECT_EQ(log_printf(19, "cat16 filtered\n"), 0);
  log_close();
  EXPECT_EQ(read_file(log_path()), "plain\ncat16\n");
}

TEST_F(LogTest, KeysMatchByCaseSensitivePrefixOnly) {
  struct Case {
    const char* config;
    int level;
  } cases[] = {
      {"LOG_LEVELS=5\n", 5},
      {"log_level=5\n", 2},
      {" LOG_LEVEL=5\n", 2},
      {"#LOG_LEVEL=5\n", 2},
      {"LOG_LEVEL=abc\n", 0},
      {"LOG_LEVEL= 4\n", 4},
      {"LOG_LEVEL=3\nLOG_LEVEL=6\n", 6},
      {"LOG_LEVEL 7\n", 2},
      {"LOG_LEVEL=+7x\n", 7},
      {"LOG_LEVEL=-2\n", -2},
      {"LOG_LEVEL=5", 5},
      {"=LOG_LEVEL=5\n", 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.config);
    configure(c.config);
    init();
    EXPECT_EQ(log_level, c.level);
    log_close();
  }
}

TEST_F(LogTest, AppendModeYesMeansTruncate) {
  ASSERT_TRUE(write_file(log_path(), "old\n"));
  configure("APPEND_MODE=yes\nLOG_LEVEL=1\n");
  init();
  log_printf(1, "new\n");
  log_close();
  EXPECT_EQ(read_file(log_path()), "new\n");
}

TEST_F(LogTest, AppendModeKeepsAnEarlierLogThatNothingIsAddedTo) {
  ASSERT_TRUE(write_file(log_path(), "old\n"));
  configure("APPEND_MODE=1\n");
  init();
  log_close();
  EXPECT_EQ(read_file(log_path()), "old\n");
  init();
  log_printf(1, "more\n");
  log_close();
  EXPECT_EQ(read_file(log_path()), "old\nmore\n");
}

TEST_F(LogTest, TruncatingModeRemovesAnEarlierLogWhenNothingIsWritten) {
  ASSERT_TRUE(write_file(log_path(), "old\n"));
  configure("APPEND_MODE=0\n");
  init();
  log_close();
  EXPECT_FALSE(path_exists(log_path()));
}

TEST_F(LogTest, FlushModeMakesEveryMessageVisibleAtOnce) {
  configure("FLUSH_MODE=1\n");
  init();
  EXPECT_EQ(log_flush_mode, 1);
  log_printf(1, "seen\n");
  EXPECT_EQ(read_file(log_path()), "seen\n");
  log_line("line %d", 2);
  EXPECT_EQ(read_file(log_path()), "seen\nline 2\n");
  log_close();

  configure("FLUSH_MODE=0\n");
  init();
  EXPECT_EQ(log_flush_mode, 0);
  log_printf(1, "buffered\n");
  EXPECT_EQ(read_file(log_path()), "");
  log_close();
  EXPECT_EQ(read_file(log_path()), "buffered\n");
}

TEST_F(LogTest, LogLineIgnoresTheFilterAndAddsANewline) {
  configure("LOG_LEVEL=0\n");
  init();
  EXPECT_EQ(log_line("abc %s", "def"), 8);
  log_close();
  EXPECT_EQ(read_file(log_path()), "abc def\n");
}

TEST_F(LogTest, LogArgsWritesOneLinePerArgument) {
  configure("LOG_LEVEL=4\n");
  init();
  char a0[] = "queue", a1[] = "", a2[] = "x y";
  char* argv[] = {a0, a1, a2};
  log_args(4, 3, argv);
  log_args(4, 0, argv);
  log_args(5, 3, argv);
  log_close();
  EXPECT_EQ(read_file(log_path()), "argv[0]=<queue>\nargv[1]=<>\nargv[2]=<x y>\n");
}

TEST_F(LogTest, PidAndTimestampFormTheFileName) {
  unsigned pid = static_cast<unsigned>(getpid());
  configure("USE_PID=1\n");
  init();
  std::string with_pid = "/tmp/" + name_ + "-" + std::to_string(pid) + ".log";
  EXPECT_TRUE(path_exists(with_pid));
  log_close();
  EXPECT_FALSE(path_exists(with_pid));

  const std::regex stamp("/tmp/" + name_ + "-(" + std::to_string(pid) +
                         "-)?\\d{4}-\\d{2}-\\d{2}-\\d{2}:\\d{2}:\\d{2}\\.log");
  for (const char* text : {"USE_TIMESTAMP=1\n", "USE_TIMESTAMP=1\nUSE_PID=1\n"}) {
    SCOPED_TRACE(text);
    configure(text);
    init();
    log_printf(1, "x\n");
    log_close();
    // The name carries the time of opening: find the one file that the run made.
    glob_t matches;
    ASSERT_EQ(glob(("/tmp/" + name_ + "-*.log").c_str(), 0, nullptr, &matches), 0);
    ASSERT_EQ(matches.gl_pathc, 1u);
    std::string found = matches.gl_pathv[0];
    globfree(&matches);
    EXPECT_TRUE(std::regex_match(found, stamp)) << found;
    EXPECT_EQ(found.find(' '), std::string::npos);
    if (std::string(text).find("USE_PID") != std::string::npos) {
      EXPECT_NE(found.find("-" + std::to_string(pid) + "-"), std::string::npos) << found;
    }
    unlink(found.c_str());
  }
}

TEST_F(LogTest, ALongConfigurationLineIsReadInPieces) {
  // The tail of a line of more than 4095 characters is read as a line of its own.
  configure(std::string(4095, 'x') + "LOG_LEVEL=7\n" + std::string(10000, 'y') + "\n");
  init();
  EXPECT_EQ(log_level, 7);
  log_close();
}

TEST_F(LogTest, BinaryGarbageInTheConfigurationIsIgnored) {
  configure(pseudo_random_bytes(20000));
  init();
  log_printf(1, "still works\n");
  log_close();
  EXPECT_EQ(read_file(log_path()), "still works\n");
}

TEST_F(LogTest, LogOpenSetsTheLevelAndReplacesAnEarlierLog) {
  TempDir dir;
  std::string first = dir.file("first.log"), second = dir.file("second.log");
  log_open(3, first.c_str());
  EXPECT_EQ(log_level, 3);
  log_printf(3, "in first\n");
  log_open(1, second.c_str());
  EXPECT_EQ(read_file(first), "in first\n");
  log_printf(1, "in second\n");
  log_close();
  EXPECT_EQ(read_file(second), "in second\n");

  log_open(1, dir.file("empty.log").c_str());
  log_open(1, second.c_str());
  EXPECT_FALSE(path_exists(dir.file("empty.log")));
  log_close();
}

TEST_F(LogTest, LogOpenFailureIsReportedAndLeavesNoLog) {
  StreamCapture err(stderr);
  log_open(5, "/nonexistent-dir/x.log");
  EXPECT_EQ(err.finish(), "/nonexistent-dir/x.log file open error\n");
  EXPECT_EQ(log_level, 5);
  EXPECT_EQ(log_printf(1, "x\n"), 0);
}

TEST_F(LogTest, APlantedLinkIsNeitherFollowedTruncatedNorRemoved) {
  TempDir dir;
  std::string target = dir.file("victim");
  ASSERT_TRUE(write_file(target, "precious\n"));
  ASSERT_EQ(symlink(target.c_str(), log_path().c_str()), 0);
  configure("LOG_LEVEL=7\n");
  StreamCapture err(stderr);
  init();
  EXPECT_EQ(err.finish(), log_path() + " file open error\n");
  EXPECT_EQ(log_printf(1, "secret\n"), 0);
  log_close();
  EXPECT_EQ(read_file(target), "precious\n");
  struct stat st;
  EXPECT_EQ(lstat(log_path().c_str(), &st), 0);
  EXPECT_TRUE(S_ISLNK(st.st_mode));
}

TEST_F(LogTest, APlantedFileOfAnotherOwnerReceivesNothing) {
  REQUIRE_ROOT();
  ASSERT_TRUE(write_file(log_path(), "theirs\n"));
  ASSERT_EQ(chown(log_path().c_str(), 65534, 65534), 0);
  configure("");
  StreamCapture err(stderr);
  init();
  EXPECT_EQ(err.finish(), log_path() + " file open error\n");
  log_printf(1, "job details\n");
  log_close();
  EXPECT_EQ(read_file(log_path()), "theirs\n");
}

TEST_F(LogTest, AFileWithASecondLinkOrAFifoIsRefused) {
  TempDir dir;
  ASSERT_TRUE(write_file(dir.file("other"), ""));
  ASSERT_EQ(link(dir.file("other").c_str(), log_path().c_str()), 0);
  configure("");
  StreamCapture err(stderr);
  init();
  log_printf(1, "x\n");
  log_close();
  EXPECT_EQ(read_file(dir.file("other")), "");
  unlink(log_path().c_str());

  // A FIFO without a reader must not block the filter.
  ASSERT_EQ(mkfifo(log_path().c_str(), 0666), 0);
  init();
  log_close();
  EXPECT_EQ(err.finish(), log_path() + " file open error\n" + log_path() + " file open error\n");
}

TEST_F(LogTest, CloseRemovesOnlyTheEmptyFileItOpened) {
  configure("LOG_LEVEL=0\n");
  init();
  // Someone replaces the log by a link to an empty file while the filter runs.
  TempDir dir;
  ASSERT_TRUE(write_file(dir.file("empty"), ""));
  ASSERT_EQ(unlink(log_path().c_str()), 0);
  ASSERT_EQ(symlink(dir.file("empty").c_str(), log_path().c_str()), 0);
  log_close();
  EXPECT_TRUE(path_exists(log_path()));
  EXPECT_TRUE(path_exists(dir.file("empty")));
}

TEST(Timestamp, FormatsTheGivenTimeInLocalTime) {
  setenv("TZ", "UTC", 1);
  tzset();
  char buffer[28];
  struct timeval tv = {1796661309, 123456};  // 2026-12-07 16:35:09 UTC
  EXPECT_STREQ(format_timestamp(buffer, sizeof(buffer), &tv, nullptr, 0),
               "2026-12-07 16:35:09.123456");
  time_t t = 1796661309;
  EXPECT_STREQ(format_timestamp(buffer, sizeof(buffer), nullptr, &t, 0),
               "2026-12-07 16:35:09.000000");
  EXPECT_STREQ(format_timestamp(buffer, sizeof(buffer), nullptr, nullptr, 86400),
               "1970-01-02 00:00:00.000000");
  EXPECT_STREQ(format_timestamp(buffer, 11, &tv, nullptr, 0), "2026-12-07");
  EXPECT_EQ(format_timestamp(nullptr, 10, &tv, nullptr, 0), nullptr);
}

TEST(Timestamp, NoTimeGivenMeansNowNotTheEpoch) {
  char buffer[28];
  format_timestamp(buffer, sizeof(buffer), nullptr, nullptr, 0);
  EXPECT_GE(atoi(buffer), 2025);
  EXPECT_EQ(strlen(buffer), 26u);
  format_current_timestamp(buffer, sizeof(buffer));
  EXPECT_GE(atoi(buffer), 2025);
}

TEST(Timestamp, LogTimestampReusesOneBuffer) {
  const char* first = log_timestamp();
  std::string text = first;
  usleep(2000);
  const char* second = log_timestamp();
  EXPECT_EQ(first, second);
  EXPECT_NE(text, std::string(second));
  EXPECT_TRUE(std::regex_match(second, std::regex(R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{6})")));
}

}  // namespace
