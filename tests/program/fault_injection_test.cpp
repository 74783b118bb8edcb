// Faults injected into the built filters, run the way the scheduler runs them: outputs that
// refuse the job, inputs that cannot be read, a full log directory, a PPD that vanishes between
// the two fetches, an SNMP agent that answers garbage, a scheduler that dies mid-request and a
// profile that shrinks while it is read. Each time the program must report the failure, end by
// itself within its time-outs, and either copy the job byte for byte or say by its exit status
// that it did not.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "colour/hd_data.h"
#include "support/bytes.h"
#include "support/hd_block.h"
#include "support/paths.h"
#include "support/ppd.h"
#include "support/program.h"
#include "support/snmp_agent.h"
#include "support/text.h"

namespace {

constexpr char kQueue[] = "faultq";
constexpr char kShimEnv[] = "LD_PRELOAD=" FAULT_SHIM_PATH;
// A shim preloaded ahead of the sanitizer runtime would stop a sanitizer build at start.
constexpr char kAsanEnv[] = "ASAN_OPTIONS=verify_asan_link_order=0";

// A filter run as queue kQueue without options, the job read from file when one is given.
ProgramRun queue_run(const char* program, const std::vector<std::string>& env = {},
                     const std::string& file = "") {
  return filter_run(program, filter_args(kQueue, "", file), "", env);
}

// An unreachable scheduler: the first fetch fails at once and nothing else happens.
constexpr char kNoScheduler[] = "CUPS_SERVER=127.0.0.1:1";

// Both programs, for the faults that concern only the pass-through.
struct Program {
  const char* name;
  const char* path;
  std::vector<std::string> env;
};
std::vector<Program> both_programs() {
  return {{"zorvpreload", ZORVPRELOAD_PATH, {}},
          {"zorvautoconf", ZORVAUTOCONF_PATH, {kNoScheduler, "DEVICE_URI=file:/dev/null"}}};
}

}  // namespace

// --- Standard output that refuses the job ----------------------------------------------

TEST(FaultOutput, ClosedPipeOrFullDeviceFailsTheCopyWithStatusTwo) {
  for (const Program& p : both_programs()) {
    for (Output output : {Output::kClosedPipe, Output::kDevFull}) {
      SCOPED_TRACE(std::string(p.name) + (output == Output::kDevFull ? " /dev/full" : " pipe"));
      ProgramRun run = queue_run(p.path, p.env);
      run.input = pseudo_random_bytes(300000);
      run.output = output;
      ProgramResult r = run_filter(run, 2);  // not killed by SIGPIPE, and never 0
    }
  }
}

TEST(FaultOutput, EmptyJobToAClosedPipeIsACompleteCopy) {
  for (const Program& p : both_programs()) {
    SCOPED_TRACE(p.name);
    ProgramRun run = queue_run(p.path, p.env);
    run.output = Output::kClosedPipe;
    ProgramResult r = run_filter(run, 0);
  }
}

// --- Input that cannot be read ---------------------------------------------------------

TEST(FaultInput, DirectoryAsStandardInputOrAsInputFileEndsWithStatusTwo) {
  TempDir dir;
  for (const Program& p : both_programs()) {
    for (bool as_file : {false, true}) {
      SCOPED_TRACE(std::string(p.name) + (as_file ? " file argument" : " stdin"));
      ProgramRun run = queue_run(p.path, p.env, as_file ? dir.path() : "");
      if (!as_file) run.input_path = dir.path();
      ProgramResult r = run_filter(run, 2);
      EXPECT_EQ(r.out, "");
    }
  }
}

TEST(FaultInput, StandardInputOpenedWriteOnlyEndsWithStatusTwo) {
  TempDir dir;
  const std::string file = dir.file("write-only");
  ASSERT_TRUE(write_file(file, "job bytes that cannot be read\n"));
  for (const Program& p : both_programs()) {
    SCOPED_TRACE(p.name);
    // The shell opens descriptor 0 for writing only, then becomes the filter.
    ProgramRun run = queue_run("/bin/bash", p.env);
    run.args = {"bash", "-c",
                std::string("exec 0>>\"$1\"; exec -a ") + kQueue + " \"$0\" 42 tester title 1 ''",
                p.path, file};
    ProgramResult r = run_filter(run, 2);
    EXPECT_EQ(r.out, "");
  }
}

// --- A full log directory ---------------------------------------------------------------

