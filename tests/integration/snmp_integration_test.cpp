// The SNMP GET and the option query, in process, against a private snmpd: every value type
// the agent serves, the failures a printer can cause, the community lookup and the IPv6 path.
// (The whole filter against an agent: snmp_filter_test.cpp.)
#include <net-snmp/net-snmp-config.h>
#include <net-snmp/net-snmp-includes.h>

#include <regex.h>

#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "autoconf/snmp_get.h"
#include "autoconf/snmp_query.h"
#include "probe/snmp_session.h"
#include "probe/snmp_round.h"
#include "support/capture.h"
#include "support/paths.h"
#include "support/ppd.h"
#include "support/snmpd.h"

namespace {

constexpr char kAgent[] = "127.0.0.22";
constexpr char kOtherAgent[] = "127.0.0.23";
constexpr size_t kReply = 256;

class SnmpAgent : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    if (!running_as_root() || !snmpd_available()) return;
    snmpLibraryInit();
    agent_ = new Snmpd;
    SnmpdConfig config;
    config.address = kAgent;
    config.ipv6 = true;
    started_ = agent_->start(config);
  }
  static void TearDownTestSuite() {
    delete agent_;
    agent_ = nullptr;
  }
  void SetUp() override {
    REQUIRE_ROOT();
    if (!snmpd_available()) GTEST_SKIP() << "snmpd is not installed";
    ASSERT_TRUE(started_) << agent_->error();
    setupSnmpSession(&session_, kAgent, "mirelo");
  }
  void TearDown() override { releaseSnmpSession(&session_); }

  // The reply text of one GET, or "-1" when none came; standard error into err.
  std::string get(netsnmp_session* session, const std::string& oid_text, std::string* err,
                  int timeout_ms = 3000) {
    char buffer[kReply];
    StreamCapture capture(stderr);
    const int length =
        snmpGetText(session, oid_text.c_str(), buffer, sizeof(buffer), timeout_ms, 0);
    *err = capture.finish();
    if (length < 0) return std::to_string(length);
    EXPECT_EQ(static_cast<size_t>(length), strlen(buffer));
    return std::string(buffer, static_cast<size_t>(length));
  }

  ppd_file_t* open(const std::string& manufacturer, const std::string& options,
                   const std::string& attributes) {
    ppd_ = open_ppd_text(test_ppd(manufacturer, options, attributes));
    EXPECT_TRUE(ppd_);
    return ppd_.get();
  }

  static Snmpd* agent_;
  static bool started_;
  netsnmp_session session_{};
  UniquePpd ppd_;
};

Snmpd* SnmpAgent::agent_ = nullptr;
bool SnmpAgent::started_ = false;

TEST_F(SnmpAgent, EveryValueTypeHasItsReplyText) {
  const struct {
    const char* what;
    const char* suffix;
    std::string text;
  } table[] = {
      {"INTEGER", ".1.1.0", "42"},
      {"INTEGER -1", ".1.2.0", "-1"},
      {"INTEGER smallest", ".2.6.0", "-2147483648"},
      {"OCTET STRING", ".1.3.0", "Duplex Unit"},
      {"OCTET STRING empty", ".1.8.0", ""},
      {"OCTET STRING of 300", ".2.3.0", std::string(255, 'L')},
      {"OCTET STRING with zero byte", ".2.4.0", "AB"},
      {"OBJECT IDENTIFIER", ".1.4.0", "1.3.6.1.4.1.64999.7"},
      {"IpAddress", ".2.1.0", "C0A80001"},
      {"Counter32", ".1.5.0", "01000000"},
      {"Counter32 top", ".2.7.0", "FFFFFFFF"},
      {"Gauge32 by override", ".1.7.0", "01000000"},
      {"Gauge32 by pass", ".2.2.0", "01000000"},
      {"TimeTicks", ".1.6.0", "01000000"},
      {"TimeTicks 0x12345678", ".1.9.0", "78563412"},
  };
  for (const auto& row : table) {
    SCOPED_TRACE(row.what);
    std::string err;
    EXPECT_EQ(get(&session_, test_oid(row.suffix), &err), row.text);
    EXPECT_EQ(err, "");
  }
}

