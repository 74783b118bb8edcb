// A private Net-SNMP agent for the integration tests, set up by scripts/private-cups.sh (the
// one definition that the scripts and benchmarks use as well): its own configuration,
// persistent directory and log in a temporary directory, bound to one loopback address on UDP
// port 161 (and udp6 [::1]:161 when asked), answering one community only. Stopped by pid.
#ifndef ZORV_TESTS_SUPPORT_SNMPD_H
#define ZORV_TESTS_SUPPORT_SNMPD_H

#include <string>
#include <vector>

#include "support/background.h"
#include "support/paths.h"

// The agent's fixed values (tests/data/snmp/values.conf and pass.sh), and the OID of one.
constexpr char kTestOidBase[] = ".1.3.6.1.4.1.64999";
std::string test_oid(const std::string& suffix);

struct SnmpdConfig {
  std::string address = "127.0.0.21";     // IPv4 loopback address of the agent
  bool ipv6 = false;                      // also listen on udp6:[::1]:161
  std::string community = "mirelo";       // the only community answered
  std::vector<std::string> values_files;  // more agent configuration after the tests' values
  // SNMPv3 users, each "NAME LEVEL [AUTH PASSPHRASE [PRIV PASSPHRASE]]" with LEVEL noauth,
  // auth or priv, the least the agent lets the user read with (kTestV3Users).
  std::vector<std::string> users;
  bool v3_only = false;  // no community: SNMPv1 and v2c switched off
};

// The SNMPv3 users of the tests' agents.
extern const std::vector<std::string> kTestV3Users;

class Snmpd {
 public:
  Snmpd() = default;
  ~Snmpd();
  Snmpd(const Snmpd&) = delete;
  Snmpd& operator=(const Snmpd&) = delete;

  // Writes the configuration, starts the agent and waits (bounded) until it answers. False
  // with the reason in error() when it does not come up.
  bool start(const SnmpdConfig& config);
  void stop() { process_.stop(); }
  bool running() { return process_.running(); }
  const std::string& error() const { return error_; }
  const SnmpdConfig& config() const { return config_; }
  std::string log() const;

 private:
  // The agent's directory: snmpd.conf, persist, snmpd.log.
  std::string dir() const { return base_.path() + "/snmpd"; }

  TempDir base_;
  BackgroundProcess process_;
  SnmpdConfig config_;
  std::string error_;
};

// Whether snmpd and snmpget are installed where the fixture runs them.
bool snmpd_available();

// Recorded walks of real printers (snmprec files) served by snmpsimd on one loopback address,
// each walk under a community of its own. Stopped by pid.
class SimulatedPrinters {
 public:
  struct Walk {
    std::string community;  // at most 32 characters
    std::string path;       // an "OID|TYPE|VALUE" recording
  };

  SimulatedPrinters() = default;
  ~SimulatedPrinters() { process_.stop(); }
  SimulatedPrinters(const SimulatedPrinters&) = delete;
  SimulatedPrinters& operator=(const SimulatedPrinters&) = delete;

  // Starts the simulator and waits (bounded) until the first walk answers its sysDescr.
  bool start(const std::string& address, const std::vector<Walk>& walks);
  const std::string& error() const { return error_; }

 private:
  TempDir base_;
  BackgroundProcess process_;
  std::string error_;
};

// Whether snmpsimd is installed.
bool snmpsim_available();

#endif  // ZORV_TESTS_SUPPORT_SNMPD_H
