// The private Net-SNMP agent of the integration tests.
#include "support/snmpd.h"

#include <sys/stat.h>
#include <unistd.h>

#include <sstream>

#include "support/program.h"

namespace {

constexpr char kSnmpd[] = "/usr/sbin/snmpd";
constexpr char kSnmpget[] = "/usr/bin/snmpget";
constexpr char kSnmpsimd[] = "/usr/bin/snmpsimd";
constexpr char kSysDescr[] = "1.3.6.1.2.1.1.1.0";
constexpr int kReadyPolls = 100;  // times kPollPauseMs: ten seconds at most
constexpr int kPollPauseMs = 100;

// The value of one GET with a short time-out, as snmpget shows it; "" when none came.
// security: snmpget's options of the version, community or user.
std::string agent_value(const std::string& address, const std::vector<std::string>& security,
                        const std::string& oid) {
  ProgramRun run;
  run.path = kSnmpget;
  run.args = {"snmpget"};
  run.args.insert(run.args.end(), security.begin(), security.end());
  run.args.insert(run.args.end(), {"-t", "0.2", "-r", "0", "-Oqv", address, oid});
  run.env = filter_environment();
  run.timeout_seconds = 5;
  const ProgramResult result = run_program(run);
  return result.exited && result.status == 0 ? result.out : "";
}

// snmpget's options for a user of SnmpdConfig::users.
std::vector<std::string> user_options(const std::string& user) {
  std::istringstream fields(user);
  std::string name, level, auth, auth_pass, priv, priv_pass;
  fields >> name >> level >> auth >> auth_pass >> priv >> priv_pass;
  std::vector<std::string> options = {"-v3", "-u", name, "-l"};
  options.push_back(level == "priv" ? "authPriv" : level == "auth" ? "authNoPriv" : "noAuthNoPriv");
  if (level != "noauth") options.insert(options.end(), {"-a", auth, "-A", auth_pass});
  if (level == "priv") options.insert(options.end(), {"-x", priv, "-X", priv_pass});
  return options;
}

bool agent_answers(const SnmpdConfig& config) {
  const std::vector<std::string> security =
      config.v3_only ? user_options(config.users.at(0))
                     : std::vector<std::string>{"-v1", "-c", config.community};
  return agent_value(config.address, security, std::string(kTestOidBase) + ".9.0") == "1\n";
}

}  // namespace

const std::vector<std::string> kTestV3Users = {
    "alice priv SHA-256 alice-auth-pass AES alice-priv-pass",
    "bob auth SHA bob-auth-pass",
    "carol noauth",
    "dave priv SHA dave-auth-pass DES dave-priv-pass",
    "erin priv SHA-512 erin-auth-pass AES256 erin-priv-pass",
};

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
  for (const std::string& user : config.users) args.insert(args.end(), {"--user", user});
  if (config.v3_only) args.push_back("--v3-only");
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

bool snmpsim_available() {
  return access(kSnmpsimd, X_OK) == 0 && access(kSnmpget, X_OK) == 0;
}

bool SimulatedPrinters::start(const std::string& address, const std::vector<Walk>& walks) {
  const std::string data = base_.file("data");
  const std::string cache = base_.file("cache");
  if (base_.path().empty() || walks.empty() || !make_dirs(data) || !make_dirs(cache)) {
    error_ = "no directories for the simulator";
    return false;
  }
  // The simulator drops its privileges and reads its data and cache as that user.
  chmod(base_.path().c_str(), 0755);
  chmod(cache.c_str(), 0777);
  for (const Walk& walk : walks) {
    if (!write_file(data + "/" + walk.community + ".snmprec", read_file(walk.path))) {
      error_ = "cannot copy " + walk.path;
      return false;
    }
  }
  const std::string log = base_.file("snmpsimd.log");
  if (!process_.start(kSnmpsimd,
                      {"snmpsimd", "--data-dir=" + data, "--cache-dir=" + cache,
                       "--agent-udpv4-endpoint=" + address + ":161", "--process-user=nobody",
                       "--process-group=nogroup"},
                      {}, log)) {
    error_ = process_.error();
    return false;
  }
  for (int i = 0; i < kReadyPolls; ++i) {
    if (!process_.running()) break;
    if (!agent_value(address, {"-v1", "-c", walks[0].community}, kSysDescr).empty()) return true;
    sleep_ms(kPollPauseMs);
  }
  process_.stop();
  error_ = "snmpsimd did not answer in time; its log:\n" + read_file(log);
  base_.keep();
  return false;
}
