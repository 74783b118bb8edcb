// The private Net-SNMP agent of the integration tests.
#include "support/snmpd.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cstdlib>

#include "support/program.h"

namespace {

constexpr char kSnmpd[] = "/usr/sbin/snmpd";
constexpr char kSnmpget[] = "/usr/bin/snmpget";
constexpr int kReadyPolls = 100;  // times kPollPause: ten seconds at most
constexpr long kPollPauseNs = 100L * 1000 * 1000;
constexpr int kStopPolls = 50;

void pause_briefly() {
  struct timespec pause = {0, kPollPauseNs};
  nanosleep(&pause, nullptr);
}

std::string agent_configuration(const SnmpdConfig& config) {
  std::string text = "agentaddress udp:" + config.address + ":161";
  if (config.ipv6) text += ",udp6:[::1]:161";
  text += "\nrocommunity " + config.community + " default\n";
  if (config.ipv6) text += "rocommunity6 " + config.community + " default\n";
  text += read_file(std::string(TEST_DATA_DIR) + "/snmp/values.conf");
  text += "pass " + std::string(kTestOidBase) + ".2 /bin/sh " + TEST_DATA_DIR + "/snmp/pass.sh\n";
  for (const auto& line : config.extra_lines) text += line + "\n";
  return text;
}

// One GET of the readiness value with a short time-out.
bool agent_answers(const SnmpdConfig& config) {
  ProgramRun run;
  run.path = kSnmpget;
  run.args = {"snmpget",
              "-v1",
              "-c",
              config.community,
              "-t",
              "0.2",
              "-r",
              "0",
              "-Oqv",
              config.address,
              std::string(kTestOidBase) + ".9.0"};
  run.env = filter_environment();
  run.timeout_seconds = 5;
  const ProgramResult result = run_program(run);
  return result.exited && result.status == 0 && result.out == "1\n";
}

}  // namespace

bool snmpd_available() {
  return access(kSnmpd, X_OK) == 0 && access(kSnmpget, X_OK) == 0;
}

Snmpd::~Snmpd() {
  stop();
}

std::string Snmpd::log() const {
  return read_file(dir_.file("snmpd.log"));
}

bool Snmpd::start(const SnmpdConfig& config) {
  config_ = config;
  if (dir_.path().empty()) {
    error_ = "no temporary directory";
    return false;
  }
  const std::string conf = dir_.file("snmpd.conf");
  const std::string persist = dir_.file("persist");
  if (!write_file(conf, agent_configuration(config)) || !make_dirs(persist, 0700)) {
    error_ = "cannot write the agent configuration in " + dir_.path();
    return false;
  }

  const std::string log_path = dir_.file("snmpd.log");
  const std::string pid_path = dir_.file("snmpd.pid");
  pid_ = fork();
  if (pid_ < 0) {
    error_ = "fork failed";
    return false;
  }
  if (pid_ == 0) {
    const int log_fd = open(log_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (log_fd >= 0) {
      dup2(log_fd, 1);
      dup2(log_fd, 2);
    }
    // The agent keeps its persistent state and reads user configuration only inside the
    // test's directory.
    setenv("SNMP_PERSISTENT_DIR", persist.c_str(), 1);
    setenv("HOME", dir_.path().c_str(), 1);
    execl(kSnmpd, "snmpd", "-f", "-Lo", "-C", "-c", conf.c_str(), "-p", pid_path.c_str(),
          static_cast<char*>(nullptr));
    _exit(127);
  }

  for (int i = 0; i < kReadyPolls; ++i) {
    int status = 0;
    if (waitpid(pid_, &status, WNOHANG) == pid_) {
      pid_ = -1;
      error_ = "snmpd ended at start; its log:\n" + log();
      dir_.keep();
      return false;
    }
    if (agent_answers(config_)) return true;
    pause_briefly();
  }
  stop();
  error_ = "snmpd did not answer in time; its log:\n" + log();
  dir_.keep();
  return false;
}

void Snmpd::stop() {
  if (pid_ <= 0) return;
  kill(pid_, SIGTERM);
  for (int i = 0; i < kStopPolls; ++i) {
    if (waitpid(pid_, nullptr, WNOHANG) == pid_) {
      pid_ = -1;
      return;
    }
    pause_briefly();
  }
  kill(pid_, SIGKILL);
  waitpid(pid_, nullptr, 0);
  pid_ = -1;
}