TEST_F(SnmpAgent, MibNamesOfTheBuiltInTreeAreAccepted) {
  std::string err;
  EXPECT_EQ(get(&session_, "iso.3.6.1.4.1.64999.1.1.0", &err), "42");
  EXPECT_EQ(err, "");
}

TEST_F(SnmpAgent, UnknownOidGivesTheErrorStatus) {
  std::string err;
  EXPECT_EQ(get(&session_, test_oid(".1.99.0"), &err), "-1");
  EXPECT_EQ(err, std::string("Error in packet: <") + snmp_errstring(SNMP_ERR_NOSUCHNAME) + ">\n");
}

TEST_F(SnmpAgent, MibNameThatIsNotLoadedIsAnInvalidOid) {
  std::string err;
  EXPECT_EQ(get(&session_, "NO-SUCH-MIB::nothing.0", &err), "-1");
  EXPECT_EQ(err, "invalid OID string <NO-SUCH-MIB::nothing.0>\n");
  EXPECT_EQ(get(&session_, "SNMPv2-MIB::sysDescr.0", &err), "-1");
  EXPECT_EQ(err, "invalid OID string <SNMPv2-MIB::sysDescr.0>\n");
}

TEST_F(SnmpAgent, HostThatCannotBeResolvedFailsTheOpen) {
  netsnmp_session session;
  setupSnmpSession(&session, "no-such-host.invalid", "mirelo");
  std::string err;
  EXPECT_EQ(get(&session, test_oid(".1.1.0"), &err), "-1");
  EXPECT_EQ(err.rfind("snmp_sess_open: ", 0), 0u) << "[" << err << "]";
  releaseSnmpSession(&session);
}

// The peer is the address the host gives and port 161: a text that the SNMP library would read
// as a transport, a port or a bracketed address names no host here, even with an agent there.
TEST_F(SnmpAgent, PeerIsTheHostsAddressNeverAPeerText) {
  for (const char* host : {"udp:127.0.0.22", "127.0.0.22:161", "udp6:[::1]:161", "[::1]"}) {
    SCOPED_TRACE(host);
    netsnmp_session session;
    setupSnmpSession(&session, host, "mirelo");
    std::string err;
    EXPECT_EQ(get(&session, test_oid(".1.3.0"), &err), "-1");
    EXPECT_EQ(err.rfind("snmp_sess_open: ", 0), 0u) << "[" << err << "]";
    releaseSnmpSession(&session);
  }
}

TEST_F(SnmpAgent, Ipv6AgentAnswersSnmpV2c) {
  netsnmp_session session;
  setupSnmpSession(&session, "::1", "mirelo");
  std::string err;
  EXPECT_EQ(get(&session, test_oid(".1.3.0"), &err), "Duplex Unit");
  EXPECT_EQ(err, "");
  // An SNMPv2c agent answers an unknown OID with an exception value, which is no value.
  EXPECT_EQ(get(&session, test_oid(".1.99.0"), &err), "-1");
  EXPECT_EQ(err, "");
  releaseSnmpSession(&session);
}

// Costs the whole time-out: the agent drops requests of a community it does not know.
TEST_F(SnmpAgent, WrongCommunityTimesOut) {
  netsnmp_session session;
  setupSnmpSession(&session, kAgent, "wrong");
  std::string err;
  EXPECT_EQ(get(&session, test_oid(".1.1.0"), &err, 1000), "-1");
  EXPECT_EQ(err, std::string("snmp_sess_synch_response failed: <") +
                     snmp_api_errstring(SNMPERR_TIMEOUT) + ">\n");
  releaseSnmpSession(&session);
}

