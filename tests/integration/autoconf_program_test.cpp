// zorvautoconf run the way the scheduler runs it, against a private cupsd with real queues:
// the fetched PPDs, the copy in /var/tmp/autoconf, the log, the job bytes and the status.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "support/bytes.h"
#include "support/cupsd.h"
#include "support/paths.h"
#include "support/program.h"
#include "support/text.h"

namespace {

constexpr char kPpdDir[] = "/var/tmp/autoconf";

// The log without the lines that carry times, the command line or the environment.
std::vector<std::string> core_lines(const std::string& log) {
  const std::string variable(
      "INFO: Program begin   .*|INFO: Program exit\\(.*|"
      "INFO: Run time .*|argv\\[.*|INFO: env\\[.*");
  std::vector<std::string> kept;
  for (const std::string& line : split_lines(log)) {
    if (!full_match(line, variable)) kept.push_back(line);
  }
  return kept;
}

mode_t mode_of(const std::string& path) {
  struct stat st;
  return lstat(path.c_str(), &st) == 0 ? st.st_mode : 0;
}

std::string target_of(const std::string& queue) {
  return std::string(kPpdDir) + "/" + queue + ".ppd";
}

// A job of more than two copy blocks, every byte value included.
const std::string kBigJob = pseudo_random_bytes(200000);

// One private scheduler for the whole suite, with one queue per fixture PPD.
class AutoconfProgram : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    if (!running_as_root()) return;
    cupsd_ = new Cupsd;
    if (!cupsd_->start()) return;
    struct Queue {
      const char* name;
      const char* ppd;
      const char* served;  // written over the scheduler's copy: lpadmin refuses these
    } queues[] = {
        {"lx420", "installable.ppd", nullptr},    {"k10", "empty-group.ppd", nullptr},
        {"k20", "other-case.ppd", nullptr},       {"k30", "no-group.ppd", nullptr},
        {"k40", "no-defaults.ppd", nullptr},      {"k50", "crlf.ppd", nullptr},
        {"k60", "installable.ppd", "broken.ppd"}, {"k70", "installable.ppd", "long-lines.ppd"},
        {"k80", "installable.ppd", ""},
    };
    for (const Queue& q : queues) {
      if (!cupsd_->add_queue(q.name, test_data(std::string("ppd/") + q.ppd), "file:/dev/null"))
        return;
      if (q.served == nullptr) continue;
      std::string bytes;
      if (q.served[0] != '\0') {
        bytes = read_file(test_data(std::string("ppd/") + q.served));
      } else {
        bytes = pseudo_random_bytes(4096);
      }
      write_file(cupsd_->queue_ppd(q.name), bytes, 0644);
    }
  }
  static void TearDownTestSuite() {
    delete cupsd_;
    cupsd_ = nullptr;
  }

  void SetUp() override {
    REQUIRE_ROOT();
    ASSERT_NE(cupsd_, nullptr);
    ASSERT_TRUE(cupsd_->running() && cupsd_->failure().empty()) << cupsd_->failure();
    output_.emplace(kPpdDir);
    filter_log_.emplace("zorvautoconf", "LOG_LEVEL=5\n");
  }

  // The environment the scheduler would give the filter, with its own TMPDIR.
  std::vector<std::string> environment(const std::string& device_uri,
                                       const std::string& server = "") const {
    std::vector<std::string> env = {"TMPDIR=" + tmp_.path(), "HOME=" + home_.path(),
                                    "CUPS_SERVER=" + (server.empty() ? cupsd_->server() : server)};
    if (!device_uri.empty()) env.push_back("DEVICE_URI=" + device_uri);
    return filter_environment(env);
  }

  // Runs the filter for queue and expects status 0; afterwards the filter's TMPDIR must be
  // empty again.
  ProgramResult run(const std::string& queue, const std::string& device_uri = "file:/dev/null",
                    const std::string& input = "job\n", const std::string& server = "") {
    return finish(run_filter(filter_run(ZORVAUTOCONF_PATH, filter_args(queue, "opt=1"), input,
                                        environment(device_uri, server))));
  }
  ProgramResult finish(ProgramResult r) {
    EXPECT_EQ(directory_entries(tmp_.path()), std::vector<std::string>{})
        << "fetched PPDs left behind";
    log_ = filter_log_->text();
    return r;
  }
  // What the scheduler serves for queue, the source of the rewrite.
  std::string served(const std::string& queue) const { return read_file(cupsd_->queue_ppd(queue)); }

  static Cupsd* cupsd_;
  std::optional<SavedPath> output_;
  std::optional<FilterLog> filter_log_;
  TempDir tmp_;
  TempDir home_;
  std::string log_;
};