namespace {

// Runs program as queue kQueue in a mount namespace of its own whose /tmp is a tiny tmpfs,
// with a log configuration that logs everything and flushes every line, and expects status 0.
// mount_options choose how the tmpfs is exhausted; fill true writes it full before the program
// starts.
ProgramResult run_with_full_tmp(const Program& p, const std::string& mount_options, bool fill,
                                const std::string& input) {
  // The tmpfs covers the program's path when the build is under /tmp; the program's directory,
  // made the working directory first, is still reached through /proc/self/cwd (a relative
  // name would not do: bash makes it absolute).
  std::string script =
      "set -e\n"
      "cd \"${0%/*}\"\n"
      "mount -t tmpfs -o " +
      mount_options +
      ",mode=1777 zorvfault /tmp\n"
      "printf 'LOG_LEVEL=-1\\nFLUSH_MODE=1\\n' > /tmp/" +
      p.name + ".lcf\n" + (fill ? "cat /dev/zero > /tmp/fill 2>/dev/null || true\n" : "") +
      "exec -a " + kQueue + " \"/proc/self/cwd/${0##*/}\" 42 tester title 1 ''\n";
  ProgramRun run;
  run.path = "/usr/bin/unshare";
  run.args = {"unshare", "--mount", "--propagation", "private", "/bin/bash", "-c", script, p.path};
  run.env = filter_environment(p.env);
  run.input = input;
  return run_filter(run, 0);
}

bool can_unshare_mounts() {
  ProgramRun probe;
  probe.path = "/usr/bin/unshare";
  probe.args = {"unshare", "--mount", "true"};
  probe.env = filter_environment();
  ProgramResult r = run_program(probe);
  return r.exited && r.status == 0;
}

}  // namespace

// A /tmp without room for the log, or without an inode for it: log lines are lost, the job is
// not.
TEST(FaultLog, LogThatCannotBeWrittenLosesLinesButNotTheJob) {
  REQUIRE_ROOT();
  if (!can_unshare_mounts()) GTEST_SKIP() << "no mount namespaces here";
  struct Case {
    const char* mount_options;
    bool fill;
    bool reported;  // the log cannot be created: that is said on standard error
  } cases[] = {
      {"size=16k", true, false},
      // Two inodes: the directory itself and the configuration file; the log gets none.
      {"size=64k,nr_inodes=2", false, true},
  };
  const std::string job = pseudo_random_bytes(200000);
  for (const Case& c : cases) {
    for (const Program& p : both_programs()) {
      SCOPED_TRACE(std::string(p.name) + " " + c.mount_options);
      ProgramResult r = run_with_full_tmp(p, c.mount_options, c.fill, job);
      EXPECT_TRUE(same_bytes(r.out, job));
      if (c.reported) {
        EXPECT_NE(r.err.find(std::string("/tmp/") + p.name + ".log file open error\n"),
                  std::string::npos)
            << r.err;
      }
    }
  }
}

// --- Hostile neighbours in /tmp ----------------------------------------------------------

