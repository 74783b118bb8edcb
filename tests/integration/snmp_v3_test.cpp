// SNMPv3 queries, in process, against private snmpd agents with USM users (one with SNMPv1
// and v2c switched off): every security level, the refusals of a printer in words, users
// shared by threads and left behind by none, a silent printer and one that answers with
// garbage and changing engines, and the manufacturer's settings file as the filter reads it.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "autoconf/snmp_query.h"
#include "probe/snmp_probe.h"
#include "probe/snmp_v3_settings.h"
#include "support/capture.h"
#include "support/paths.h"
#include "support/ppd.h"
#include "support/records.h"
#include "support/snmp_agent.h"
#include "support/snmpd.h"

namespace {

constexpr char kBothAgent[] = "127.0.0.24";  // SNMPv1 and SNMPv3
constexpr char kV3Agent[] = "127.0.0.25";    // SNMPv3 only
constexpr char kSilentAgent[] = "127.0.0.26";
constexpr char kReportingAgent[] = "127.0.0.28";
constexpr char kUndecryptingAgent[] = "127.0.0.29";

SnmpCredentials v3(const char* user, SnmpLevel level, SnmpAuth auth = SnmpAuth::kNone,
                   const char* auth_passphrase = "", SnmpPriv priv = SnmpPriv::kNone,
                   const char* priv_passphrase = "") {
  SnmpCredentials credentials;
  credentials.use_v3 = true;
  SnmpV3Settings& s = credentials.v3;
  strcpy(s.user, user);
  s.level = level;
  s.auth = auth;
  s.priv = priv;
  strcpy(s.auth_passphrase, auth_passphrase);
  strcpy(s.priv_passphrase, priv_passphrase);
  return credentials;
}

const SnmpCredentials kAlice = v3("alice", SnmpLevel::kAuthPriv, SnmpAuth::kSha256,
                                  "alice-auth-pass", SnmpPriv::kAes128, "alice-priv-pass");

// Three options: an INTEGER, an OCTET STRING, and an OID the agent does not have.
std::string three_options_ppd(const std::string& manufacturer = "Acme") {
  return test_ppd(
      manufacturer,
      installable_option("Number") + installable_option("Text") + installable_option("Missing"),
      "*?SnmpNumber: \"" + test_oid(".1.1.0") + "\"\n*SnmpNumber True: \"^42$\"\n" +
          "*?SnmpText: \"" + test_oid(".1.3.0") + "\"\n*SnmpText True: \"Duplex\"\n" +
          "*?SnmpMissing: \"" + test_oid(".1.99.0") + "\"\n*SnmpMissing True: \".*\"\n");
}

// The records of the three options' query at address, one line each.
std::string query(const char* address, const SnmpCredentials& credentials) {
  UniquePpd ppd = open_ppd_text(three_options_ppd());
  if (!ppd) return "no PPD";
  ProbeResult result;
  probeSnmpOptions(ppd.get(), address, credentials, ProbeCancel{}, result);
  return lines_of(result);
}

// The lines of a query whose every option ended with words.
std::string refused(const std::string& words) {
  std::string lines = "status 0\n";
  for (const char* keyword : {"Number", "Text", "Missing"}) {
    lines += std::string(keyword) + " " + words + " 0\n";
  }
  return lines;
}

const std::string kAnswered =
    "status 0\n"
    "Number 7 [42] True () 0\n"
    "Text 7 [Duplex Unit] True () 0\n"
    "Missing 5 [] - (error status: (noSuchName) There is no such variable name in this MIB.) 0\n";
const std::string kAnsweredV3 =
    "status 0\n"
    "Number 7 [42] True () 0\n"
    "Text 7 [Duplex Unit] True () 0\n"
    "Missing 6 [] - (no such object (an SNMPv2c exception)) 0\n";

class V3Agents : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    if (!running_as_root() || !snmpd_available()) return;
    snmpLibraryInit();
    both_ = new Snmpd;
    v3_only_ = new Snmpd;
    SnmpdConfig config;
    config.address = kBothAgent;
    config.ipv6 = true;
    config.users = kTestV3Users;
    started_ = both_->start(config);
    config.address = kV3Agent;
    config.ipv6 = false;
    config.v3_only = true;
    started_ = started_ && v3_only_->start(config);
  }
  static void TearDownTestSuite() {
    delete both_;
    delete v3_only_;
    both_ = v3_only_ = nullptr;
  }
  void SetUp() override {
    REQUIRE_ROOT();
    if (!snmpd_available()) GTEST_SKIP() << "snmpd is not installed";
    ASSERT_TRUE(started_) << both_->error() << v3_only_->error();
  }

  static Snmpd* both_;
  static Snmpd* v3_only_;
  static bool started_;
};

Snmpd* V3Agents::both_ = nullptr;
Snmpd* V3Agents::v3_only_ = nullptr;
bool V3Agents::started_ = false;

