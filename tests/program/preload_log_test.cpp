// The log of zorvpreload runs: what each kind of run leaves in /tmp/zorvpreload.log.
#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "support/paths.h"
#include "support/program.h"
#include "support/text.h"

namespace {

// Takes the "INFO: env[...]" lines out of a log (timestamps already replaced) and checks them
// against the environment the program was given: every entry in order, with AUTH_* values
// masked. A test wrapper (ZORV_TEST_WRAPPER) adds entries of its own, so then the given
// entries need only be present.
std::string check_environment_lines(const std::string& log, const std::vector<std::string>& env) {
  std::string rest;
  std::vector<std::string> logged;
  for (size_t at = 0; at < log.size();) {
    size_t end = log.find('\n', at);
    end = end == std::string::npos ? log.size() : end + 1;
    std::string line = log.substr(at, end - at);
    std::string prefix = "INFO: env[" + std::to_string(logged.size()) + "]: ";
    if (line.compare(0, prefix.size(), prefix) == 0) {
      logged.push_back(line.substr(prefix.size(), line.size() - prefix.size() - 1));
    } else {
      rest += line;
    }
    at = end;
  }
  std::vector<std::string> expected;
  for (const std::string& entry : env) {
    expected.push_back(
        entry.compare(0, 5, "AUTH_") == 0 ? entry.substr(0, entry.find('=') + 1) + "****" : entry);
  }
  const char* wrapper = getenv("ZORV_TEST_WRAPPER");
  if (wrapper == nullptr || wrapper[0] == '\0') {
    EXPECT_EQ(logged, expected);
  } else {
    for (const std::string& entry : expected) {
      if (entry.compare(0, 5, "PATH=") == 0) continue;
      EXPECT_NE(std::find(logged.begin(), logged.end(), entry), logged.end()) << entry;
    }
  }
  return rest;
}

TEST(PreloadProgram, LogTellsTheWholeRunAtLevelSeven) {
  REQUIRE_ROOT();
  FilterLog log("zorvpreload", "LOG_LEVEL=7\n");
  std::string name = unique_name();
  InstalledProfile installed("Kestrel", name + ".ucs", "profile");
  ProgramRun run = filter_run(ZORVPRELOAD_PATH, filter_args("Office", "ucs=" + name), "job",
                              {"AUTH_PASSWORD=hunter2"});
  run_filter(run, 0);
  std::string rest = check_environment_lines(without_times(log.text()), run.env);
  std::string expected = "INFO: Program begin   <time>\n";
  for (size_t i = 0; i < run.args.size(); i++) {
    expected += "argv[" + std::to_string(i) + "]=<" + run.args[i] + ">\n";
  }
  expected +=
      joined_lines({"INFO: Printer: \"" + name + "\"", "INFO: Options: \"ucs=" + name + "\"",
                    "INFO: ucs bare file name is <" + name + ".ucs>",
                    "INFO: using ucs file /opt/Kestrel/mfp/ucs/" + name + ".ucs",
                    "INFO: Program exit(0) <time>"});
  EXPECT_EQ(rest, expected);
  EXPECT_EQ(log.text().find("hunter2"), std::string::npos);
}

TEST(PreloadProgram, LogAtDefaultLevelHasBeginPrinterSkipAndExit) {
  REQUIRE_ROOT();
  FilterLog log("zorvpreload", "");
  std::string queue = unique_name("Office");
  ProgramResult result =
      run_filter(filter_run(ZORVPRELOAD_PATH, filter_args(queue, "Duplex=None"), "job"), 0);
  EXPECT_EQ(result.out, "job");
  EXPECT_EQ(without_times(log.text()),
            joined_lines({"INFO: Program begin   <time>", "INFO: Printer: \"" + queue + "\"",
                          "INFO: Options: \"Duplex=None\"",
                          "INFO: file " + queue + ".ucs not found,  HD data creation skipped",
                          "INFO: Program exit(0) <time>"}));
}

TEST(PreloadProgram, LogOfFailedRunsEndsWithTheError) {
  REQUIRE_ROOT();
  FilterLog log("zorvpreload", "LOG_LEVEL=2\n");
  TempDir dir;
  run_filter(filter_run(ZORVPRELOAD_PATH, filter_args("Office", "ucs=", dir.file("missing"))), 1);
  EXPECT_EQ(
      without_times(log.text()),
      joined_lines(
          {"INFO: Program begin   <time>", "INFO: Printer: \"\"", "INFO: Options: \"ucs=\"",
           "ERROR: can not open file " + dir.file("missing") + " for reading, execution aborted"}));

  std::string name = unique_name();
  InstalledProfile directory("Orvane", name + ".ucs");
  ASSERT_TRUE(make_dirs(directory.path()));
  run_filter(filter_run(ZORVPRELOAD_PATH, filter_args("Office", "ucs=" + name), "job"), 3);
  EXPECT_EQ(without_times(log.text()),
            joined_lines({"INFO: Program begin   <time>", "INFO: Printer: \"" + name + "\"",
                          "INFO: Options: \"ucs=" + name + "\"",
                          "ERROR: HD data creation failed, execution aborted"}));

  ProgramRun run = filter_run(ZORVPRELOAD_PATH, filter_args(unique_name()), "job");
  run.output = Output::kDevFull;
  run_filter(run, 2);
  EXPECT_NE(log.text().find("ERROR: write to standard output failed"), std::string::npos)
      << log.text();
  EXPECT_EQ(log.text().find("INFO: Program exit"), std::string::npos);
}

TEST(PreloadProgram, WrongArgumentCountIsLoggedBeforeTheUsage) {
  REQUIRE_ROOT();
  FilterLog log("zorvpreload", "LOG_LEVEL=7\n");
  ProgramRun run = filter_run(ZORVPRELOAD_PATH, {"Office", "42", "tester", "title", "1"});
  run_filter(run, 1);
  EXPECT_EQ(check_environment_lines(without_times(log.text()), run.env),
            joined_lines({"INFO: Program begin   <time>", "argv[0]=<Office>", "argv[1]=<42>",
                          "argv[2]=<tester>", "argv[3]=<title>", "argv[4]=<1>"}));
}

TEST(PreloadProgram, NoLogWithoutConfiguration) {
  REQUIRE_ROOT();
  SavedPath config("/tmp/zorvpreload.lcf");
  SavedPath log("/tmp/zorvpreload.log");
  ProgramResult result =
      run_filter(filter_run(ZORVPRELOAD_PATH, filter_args(unique_name()), "job"), 0);
  EXPECT_EQ(result.out, "job");
  EXPECT_FALSE(path_exists(log.path()));
}

}  // namespace