Cupsd* AutoconfProgram::cupsd_ = nullptr;

std::vector<std::string> identity(const char* manufacturer, const char* product, const char* model,
                                  const char* nick, const char* shortnick) {
  return {std::string("INFO: PPD manufacturer: \"") + manufacturer + "\"",
          std::string("INFO: PPD product: \"") + product + "\"",
          std::string("INFO: PPD modelname: \"") + model + "\"",
          std::string("INFO: PPD nickname: \"") + nick + "\"",
          std::string("INFO: PPD shortnickname: \"") + shortnick + "\""};
}

std::vector<std::string> concat(std::vector<std::vector<std::string>> parts) {
  std::vector<std::string> all;
  for (auto& part : parts) all.insert(all.end(), part.begin(), part.end());
  return all;
}

std::vector<std::string> unsupported(const std::string& uri) {
  return {"DEBUG: ppdUpdateConfigOptions(): DEVICE_URI=<" + uri + ">",
          "DEBUG: deviceConnectionType(" + uri + ")",
          "WARNING: Auto-configuration is not supported for this type of connection"};
}

}  // namespace

TEST(PrivateScheduler, StartsAddsAQueueAndServesItsPpd) {
  REQUIRE_ROOT();
  Cupsd cupsd;
  ASSERT_TRUE(cupsd.start()) << cupsd.failure();
  ASSERT_TRUE(cupsd.add_queue("lx420", test_data("ppd/installable.ppd"), "file:/dev/null"))
      << cupsd.failure();
  ProgramResult r = cupsd.run_client({"lpstat", "-v", "lx420"});
  EXPECT_EQ(r.out, "device for lx420: /dev/null\n") << r.err;
  EXPECT_EQ(read_file(cupsd.queue_ppd("lx420")), read_file(test_data("ppd/installable.ppd")));
  cupsd.stop();
  EXPECT_FALSE(cupsd.running());
  r = cupsd.run_client({"lpstat", "-r"});
  EXPECT_EQ(r.out.find("scheduler is running"), std::string::npos);
}

TEST(PrivateScheduler, RunsAnInstalledFilterForATypeOfTheTests) {
  REQUIRE_ROOT();
  Cupsd cupsd;
  TempDir work;
  std::string filter = work.file("tagfilter");
  ASSERT_TRUE(write_file(filter, "#!/bin/sh\nprintf 'tag:%s:' \"$3\"\nexec cat \"$6\"\n", 0755));
  ASSERT_TRUE(cupsd.install_filter("zorvtag", filter));
  ASSERT_TRUE(cupsd.add_server_root_file("zorvtest.types",
                                         "application/x-zorv-test zorvjob string(0,ZORVJOB)\n"));
  ASSERT_TRUE(cupsd.add_server_root_file(
      "zorvtest.convs", "application/x-zorv-test application/vnd.cups-postscript 0 zorvtag\n"));
  ASSERT_TRUE(cupsd.start()) << cupsd.failure();
  std::string out = cupsd.dir() + "/out.prn";
  ASSERT_TRUE(write_file(out, "", 0666));
  ASSERT_TRUE(cupsd.add_queue("tagged", test_data("ppd/installable.ppd"), "file:" + out))
      << cupsd.failure();
  std::string job = work.file("job.zorvjob");
  ASSERT_TRUE(write_file(job, "ZORVJOB 1\n", 0644));
  chmod(work.path().c_str(), 0755);
  ProgramResult r = cupsd.run_client({"lp", "-d", "tagged", "-t", "zorv title", job});
  ASSERT_EQ(r.status, 0) << r.err;
  ASSERT_TRUE(cupsd.wait_idle());
  EXPECT_EQ(read_file(out), "tag:zorv title:ZORVJOB 1\n") << read_file(cupsd.error_log());
}