// Whatever a local user plants as /tmp/<program>.lcf, the filter neither blocks nor reads
// without end: a link, a FIFO or a file of another user means no log and one warning; a huge
// file is read 64 KiB far. The job goes through each time.
TEST(FaultTmp, PlantedLogConfigurationNeverStallsTheJob) {
  REQUIRE_ROOT();
  struct Case {
    const char* what;
    const char* plant;    // shell commands; $c is the configuration file
    const char* warning;  // empty: the file counts, and the log is written
  } cases[] = {
      {"FIFO", "mkfifo -m 0666 \"$c\"", "it is not a regular file"},
      {"link to /dev/zero", "ln -s /dev/zero \"$c\"", "it is a symbolic link"},
      {"file of another user", "echo LOG_LEVEL=7 >\"$c\"; chown 65534 \"$c\"",
       "it belongs to another user"},
      {"sparse 1 TiB", "truncate -s 1T \"$c\"", ""},
  };
  const std::string job = pseudo_random_bytes(70000);
  for (const Program& p : both_programs()) {
    for (const Case& c : cases) {
      SCOPED_TRACE(std::string(p.name) + ": " + c.what);
      const std::string config = std::string("/tmp/") + p.name + ".lcf";
      const std::string log = std::string("/tmp/") + p.name + ".log";
      SavedPath saved_config(config), saved_log(log);
      ProgramRun plant = queue_run("/bin/bash");
      plant.args = {"bash", "-c", std::string("c=") + config + "; " + c.plant};
      ASSERT_EQ(run_program(plant).status, 0);
      ProgramRun run = queue_run(p.path, p.env);
      run.input = job;
      ProgramResult r = run_filter(run, 0);
      EXPECT_TRUE(same_bytes(r.out, job));
      if (c.warning[0] != '\0') {
        EXPECT_EQ(
            r.err.find("WARNING: log configuration " + config + " ignored: " + c.warning + "\n"),
            0u)
            << r.err;
        EXPECT_FALSE(path_exists(log));
      } else {
        // Read the first 64 KiB of zeros: no keys, so the default level, and a private log.
        struct stat st;
        ASSERT_EQ(stat(log.c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 07777, 0600u);
      }
    }
  }
}

// Job text (title, user, options) can never write a line of its own into the log.
TEST(FaultTmp, JobTextCannotForgeLogLines) {
  REQUIRE_ROOT();
  for (const Program& p : both_programs()) {
    SCOPED_TRACE(p.name);
    FilterLog log(p.name, "LOG_LEVEL=7\n");
    ProgramRun run = queue_run(p.path, p.env);
    run.args[3] = "report\nINFO: Program exit(0) forged";
    run.args[5] = "ucs=x\rINFO: forged";
    run.env.push_back("ZORV_NOTE=a\nINFO: forged");
    run_filter(run, kAnyStatus);
    const std::string text = log.text();
    for (const std::string& line : split_lines(text)) {
      EXPECT_TRUE(full_match(line, "(INFO|DEBUG|WARNING|ERROR): .*|argv\\[[0-9]\\]=<.*>")) << line;
    }
    EXPECT_NE(text.find("argv[3]=<report\\nINFO: Program exit(0) forged>\n"), std::string::npos)
        << text;
  }
}

// --- A scheduler that dies mid-request --------------------------------------------------

namespace {

// A TCP listener on a loopback port that misbehaves the same way on every connection.
class DyingScheduler {
 public:
  enum class Mode { kCloseAtOnce, kCloseAfterRequest, kGarbageAnswer };

  explicit DyingScheduler(Mode mode) : mode_(mode) {
    fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof(a);
    if (fd_ < 0 || bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof(a)) != 0 ||
        listen(fd_, 8) != 0 || getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &len) != 0) {
      return;
    }
    port_ = ntohs(a.sin_port);
    thread_ = std::thread([this] { serve(); });
  }
  ~DyingScheduler() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
    if (fd_ >= 0) close(fd_);
  }
  int port() const { return port_; }
  int connections() const { return connections_; }

 private:
  void serve() {
    while (!stop_) {
      pollfd p = {fd_, POLLIN, 0};
      if (poll(&p, 1, 50) <= 0) continue;
      int c = accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC);
      if (c < 0) continue;
      connections_++;
      if (mode_ != Mode::kCloseAtOnce) {
        char buffer[4096];
        pollfd q = {c, POLLIN, 0};
        if (poll(&q, 1, 2000) > 0) (void)!read(c, buffer, sizeof(buffer));
      }
      if (mode_ == Mode::kGarbageAnswer) {
        static const char answer[] =
            "HTTP/1.1 200 OK\r\nContent-Type: application/ipp\r\nContent-Length: 4000\r\n\r\n"
            "\x02\x00\x00\x00\x00\x00\x00\x01\x01\x47\xff\xff";
        (void)!write(c, answer, sizeof(answer) - 1);
      }
      close(c);
    }
  }

  Mode mode_;
  int fd_ = -1;
  int port_ = 0;
  std::atomic<bool> stop_{false};
  std::atomic<int> connections_{0};
  std::thread thread_;
};

}  // namespace

TEST(FaultScheduler, SchedulerThatDiesMidRequestLeavesTheJobIntact) {
  const std::string job = pseudo_random_bytes(100000);
  for (auto mode : {DyingScheduler::Mode::kCloseAtOnce, DyingScheduler::Mode::kCloseAfterRequest,
                    DyingScheduler::Mode::kGarbageAnswer}) {
    SCOPED_TRACE(static_cast<int>(mode));
    DyingScheduler scheduler(mode);
    ASSERT_GT(scheduler.port(), 0);
    TempDir home;
    ProgramRun run =
        queue_run(ZORVAUTOCONF_PATH, {"CUPS_SERVER=127.0.0.1:" + std::to_string(scheduler.port()),
                                      "HOME=" + home.path(), "DEVICE_URI=socket://127.0.0.1:9"});
    run.input = job;
    ProgramResult r = run_filter(run, 0);
    EXPECT_TRUE(same_bytes(r.out, job));
    EXPECT_GT(scheduler.connections(), 0);
  }
}

// --- A PPD that vanishes between the two fetches -----------------------------------------