TEST_F(V3Agents, EveryLevelAnswersAndEveryRefusalIsWorded) {
  const struct {
    const char* what;
    SnmpCredentials credentials;
    std::string lines;
  } table[] = {
      {"authPriv SHA-256/AES-128", kAlice, kAnsweredV3},
      {"authNoPriv SHA-1", v3("bob", SnmpLevel::kAuthNoPriv, SnmpAuth::kSha1, "bob-auth-pass"),
       kAnsweredV3},
      {"noAuthNoPriv", v3("carol", SnmpLevel::kNoAuthNoPriv), kAnsweredV3},
      {"authPriv SHA-1/DES",
       v3("dave", SnmpLevel::kAuthPriv, SnmpAuth::kSha1, "dave-auth-pass", SnmpPriv::kDes,
          "dave-priv-pass"),
       kAnsweredV3},
      {"authPriv SHA-512/AES-256",
       v3("erin", SnmpLevel::kAuthPriv, SnmpAuth::kSha512, "erin-auth-pass", SnmpPriv::kAes256,
          "erin-priv-pass"),
       kAnsweredV3},
      {"wrong authentication passphrase",
       v3("alice", SnmpLevel::kAuthPriv, SnmpAuth::kSha256, "not-alices-pass", SnmpPriv::kAes128,
          "alice-priv-pass"),
       refused("8 [] - (refused: the authentication passphrase or protocol is not the printer's "
               "(usmStatsWrongDigests))")},
      // The agent cannot tell a wrong privacy key from garbage: it answers nothing.
      {"wrong privacy passphrase",
       v3("alice", SnmpLevel::kAuthPriv, SnmpAuth::kSha256, "alice-auth-pass", SnmpPriv::kAes128,
          "not-alices-pass"),
       refused("4 [] - (no answer: Timeout)")},
      {"wrong authentication protocol",
       v3("bob", SnmpLevel::kAuthNoPriv, SnmpAuth::kSha512, "bob-auth-pass"),
       refused("8 [] - (refused: the authentication passphrase or protocol is not the printer's "
               "(usmStatsWrongDigests))")},
      {"unknown user", v3("mallory", SnmpLevel::kAuthNoPriv, SnmpAuth::kSha256, "alice-auth-pass"),
       refused("8 [] - (refused: the printer has no SNMPv3 user of that name "
               "(usmStatsUnknownUserNames))")},
      {"a level the user does not have",
       v3("carol", SnmpLevel::kAuthNoPriv, SnmpAuth::kSha1, "carol-auth-pass"),
       refused("8 [] - (refused: the printer does not allow this security level for the user "
               "(usmStatsUnsupportedSecLevels))")},
      {"settings of a program that break a rule: nothing is sent",
       v3("bob", SnmpLevel::kAuthNoPriv, SnmpAuth::kSha1, "bob"),
       refused("3 [] - (no session: SNMPv3 settings not used: SNMP_V3_AUTH_PASSPHRASE is "
               "shorter than 8 characters, the USM minimum)")},
      {"a level below the one the agent lets the user read at", v3("bob", SnmpLevel::kNoAuthNoPriv),
       refused("5 [] - (error status: authorizationError (access denied to that object))")},
  };
  for (const auto& row : table) {
    SCOPED_TRACE(row.what);
    EXPECT_EQ(query(kV3Agent, row.credentials), row.lines);
  }
  // An agent that speaks both: the same user over SNMPv3, the community over SNMPv1.
  EXPECT_EQ(query(kBothAgent, kAlice), kAnsweredV3);
  EXPECT_EQ(query("::1", kAlice), kAnsweredV3);
  SnmpCredentials community;
  strcpy(community.community, "mirelo");
  EXPECT_EQ(query(kBothAgent, community), kAnswered);
  EXPECT_EQ(query(kV3Agent, community), refused("4 [] - (no answer: Timeout)"));
}

// A round's user leaves the library's list with the round: a later round of the same user of
// the same printer makes its keys anew from its own passphrases.
TEST_F(V3Agents, AWrongPassphraseLeavesNothingBehind) {
  const SnmpCredentials wrong = v3("alice", SnmpLevel::kAuthPriv, SnmpAuth::kSha256,
                                   "not-alices-pass", SnmpPriv::kAes128, "alice-priv-pass");
  EXPECT_NE(query(kV3Agent, wrong), kAnsweredV3);
  EXPECT_EQ(query(kV3Agent, kAlice), kAnsweredV3);
  EXPECT_NE(query(kV3Agent, wrong), kAnsweredV3);
}

TEST_F(V3Agents, ThreadsQueryingOnePrinterShareItsUser) {
  constexpr int kThreads = 4;
  std::string lines[kThreads];
  std::vector<std::thread> threads;
  for (int i = 0; i < kThreads; ++i) {
    threads.emplace_back([&lines, i] { lines[i] = query(kV3Agent, kAlice); });
  }
  for (std::thread& thread : threads) thread.join();
  for (const std::string& text : lines) EXPECT_EQ(text, kAnsweredV3);
}