TEST_F(SnmpAgent, OptionWalkMarksTheFirstMatchingChoice) {
  const std::string options = installable_option("DuplexUnit") + installable_option("Tray2") +
                              installable_option("Disk") + installable_option("Finisher") +
                              installable_option("Stapler") + installable_option("Memory") +
                              installable_option("Fax");
  const std::string attributes =
      "*?SnmpDuplexUnit: \"" + test_oid(".1.3.0") +
      "\"\n"
      "*SnmpDuplexUnit True: \"Duplex\"\n*SnmpDuplexUnit False: \"Unit\"\n"
      "*?SnmpTray2: \"" +
      test_oid(".1.5.0") +
      "\"\n"
      "*SnmpTray2 False: \"(\"\n*SnmpTray2 True: \"^01000000$\"\n"
      "*?SnmpDisk: \"" +
      test_oid(".1.99.0") +
      "\"\n*SnmpDisk True: \"\"\n"
      "*?SnmpFinisher: \"" +
      test_oid(".1.2.0") +
      "\"\n*SnmpFinisher True: \"^1$\"\n"
      "*SnmpStapler True: \"1\"\n"
      "*?SnmpMemory: \"" +
      test_oid(".2.1.0") +
      "\"\n*SnmpMemory False: \"^C0A8\"\n"
      "*?SnmpFax: \"" +
      test_oid(".2.4.0") + "\"\n*SnmpFax True: \"^AB$\"\n";
  ppd_file_t* ppd = open("Acme", options, attributes);
  ASSERT_NE(ppd, nullptr);

  StreamCapture capture(stderr);
  EXPECT_EQ(snmpUpdateConfigOptions(ppd, (std::string("socket://") + kAgent + ":9100").c_str()), 0);
  const std::string err = capture.finish();

  EXPECT_EQ(marked_choice(ppd, "DuplexUnit"), "True");
  EXPECT_EQ(marked_choice(ppd, "Tray2"), "True");
  EXPECT_EQ(marked_choice(ppd, "Disk"), "");
  EXPECT_EQ(marked_choice(ppd, "Finisher"), "");
  EXPECT_EQ(marked_choice(ppd, "Stapler"), "");
  EXPECT_EQ(marked_choice(ppd, "Memory"), "False");
  EXPECT_EQ(marked_choice(ppd, "Fax"), "True");

  char regex_error[256];
  regex_t unused;
  regerror(regcomp(&unused, "(", REG_EXTENDED | REG_NOSUB), &unused, regex_error,
           sizeof(regex_error));
  EXPECT_EQ(err, std::string("ERROR: regcomp failed: <") + regex_error + ">\n" +
                     "Error in packet: <" + snmp_errstring(SNMP_ERR_NOSUCHNAME) + ">\n" +
                     "WARNING: SNMP query (" + test_oid(".1.99.0") + ") failure\n" +
                     "WARNING: option 'Finisher' has no reply attribute 'SnmpFinisher' with "
                     "value '-1'\n"
                     "WARNING: option 'Stapler' has no query attribute '?SnmpStapler'\n");
}

// OIDs that cannot be read get no request: each answer still reaches the option that asked
// for it, whatever came before it.
TEST_F(SnmpAgent, AnswersReachTheirOptionsPastUnreadableOids) {
  const std::string options = installable_option("Bad1") + installable_option("Number") +
                              installable_option("Bad2") + installable_option("Minus") +
                              installable_option("Text");
  const std::string attributes =
      "*?SnmpBad1: \"NO-SUCH-MIB::nothing.0\"\n*SnmpBad1 True: \".*\"\n"
      "*?SnmpNumber: \"" + test_oid(".1.1.0") + "\"\n*SnmpNumber True: \"^42$\"\n"
      "*?SnmpBad2: \"1.3.6.x\"\n*SnmpBad2 True: \".*\"\n"
      "*?SnmpMinus: \"" + test_oid(".1.2.0") + "\"\n*SnmpMinus True: \"^-1$\"\n"
      "*?SnmpText: \"" + test_oid(".1.3.0") + "\"\n*SnmpText True: \"^Duplex Unit$\"\n";
  ppd_file_t* ppd = open("Acme", options, attributes);
  ASSERT_NE(ppd, nullptr);
  StreamCapture capture(stderr);
  EXPECT_EQ(snmpUpdateConfigOptions(ppd, (std::string("socket://") + kAgent).c_str()), 0);
  EXPECT_EQ(capture.finish(),
            "invalid OID string <NO-SUCH-MIB::nothing.0>\n"
            "WARNING: SNMP query (NO-SUCH-MIB::nothing.0) failure\n"
            "invalid OID string <1.3.6.x>\n"
            "WARNING: SNMP query (1.3.6.x) failure\n");
  for (const char* keyword : {"Number", "Minus", "Text"}) {
    EXPECT_EQ(marked_choice(ppd, keyword), "True") << keyword;
  }
  EXPECT_EQ(marked_choice(ppd, "Bad1"), "");
  EXPECT_EQ(marked_choice(ppd, "Bad2"), "");
}