namespace {

// The fixed paths of one auto-configuration run: log configuration and log, output directory.
struct AutoconfPaths {
  FilterLog log{"zorvautoconf", "LOG_LEVEL=3\n"};
  SavedPath output{"/var/tmp/autoconf"};
  std::string target = std::string("/var/tmp/autoconf/") + kQueue + ".ppd";
};

const std::string kAgentPpd = test_data("fault/agent.ppd");

ProgramRun shimmed_autoconf(const TempDir& tmp, const std::string& plan,
                            const std::string& device_uri, const std::string& ppd = kAgentPpd) {
  return queue_run(ZORVAUTOCONF_PATH,
                   {kShimEnv, kAsanEnv, "TMPDIR=" + tmp.path(), "ZORV_FAULT_PPD=" + ppd,
                    "ZORV_FAULT_PPD_PLAN=" + plan, "DEVICE_URI=" + device_uri});
}

}  // namespace

TEST(FaultPpd, PpdThatVanishesIsReportedAndNoCopyIsWritten) {
  REQUIRE_ROOT();
  struct Case {
    const char* plan;
    const char* log_line;  // what the log must say
  } cases[] = {
      {"ok,null", "ERROR: cupsGetPPD(faultq) failed.\n"},  // gone from the scheduler
      {"gone", "ERROR: ppdOpenFile("},                     // gone before the first open
      {"ok,gone", "DEBUG: ppdUpdateConfigOptions()"},      // gone before the rewrite
  };
  const std::string job = pseudo_random_bytes(5000);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.plan);
    AutoconfPaths paths;
    TempDir tmp;
    ProgramRun run = shimmed_autoconf(tmp, c.plan, "file:/dev/null");
    run.input = job;
    ProgramResult r = run_filter(run, 0);
    EXPECT_TRUE(same_bytes(r.out, job));
    EXPECT_FALSE(path_exists(paths.target));
    std::string log = paths.log.text();
    EXPECT_NE(log.find(c.log_line), std::string::npos) << log;
    EXPECT_EQ(log.find("INFO: PPD file modified"), std::string::npos) << log;
  }
}

TEST(FaultPpd, ControlRunWithBothFetchesWritesTheCopy) {
  REQUIRE_ROOT();
  AutoconfPaths paths;
  TempDir tmp;
  ProgramRun run = shimmed_autoconf(tmp, "ok", "file:/dev/null");
  run.input = "job";
  ProgramResult r = run_filter(run, 0);
  EXPECT_EQ(r.out, "job");
  EXPECT_EQ(read_file(paths.target), read_file(kAgentPpd));
}

// --- Hostile neighbours in /var/tmp -------------------------------------------------------

// The output directory is used through one descriptor: a link planted in the race between the
// check and the mkdir, a directory planted at the copy's name, and a directory made by the
// scheduler's jobs as lp when the filter is run by hand as root.
TEST(FaultVarTmp, OutputDirectoryAttacksAreRefusedAndTheJobGoesOn) {
  REQUIRE_ROOT();
  TempDir elsewhere;
  chmod(elsewhere.path().c_str(), 0700);
  const int nobody = user_id("nobody");
  ASSERT_GE(nobody, 0);
  struct Case {
    const char* what;
    std::string extra_env;
    const char* prepare;  // shell commands run before the filter
    const char* err;      // expected standard error
    bool written;         // the copy lands in /var/tmp/autoconf
    int uid = -1;         // the filter runs as this user; -1: as root
  } cases[] = {
      {"link planted by a racing mkdir", "ZORV_FAULT_MKDIR_LINK=" + elsewhere.path(), "",
       "ERROR: PPD directory </var/tmp/autoconf> is a symbolic link, nothing written\n", false},
      {"directory planted at the copy's name", "",
       "mkdir -m 1777 /var/tmp/autoconf /var/tmp/autoconf/faultq.ppd",
       "ERROR: </var/tmp/autoconf/faultq.ppd> is not a file, nothing written\n", false},
      {"directory of the filter user lp", "",
       "mkdir -m 1777 /var/tmp/autoconf && chown lp /var/tmp/autoconf", "", true},
      // A run by hand as a user other than root or lp.
      {"directory of the running user", "",
       "mkdir -m 1777 /var/tmp/autoconf && chown nobody /var/tmp/autoconf", "", true, nobody},
      {"directory of a third user", "",
       "mkdir -m 1777 /var/tmp/autoconf && chown daemon /var/tmp/autoconf",
       "ERROR: PPD directory </var/tmp/autoconf> belongs to another user, nothing written\n", false,
       nobody},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    AutoconfPaths paths;
    ProgramRun prepare = queue_run("/bin/bash");
    prepare.args = {"bash", "-c", c.prepare};
    ASSERT_EQ(run_program(prepare).status, 0);
    TempDir tmp;
    chmod(tmp.path().c_str(), 0777);
    ProgramRun run = shimmed_autoconf(tmp, "ok", "file:/dev/null");
    if (!c.extra_env.empty()) run.env.push_back(c.extra_env);
    run.uid = c.uid;
    run.input = "job";
    ProgramResult r = run_filter(run, 0);
    EXPECT_EQ(r.out, "job");
    EXPECT_EQ(r.err, c.err);
    EXPECT_EQ(directory_entries(elsewhere.path()), std::vector<std::string>{});
    struct stat st;
    EXPECT_EQ(lstat(elsewhere.path().c_str(), &st) == 0 ? st.st_mode & 07777 : 0, 0700u);
    EXPECT_EQ(path_exists(paths.target) && read_file(paths.target) == read_file(kAgentPpd),
              c.written);
    if (c.written) {
      EXPECT_EQ(stat(paths.target.c_str(), &st) == 0 ? st.st_mode & 07777 : 0, 0666u);
    }
  }
}

