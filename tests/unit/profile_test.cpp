// Profile name and profile file lookup: the "ucs=" option, the queue and PPD fallbacks, and
// the vendor search, run against a private directory pattern instead of /opt.
#include "colour/profile.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "support/paths.h"

namespace {

constexpr char kUntouched[] = "untouched";

struct OptionCase {
  std::string options;
  int result;
  std::string value;
};

TEST(UcsFromOptions, ValueEndsAtBlankQuoteCommaOrEnd) {
  const OptionCase cases[] = {
      {"PageSize=A4 ucs=Photo1 Duplex=None", 0, "Photo1"},
      {"ucs=Photo1,Resolution=600", 0, "Photo1"},
      {"ucs=Photo1", 0, "Photo1"},
      {"xucs=a", 0, "a"},
      {"ucs=ucs=b", 0, "ucs=b"},
      {"ucs=a ucs=b", 0, "a"},
      {"ucs=a\tb", 0, "a"},
      {"ucs=a\nb", 0, "a"},
      {"ucs=a\vb", 0, "a"},
      {"ucs=a\fb", 0, "a"},
      {"ucs=a\rb", 0, "a"},
      {"ucs=a\"b\"", 0, "a"},
      {"ucs='a b'", 0, "'a"},
      {"ucs=a=b;c/d", 0, "a=b;c/d"},
      {"ucs=caf\xc3\xa9\xa0x", 0, "caf\xc3\xa9\xa0x"},
      {"media=A4\tucs=Photo\t\"x\"", 0, "Photo"},
      {"ucs=", 0, ""},
      {"ucs= Photo", 0, ""},
      {"ucs=,Photo", 0, ""},
      {"ucs=\"Photo\"", 0, ""},
      {"ucs=\tPhoto", 0, ""},
      {"", -1, kUntouched},
      {"UCS=Photo", -1, kUntouched},
      {"ucs Photo", -1, kUntouched},
      {"uc=s=Photo", -1, kUntouched},
  };
  for (const OptionCase& c : cases) {
    SCOPED_TRACE("options '" + c.options + "'");
    char dst[kProfileNameSize];
    strcpy(dst, kUntouched);
    EXPECT_EQ(ucsFromOptions(dst, sizeof(dst), c.options.c_str()), c.result);
    EXPECT_EQ(std::string(dst), c.value);
  }
}

TEST(UcsFromOptions, ValueIsCutToTheBuffer) {
  const std::string value(10, 'v');
  const std::string options = "a=b ucs=" + value + " c=d";
  for (size_t size : {1u, 2u, 9u, 10u, 11u, 12u}) {
    SCOPED_TRACE("buffer of " + std::to_string(size));
    std::vector<char> dst(size + 1, '#');
    EXPECT_EQ(ucsFromOptions(dst.data(), size, options.c_str()), 0);
    EXPECT_EQ(std::string(dst.data()), value.substr(0, size - 1));
    EXPECT_EQ(dst[size], '#') << "wrote past the buffer";
  }
  char dst[1] = {'#'};
  EXPECT_EQ(ucsFromOptions(dst, 0, options.c_str()), 0);
  EXPECT_EQ(dst[0], '#');
}

TEST(UcsFromOptions, LongValueInLongOptionsGivesItsFirst255Characters) {
  std::string value(300, 'p');
  value[254] = 'E';
  value[255] = 'X';
  std::string options = std::string(100000, 'o') + " ucs=" + value + " " + std::string(5000, 'z');
  char dst[kProfileNameSize];
  ASSERT_EQ(ucsFromOptions(dst, sizeof(dst), options.c_str()), 0);
  EXPECT_EQ(std::string(dst), value.substr(0, 255));
}

struct NameCase {
  std::string queue;
  std::string options;
  const char* ppd;
  std::string name;
};

TEST(ResolveProfileName, OptionThenQueueThenPpd) {
  const std::string long_queue(300, 'q');
  // The PPD path is cut to 255 characters before its base name is taken.
  const std::string long_ppd = "/" + std::string(298, 'a') + ".ppd";
  const NameCase cases[] = {
      {"Office-Laser", "PageSize=A4 ucs=Photo1 Duplex=None", nullptr, "Photo1"},
      {"Office-Laser", "PageSize=A4", "/etc/cups/ppd/Other.ppd", "Office-Laser"},
      {"Office-Laser", "", nullptr, "Office-Laser"},
      {"Office-Laser", "ucs=", nullptr, ""},
      {"Office-Laser", "ucs=\"x\"", nullptr, ""},
      {"/usr/lib/cups/filter/zorvpreload", "", "/etc/cups/ppd/Office.ppd", "Office"},
      {"/usr/lib/cups/filter/zorvpreload", "ucs=Photo1", "/etc/cups/ppd/Office.ppd", "Photo1"},
      {"zorvpreload", "", "/etc/cups/ppd/Office", "Office"},
      {"zorvpreload", "", "x.y.ppd", "x.y"},
      {"zorvpreload", "", "/etc/cups/ppd/", ""},
      {"zorvpreload", "", "/etc/cups/ppd/.ppd", ""},
      {"zorvpreload", "", "/dir.d/name", "name"},
      {"zorvpreload", "", "", ""},
      {"zorvpreload", "", nullptr, ""},
      {"my-zorvpreload-queue", "", "/etc/cups/ppd/Q.ppd", "Q"},
      {"zorvpreload", "", long_ppd.c_str(), std::string(254, 'a')},
      {"ZORVPRELOAD", "", "/etc/cups/ppd/Q.ppd", "ZORVPRELOAD"},
      {long_queue, "", nullptr, std::string(255, 'q')},
      {"Queue/With/Slashes", "", nullptr, "Queue/With/Slashes"},
  };
  for (const NameCase& c : cases) {
    SCOPED_TRACE("queue '" + c.queue + "' options '" + c.options + "' PPD " +
                 (c.ppd != nullptr ? c.ppd : "(unset)"));
    char name[kProfileNameSize];
    strcpy(name, kUntouched);
    resolveProfileName(name, sizeof(name), c.queue.c_str(), c.options.c_str(), c.ppd);
    EXPECT_EQ(std::string(name), c.name);
  }
}

TEST(ResolveProfileName, NameIsCutToTheBuffer) {
  char name[4];
  resolveProfileName(name, sizeof(name), "Office-Laser", "", nullptr);
  EXPECT_EQ(std::string(name), "Off");
}

// Vendor directories A, B and C under a private root, searched with "<root>/%s/ucs/%s".
class FindVendorFile : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char* v : {"A", "B", "C"}) ASSERT_TRUE(make_dirs(dir_.path() + "/" + v + "/ucs"));
    pattern_ = dir_.path() + "/%s/ucs/%s";
  }
  std::string file(const std::string& vendor, const std::string& name) const {
    return dir_.path() + "/" + vendor + "/ucs/" + name;
  }
  int find(const char* name, int mode = R_OK, size_t size = kProfilePathSize) {
    return findVendorFile(path_, size, pattern_.c_str(), vendors_, name, mode);
  }

  TempDir dir_;
  std::string pattern_;
  const char* const vendors_[4] = {"A", "B", "C", nullptr};
  char path_[kProfilePathSize] = "untouched";
};

