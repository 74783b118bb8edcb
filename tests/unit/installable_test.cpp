// The installable-option walk and the PPD defaults rewrite, on fixture PPDs opened with the
// real PPD library and choices marked with ppdMarkOption.
#include "autoconf/installable.h"

#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "log/log.h"
#include "support/paths.h"
#include "support/ppd.h"
#include "support/text.h"

#pragma GCC diagnostic ignored "-Wdeprecated-declarations"

namespace {

std::string fixture(const std::string& name) {
  return test_data("ppd/" + name);
}

UniquePpd open_fixture(const std::string& name) {
  return open_ppd(fixture(name));
}

std::vector<std::string> walk(ppd_file_t* ppd) {
  std::vector<std::string> keywords;
  for (ppd_option_t* o = firstInstallableOption(ppd); o != nullptr;
       o = nextInstallableOption(ppd)) {
    keywords.push_back(o->keyword);
  }
  return keywords;
}

// Each test gets a directory for sources, targets and a log of everything up to level 7.
class Rewrite : public ::testing::Test {
 protected:
  void SetUp() override { log_open(7, dir_.file("test.log").c_str()); }
  void TearDown() override { log_close(); }

  std::string file(const std::string& name) const { return dir_.file(name); }
  std::string source(const std::string& text) {
    std::string path = dir_.file("source.ppd");
    EXPECT_TRUE(write_file(path, text));
    return path;
  }
  std::string log_text() {
    log_close();
    std::string text = read_file(dir_.file("test.log"));
    log_open(7, dir_.file("test.log").c_str());
    return text;
  }

  TempDir dir_;
};

}  // namespace

TEST(InstallableWalk, HandsOutTheInstallableGroupInFileOrder) {
  UniquePpd ppd = open_fixture("installable.ppd");
  ASSERT_NE(ppd, nullptr);
  EXPECT_EQ(walk(ppd.get()), (std::vector<std::string>{"OptionalTray", "DuplexUnit",
                                                       "PaperCassettes", "Finisher", "HardDisk"}));
  EXPECT_EQ(nextInstallableOption(ppd.get()), nullptr) << "stays exhausted";
}

TEST(InstallableWalk, FirstGroupNamingInstallInAnyCaseWins) {
  UniquePpd ppd = open_fixture("other-case.ppd");
  ASSERT_NE(ppd, nullptr);
  EXPECT_EQ(walk(ppd.get()), std::vector<std::string>{"DuplexUnit"});
}

TEST(InstallableWalk, AnEmptyFirstMatchEndsTheWalk) {
  UniquePpd ppd = open_fixture("empty-group.ppd");
  ASSERT_NE(ppd, nullptr);
  EXPECT_EQ(firstInstallableOption(ppd.get()), nullptr);
  EXPECT_EQ(nextInstallableOption(ppd.get()), nullptr);
  EXPECT_EQ(findInstallableOption(ppd.get(), "OptionalTray"), nullptr);
}

TEST(InstallableWalk, NoGroupOrNoHandleGivesNone) {
  UniquePpd ppd = open_fixture("no-group.ppd");
  ASSERT_NE(ppd, nullptr);
  EXPECT_EQ(firstInstallableOption(ppd.get()), nullptr);
  EXPECT_EQ(nextInstallableOption(ppd.get()), nullptr);
  UniquePpd other = open_fixture("installable.ppd");
  ASSERT_NE(firstInstallableOption(other.get()), nullptr);
  EXPECT_EQ(nextInstallableOption(nullptr), nullptr);
  EXPECT_EQ(firstInstallableOption(nullptr), nullptr);
  EXPECT_EQ(nextInstallableOption(other.get()), nullptr) << "the null walk reset the state";
}

TEST(InstallableWalk, EveryWalkStartsAfresh) {
  UniquePpd ppd = open_fixture("installable.ppd");
  ASSERT_NE(ppd, nullptr);
  firstInstallableOption(ppd.get());
  nextInstallableOption(ppd.get());
  ASSERT_STREQ(firstInstallableOption(ppd.get())->keyword, "OptionalTray");
  ASSERT_NE(findInstallableOption(ppd.get(), "PaperCassettes"), nullptr);
  EXPECT_STREQ(nextInstallableOption(ppd.get())->keyword, "Finisher");
}