// --- Secrets --------------------------------------------------------------------------------

// A password in the device URI reaches neither standard error nor any level of the log, even
// with '/' and '@' in it; nor do the values of secret-looking variables.
TEST(FaultSecrets, PasswordsNeverReachStandardErrorOrTheLog) {
  REQUIRE_ROOT();
  for (const char* uri : {"socket://admin:s3/cr@t@", "file://admin:s3/cr@t@host/dev/null"}) {
    SCOPED_TRACE(uri);
    AutoconfPaths paths;
    paths.log.configure("LOG_LEVEL=-1\n");
    TempDir tmp;
    ProgramRun run = shimmed_autoconf(tmp, "ok", uri);
    run.env.push_back("PRINTER_PASSWORD=s3/cr@t");
    ProgramResult r = run_filter(run, kAnyStatus);
    const std::string log = paths.log.text();
    EXPECT_EQ(r.err.find("s3/cr"), std::string::npos) << r.err;
    EXPECT_EQ(log.find("s3/cr"), std::string::npos) << log;
    std::string masked = uri;
    masked.replace(masked.find("s3"), 7, "****");
    EXPECT_NE(log.find("DEVICE_URI=<" + masked + ">"), std::string::npos) << log;
  }
}

// --- Agents that answer, slowly, twice, wrongly, or not at all -------------------------------

namespace {

// What the filter writes for tests/data/fault/agent.ppd against the scripted agent: the
// messages of GETs made one after another, in option order, whatever order the answers came
// in. A time-out's text may carry a stale detail of an earlier library failure; it is the
// library's, and left out of the comparison.
const std::string kAgentMessages =
    "Error in packet: <(noSuchName) There is no such variable name in this MIB.>\n"
    "WARNING: SNMP query (1.3.6.1.4.1.64999.1.3) failure\n"
    "snmp_sess_synch_response failed: <Timeout>\n"
    "WARNING: SNMP query (1.3.6.1.4.1.64999.1.4) failure\n"
    "WARNING: option 'Hostile' has no reply attribute 'SnmpHostile' with value "
    "'x\\nPPD: DefaultX=Y cupsFilter2=\"a b 0 /bin/sh\"\\r\\nSTATE: +media-empty-error\\n"
    "ATTR: marker-levels=1\\x1B\\\\ \\x9B31m\\xC2\\x9D0;title\\x07'\n"
    "snmp_sess_synch_response failed: <Timeout>\n"
    "WARNING: SNMP query (1.3.6.1.4.1.64999.1.8) failure\n"
    "snmp_sess_synch_response failed: <Timeout>\n"
    "WARNING: SNMP query (1.3.6.1.4.1.64999.1.9) failure\n"
    "snmp_sess_synch_response failed: <Timeout>\n"
    "WARNING: SNMP query (1.3.6.1.4.1.64999.1.10) failure\n"
    "snmp_sess_synch_response failed: <Timeout>\n"
    "WARNING: SNMP query (1.3.6.1.4.1.64999.1.11) failure\n"
    "WARNING: option 'NoQuery' has no query attribute '?SnmpNoQuery'\n"
    "invalid OID string <NO-SUCH-MIB::nothing.0>\n"
    "WARNING: SNMP query (NO-SUCH-MIB::nothing.0) failure\n"
    "WARNING: option 'NoReply' has no reply attribute 'SnmpNoReply' with value 'abc'\n"
    "ERROR: regcomp failed: <Invalid regular expression>\n";

// A PPD of count installable options, each asking for an OID of its own and marked by "1".
constexpr int kManyOptions = 300;
std::string many_options_ppd(int count) {
  std::string options, attributes;
  for (int k = 0; k < count; ++k) {
    const std::string keyword = "Opt" + std::to_string(k);
    options += installable_option(keyword);
    attributes += "*?Snmp" + keyword + ": \".1.3.6.1.4.1.64999.3." + std::to_string(k) +
                  "\"\n*Snmp" + keyword + " True: \"^1$\"\n";
  }
  return test_ppd("Acme", options, attributes);
}

std::string without_timeout_detail(std::string text) {
  const std::string timeout = "<Timeout";
  for (size_t at = text.find(timeout); at != std::string::npos; at = text.find(timeout, at + 1)) {
    const size_t end = text.find(">\n", at);
    if (end != std::string::npos) text.erase(at + timeout.size(), end - at - timeout.size());
  }
  return text;
}

}  // namespace