// A PPD written to the CUPS extension's example auto-configures: its OID<Keyword> values are
// compared with each answer's natural text, and ?Snmp<Keyword> wins where both are given.
TEST_F(SnmpAgent, CupsStandardAttributesConfigureThePpd) {
  ppd_ = open_ppd(test_data("ppd/cups-oid.ppd"));
  ASSERT_NE(ppd_, nullptr);
  StreamCapture err(stderr);
  EXPECT_EQ(snmpUpdateConfigOptions(ppd_.get(), (std::string("socket://") + kAgent).c_str()), 0);
  EXPECT_EQ(err.finish(),
            "WARNING: option 'Stapler' has no reply attribute 'OIDStapler' with value '42'\n");
  EXPECT_EQ(marked_choice(ppd_.get(), "Duplexer"), "True");
  EXPECT_EQ(marked_choice(ppd_.get(), "InstalledMemory"), "256MB");
  EXPECT_EQ(marked_choice(ppd_.get(), "Finisher"), "True");
  EXPECT_EQ(marked_choice(ppd_.get(), "Tray"), "PF500");
  EXPECT_EQ(marked_choice(ppd_.get(), "Stapler"), "");
}

TEST_F(SnmpAgent, Ipv6UriReachesTheAgent) {
  ppd_file_t* ppd =
      open("Acme", installable_option("DuplexUnit"),
           "*?SnmpDuplexUnit: \"" + test_oid(".1.1.0") + "\"\n*SnmpDuplexUnit True: \"^42$\"\n");
  ASSERT_NE(ppd, nullptr);
  StreamCapture err(stderr);
  EXPECT_EQ(snmpUpdateConfigOptions(ppd, "ipp://[::1]:631/ipp/print"), 0);
  EXPECT_EQ(err.finish(), "");
  EXPECT_EQ(marked_choice(ppd, "DuplexUnit"), "True");
}

TEST_F(SnmpAgent, VendorCommunityReachesAnAgentOfThatCommunity) {
  SavedPath saved("/opt/Brightwell");
  ASSERT_TRUE(make_dirs("/opt/Brightwell/mfp/share"));
  ASSERT_TRUE(write_file("/opt/Brightwell/mfp/share/OEM.ini",
                         "[SNMP]\r\nSNMP_COMMUNITY=bright-1\nSNMP_COMMUNITY=later\n"));
  Snmpd other;
  SnmpdConfig config;
  config.address = kOtherAgent;
  config.community = "bright-1";
  ASSERT_TRUE(other.start(config)) << other.error();

  ppd_file_t* ppd =
      open("BRIGHTWELL", installable_option("DuplexUnit"),
           "*?SnmpDuplexUnit: \"" + test_oid(".1.3.0") + "\"\n*SnmpDuplexUnit True: \"Duplex\"\n");
  ASSERT_NE(ppd, nullptr);
  StreamCapture err(stderr);
  EXPECT_EQ(snmpUpdateConfigOptions(ppd, (std::string("lpd://") + kOtherAgent + "/queue").c_str()),
            0);
  EXPECT_EQ(err.finish(), "");
  EXPECT_EQ(marked_choice(ppd, "DuplexUnit"), "True");
}

}  // namespace