TEST(InstallableWalk, FindMatchesKeywordsExactlyWithinTheGroup) {
  UniquePpd ppd = open_fixture("installable.ppd");
  ASSERT_NE(ppd, nullptr);
  ppd_option_t* duplex = findInstallableOption(ppd.get(), "DuplexUnit");
  ASSERT_NE(duplex, nullptr);
  EXPECT_STREQ(duplex->keyword, "DuplexUnit");
  EXPECT_EQ(findInstallableOption(ppd.get(), "Duplexunit"), nullptr);
  EXPECT_EQ(findInstallableOption(ppd.get(), "Duplex"), nullptr);
  EXPECT_EQ(findInstallableOption(ppd.get(), "PageSize"), nullptr) << "outside the group";
  EXPECT_EQ(findInstallableOption(ppd.get(), ""), nullptr);
}

TEST_F(Rewrite, MarkedChoicesBecomeTheDefaultsAndAllElseIsCopied) {
  UniquePpd ppd = open_fixture("installable.ppd");
  ASSERT_NE(ppd, nullptr);
  ppdMarkOption(ppd.get(), "OptionalTray", "True");
  ppdMarkOption(ppd.get(), "PaperCassettes", "Three");
  ppdMarkOption(ppd.get(), "HardDisk", "False");
  ppdMarkOption(ppd.get(), "PageSize", "Letter");  // outside the group: never rewritten
  std::string target = file("out.ppd");
  EXPECT_EQ(rewritePpdDefaults(ppd.get(), fixture("installable.ppd").c_str(), target.c_str()), 3);

  std::string expected = read_file(fixture("installable.ppd"));
  replace_text(expected, "*DefaultOptionalTray: False\n", "*DefaultOptionalTray: True\n");
  replace_text(expected, "*DefaultPaperCassettes: One\n", "*DefaultPaperCassettes: Three\n");
  replace_text(expected, "*DefaultHardDisk:\t  True\n", "*DefaultHardDisk:\t  False\n");
  EXPECT_EQ(read_file(target), expected);

  struct stat st;
  ASSERT_EQ(stat(target.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0666u);
  EXPECT_EQ(directory_entries(dir_.path()).size(), 2u)
      << "test.log and out.ppd: no temporary file left";
}

TEST_F(Rewrite, LogsTheCountAndEachDefaultLine) {
  UniquePpd ppd = open_fixture("installable.ppd");
  ASSERT_NE(ppd, nullptr);
  ppdMarkOption(ppd.get(), "OptionalTray", "True");
  std::string src = source(
      "*DefaultOptionalTray: False\n*DefaultDuplexUnit: False\n"
      "*DefaultPageSize: A4\n");
  EXPECT_EQ(rewritePpdDefaults(ppd.get(), src.c_str(), file("out.ppd").c_str()), 1);
  EXPECT_EQ(log_text(),
            "INFO: Total 5 configuration option(s) found\n"
            "INFO: Default Main Keyword: \"OptionalTray\"\n"
            "INFO: Option to modify: \"OptionalTray\"\n"
            "INFO:   defchoice: \"False\"\n"
            "INFO:   new value: \"True\"\n"
            "INFO: Default Main Keyword: \"DuplexUnit\"\n"
            "INFO: Option to modify: \"DuplexUnit\"\n"
            "INFO:   defchoice: \"False\"\n"
            "INFO:   option hasn't been marked\n"
            "INFO: Default Main Keyword: \"PageSize\"\n");
  EXPECT_EQ(read_file(file("out.ppd")),
            "*DefaultOptionalTray: True\n*DefaultDuplexUnit: False\n*DefaultPageSize: A4\n");
}

TEST_F(Rewrite, TheSameValueStillCounts) {
  UniquePpd ppd = open_fixture("installable.ppd");
  ppdMarkOption(ppd.get(), "OptionalTray", "False");
  std::string src = source("*DefaultOptionalTray: False\n");
  EXPECT_EQ(rewritePpdDefaults(ppd.get(), src.c_str(), file("out.ppd").c_str()), 1);
  EXPECT_EQ(read_file(file("out.ppd")), "*DefaultOptionalTray: False\n");
}

TEST_F(Rewrite, LineShapesAroundTheColon) {
  UniquePpd ppd = open_fixture("installable.ppd");
  ASSERT_NE(ppd, nullptr);
  ppdMarkOption(ppd.get(), "OptionalTray", "True");
  ppdMarkOption(ppd.get(), "DuplexUnit", "True");
  struct Case {
    const char* line;
    const char* out;
    int count;
  } cases[] = {
      {"*DefaultOptionalTray:\n", "*DefaultOptionalTray:True\n", 1},
      {"*DefaultOptionalTray: \t \n", "*DefaultOptionalTray: \t True\n", 1},
      {"*DefaultOptionalTray:  \t", "*DefaultOptionalTray:  \t", 0},
      {"*DefaultOptionalTray:", "*DefaultOptionalTray:", 0},
      {"*DefaultOptionalTray False\n", "*DefaultOptionalTray False\n", 0},
      {"*DefaultOptionalTray: False", "*DefaultOptionalTray: True\n", 1},
      {"*DefaultOptionalTray: False old\r\n", "*DefaultOptionalTray: True\n", 1},
      {"*DefaultDuplexunit: False\n", "*DefaultDuplexunit: False\n", 0},
      {"*defaultDuplexUnit: False\n", "*defaultDuplexUnit: False\n", 0},
      {" *DefaultDuplexUnit: False\n", " *DefaultDuplexUnit: False\n", 0},
      {"*DefaultDuplexUnit : False\n", "*DefaultDuplexUnit : False\n", 0},
      {"*Default: False\n", "*Default: False\n", 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    std::string src = source(c.line);
    EXPECT_EQ(rewritePpdDefaults(ppd.get(), src.c_str(), file("out.ppd").c_str()), c.count);
    EXPECT_EQ(read_file(file("out.ppd")), c.out);
  }
}

TEST_F(Rewrite, KeywordsUpToFortyCharactersAreLookedUp) {
  UniquePpd ppd = open_fixture("installable.ppd");
  std::string forty(40, 'K');
  std::string src = source("*Default" + forty + ": x\n*Default" + forty + "L: x\n");
  EXPECT_EQ(rewritePpdDefaults(ppd.get(), src.c_str(), file("out.ppd").c_str()), 0);
  std::string log = log_text();
  EXPECT_NE(log.find("Keyword: \"" + forty + "\"\n"), std::string::npos);
  EXPECT_EQ(log.find(forty + "L"), std::string::npos);
  EXPECT_EQ(read_file(file("out.ppd")), read_file(src));
}

TEST_F(Rewrite, LinesAroundTheBufferSizeArePieces) {
  UniquePpd ppd = open_fixture("installable.ppd");
  ppdMarkOption(ppd.get(), "OptionalTray", "True");
  const std::string head = "*DefaultOptionalTray: ";
  struct Case {
    size_t length;     // of the whole line, newline included
    std::string tail;  // what the second piece carries
  } cases[] = {{1023, ""}, {1024, "\n"}, {1025, "F\n"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.length);
    std::string line = head + std::string(c.length - head.size() - 1, 'F') + "\n";
    std::string src = source("*% before\n" + line + "*% after\n");
    EXPECT_EQ(rewritePpdDefaults(ppd.get(), src.c_str(), file("out.ppd").c_str()), 1);
    EXPECT_EQ(read_file(file("out.ppd")), "*% before\n" + head + "True\n" + c.tail + "*% after\n");
  }
}

TEST_F(Rewrite, ALaterPieceOfALongLineIsALineOfItsOwn) {
  UniquePpd ppd = open_fixture("installable.ppd");
  ppdMarkOption(ppd.get(), "OptionalTray", "True");
  std::string comment = "*%" + std::string(1021, 'd');
  std::string src = source(comment + "*DefaultOptionalTray: False\n");
  EXPECT_EQ(rewritePpdDefaults(ppd.get(), src.c_str(), file("out.ppd").c_str()), 1);
  EXPECT_EQ(read_file(file("out.ppd")), comment + "*DefaultOptionalTray: True\n");
}

TEST_F(Rewrite, TheNewValueIsCutAtTheEndOfTheBuffer) {
  UniquePpd ppd = open_fixture("installable.ppd");
  ppdMarkOption(ppd.get(), "OptionalTray", "True");
  // The value starts at byte 1020 of the piece: room for "Tru" and the terminator only.
  std::string head = "*DefaultOptionalTray:" + std::string(999, ' ');
  std::string src = source(head + "False\n");
  EXPECT_EQ(rewritePpdDefaults(ppd.get(), src.c_str(), file("out.ppd").c_str()), 1);
  EXPECT_EQ(read_file(file("out.ppd")), head + "Tru" + "se\n");
}

TEST_F(Rewrite, CrLfLinesKeepTheirEndsUnlessRewritten) {
  UniquePpd ppd = open_fixture("crlf.ppd");
  ASSERT_NE(ppd, nullptr);
  ppdMarkOption(ppd.get(), "DuplexUnit", "True");
  EXPECT_EQ(rewritePpdDefaults(ppd.get(), fixture("crlf.ppd").c_str(), file("out.ppd").c_str()), 1);
  std::string expected = read_file(fixture("crlf.ppd"));
  replace_text(expected, "*DefaultDuplexUnit: False\r\n", "*DefaultDuplexUnit: True\n");
  EXPECT_EQ(read_file(file("out.ppd")), expected);
}

TEST_F(Rewrite, BytesAfterANulInALineAreCopied) {
  UniquePpd ppd = open_fixture("installable.ppd");
  std::string text("*% a\0b\n\x01\xff\xfe\n*DefaultOptionalTray: False", 34);
  std::string src = source(text);
  EXPECT_EQ(rewritePpdDefaults(ppd.get(), src.c_str(), file("out.ppd").c_str()), 0);
  EXPECT_EQ(read_file(file("out.ppd")), text);
}

TEST_F(Rewrite, WithoutDefaultLinesTheCopyIsExactAndCountsZero) {
  UniquePpd ppd = open_fixture("no-defaults.ppd");
  ASSERT_NE(ppd, nullptr);
  ppdMarkOption(ppd.get(), "OptionalTray", "True");
  std::string src = fixture("no-defaults.ppd");
  EXPECT_EQ(rewritePpdDefaults(ppd.get(), src.c_str(), file("out.ppd").c_str()), 0);
  EXPECT_EQ(read_file(file("out.ppd")), read_file(src));
}

TEST_F(Rewrite, NoInstallableOptionsCreatesNoFile) {
  for (const char* name : {"empty-group.ppd", "no-group.ppd"}) {
    SCOPED_TRACE(name);
    UniquePpd ppd = open_fixture(name);
    ASSERT_NE(ppd, nullptr);
    ppdMarkOption(ppd.get(), "OptionalTray", "True");
    EXPECT_EQ(rewritePpdDefaults(ppd.get(), "/nonexistent/source", file("out.ppd").c_str()), 0);
    EXPECT_FALSE(path_exists(file("out.ppd")));
    EXPECT_EQ(log_text().find("INFO: Total 0 configuration option(s) found\n"), 0u);
  }
  EXPECT_EQ(rewritePpdDefaults(nullptr, "/nonexistent/source", file("out.ppd").c_str()), 0);
}

TEST_F(Rewrite, FailuresLeaveTheEarlierTargetAndNoTemporaryFile) {
  UniquePpd ppd = open_fixture("installable.ppd");
  ppdMarkOption(ppd.get(), "OptionalTray", "True");
  std::string target = file("out.ppd");
  ASSERT_TRUE(write_file(target, "earlier\n", 0644));
  std::string readable = source("*DefaultOptionalTray: False\n");
  struct Case {
    std::string source;
    std::string target;
  } cases[] = {
      {file("missing.ppd"), target},
      {dir_.path(), target},  // opens, but every read fails with EISDIR
      {readable, file("no-such-dir/out.ppd")},
      {readable, dir_.path()},  // a directory cannot be replaced by a file
      {readable, "/" + std::string(1100, 'x') + "/out.ppd"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.source + " -> " + c.target);
    EXPECT_EQ(rewritePpdDefaults(ppd.get(), c.source.c_str(), c.target.c_str()), -1);
    EXPECT_EQ(read_file(target), "earlier\n");
    EXPECT_EQ(directory_entries(dir_.path()).size(), 3u) << "test.log, source.ppd, out.ppd only";
  }
}

TEST_F(Rewrite, ALinkAtTheTargetIsReplacedNotFollowed) {
  UniquePpd ppd = open_fixture("installable.ppd");
  ppdMarkOption(ppd.get(), "OptionalTray", "True");
  std::string victim = file("victim");
  ASSERT_TRUE(write_file(victim, "keep me\n", 0600));
  ASSERT_EQ(symlink(victim.c_str(), file("out.ppd").c_str()), 0);
  std::string src = source("*DefaultOptionalTray: False\n");
  EXPECT_EQ(rewritePpdDefaults(ppd.get(), src.c_str(), file("out.ppd").c_str()), 1);
  struct stat st;
  ASSERT_EQ(lstat(file("out.ppd").c_str(), &st), 0);
  EXPECT_TRUE(S_ISREG(st.st_mode));
  EXPECT_EQ(read_file(file("out.ppd")), "*DefaultOptionalTray: True\n");
  EXPECT_EQ(read_file(victim), "keep me\n");
  ASSERT_EQ(stat(victim.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0600u);
}