TEST_F(FindVendorFile, FirstVendorInListOrderWins) {
  ASSERT_TRUE(write_file(file("B", "p.ucs"), "b"));
  ASSERT_TRUE(write_file(file("C", "p.ucs"), "c"));
  EXPECT_EQ(find("p.ucs"), 0);
  EXPECT_EQ(std::string(path_), file("B", "p.ucs"));
  ASSERT_TRUE(write_file(file("A", "p.ucs"), "a"));
  EXPECT_EQ(find("p.ucs"), 0);
  EXPECT_EQ(std::string(path_), file("A", "p.ucs"));
}

TEST_F(FindVendorFile, NoCandidateLeavesPathEmpty) {
  ASSERT_TRUE(write_file(file("A", "other.ucs"), "a"));
  EXPECT_EQ(find("p.ucs"), -1);
  EXPECT_STREQ(path_, "");
  const char* const none[] = {nullptr};
  strcpy(path_, kUntouched);
  EXPECT_EQ(findVendorFile(path_, sizeof(path_), pattern_.c_str(), none, "other.ucs", R_OK), -1);
  EXPECT_STREQ(path_, "");
}

TEST_F(FindVendorFile, NoBufferIsMinusTwo) {
  EXPECT_EQ(findVendorFile(nullptr, sizeof(path_), pattern_.c_str(), vendors_, "p.ucs", R_OK), -2);
  EXPECT_EQ(find("p.ucs", R_OK, 0), -2);
  EXPECT_STREQ(path_, kUntouched);
}