TEST_F(AutoconfProgram, UnsupportedConnectionWritesAnUnchangedCopy) {
  ProgramResult r = run("lx420", "file:/dev/null");
  EXPECT_EQ(r.out, "job\n");
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(read_file(target_of("lx420")), served("lx420"));
  EXPECT_EQ(mode_of(target_of("lx420")), S_IFREG | 0666);
  EXPECT_EQ(mode_of(kPpdDir), S_IFDIR | 01777);
  EXPECT_EQ(directory_entries(kPpdDir), std::vector<std::string>{"lx420.ppd"});

  std::vector<std::string> details;
  for (const char* option : {"OptionalTray", "DuplexUnit", "PaperCassettes", "HardDisk"}) {
    std::string defchoice = std::string(option) == "PaperCassettes" ? "One"
                            : std::string(option) == "HardDisk"     ? "True"
                                                                    : "False";
    details.push_back(std::string("INFO: Option to modify: \"") + option + "\"");
    details.push_back("INFO:   defchoice: \"" + defchoice + "\"");
    details.push_back("INFO:   option hasn't been marked");
  }
  EXPECT_EQ(core_lines(log_), concat({{"INFO: Printer: \"lx420\"", "INFO: Options: \"opt=1\"",
                                       "DEBUG: updatePrinterConfiguration(lx420)"},
                                      identity("Orvane", "(Orvane LX-420)", "Orvane LX-420",
                                               "Orvane LX-420 PS", "Orvane LX-420"),
                                      unsupported("file:/dev/null"),
                                      {"ERROR: PPD directory </var/tmp/autoconf> doesn't exist",
                                       "INFO: Total 5 configuration option(s) found"},
                                      details}));
}

TEST_F(AutoconfProgram, EveryLineOfTheRunAtItsLevel) {
  ASSERT_TRUE(make_dirs(kPpdDir, 0700));
  ASSERT_TRUE(filter_log_->configure("LOG_LEVEL=7\n"));
  ProgramResult r = run("k20", "dnssd://x");
  EXPECT_EQ(mode_of(kPpdDir), S_IFDIR | 01777) << "an existing directory is reused and opened up";
  std::vector<std::string> lines = split_lines(log_);
  ASSERT_GE(lines.size(), 20u) << log_;
  EXPECT_TRUE(full_match(lines[0],
                         "INFO: Program begin   [0-9]{4}-[0-9]{2}-"
                         "[0-9]{2} [0-9:]{8}\\.[0-9]{6}"))
      << lines[0];
  std::vector<std::string> args = filter_args("k20", "opt=1");
  std::vector<std::string> env = environment("dnssd://x");
  size_t at = 1;
  for (size_t i = 0; i < args.size(); i++, at++) {
    EXPECT_EQ(lines[at], "argv[" + std::to_string(i) + "]=<" + args[i] + ">");
  }
  for (size_t i = 0; i < env.size(); i++, at++) {
    EXPECT_EQ(lines[at], "INFO: env[" + std::to_string(i) + "]: " + env[i]);
  }
  std::vector<std::string> rest(lines.begin() + static_cast<long>(at), lines.end() - 2);
  EXPECT_EQ(
      rest,
      concat({{"INFO: Printer: \"k20\"", "INFO: Options: \"opt=1\"",
               "DEBUG: updatePrinterConfiguration(k20)"},
              identity("Kestrel", "(Kestrel K-20)", "Kestrel K-20", "Kestrel K-20", "Kestrel K-20"),
              unsupported("dnssd://x"),
              {"INFO: Total 1 configuration option(s) found",
               "INFO: Default Main Keyword: \"ColorSpace\"",
               "INFO: Default Main Keyword: \"DuplexUnit\"",
               "INFO: Option to modify: \"DuplexUnit\"", "INFO:   defchoice: \"False\"",
               "INFO:   option hasn't been marked", "INFO: Default Main Keyword: \"OptionalTray\"",
               "INFO: Default Main Keyword: \"PageSize\"",
               "INFO: Default Main Keyword: \"ImageableArea\"",
               "INFO: Default Main Keyword: \"PaperDimension\""}}));
  EXPECT_TRUE(
      full_match(lines[lines.size() - 2], "INFO: Program exit\\(0\\) [0-9-]{10} [0-9:.]{15}"))
      << lines[lines.size() - 2];
  EXPECT_TRUE(full_match(lines.back(), "INFO: Run time [0-9]+\\.[0-9]{3}s")) << lines.back();
  EXPECT_EQ(read_file(target_of("k20")), served("k20"));
}

