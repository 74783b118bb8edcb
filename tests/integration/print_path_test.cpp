// The real print path: a private scheduler runs zorvautoconf and zorvpreload on every job of a
// queue whose printer is a listener on a loopback address and whose SNMP agent there answers
// the worked example's queries. Checks what the printer received and the rewritten PPD.
#include <cups/cups.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "support/background.h"
#include "support/bytes.h"
#include "support/cupsd.h"
#include "support/hd_block.h"
#include "support/listener.h"
#include "support/paths.h"
#include "support/program.h"
#include "support/snmpd.h"
#include "support/text.h"

namespace {

constexpr char kPrinterAddress[] = "127.0.0.31";
constexpr int kPrinterPort = 9100;
constexpr char kQueue[] = "zorvlaser";
constexpr char kJobType[] = "application/vnd.zorv-job";
constexpr char kAutoconfDir[] = "/var/tmp/autoconf";
constexpr int kJobTimeoutMs = 120000;

// What the printer received for a job: the block of profile, then the job unchanged.
void expect_block_then_job(const std::string& received, const std::string& profile,
                           const std::string& job) {
  EXPECT_EQ(hd_block_mismatch(received, profile), "");
  const size_t block = std::min(received.size(), hd_block_size(profile.size()));
  EXPECT_TRUE(same_bytes(received.substr(block), job));
}

ipp_jstate_t job_state(const Cupsd& cupsd, int id) {
  http_t* http = httpConnect2("127.0.0.1", cupsd.port(), nullptr, AF_INET, HTTP_ENCRYPTION_NEVER, 1,
                              30000, nullptr);
  if (http == nullptr) return static_cast<ipp_jstate_t>(0);
  cups_job_t* jobs = nullptr;
  int count = cupsGetJobs2(http, &jobs, nullptr, 0, CUPS_WHICHJOBS_ALL);
  ipp_jstate_t state = static_cast<ipp_jstate_t>(0);
  for (int i = 0; i < count; i++) {
    if (jobs[i].id == id) state = jobs[i].state;
  }
  cupsFreeJobs(count, jobs);
  httpClose(http);
  return state;
}

// Polls until the job has ended (completed, cancelled or aborted); returns its last state.
ipp_jstate_t wait_job_end(const Cupsd& cupsd, int id, int timeout_ms = kJobTimeoutMs) {
  ipp_jstate_t state = job_state(cupsd, id);
  for (int waited = 0; waited < timeout_ms && state < IPP_JSTATE_CANCELED; waited += 100) {
    sleep_ms(100);
    state = job_state(cupsd, id);
  }
  return state;
}

class PrintPath : public ::testing::Test {
 protected:
  void SetUp() override {
    REQUIRE_ROOT();
    if (!snmpd_available()) GTEST_SKIP() << "snmpd and snmpget are needed";
    for (const auto& name : directory_entries("/tmp")) tmp_before_.insert(name);
    for (const char* path : {kAutoconfDir, "/tmp/zorvautoconf.lcf", "/tmp/zorvpreload.lcf"}) {
      saved_.push_back(std::make_unique<SavedPath>(path));
    }
    queue_profile_ = pseudo_random_bytes(5000, 1);
    photo_profile_ = pseudo_random_bytes(100, 2);
    profiles_.push_back(
        std::make_unique<InstalledProfile>("Orvane", std::string(kQueue) + ".ucs", queue_profile_));
    profiles_.push_back(std::make_unique<InstalledProfile>("Kestrel", "Photo.ucs", photo_profile_));

    SnmpdConfig agent;
    agent.address = kPrinterAddress;
    agent.values_files.push_back(SOURCE_DIR "/docs/examples/worked-example-agent.conf");
    ASSERT_TRUE(snmpd_.start(agent)) << snmpd_.error();

    // The shared set-up holds both filters, the job type of the worked example, and the
    // agent's community for the socket backend's own SNMP queries (answered at once instead
    // of timing out).
    ASSERT_TRUE(cupsd_.start()) << cupsd_.failure();
    ASSERT_TRUE(listener_.start(kPrinterAddress, kPrinterPort));
    const std::string uri =
        std::string("socket://") + kPrinterAddress + ":" + std::to_string(kPrinterPort);
    ASSERT_TRUE(cupsd_.add_queue(kQueue, SOURCE_DIR "/docs/examples/worked-example.ppd", uri))
        << cupsd_.failure();
  }

