// The private Net-SNMP agent of the integration tests.
#include "support/snmpd.h"

#include <unistd.h>

#include "support/program.h"

namespace {

constexpr char kSnmpd[] = "/usr/sbin/snmpd";
constexpr char kSnmpget[] = "/usr/bin/snmpget";
constexpr int kReadyPolls = 100;  // times kPollPauseMs: ten seconds at most
constexpr int kPollPauseMs = 100;

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

std::string test_oid(const std::string& suffix) {
  return std::string(kTestOidBase) + suffix;
}

bool snmpd_available() {
  return access(kSnmpd, X_OK) == 0 && access(kSnmpget, X_OK) == 0;
}

Snmpd::~Snmpd() {
  stop();
}

std::string Snmpd::log() const {
  return read_file(dir() + "/snmpd.log");
}

bool Snmpd::start(const SnmpdConfig& config) {
  config_ = config;
  if (base_.path().empty()) {
    error_ = "no temporary directory";
    return false;
  }
  // The values of tests/data/snmp: fixed ones, and pass.sh for the types that an override
  // cannot carry.
  const std::string pass = base_.file("pass.conf");
  if (!write_file(pass, "pass " + std::string(kTestOidBase) +
                            ".2 /bin/sh " TEST_DATA_DIR "/snmp/pass.sh\n")) {
    error_ = "cannot write " + pass;
    return false;
  }
  std::vector<std::string> args = {"--community", config.community};
  if (config.ipv6) args.push_back("--ipv6");
  args.insert(args.end(), {base_.path(), config.address, TEST_DATA_DIR "/snmp/values.conf", pass});
  args.insert(args.end(), config.values_files.begin(), config.values_files.end());
  const ProgramResult configured = run_print_path_function("zorv_snmpd_configure", args);
  if (!configured.exited || configured.status != 0) {
    error_ = "zorv_snmpd_configure failed (" + configured.describe() + "): " + configured.err;
    return false;
  }

  // The agent keeps its persistent state and reads user configuration only inside its
  // directory.
  if (!process_.start(kSnmpd, {"snmpd", "-f", "-Lo", "-C", "-c", dir() + "/snmpd.conf"},
                      {"SNMP_PERSISTENT_DIR=" + dir() + "/persist", "HOME=" + dir()},
                      dir() + "/snmpd.log")) {
    error_ = process_.error();
    return false;
  }
  for (int i = 0; i < kReadyPolls; ++i) {
    if (!running()) {
      error_ = "snmpd ended at start; its log:\n" + log();
      base_.keep();
      return false;
    }
    if (agent_answers(config_)) return true;
    sleep_ms(kPollPauseMs);
  }
  stop();
  error_ = "snmpd did not answer in time; its log:\n" + log();
  base_.keep();
  return false;
}