TEST_F(AutoconfProgram, LevelTwoKeepsBeginPrinterOptionsAndExit) {
  ASSERT_TRUE(make_dirs(kPpdDir, 0777));
  ASSERT_TRUE(filter_log_->configure(""));
  ProgramResult r = run("lx420");
  std::vector<std::string> lines = split_lines(log_);
  ASSERT_EQ(lines.size(), 5u) << log_;
  EXPECT_EQ(lines[1], "INFO: Printer: \"lx420\"");
  EXPECT_EQ(lines[2], "INFO: Options: \"opt=1\"");
  EXPECT_EQ(core_lines(log_).size(), 2u);
}

TEST_F(AutoconfProgram, WithoutALogConfigurationNoLogIsWritten) {
  unlink(filter_log_->config_path().c_str());
  ProgramResult r = run("lx420", "file:/dev/null", kBigJob);
  EXPECT_TRUE(same_bytes(r.out, kBigJob)) << "copied byte for byte in blocks";
  EXPECT_FALSE(filter_log_->exists());
  EXPECT_EQ(read_file(target_of("lx420")), served("lx420"));
}

TEST_F(AutoconfProgram, UnsetDeviceUriIsAnUnsupportedConnection) {
  ProgramResult r = run("k40", "");
  std::vector<std::string> lines = core_lines(log_);
  std::vector<std::string> expected = unsupported("");
  EXPECT_NE(std::search(lines.begin(), lines.end(), expected.begin(), expected.end()), lines.end())
      << log_;
  EXPECT_EQ(read_file(target_of("k40")), served("k40")) << "no *Default lines: a byte copy";
  EXPECT_EQ(log_.find("INFO: PPD file modified"), std::string::npos);
}

TEST_F(AutoconfProgram, UsbAndNetworkUrisGoToTheirQueries) {
  // k20's option has no query attributes, so neither query reaches out to a device.
  for (const char* uri : {"mfp:/dev/x", "usb://Kestrel/K-20", "lpd://127.0.0.1/queue"}) {
    SCOPED_TRACE(uri);
    ProgramResult r = run("k20", uri);
    EXPECT_EQ(r.out, "job\n");
    EXPECT_NE(log_.find("DEBUG: deviceConnectionType(" + std::string(uri) + ")\n"),
              std::string::npos);
    EXPECT_EQ(log_.find("not supported"), std::string::npos);
    EXPECT_EQ(read_file(target_of("k20")), served("k20"));
  }
}

TEST_F(AutoconfProgram, NoInstallableOptionsWritesNothing) {
  struct Case {
    const char* queue;
    const char* shortnick;
  } cases[] = {{"k30", "nil"}, {"k10", "Kestrel K-10"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.queue);
    ProgramResult r = run(c.queue);
    EXPECT_EQ(r.out, "job\n");
    EXPECT_FALSE(path_exists(target_of(c.queue)));
    EXPECT_EQ(r.err, "ERROR: chmod failed: No such file or directory\n");
    EXPECT_NE(log_.find("INFO: PPD shortnickname: \"" + std::string(c.shortnick) + "\"\n"),
              std::string::npos);
    EXPECT_NE(log_.find("INFO: Total 0 configuration option(s) found\n"), std::string::npos);
    EXPECT_EQ(log_.find("INFO: PPD file modified"), std::string::npos);
  }
}

TEST_F(AutoconfProgram, CrLfPpdIsCopiedByteForByte) {
  ProgramResult r = run("k50");
  EXPECT_EQ(read_file(target_of("k50")), read_file(test_data("ppd/crlf.ppd")));
}

TEST_F(AutoconfProgram, PpdsThatDoNotParseAreReported) {
  for (const char* queue : {"k60", "k70", "k80"}) {
    SCOPED_TRACE(queue);
    ProgramResult r = run(queue, "file:/dev/null", "");
    EXPECT_EQ(r.out, "");
    std::vector<std::string> lines = core_lines(log_);
    ASSERT_EQ(lines.size(), 4u) << log_;
    EXPECT_EQ(lines[2], "DEBUG: updatePrinterConfiguration(" + std::string(queue) + ")");
    EXPECT_TRUE(full_match(lines[3], "ERROR: ppdOpenFile\\(" + tmp_.path() + "/[^)]+\\) failed\\."))
        << lines[3];
    EXPECT_FALSE(path_exists(kPpdDir));
  }
}