  void TearDown() override {
    listener_.stop();
    cupsd_.stop();
    snmpd_.stop();
    for (const char* program : {"zorvautoconf", "zorvpreload"}) {
      for (const auto& log : new_logs(program)) unlink(log.c_str());
    }
    profiles_.clear();
    while (!saved_.empty()) saved_.pop_back();
  }

  // Logs that the filters made during the test (one per process with USE_PID=1).
  std::vector<std::string> new_logs(const char* program) const {
    std::vector<std::string> logs;
    for (const auto& name : directory_entries("/tmp")) {
      if (name.rfind(std::string(program) + "-", 0) == 0 && name.size() > 4 &&
          name.compare(name.size() - 4, 4, ".log") == 0 && tmp_before_.count(name) == 0) {
        logs.push_back("/tmp/" + name);
      }
    }
    return logs;
  }

  // Submits a job with lp; returns its id, or 0 after a failed expectation.
  int print(const std::string& queue, const std::string& bytes,
            const std::vector<std::string>& options = {}) {
    const std::string path = jobs_dir_.file("job-" + std::to_string(++submitted_));
    if (!write_file(path, bytes)) return 0;
    std::vector<std::string> args = {"lp", "-d", queue, "-o",
                                     std::string("document-format=") + kJobType};
    for (const auto& option : options) {
      args.push_back("-o");
      args.push_back(option);
    }
    args.push_back(path);
    ProgramResult r = cupsd_.run_client(args);
    EXPECT_TRUE(r.exited && r.status == 0) << r.describe() << ": " << r.err;
    const std::string prefix = "request id is " + queue + "-";
    size_t at = r.out.find(prefix);
    EXPECT_NE(at, std::string::npos) << r.out;
    return at == std::string::npos ? 0 : atoi(r.out.c_str() + at + prefix.size());
  }

  // Prints one job and returns what the printer received for it.
  std::string print_and_receive(const std::string& bytes,
                                const std::vector<std::string>& options = {}) {
    const size_t before = listener_.jobs().size();
    const int id = print(kQueue, bytes, options);
    if (id == 0) return {};
    EXPECT_EQ(wait_job_end(cupsd_, id), IPP_JSTATE_COMPLETED) << "job " << id;
    EXPECT_TRUE(listener_.wait_for_jobs(before + 1, kJobTimeoutMs));
    std::vector<ReceivedJob> jobs = listener_.jobs();
    return jobs.size() > before ? jobs[before].bytes : std::string();
  }

