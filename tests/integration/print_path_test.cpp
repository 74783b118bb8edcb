// The real print path: a private scheduler runs zorvautoconf and zorvpreload on every job of a
// queue whose printer is a listener on a loopback address and whose SNMP agent there answers
// the worked example's queries. Checks what the printer received and the rewritten PPD.
#include <cups/cups.h>
#include <sys/stat.h>
#include <time.h>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <random>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "support/cupsd.h"
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
constexpr size_t kPage = 4096;

const std::string kPjlHeader = "\x1b%-12345X@PJL\r\n@PJL DEFAULT P1284VALUE=0xAA   \r\n";
const std::string kCmsTag("$CMS\x01\x00\x00\x01", 8);

std::string pattern_bytes(size_t size, unsigned seed) {
  std::mt19937 random(seed);
  std::string bytes(size, '\0');
  for (char& c : bytes) c = static_cast<char>(random() & 0xff);
  return bytes;
}

uint32_t big_endian32(const std::string& s, size_t at) {
  uint32_t value = 0;
  for (size_t i = 0; i < 4; i++) value = (value << 8) | static_cast<unsigned char>(s[at + i]);
  return value;
}

// Checks that bytes start with the colour-profile block of profile, field by field, and
// returns the block's length (0 after a failed expectation).
size_t expect_block(const std::string& bytes, const std::string& profile) {
  const size_t fill = profile.size() % kPage == 0 ? 0 : kPage - profile.size() % kPage;
  const size_t payload = 8 + profile.size() + fill;
  const size_t length = 48 + 24 + payload + 2;
  EXPECT_GE(bytes.size(), length) << "shorter than the block";
  if (bytes.size() < length) return 0;
  EXPECT_EQ(bytes.substr(0, 48), kPjlHeader);
  EXPECT_EQ(bytes.substr(48, 8), std::string("$IMG\xff\xff\xff\xff", 8));
  EXPECT_EQ(big_endian32(bytes, 56), payload + 2) << "length field";
  if (profile.size() >= 92) {
    EXPECT_EQ(bytes.substr(60, 8), profile.substr(84, 8));
  }
  EXPECT_EQ(bytes.substr(68, 4), std::string(4, '\0'));
  EXPECT_EQ(bytes.substr(72, 8), kCmsTag);
  EXPECT_EQ(bytes.substr(80, profile.size()), profile) << "profile contents";
  EXPECT_EQ(bytes.substr(80 + profile.size(), fill), std::string(fill, '\xff'));
  uint32_t sum = 0;
  for (size_t i = 72; i < 72 + payload + 2; i += 2) {
    sum += static_cast<uint32_t>(static_cast<unsigned char>(bytes[i]) << 8) |
           static_cast<unsigned char>(bytes[i + 1]);
  }
  EXPECT_EQ(sum & 0xffff, 0xa5a5u) << "checksum";
  return ::testing::Test::HasFailure() ? 0 : length;
}

// The queue's PPD with one *Default line changed; the old line must be there.
void replace_default(std::string& ppd, const std::string& keyword, const std::string& from,
                     const std::string& to) {
  const std::string old_line = "*Default" + keyword + ": " + from + "\n";
  size_t at = ppd.find(old_line);
  ASSERT_NE(at, std::string::npos) << old_line;
  ppd.replace(at, old_line.size(), "*Default" + keyword + ": " + to + "\n");
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
    struct timespec pause = {0, 100 * 1000 * 1000};
    nanosleep(&pause, nullptr);
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
    for (const char* path : {kAutoconfDir, "/opt/Orvane", "/opt/Kestrel", "/tmp/zorvautoconf.lcf",
                             "/tmp/zorvpreload.lcf"}) {
      saved_.push_back(std::make_unique<SavedPath>(path));
    }
    queue_profile_ = pattern_bytes(5000, 1);
    photo_profile_ = pattern_bytes(100, 2);
    ASSERT_TRUE(make_dirs("/opt/Orvane/mfp/ucs", 0755));
    ASSERT_TRUE(make_dirs("/opt/Kestrel/mfp/ucs", 0755));
    ASSERT_TRUE(write_file(std::string("/opt/Orvane/mfp/ucs/") + kQueue + ".ucs", queue_profile_));
    ASSERT_TRUE(write_file("/opt/Kestrel/mfp/ucs/Photo.ucs", photo_profile_));

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
    const std::string job = pattern_bytes(1000, 10);
    const std::string received = print_and_receive(job);
    const size_t block = expect_block(received, queue_profile_);
    EXPECT_EQ(received.substr(block), job);
  }
  {
    SCOPED_TRACE("6 MiB job, the queue's profile");
    const std::string job = pattern_bytes(6 * 1024 * 1024 + 17, 11);
    const std::string received = print_and_receive(job);
    const size_t block = expect_block(received, queue_profile_);
    EXPECT_EQ(received.size(), block + job.size());
    EXPECT_TRUE(received.compare(block, std::string::npos, job) == 0) << "job bytes changed";
  }
  {
    SCOPED_TRACE("ucs=Photo: the profile from the second vendor directory");
    const std::string job = pattern_bytes(3000, 12);
    const std::string received = print_and_receive(job, {"ucs=Photo"});
    const size_t block = expect_block(received, photo_profile_);
    EXPECT_EQ(received.substr(block), job);
  }
  {
    SCOPED_TRACE("ucs=Missing: no profile file, the job alone");
    const std::string job = pattern_bytes(2000, 13);
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
    const int id = print(queue, pattern_bytes(100, 30));
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
  print_and_receive(pattern_bytes(100, 20));

  std::string expected = read_file(cupsd_.server_root() + "/ppd/" + kQueue + ".ppd");
  ASSERT_FALSE(expected.empty());
  replace_default(expected, "OptionalTray", "None", "PF500");
  replace_default(expected, "Duplexer", "False", "True");
  replace_default(expected, "InstalledMemory", "256MB", "512MB");
  replace_default(expected, "Finisher", "False", "True");
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
  const std::string job = pattern_bytes(300000, 30);
  const int id = print("zorvfile", job, {"ucs=Photo"});
  ASSERT_NE(id, 0);
  EXPECT_EQ(wait_job_end(cupsd_, id), IPP_JSTATE_COMPLETED);
  const std::string received = read_file(out);
  const size_t block = expect_block(received, photo_profile_);
  EXPECT_EQ(received.substr(block), job);

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
  const int id = print(kQueue, pattern_bytes(48 * 1024 * 1024, 40));
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

  const std::string job = pattern_bytes(70000, 41);
  const std::string received = print_and_receive(job);
  const size_t block = expect_block(received, queue_profile_);
  EXPECT_EQ(received.substr(block), job);
}

}  // namespace