TEST_F(AutoconfProgram, UnknownQueueOrNoSchedulerFailsTheFetchOnly) {
  TempDir elsewhere;
  struct Case {
    const char* queue;
    std::string server;
  } cases[] = {
      {"nosuchqueue", ""},
      {"lx420", "127.0.0.1:" + std::to_string(free_loopback_port())},
      {"lx420", elsewhere.file("no-scheduler.sock")},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.server);
    ProgramResult r = run(c.queue, "file:/dev/null", "job\n", c.server);
    EXPECT_EQ(r.out, "job\n");
    EXPECT_EQ(core_lines(log_),
              (std::vector<std::string>{
                  "INFO: Printer: \"" + std::string(c.queue) + "\"", "INFO: Options: \"opt=1\"",
                  "DEBUG: updatePrinterConfiguration(" + std::string(c.queue) + ")",
                  "ERROR: cupsGetPPD(" + std::string(c.queue) + ") failed."}));
    EXPECT_FALSE(path_exists(kPpdDir));
  }
}

TEST_F(AutoconfProgram, InputFileAndArgumentCount) {
  TempDir work;
  std::string job = work.file("job.bin");
  ASSERT_TRUE(write_file(job, kBigJob));
  ProgramRun run = filter_run(ZORVAUTOCONF_PATH, {}, "not this\n", environment("file:/dev/null"));

  run.args = filter_args("lx420", "opt=1", job);
  ProgramResult r = finish(run_filter(run, 0));
  EXPECT_TRUE(same_bytes(r.out, kBigJob));

  // The file is opened after the update: that still ran.
  ASSERT_TRUE(remove_tree(kPpdDir));
  run.args = filter_args("lx420", "opt=1", work.file("missing"));
  r = finish(run_filter(run, 1));
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "");
  EXPECT_TRUE(path_exists(target_of("lx420")));
  EXPECT_EQ(log_.find("INFO: Program exit"), std::string::npos);

  run.input = "";
  run.args = filter_args("lx420");
  r = finish(run_filter(run, 0));
  EXPECT_EQ(r.out, "");

  ASSERT_TRUE(remove_tree(kPpdDir));
  for (size_t count : {5u, 8u}) {
    SCOPED_TRACE(count);
    run.args = filter_args("lx420", "opt=1", job);
    run.args.resize(count, "extra");
    run.input = "job\n";
    r = finish(run_filter(run, 1));
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err,
              "INFO: Usage: zorvautoconf job-id user title copies options [file]\n"
              "ERROR: Wrong number of arguments\n");
    EXPECT_EQ(core_lines(log_), std::vector<std::string>{});
    EXPECT_NE(log_.find("argv[" + std::to_string(count - 1) + "]="), std::string::npos);
    EXPECT_FALSE(path_exists(kPpdDir));
  }
}

TEST_F(AutoconfProgram, ALinkOrAFileAsTheDirectoryIsRefused) {
  TempDir elsewhere;
  chmod(elsewhere.path().c_str(), 0700);
  struct Case {
    bool link;
    const char* what;
  } cases[] = {{true, "is a symbolic link"}, {false, "is not a directory"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    remove_tree(kPpdDir);
    if (c.link) {
      ASSERT_EQ(symlink(elsewhere.path().c_str(), kPpdDir), 0);
    } else {
      ASSERT_TRUE(write_file(kPpdDir, "a file\n", 0600));
    }
    ProgramResult r = run("lx420");
    EXPECT_EQ(r.out, "job\n");
    std::string message =
        std::string("ERROR: PPD directory </var/tmp/autoconf> ") + c.what + ", nothing written";
    EXPECT_EQ(r.err, message + "\n");
    std::vector<std::string> lines = core_lines(log_);
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.back(), message);
    EXPECT_EQ(directory_entries(elsewhere.path()), std::vector<std::string>{});
    EXPECT_EQ(mode_of(elsewhere.path()), S_IFDIR | 0700) << "no chmod through the link";
    EXPECT_EQ(mode_of(kPpdDir), c.link ? (S_IFLNK | 0777) : (S_IFREG | 0600));
  }
}