  std::set<std::string> tmp_before_;
  std::vector<std::unique_ptr<SavedPath>> saved_;
  std::vector<std::unique_ptr<InstalledProfile>> profiles_;
  std::string queue_profile_;
  std::string photo_profile_;
  Snmpd snmpd_;
  Cupsd cupsd_;
  Listener listener_;
  TempDir jobs_dir_;
  int submitted_ = 0;
};

TEST_F(PrintPath, SocketQueueReceivesProfileBlockThenJobUnchanged) {
  {
    SCOPED_TRACE("small job, the queue's profile");
    const std::string job = pseudo_random_bytes(1000, 10);
    const std::string received = print_and_receive(job);
    expect_block_then_job(received, queue_profile_, job);
  }
  {
    SCOPED_TRACE("6 MiB job, the queue's profile");
    const std::string job = pseudo_random_bytes(6 * 1024 * 1024 + 17, 11);
    const std::string received = print_and_receive(job);
    expect_block_then_job(received, queue_profile_, job);
  }
  {
    SCOPED_TRACE("ucs=Photo: the profile from the second vendor directory");
    const std::string job = pseudo_random_bytes(3000, 12);
    const std::string received = print_and_receive(job, {"ucs=Photo"});
    expect_block_then_job(received, photo_profile_, job);
  }
  {
    SCOPED_TRACE("ucs=Missing: no profile file, the job alone");
    const std::string job = pseudo_random_bytes(2000, 13);
    EXPECT_EQ(print_and_receive(job, {"ucs=Missing"}), job);
  }
}

// The defaults of a queue as `lpoptions -l` shows them: "Keyword/Text: a *b c" gives b.
std::string queue_default(const Cupsd& cupsd, const std::string& queue,
                          const std::string& keyword) {
  ProgramResult r = cupsd.run_client({"lpoptions", "-p", queue, "-l"});
  for (const std::string& line : split_lines(r.out)) {
    if (line.rfind(keyword + "/", 0) != 0) continue;
    const size_t star = line.find(" *");
    if (star == std::string::npos) return "";
    return line.substr(star + 2, line.find(' ', star + 2) - star - 2);
  }
  return "";
}

// A queue whose PPD carries *zorvUpdateQueue: True takes the printer's answers as its own
// defaults when a job ends; a queue without the attribute keeps the PPD's.
TEST_F(PrintPath, QueueWithTheAttributeFollowsThePrinter) {
  TempDir dir;
  std::string ppd = read_file(SOURCE_DIR "/docs/examples/worked-example.ppd");
  ppd += "*zorvUpdateQueue: True\n";
  ASSERT_TRUE(write_file(dir.file("follow.ppd"), ppd));
  const std::string uri =
      std::string("socket://") + kPrinterAddress + ":" + std::to_string(kPrinterPort);
  ASSERT_TRUE(cupsd_.add_queue("zorvfollow", dir.file("follow.ppd"), uri)) << cupsd_.failure();
  EXPECT_EQ(queue_default(cupsd_, "zorvfollow", "OptionalTray"), "None");

  for (const char* queue : {"zorvfollow", kQueue}) {
    const int id = print(queue, pseudo_random_bytes(100, 30));
    EXPECT_EQ(wait_job_end(cupsd_, id), IPP_JSTATE_COMPLETED) << queue;
  }
  const struct {
    const char* keyword;
    const char* before;
    const char* after;
  } options[] = {{"OptionalTray", "None", "PF500"},
                 {"Duplexer", "False", "True"},
                 {"InstalledMemory", "256MB", "512MB"},
                 {"Finisher", "False", "True"},
                 {"Stapler", "False", "False"}};
  for (const auto& option : options) {
    SCOPED_TRACE(option.keyword);
    EXPECT_EQ(queue_default(cupsd_, "zorvfollow", option.keyword), option.after);
    EXPECT_EQ(queue_default(cupsd_, kQueue, option.keyword), option.before);
  }
}

TEST_F(PrintPath, AgentAnswersBecomeTheRewrittenPpdDefaults) {
  print_and_receive(pseudo_random_bytes(100, 20));

  std::string expected = read_file(cupsd_.server_root() + "/ppd/" + kQueue + ".ppd");
  ASSERT_FALSE(expected.empty());
  replace_text(expected, "*DefaultOptionalTray: None\n", "*DefaultOptionalTray: PF500\n");
  replace_text(expected, "*DefaultDuplexer: False\n", "*DefaultDuplexer: True\n");
  replace_text(expected, "*DefaultInstalledMemory: 256MB\n", "*DefaultInstalledMemory: 512MB\n");
  replace_text(expected, "*DefaultFinisher: False\n", "*DefaultFinisher: True\n");
  const std::string target = std::string(kAutoconfDir) + "/" + kQueue + ".ppd";
  EXPECT_EQ(read_file(target), expected);

  struct stat st;
  ASSERT_EQ(stat(kAutoconfDir, &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 01777u);
  ASSERT_EQ(stat(target.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0666u);

  // The option without a query attribute is reported through the scheduler's log, which
  // escapes the quotes.
  EXPECT_NE(read_file(cupsd_.error_log())
                .find("option \\'Stapler\\' has no query attribute \\'?SnmpStapler\\'"),
            std::string::npos);
  // Neither the fetched PPDs nor a half-written copy are left behind.
  EXPECT_EQ(directory_entries(kAutoconfDir),
            std::vector<std::string>{std::string(kQueue) + ".ppd"});
  EXPECT_EQ(directory_entries(cupsd_.dir() + "/tmp"), std::vector<std::string>{});
}

TEST_F(PrintPath, FileDeviceQueueGetsBlockAndUnchangedPpd) {
  const std::string out = cupsd_.dir() + "/printed.bin";
  ASSERT_TRUE(
      cupsd_.add_queue("zorvfile", SOURCE_DIR "/docs/examples/worked-example.ppd", "file:" + out))
      << cupsd_.failure();
  const std::string job = pseudo_random_bytes(300000, 30);
  const int id = print("zorvfile", job, {"ucs=Photo"});
  ASSERT_NE(id, 0);
  EXPECT_EQ(wait_job_end(cupsd_, id), IPP_JSTATE_COMPLETED);
  const std::string received = read_file(out);
  expect_block_then_job(received, photo_profile_, job);

  // A file: device is no printer to ask: the copy keeps every default of the queue's PPD.
  EXPECT_EQ(read_file(std::string(kAutoconfDir) + "/zorvfile.ppd"),
            read_file(cupsd_.server_root() + "/ppd/zorvfile.ppd"));
  EXPECT_EQ(directory_entries(cupsd_.dir() + "/tmp"), std::vector<std::string>{});
}

TEST_F(PrintPath, CancelStopsTheFiltersAndTheNextJobPrints) {
  ASSERT_TRUE(write_file("/tmp/zorvpreload.lcf", "LOG_LEVEL=3\nUSE_PID=1\n"));
  ASSERT_TRUE(write_file("/tmp/zorvautoconf.lcf", "LOG_LEVEL=2\nUSE_PID=1\n"));

  // A slow printer keeps the large job in the pipes while it is cancelled.
  listener_.set_read_pause_us(20000);
  const int id = print(kQueue, pseudo_random_bytes(48 * 1024 * 1024, 40));
  ASSERT_NE(id, 0);
  ASSERT_TRUE(listener_.wait_for_bytes(1024 * 1024, kJobTimeoutMs));
  ProgramResult r = cupsd_.run_client({"cancel", std::string(kQueue) + "-" + std::to_string(id)});
  ASSERT_TRUE(r.exited && r.status == 0) << r.describe() << ": " << r.err;
  EXPECT_EQ(wait_job_end(cupsd_, id, 30000), IPP_JSTATE_CANCELED);
  ASSERT_TRUE(listener_.wait_for_jobs(1, 30000));
  EXPECT_LT(listener_.jobs()[0].length, 48u * 1024 * 1024);
  listener_.set_read_pause_us(0);
  ASSERT_TRUE(cupsd_.wait_idle());

  // Each filter caught the signal, stopped its copy and ended with status 2 and a whole log.
  const std::string error_log = read_file(cupsd_.error_log());
  for (const char* program : {"zorvautoconf", "zorvpreload"}) {
    SCOPED_TRACE(program);
    const std::string stopped = cupsd_.filter_dir() + "/" + program + ") stopped with status 2.";
    EXPECT_NE(error_log.find(stopped), std::string::npos) << "no \"" << stopped << "\"";
    EXPECT_EQ(error_log.find(std::string(program) + ") was terminated"), std::string::npos);
    EXPECT_EQ(error_log.find(std::string(program) + ") did not catch"), std::string::npos);
    std::vector<std::string> logs = new_logs(program);
    ASSERT_EQ(logs.size(), 1u);
    const std::string log = read_file(logs[0]);
    const std::string last_line = "ERROR: job cancelled, copy stopped\n";
    EXPECT_GE(log.size(), last_line.size());
    EXPECT_EQ(log.substr(log.size() - std::min(log.size(), last_line.size())), last_line) << log;
    EXPECT_EQ(log.find("Program exit("), std::string::npos) << log;
  }

  const std::string job = pseudo_random_bytes(70000, 41);
  const std::string received = print_and_receive(job);
  expect_block_then_job(received, queue_profile_, job);
}

}  // namespace