// Runs of the filter on tests/data/fault/agent.ppd against the scripted agent on 127.0.0.77.
class ScriptedAgentRun : public ::testing::Test {
 protected:
  void SetUp() override {
    REQUIRE_ROOT();
    if (!agent_.bound()) GTEST_SKIP() << "UDP 127.0.0.77:161 or 127.0.0.78:161 is taken";
  }
  ProgramRun run() const { return shimmed_autoconf(tmp_, "ok", "socket://127.0.0.77:9100"); }

  ScriptedAgent agent_{"127.0.0.77", ScriptedAgent::Mode::kScripted};
  AutoconfPaths paths_;
  TempDir tmp_;
};

// The same PPD against every agent behaviour at once: each option's outcome, the whole of
// standard error and the rewritten PPD are those of GETs made one after another. An answer
// given to the wrong option, a message out of order or a lost outcome changes the text. Only
// the printer's own address and port may answer: answers from another address or port, and
// the neighbour's thousands of guesses, are what no answer is.
TEST_F(ScriptedAgentRun, EveryOutcomeIsReportedAsOneGetAfterAnother) {
  ProgramRun run = this->run();
  const std::string job = pseudo_random_bytes(20000);
  run.input = job;
  ProgramResult r = run_filter(run, 0);
  EXPECT_TRUE(same_bytes(r.out, job));
  EXPECT_EQ(without_timeout_detail(r.err), kAgentMessages);
  EXPECT_EQ(agent_.requests(), 13);
  EXPECT_GT(agent_.forged(), 6000);
  // Request ids come from the kernel's random source, not a counter a neighbour can follow.
  const std::vector<long> ids = agent_.request_ids();
  for (size_t i = 1; i < ids.size(); ++i) {
    EXPECT_NE(ids[i], ids[i - 1] + 1) << "request " << i;
  }

  std::string expected = read_file(kAgentPpd);
  for (const char* marked : {"Opaque", "Text", "Slow", "Twice", "BadRegex"}) {
    replace_text(expected, std::string("*Default") + marked + ": False\n",
                 std::string("*Default") + marked + ": True\n");
  }
  EXPECT_EQ(read_file(paths_.target), expected);
}

// A host that cannot be resolved: no session opens, and every option with a readable OID says
// so, as each GET on its own would.
TEST(FaultAgent, SessionThatCannotBeOpenedIsReportedForEveryQuery) {
  REQUIRE_ROOT();
  AutoconfPaths paths;
  TempDir tmp;
  ProgramRun run = shimmed_autoconf(tmp, "ok", "socket://nohost.invalid:9100");
  run.input = "job";
  ProgramResult r = run_filter(run, kAnyStatus);
  EXPECT_EQ(r.out, "job");
  const std::string open_failed = split_lines(r.err).empty() ? "" : split_lines(r.err)[0];
  EXPECT_TRUE(full_match(open_failed, "snmp_sess_open: Unknown host \\(nohost\\.invalid\\).*"))
      << r.err;
  std::string expected;
  for (int component : {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 0, -1, 2, 2}) {
    if (component == 0) {
      expected += "WARNING: option 'NoQuery' has no query attribute '?SnmpNoQuery'\n";
    } else if (component < 0) {
      expected +=
          "invalid OID string <NO-SUCH-MIB::nothing.0>\n"
          "WARNING: SNMP query (NO-SUCH-MIB::nothing.0) failure\n";
    } else {
      expected += open_failed + "\nWARNING: SNMP query (1.3.6.1.4.1.64999.1." +
                  std::to_string(component) + ") failure\n";
    }
  }
  EXPECT_EQ(r.err, expected);
  EXPECT_EQ(read_file(paths.target), read_file(kAgentPpd));
}