TEST_F(AutoconfProgram, ADirectoryOfAnotherUserIsRefused) {
  ASSERT_TRUE(make_dirs(kPpdDir, 0755));
  ASSERT_EQ(chown(kPpdDir, 65534, 65534), 0);
  ProgramResult r = run("lx420");
  EXPECT_EQ(r.out, "job\n");
  std::string message =
      "ERROR: PPD directory </var/tmp/autoconf> belongs to another user, nothing written";
  EXPECT_EQ(r.err, message + "\n");
  std::vector<std::string> lines = core_lines(log_);
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines.back(), message);
  EXPECT_EQ(directory_entries(kPpdDir), std::vector<std::string>{});
  EXPECT_EQ(mode_of(kPpdDir), S_IFDIR | 0755);
}

TEST_F(AutoconfProgram, ALinkAtTheTargetNameIsReplaced) {
  TempDir elsewhere;
  std::string victim = elsewhere.file("victim");
  ASSERT_TRUE(write_file(victim, "keep\n", 0600));
  ASSERT_TRUE(make_dirs(kPpdDir, 0777));
  ASSERT_EQ(symlink(victim.c_str(), target_of("lx420").c_str()), 0);
  ProgramResult r = run("lx420");
  EXPECT_EQ(mode_of(target_of("lx420")), S_IFREG | 0666);
  EXPECT_EQ(read_file(target_of("lx420")), served("lx420"));
  EXPECT_EQ(read_file(victim), "keep\n");
  EXPECT_EQ(mode_of(victim), S_IFREG | 0600);
}

TEST_F(AutoconfProgram, AQueueNameWithASlashLeavesNothingOutside) {
  // The scheduler resolves no such name; the name check itself is a unit test.
  for (const char* queue : {"../lx420", "lx420/"}) {
    SCOPED_TRACE(queue);
    ProgramResult r = run(queue);
    EXPECT_EQ(r.out, "job\n");
    EXPECT_NE(log_.find("ERROR: cupsGetPPD(" + std::string(queue) + ") failed.\n"),
              std::string::npos);
    EXPECT_FALSE(path_exists("/var/tmp/lx420.ppd"));
    EXPECT_FALSE(path_exists(kPpdDir));
  }
}

// A read-only directory (or a read-only /var/tmp under a missing one): each failure is reported,
// an earlier copy stays, and the job goes through. The mount is private to the filter's run.
TEST_F(AutoconfProgram, ReadOnlyDirectoryKeepsTheEarlierCopy) {
  ASSERT_TRUE(make_dirs(kPpdDir, 0777));
  ASSERT_TRUE(write_file(target_of("lx420"), "earlier\n", 0666));
  struct Case {
    const char* mount_point;
    bool exists;
    const char* err;
    std::vector<std::string> log;
  } cases[] = {
      {kPpdDir,
       true,
       "ERROR: chmod failed: Read-only file system\nERROR: chmod failed: Read-only file system\n",
       {"ERROR: chmod(/var/tmp/autoconf,3ff) failed"}},
      {"/var/tmp",
       false,
       "ERROR: mkdir failed: Read-only file system\n"
       "ERROR: PPD directory </var/tmp/autoconf> cannot be opened: No such file or directory, "
       "nothing written\n",
       {"ERROR: PPD directory </var/tmp/autoconf> doesn't exist",
        "ERROR: mkdir(/var/tmp/autoconf,3ff) failed"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.mount_point);
    if (!c.exists) {
      ASSERT_TRUE(remove_tree(kPpdDir));
    }
    ProgramRun run;
    run.path = system_program("unshare");
    run.args = {"unshare",
                "--mount",
                "--propagation",
                "private",
                "/bin/bash",
                "-c",
                // Recursive: a checkout mounted below /var/tmp by the sandbox stays there.
                std::string("mount -o rbind,ro ") + c.mount_point + " " + c.mount_point +
                    " && exec -a \"$0\" \"$@\"",
                "lx420",
                ZORVAUTOCONF_PATH,
                "42",
                "tester",
                "title",
                "1",
                "opt=1"};
    run.env = environment("file:/dev/null");
    run.input = "job\n";
    ProgramResult r = finish(run_filter(run, 0));
    EXPECT_EQ(r.out, "job\n");
    EXPECT_EQ(r.err, c.err);
    std::vector<std::string> lines = core_lines(log_);
    for (const std::string& line : c.log) {
      EXPECT_NE(std::find(lines.begin(), lines.end(), line), lines.end()) << line << "\n" << log_;
    }
    if (c.exists) {
      EXPECT_EQ(read_file(target_of("lx420")), "earlier\n");
    } else {
      EXPECT_FALSE(path_exists(kPpdDir)) << "nothing could be created";
    }
  }
}