// The filter's whole network path with the manufacturer's settings file: its SNMPv3 settings
// reach the printer whose SNMPv1 is off; a file that breaks the rules is not used, and says
// why without its passphrase.
TEST_F(V3Agents, ManufacturerSettingsFileReachesTheV3OnlyPrinter) {
  SavedPath saved("/opt/Kestrel");
  ASSERT_TRUE(make_dirs("/opt/Kestrel/mfp/share"));
  const std::string path = "/opt/Kestrel/mfp/share/OEM.ini";
  const std::string uri = std::string("socket://") + kV3Agent + ":9100";
  const std::string settings =
      "[SNMP]\nSNMP_VERSION=3\nSNMP_V3_USER=alice\nSNMP_V3_LEVEL=authPriv\n"
      "SNMP_V3_AUTH_PROTOCOL=SHA-256\nSNMP_V3_PRIV_PROTOCOL=AES-128\n"
      "SNMP_V3_PRIV_PASSPHRASE=alice-priv-pass\nSNMP_V3_AUTH_PASSPHRASE=";
  const struct {
    const char* what;
    std::string text;
    mode_t mode;
    std::string first_line;  // of standard error
    const char* marked;
  } table[] = {
      {"0640 root", settings + "alice-auth-pass\n", 0640,
       "WARNING: SNMP query (" + test_oid(".1.99.0") + ") failure\n", "True"},
      {"readable by all", settings + "alice-auth-pass\n", 0644,
       "WARNING: SNMPv3 settings not used (" + path +
           ": it holds a passphrase that others may read (0640 root:lp keeps it to root and the "
           "filters)); the queries use SNMPv1\n",
       ""},
      {"wrong passphrase", settings + "not-alices-pass\n", 0640,
       "WARNING: SNMPv3 request refused: the authentication passphrase or protocol is not the "
       "printer's (usmStatsWrongDigests)\n",
       ""},
  };
  for (const auto& row : table) {
    SCOPED_TRACE(row.what);
    ASSERT_TRUE(write_file(path, row.text));
    ASSERT_EQ(chmod(path.c_str(), row.mode), 0);
    UniquePpd ppd = open_ppd_text(three_options_ppd("KESTREL"));
    ASSERT_TRUE(ppd);
    StreamCapture capture(stderr);
    EXPECT_EQ(snmpUpdateConfigOptions(ppd.get(), uri.c_str()), 0);
    const std::string err = capture.finish();
    EXPECT_EQ(err.substr(0, err.find('\n') + 1), row.first_line) << err;
    EXPECT_EQ(err.find("alice-auth-pass"), std::string::npos);
    EXPECT_EQ(marked_choice(ppd.get(), "Number"), row.marked);
    EXPECT_EQ(marked_choice(ppd.get(), "Text"), row.marked);
  }
}

// Nothing answers the discovery: the GETs are never sent, so the round costs the one
// time-out of the discovery. The discovery is the round's own, with a random request id
// like the GETs': not the library's, which would wait for its answer inside the first send,
// holding the library's lock, and whose ids count up by a few from one round to the next.
TEST(V3SilentPrinter, OneTimeOutAndNoGetAfterIt) {
  REQUIRE_ROOT();
  ScriptedAgent agent(kSilentAgent, ScriptedAgent::Mode::kV3Silent);
  ASSERT_TRUE(agent.bound());
  snmpLibraryInit();
  EXPECT_EQ(query(kSilentAgent, kAlice), refused("4 [] - (no answer: Timeout)"));
  EXPECT_EQ(query(kSilentAgent, v3("carol", SnmpLevel::kNoAuthNoPriv)),
            refused("4 [] - (no answer: Timeout)"));
  EXPECT_EQ(agent.requests(), 2);
  const std::vector<long> ids = agent.request_ids();
  ASSERT_EQ(ids.size(), 2u);
  EXPECT_GT(labs(ids[1] - ids[0]), 1000) << ids[0] << " " << ids[1];
}

// Garbage before every report, and every report from another engine: each request ends, as a
// refusal (the engine the GETs were sent to is gone) once the discovery named an engine. A
// report of the printer's own engine is worded by its counter.
TEST(V3ReportingPrinter, GarbageAndChangingEnginesEndEveryRequest) {
  REQUIRE_ROOT();
  ScriptedAgent agent(kReportingAgent, ScriptedAgent::Mode::kV3Reports);
  ASSERT_TRUE(agent.bound());
  snmpLibraryInit();
  EXPECT_EQ(query(kReportingAgent, kAlice),
            refused("8 [] - (refused: the printer's engine changed during the query "
                    "(usmStatsUnknownEngineIDs))"));
  // The same with a user that needs no keys.
  EXPECT_EQ(query(kReportingAgent, v3("carol", SnmpLevel::kNoAuthNoPriv)),
            refused("8 [] - (refused: the printer's engine changed during the query "
                    "(usmStatsUnknownEngineIDs))"));
  // A printer that cannot decrypt the request names the privacy settings, not the
  // authentication's.
  ScriptedAgent undecrypting(kUndecryptingAgent, ScriptedAgent::Mode::kV3DecryptionErrors);
  ASSERT_TRUE(undecrypting.bound());
  EXPECT_EQ(query(kUndecryptingAgent, kAlice),
            refused("8 [] - (refused: the printer cannot decrypt the request: the privacy "
                    "passphrase or protocol is not the printer's (usmStatsDecryptionErrors))"));
}

}  // namespace