// Hundreds of queried options: at most 64 GETs wait at a time, and every option still gets
// its answer and its mark. The agent answers only once the requests stop coming, so what waits
// at once is exactly what the filter sends before it waits.
TEST(FaultAgent, HundredsOfOptionsAreAllAnswered) {
  REQUIRE_ROOT();
  ScriptedAgent agent("127.0.0.79", ScriptedAgent::Mode::kQuiet, 100);
  if (!agent.bound()) GTEST_SKIP() << "UDP 127.0.0.79:161 is taken";
  TempDir tmp;
  ASSERT_TRUE(write_file(tmp.file("many.ppd"), many_options_ppd(kManyOptions)));
  AutoconfPaths paths;
  ProgramRun run = shimmed_autoconf(tmp, "ok", "socket://127.0.0.79:9100", tmp.file("many.ppd"));
  ProgramResult r = run_filter(run, kAnyStatus);
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(agent.requests(), kManyOptions);
  EXPECT_EQ(agent.most_waiting(), 64);
  const std::string ppd = read_file(paths.target);
  EXPECT_EQ(occurrences(ppd, ": True\n"), static_cast<size_t>(kManyOptions));
}

// SIGTERM while the first 64 of hundreds of GETs wait: no further GET goes out.
TEST(FaultAgent, CancelAmongHundredsSendsNoFurtherRequest) {
  REQUIRE_ROOT();
  ScriptedAgent agent("127.0.0.80", ScriptedAgent::Mode::kQuiet, 300);
  if (!agent.bound()) GTEST_SKIP() << "UDP 127.0.0.80:161 is taken";
  TempDir tmp;
  ASSERT_TRUE(write_file(tmp.file("many.ppd"), many_options_ppd(kManyOptions)));
  AutoconfPaths paths;
  ProgramRun run = shimmed_autoconf(tmp, "ok", "socket://127.0.0.80:9100", tmp.file("many.ppd"));
  run.input = "job";
  run.term_when = [&agent] { return agent.requests() >= 64; };
  ProgramResult r = run_filter(run, 2);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(agent.requests(), 64);
  EXPECT_FALSE(path_exists(paths.target));
}

// SIGTERM while the GETs wait: the wait ends at once, nothing is reported or written, and the
// job is not copied; the exit status is that of a cancelled copy.
TEST_F(ScriptedAgentRun, CancelEndsTheWaitAndWritesNothing) {
  ProgramRun run = this->run();
  run.input = "job";
  // Once every GET is out, the silent and late ones are being waited for.
  run.term_when = [this] { return agent_.requests() == 13; };
  ProgramResult r = run_filter(run, 2);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "");
  EXPECT_FALSE(path_exists(paths_.target));
  EXPECT_NE(paths_.log.text().find("ERROR: job cancelled after the device query"),
            std::string::npos);
}

// --- A profile that shrinks while it is read --------------------------------------------

namespace {

// /opt/Quillon/mfp/ucs/FaultShrink.ucs of 10000 bytes for the life of the guard. Quillon is
// searched last, and no other installation has a profile of this name.
const std::string kShrinkingProfile = pseudo_random_bytes(10000);
struct ShrinkingProfile : InstalledProfile {
  ShrinkingProfile() : InstalledProfile("Quillon", "FaultShrink.ucs", kShrinkingProfile) {}
};

ProgramRun preload_with_profile(bool shrink) {
  std::vector<std::string> env = {kShimEnv, kAsanEnv};
  if (shrink) env.push_back("ZORV_FAULT_SHRINK=/opt/Quillon/mfp/ucs/FaultShrink.ucs");
  ProgramRun run = queue_run(ZORVPRELOAD_PATH, env);
  run.args = filter_args(kQueue, "ucs=FaultShrink");
  return run;
}

}  // namespace

TEST(FaultProfile, ProfileThatShrinksWhileReadStopsTheJobWithStatusThree) {
  REQUIRE_ROOT();
  ShrinkingProfile profile;
  ProgramRun run = preload_with_profile(true);
  run.input = pseudo_random_bytes(3000);
  ProgramResult r = run_filter(run, 3);
  EXPECT_EQ(r.out.size(), 0u) << "nothing of a block or the job may leave";
  EXPECT_NE(r.err.find("ERROR: HD data creation failed, execution aborted\n"), std::string::npos)
      << r.err;
  EXPECT_EQ(read_file(profile.path()).size(), 5000u) << "the shim did not cut the profile";
}

TEST(FaultProfile, ControlRunWithoutShrinkingWritesBlockAndJob) {
  REQUIRE_ROOT();
  ShrinkingProfile profile;
  ProgramRun run = preload_with_profile(false);
  const std::string job = pseudo_random_bytes(3000);
  run.input = job;
  ProgramResult r = run_filter(run, 0);
  EXPECT_EQ(hd_block_mismatch(r.out, kShrinkingProfile), "");
  ASSERT_EQ(r.out.size(), hd_block_size(kShrinkingProfile.size()) + job.size());
  EXPECT_TRUE(same_bytes(r.out.substr(r.out.size() - job.size()), job));
}

