// zorvpreload run as the scheduler runs it: argument checks, input, profile name and lookup
// in the vendor installations under /opt, the block ahead of the job, the job byte for byte,
// exit statuses and standard error.
#include <sys/stat.h>
#include <unistd.h>

#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "support/bytes.h"
#include "support/hd_block.h"
#include "support/paths.h"
#include "support/program.h"
#include "support/text.h"

namespace {

const std::string kUsage =
    "INFO: Usage: zorvpreload job-id user title copies options [file]\n"
    "ERROR: Wrong number of arguments\n";
const std::string kHdFailed = "ERROR: HD data creation failed, execution aborted\n";

// --- Command line and input ---------------------------------------------------------------

TEST(PreloadProgram, FiveOrEightArgumentsGiveUsageAndStatusOne) {
  std::vector<std::string> five = {"Office", "42", "tester", "title", "1"};
  std::vector<std::string> eight = filter_args("Office", "", "/etc/hostname");
  eight.push_back("extra");
  for (const auto& args : {five, eight, std::vector<std::string>{"Office"}}) {
    SCOPED_TRACE(std::to_string(args.size()) + " arguments");
    ProgramResult result = run_filter(filter_run(ZORVPRELOAD_PATH, args, "job data"), 1);
    EXPECT_EQ(result.err, kUsage);
    EXPECT_EQ(result.out, "");
  }
}

TEST(PreloadProgram, JobWithoutProfileIsCopiedUnchanged) {
  std::string job = pseudo_random_bytes(65536 * 3 + 17, 1);
  ProgramResult result =
      run_filter(filter_run(ZORVPRELOAD_PATH, filter_args(unique_name()), job), 0);
  EXPECT_EQ(result.err, "");
  EXPECT_TRUE(same_bytes(result.out, job));
}

TEST(PreloadProgram, InputFileIsReadInsteadOfStandardInput) {
  TempDir dir;
  std::string job = pseudo_random_bytes(200000, 2);
  ASSERT_TRUE(write_file(dir.file("job"), job));
  ProgramResult result = run_filter(
      filter_run(ZORVPRELOAD_PATH, filter_args(unique_name(), "", dir.file("job")), "not this"), 0);
  EXPECT_TRUE(same_bytes(result.out, job));
  // A file given as standard input, as the scheduler may do.
  ProgramRun from_file = filter_run(ZORVPRELOAD_PATH, filter_args(unique_name()));
  from_file.input_path = dir.file("job");
  result = run_filter(from_file, 0);
  EXPECT_TRUE(same_bytes(result.out, job));
}

TEST(PreloadProgram, InputFileThatCannotBeOpenedIsStatusOne) {
  TempDir dir;
  ASSERT_TRUE(write_file(dir.file("plain"), "x"));
  for (const std::string& path : {dir.file("missing"), dir.file("plain") + "/below"}) {
    SCOPED_TRACE(path);
    ProgramResult result =
        run_filter(filter_run(ZORVPRELOAD_PATH, filter_args(unique_name(), "", path), "job"), 1);
    EXPECT_EQ(result.err, "ERROR: can not open file " + path + " for reading, execution aborted\n");
    EXPECT_EQ(result.out, "");
  }
}

TEST(PreloadProgram, UnreadableInputFileIsStatusOne) {
  if (running_as_root()) GTEST_SKIP() << "root opens files of any mode";
  TempDir dir;
  ASSERT_TRUE(write_file(dir.file("job"), "secret", 0000));
  ProgramResult result =
      run_filter(filter_run(ZORVPRELOAD_PATH, filter_args(unique_name(), "", dir.file("job"))), 1);
  EXPECT_EQ(result.out, "");
}

TEST(PreloadProgram, InputThatCannotBeReadIsStatusTwo) {
  // A directory opens but every read fails.
  TempDir dir;
  ProgramResult result =
      run_filter(filter_run(ZORVPRELOAD_PATH, filter_args(unique_name(), "", dir.path())), 2);
  EXPECT_EQ(result.out, "");
}

TEST(PreloadProgram, FailedWriteOfTheJobIsStatusTwo) {
  for (Output output : {Output::kClosedPipe, Output::kDevFull}) {
    SCOPED_TRACE(output == Output::kDevFull ? "/dev/full" : "closed pipe");
    ProgramRun run =
        filter_run(ZORVPRELOAD_PATH, filter_args(unique_name()), pseudo_random_bytes(100000, 3));
    run.output = output;
    run_filter(run, 2);
  }
}

// --- Profile lookup and block ---------------------------------------------------------------

TEST(PreloadProgram, ProfileFromOptionGoesAheadOfTheJob) {
  REQUIRE_ROOT();
  std::string name = unique_name();
  const std::string profile = test_data("preload/profile100.ucs");
  InstalledProfile installed("Orvane", name + ".ucs", read_file(profile));
  const std::string block = read_file(test_data("preload/profile100-type1.block"));
  std::string job = pseudo_random_bytes(150000, 4);
  for (const std::string& options :
       {"PageSize=A4 ucs=" + name + " Duplex=None", "ucs=" + name + ",Resolution=600",
        "media=A4\tucs=" + name + "\t\"x\"", std::string(100000, 'o') + " ucs=" + name}) {
    SCOPED_TRACE(options.substr(0, 60));
    ProgramResult result =
        run_filter(filter_run(ZORVPRELOAD_PATH, filter_args("Office", options), job), 0);
    EXPECT_EQ(result.err, "");
    EXPECT_TRUE(same_bytes(result.out, block + job));
  }
}

TEST(PreloadProgram, ProfileFromQueueName) {
  REQUIRE_ROOT();
  std::string queue = unique_name("Office-Laser");
  InstalledProfile installed("TALMA", queue + ".ucs", pseudo_random_bytes(5000, 5));
  ProgramResult result =
      run_filter(filter_run(ZORVPRELOAD_PATH, filter_args(queue, "PageSize=A4"), "job"), 0);
  EXPECT_TRUE(same_bytes(result.out, write_hd_block(installed.path()).bytes + "job"));
}

TEST(PreloadProgram, ProfileFromPpdWhenStartedUnderItsOwnName) {
  REQUIRE_ROOT();
  std::string name = unique_name("Office");
  InstalledProfile installed("Quillon", name + ".ucs", pseudo_random_bytes(4096, 6));
  ProgramResult result =
      run_filter(filter_run(ZORVPRELOAD_PATH, filter_args("/usr/lib/cups/filter/zorvpreload"),
                            "job", {"PPD=/etc/cups/ppd/" + name + ".ppd"}),
                 0);
  EXPECT_TRUE(same_bytes(result.out, write_hd_block(installed.path()).bytes + "job"));
}

TEST(PreloadProgram, EmptyJobGivesTheBlockAlone) {
  REQUIRE_ROOT();
  std::string name = unique_name();
  InstalledProfile installed("Orvane", name + ".ucs", "");
  ProgramResult result =
      run_filter(filter_run(ZORVPRELOAD_PATH, filter_args("Office", "ucs=" + name)), 0);
  EXPECT_EQ(result.out.size(), 82u);
  EXPECT_TRUE(same_bytes(result.out, write_hd_block(installed.path()).bytes));
}

TEST(PreloadProgram, FirstVendorInstallationWithTheProfileWins) {
  REQUIRE_ROOT();
  std::string name = unique_name();
  {
    InstalledProfile kestrel("Kestrel", name + ".ucs", "profile of Kestrel");
    InstalledProfile quillon("Quillon", name + ".ucs", "profile of Quillon");
    ProgramResult result =
        run_filter(filter_run(ZORVPRELOAD_PATH, filter_args("Office", "ucs=" + name), "job"), 0);
    EXPECT_TRUE(same_bytes(result.out, write_hd_block(kestrel.path()).bytes + "job"));
  }
  // With the profile in every installation, each is taken until it goes, in the search order.
  std::vector<std::unique_ptr<InstalledProfile>> all;
  for (const char* vendor : {"Orvane", "Kestrel", "TALMA", "Brightwell", "Pemberly", "Quillon"}) {
    all.push_back(std::make_unique<InstalledProfile>(vendor, name + ".ucs",
                                                     std::string("profile of ") + vendor));
  }
  for (auto& first : all) {
    SCOPED_TRACE(first->path());
    ProgramResult result =
        run_filter(filter_run(ZORVPRELOAD_PATH, filter_args("Office", "ucs=" + name), "job"), 0);
    EXPECT_TRUE(same_bytes(result.out, write_hd_block(first->path()).bytes + "job"));
    first.reset();
  }
}

TEST(PreloadProgram, EntryThatCannotBeReadIsPassedOver) {
  REQUIRE_ROOT();
  // Root reads files of any mode, so the unreadable entry is a link to nothing.
  std::string name = unique_name();
  InstalledProfile dangling("Orvane", name + ".ucs");
  ASSERT_EQ(symlink("/nonexistent/profile.ucs", dangling.path().c_str()), 0);
  InstalledProfile pemberly("Pemberly", name + ".ucs", "profile of Pemberly");
  ProgramResult result =
      run_filter(filter_run(ZORVPRELOAD_PATH, filter_args("Office", "ucs=" + name), "job"), 0);
  EXPECT_TRUE(same_bytes(result.out, write_hd_block(pemberly.path()).bytes + "job"));
}

TEST(PreloadProgram, LongProfileNamesAreCutTo255Characters) {
  REQUIRE_ROOT();
  // 252 characters: the bare file name is cut to 255 characters, its extension to ".uc".
  std::string name252 = unique_name() + "-";
  name252 += std::string(252 - name252.size(), 'n');
  InstalledProfile cut_extension("Orvane", name252 + ".uc", "cut extension");
  ProgramResult result =
      run_filter(filter_run(ZORVPRELOAD_PATH, filter_args("Office", "ucs=" + name252), "job"), 0);
  EXPECT_TRUE(same_bytes(result.out, write_hd_block(cut_extension.path()).bytes + "job"));

  // 300 characters: the name is its first 255, which leaves no room for the extension.
  std::string name300 = unique_name() + "-";
  name300 += std::string(300 - name300.size(), 'm');
  InstalledProfile no_extension("Brightwell", name300.substr(0, 255), "no extension");
  result = run_filter(
      filter_run(ZORVPRELOAD_PATH, filter_args("Office", "ucs=" + name300 + " x=y"), "job"), 0);
  EXPECT_TRUE(same_bytes(result.out, write_hd_block(no_extension.path()).bytes + "job"));
}

TEST(PreloadProgram, EmptyProfileNameSkipsTheBlock) {
  REQUIRE_ROOT();
  FilterLog log("zorvpreload", "LOG_LEVEL=2\n");
  struct Case {
    std::vector<std::string> args;
    std::vector<std::string> env;
  };
  const Case cases[] = {
      {filter_args("Office", "ucs="), {}},
      {filter_args("Office", "a=b ucs= c=d"), {}},
      {filter_args("Office", "ucs=,x"), {}},
      {filter_args("Office", "ucs=\"Photo\""), {}},
      {filter_args("zorvpreload"), {}},
      {filter_args("/usr/lib/cups/filter/zorvpreload"), {"PPD=/etc/cups/ppd/"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE("options '" + c.args[5] + "' queue '" + c.args[0] + "'");
    ProgramResult result = run_filter(filter_run(ZORVPRELOAD_PATH, c.args, "the job", c.env), 0);
    EXPECT_EQ(result.out, "the job");
    EXPECT_EQ(without_times(log.text()),
              joined_lines({"INFO: Program begin   <time>", "INFO: Printer: \"\"",
                            "INFO: Options: \"" + c.args[5] + "\"",
                            "INFO: Color profile NONE, HD data creation skipped",
                            "INFO: Program exit(0) <time>"}));
  }
}

TEST(PreloadProgram, NameWithSlashIsNotFound) {
  REQUIRE_ROOT();
  FilterLog log("zorvpreload", "LOG_LEVEL=5\n");
  // With Orvane's ucs directory present, the name below leads to a readable file in /tmp.
  InstalledProfile anchor("Orvane", unique_name() + ".ucs", "anchor");
  TempDir dir;
  ASSERT_TRUE(write_file(dir.file("evil.ucs"), "outside the vendor directories"));
  std::string name = "../../../.." + dir.path() + "/evil";
  ASSERT_EQ(access(("/opt/Orvane/mfp/ucs/" + name + ".ucs").c_str(), R_OK), 0);
  ProgramResult result =
      run_filter(filter_run(ZORVPRELOAD_PATH, filter_args("Office", "ucs=" + name), "job"), 0);
  EXPECT_EQ(result.out, "job");
  EXPECT_NE(log.text().find("INFO: file " + name + ".ucs not found,  HD data creation skipped\n"),
            std::string::npos)
      << log.text();
}

TEST(PreloadProgram, MissingInputFileStopsBeforeTheBlock) {
  REQUIRE_ROOT();
  std::string name = unique_name();
  InstalledProfile installed("Orvane", name + ".ucs", "profile");
  TempDir dir;
  ProgramResult result = run_filter(
      filter_run(ZORVPRELOAD_PATH, filter_args("Office", "ucs=" + name, dir.file("missing"))), 1);
  EXPECT_EQ(result.out, "");
}

TEST(PreloadProgram, ProfileThatGivesNoBlockIsStatusThree) {
  REQUIRE_ROOT();
  std::string name = unique_name();
  {
    // A directory passes the lookup's read test, but is no profile.
    InstalledProfile directory("Orvane", name + ".ucs");
    ASSERT_TRUE(make_dirs(directory.path()));
    InstalledProfile behind("Kestrel", name + ".ucs", "profile");
    ProgramResult result =
        run_filter(filter_run(ZORVPRELOAD_PATH, filter_args("Office", "ucs=" + name), "job"), 3);
    EXPECT_EQ(result.err, kHdFailed);
    EXPECT_EQ(result.out, "");
  }
  {
    // A FIFO must fail the block rather than wait for a writer.
    InstalledProfile fifo("Orvane", name + ".ucs");
    ASSERT_EQ(mkfifo(fifo.path().c_str(), 0644), 0);
    ProgramRun run = filter_run(ZORVPRELOAD_PATH, filter_args("Office", "ucs=" + name), "job");
    run.timeout_seconds = 10;
    ProgramResult result = run_filter(run, 3);
    EXPECT_EQ(result.out, "");
  }
  const char* sysfs = "/sys/devices/system/cpu/online";
  struct stat st;
  if (stat(sysfs, &st) == 0 && static_cast<size_t>(st.st_size) > read_file(sysfs).size()) {
    // Reads shorter than its length, like a profile that shrinks while it is read.
    SCOPED_TRACE("short profile");
    InstalledProfile shrinking("Orvane", name + ".ucs");
    ASSERT_EQ(symlink(sysfs, shrinking.path().c_str()), 0);
    ProgramResult result =
        run_filter(filter_run(ZORVPRELOAD_PATH, filter_args("Office", "ucs=" + name), "job"), 3);
    EXPECT_EQ(result.err, kHdFailed);
    EXPECT_EQ(result.out, "");
  }
}

// Writing the block fails the way writing the job does: status 2, and no word of a block that
// could not be built.
TEST(PreloadProgram, FailedWriteOfTheBlockIsStatusTwoAsForTheJob) {
  REQUIRE_ROOT();
  std::string name = unique_name();
  InstalledProfile installed("Orvane", name + ".ucs", pseudo_random_bytes(300000, 7));
  for (Output output : {Output::kClosedPipe, Output::kDevFull}) {
    SCOPED_TRACE(output == Output::kDevFull ? "/dev/full" : "closed pipe");
    ProgramRun run = filter_run(ZORVPRELOAD_PATH, filter_args("Office", "ucs=" + name), "job");
    run.output = output;
    ProgramResult result = run_filter(run, 2);
    EXPECT_EQ(result.err, "");
  }
}

}  // namespace