TEST_F(FindVendorFile, CandidateFailingTheAccessTestIsPassedOver) {
  // Root passes every read test, but an execute test only for a file with an execute bit.
  ASSERT_TRUE(write_file(file("A", "p.ucs"), "a", 0644));
  ASSERT_TRUE(write_file(file("B", "p.ucs"), "b", 0755));
  EXPECT_EQ(find("p.ucs", X_OK), 0);
  EXPECT_EQ(std::string(path_), file("B", "p.ucs"));
}

TEST_F(FindVendorFile, DanglingLinkIsPassedOver) {
  ASSERT_EQ(symlink("/nonexistent/p.ucs", file("A", "p.ucs").c_str()), 0);
  ASSERT_TRUE(write_file(file("C", "p.ucs"), "c"));
  EXPECT_EQ(find("p.ucs"), 0);
  EXPECT_EQ(std::string(path_), file("C", "p.ucs"));
}

TEST_F(FindVendorFile, UnreadableFileIsPassedOver) {
  if (running_as_root()) GTEST_SKIP() << "root reads files of any mode";
  ASSERT_TRUE(write_file(file("A", "p.ucs"), "a", 0000));
  ASSERT_TRUE(write_file(file("B", "p.ucs"), "b"));
  EXPECT_EQ(find("p.ucs"), 0);
  EXPECT_EQ(std::string(path_), file("B", "p.ucs"));
}

TEST_F(FindVendorFile, NameWithSlashIsNeverFound) {
  // "../B/ucs/p.ucs" from A's directory names a readable file; a name from the job's
  // options must not lead out of the vendor directories.
  ASSERT_TRUE(write_file(file("B", "p.ucs"), "b"));
  ASSERT_TRUE(write_file(file("A", "p.ucs"), "a"));
  ASSERT_EQ(access(file("A", "../../B/ucs/p.ucs").c_str(), R_OK), 0);
  for (const char* name : {"../../B/ucs/p.ucs", "/p.ucs", "x/../p.ucs", "p.ucs/"}) {
    SCOPED_TRACE(name);
    strcpy(path_, kUntouched);
    EXPECT_EQ(find(name), -1);
    EXPECT_STREQ(path_, "");
  }
}

TEST_F(FindVendorFile, CandidateIsCutToTheBuffer) {
  // "ab" under A and "abc" under B: a buffer one short of A's full candidate makes it name
  // A's "ab", which exists.
  ASSERT_TRUE(write_file(file("A", "ab"), "a"));
  ASSERT_TRUE(write_file(file("B", "abc"), "b"));
  const size_t full = file("A", "abc").size() + 1;
  EXPECT_EQ(find("abc", R_OK, full + 1), 0);
  EXPECT_EQ(std::string(path_), file("B", "abc"));
  EXPECT_EQ(find("abc", R_OK, full), 0);
  EXPECT_EQ(std::string(path_), file("B", "abc"));
  EXPECT_EQ(find("abc", R_OK, full - 1), 0);
  EXPECT_EQ(std::string(path_), file("A", "ab"));
}

TEST_F(FindVendorFile, DirectoryPassesTheAccessTest) {
  // The lookup only asks whether the candidate can be read; the block writer refuses
  // anything that is not a regular file.
  ASSERT_TRUE(make_dirs(file("A", "d.ucs")));
  EXPECT_EQ(find("d.ucs"), 0);
  EXPECT_EQ(std::string(path_), file("A", "d.ucs"));
}

}  // namespace