// --- A profile that changes while its block is made or written ----------------------------

namespace {

// How a run ends: nothing written (status 3); the block of the profile as it was installed and
// the job (status 0); a part of that block and no job byte, never a whole block (status 2, the
// block cut short); a part or all of that block and no job byte (status 2, cancelled).
enum class Ending { kNothing, kBlockAndJob, kCut, kCancelled };

// The bytes of the profile after the shim's change.
std::string changed_profile(const std::string& change, const std::string& profile) {
  if (change == "grow") return profile + std::string(1, 'x') + std::string(4095, '\0');
  if (change == "shrink") return profile.substr(0, profile.size() / 2);
  if (change != "rewrite") return profile;
  std::string turned = profile;
  for (char& c : turned) c = static_cast<char>(~c);
  return turned;
}

}  // namespace

// The shim changes the profile once, after the lookup found it, after its first read, or after
// the first bytes of its block left. A profile shorter than the writer's piece is read whole
// before the block starts; a longer one is read while its block leaves.
TEST(FaultProfile, ProfileThatChangesGivesItsBlockNothingOrACutBlock) {
  REQUIRE_ROOT();
  const size_t kShort = 10000;
  const size_t kLong = 2 * kHdPiece + 5;
  const struct {
    const char* moment;
    const char* change;
    size_t length;
    int status;
    Ending ending;
  } cases[] = {
      {"found", "fifo", kShort, 3, Ending::kNothing},
      {"read", "shrink", kShort, 3, Ending::kNothing},
      {"read", "rewrite", kLong, 3, Ending::kNothing},
      {"read", "fifo", kLong, 0, Ending::kBlockAndJob},
      {"written", "rewrite", kShort, 0, Ending::kBlockAndJob},
      {"written", "grow", kLong, 2, Ending::kCut},
      {"written", "shrink", kLong, 2, Ending::kCut},
      {"written", "rewrite", kLong, 2, Ending::kCut},
      {"written", "term", kLong, 2, Ending::kCancelled},
  };
  const std::string job = pseudo_random_bytes(3000);
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.moment) + "," + c.change + ", profile of " +
                 std::to_string(c.length));
    const std::string profile = pseudo_random_bytes(c.length, static_cast<unsigned>(c.length));
    TempDir dir;
    ASSERT_TRUE(write_file(dir.file("p.ucs"), profile));
    const std::string block = write_hd_block(dir.file("p.ucs")).bytes;
    ASSERT_EQ(hd_block_mismatch(block, profile), "");

    FilterLog log("zorvpreload", "LOG_LEVEL=1\n");
    InstalledProfile installed("Quillon", "FaultChange.ucs", profile);
    ProgramRun run = queue_run(
        ZORVPRELOAD_PATH, {kShimEnv, kAsanEnv, "ZORV_FAULT_PROFILE=" + installed.path(),
                           std::string("ZORV_FAULT_PROFILE_PLAN=") + c.moment + "," + c.change});
    run.args = filter_args(kQueue, "ucs=FaultChange");
    run.input = job;
    ProgramResult r = run_filter(run, c.status);
    switch (c.ending) {
      case Ending::kNothing:
        EXPECT_EQ(r.out.size(), 0u);
        break;
      case Ending::kBlockAndJob:
        EXPECT_TRUE(same_bytes(r.out, block + job));
        break;
      case Ending::kCut:
        EXPECT_LT(r.out.size(), block.size());
        EXPECT_TRUE(same_bytes(r.out, block.substr(0, r.out.size())));
        EXPECT_NE(log.text().find("ERROR: colour profile changed or failed to read while its "
                                  "block was written, block cut short\n"),
                  std::string::npos)
            << log.text();
        break;
      case Ending::kCancelled:
        EXPECT_LE(r.out.size(), block.size());
        EXPECT_TRUE(same_bytes(r.out, block.substr(0, r.out.size())));
        break;
    }
    struct stat st;
    ASSERT_EQ(lstat(installed.path().c_str(), &st), 0);
    if (std::string(c.change) == "fifo") {
      EXPECT_TRUE(S_ISFIFO(st.st_mode)) << "the shim did not replace the profile";
    } else {
      EXPECT_TRUE(read_file(installed.path()) == changed_profile(c.change, profile))
          << "the shim did not change the profile";
    }
  }
}
