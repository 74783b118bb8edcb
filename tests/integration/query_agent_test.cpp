// zorvquery run as a program against a private agent: an answering one, and nothing there.
#include <sys/stat.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "support/paths.h"
#include "support/ppd.h"
#include "support/program.h"
#include "support/snmpd.h"

namespace {

constexpr char kAgent[] = "127.0.0.25";
const std::string kWorkedExample = SOURCE_DIR "/docs/examples/worked-example.ppd";

// The demonstration's agent, answering the worked example's OIDs on kAgent.
class WorkedExampleAgent : public ::testing::Test {
 protected:
  void SetUp() override {
    REQUIRE_ROOT();
    if (!snmpd_available()) GTEST_SKIP() << "snmpd is not installed";
    SnmpdConfig config;
    config.address = kAgent;
    config.values_files.push_back(SOURCE_DIR "/docs/examples/worked-example-agent.conf");
    ASSERT_TRUE(agent_.start(config)) << agent_.error();
  }

  Snmpd agent_;
  const std::string uri_ = std::string("socket://") + kAgent + ":9100";
};

TEST_F(WorkedExampleAgent, AnsweringAgentShowsEachOptionsReplyAndChoice) {
  ProgramResult r = run_program(filter_run(ZORVQUERY_PATH, {"zorvquery", uri_, kWorkedExample}));
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out,
            "# " + uri_ + ": SNMP to " + kAgent +
                ", community the default (tried /opt/Orvane/mfp/share/OEM.ini: No such file or "
                "directory)\n"
                "OptionalTray: ?SnmpOptionalTray \".1.3.6.1.4.1.64991.1.1.0\" -> \"PF-500-EU\" -> "
                "PF500; default None\n"
                "Duplexer: ?SnmpDuplexer \".1.3.6.1.4.1.64991.1.2.0\" -> \"1\" -> True; "
                "default False\n"
                "InstalledMemory: ?SnmpInstalledMemory \".1.3.6.1.4.1.64991.1.3.0\" -> \"512\" "
                "-> 512MB; default 256MB\n"
                "Finisher: ?SnmpFinisher \".1.3.6.1.4.1.64991.1.4.0\" -> \"01000000\" -> True; "
                "default False\n"
                "Stapler: no query attribute '?SnmpStapler'; default False\n"
                "    WARNING: option 'Stapler' has no query attribute '?SnmpStapler'\n");
  EXPECT_EQ(r.err, "");

  // Nothing answers on the next address: every option says so, and the status tells.
  ProgramResult silent =
      run_program(filter_run(ZORVQUERY_PATH, {"zorvquery", "socket://127.0.0.26", kWorkedExample}));
  EXPECT_EQ(silent.status, 2);
  EXPECT_NE(silent.out.find("Duplexer: ?SnmpDuplexer \".1.3.6.1.4.1.64991.1.2.0\" -> no answer: "
                            "Timeout"),
            std::string::npos)
      << silent.out;
  EXPECT_NE(silent.err.find("a wrong community is not answered"), std::string::npos);
}

// An answer that marks no choice says why on the option's line: a reply attribute that matched
// but names a choice the option lacks (it ends the search: the valid line after it is never
// tried), no reply attribute at all, or none that matches. The filter's warning for each
// follows, indented.
TEST_F(WorkedExampleAgent, AnswersThatMarkNoChoiceSayWhy) {
  const std::string oid = ".1.3.6.1.4.1.64991.1.2.0";  // the agent answers 1
  TempDir dir;
  ASSERT_TRUE(
      write_file(dir.file("choices.ppd"),
                 test_ppd("Acme",
                          installable_option("BadChoice") + installable_option("NoReply") +
                              installable_option("NoMatch"),
                          "*?SnmpBadChoice: \"" + oid + "\"\n*SnmpBadChoice Installed: \"1\"\n" +
                              "*SnmpBadChoice True: \"1\"\n*?SnmpNoReply: \"" + oid + "\"\n" +
                              "*?SnmpNoMatch: \"" + oid + "\"\n*SnmpNoMatch True: \"^0$\"\n")));
  ProgramResult r =
      run_program(filter_run(ZORVQUERY_PATH, {"zorvquery", uri_, dir.file("choices.ppd")}));
  EXPECT_EQ(r.status, 0) << r.err;
  const std::string asked = " \"" + oid + "\" -> \"1\" -> - (";
  EXPECT_EQ(r.out.substr(r.out.find('\n') + 1),
            "BadChoice: ?SnmpBadChoice" + asked +
                "'SnmpBadChoice Installed' matches and ends the search, but the option has no "
                "choice 'Installed'); default False\n"
                "    WARNING: reply attribute 'SnmpBadChoice' names choice 'Installed', which "
                "option 'BadChoice' does not have\n"
                "NoReply: ?SnmpNoReply" +
                asked +
                "no reply attribute 'SnmpNoReply'); default False\n"
                "    WARNING: option 'NoReply' has no reply attribute 'SnmpNoReply' with value "
                "'1'\n"
                "NoMatch: ?SnmpNoMatch" +
                asked +
                "no reply attribute matches); default False\n"
                "    WARNING: option 'NoMatch' has no reply attribute 'SnmpNoMatch' with value "
                "'1'\n");
}

// Against a printer whose SNMPv1 is off, three runs: answered, a wrong
// passphrase (named on each line, no passphrase anywhere), and nothing there (the hint).
TEST(QueryProgram, SnmpV3AgentAnswersRefusesOrIsSilent) {
  REQUIRE_ROOT();
  if (!snmpd_available()) GTEST_SKIP() << "snmpd is not installed";
  Snmpd agent;
  SnmpdConfig config;
  config.address = kAgent;
  config.v3_only = true;
  config.users = {"printadmin priv SHA-256 print-auth-2026 AES print-priv-2026"};
  config.values_files.push_back(SOURCE_DIR "/docs/examples/worked-example-agent.conf");
  config.values_files.push_back(test_data("snmp/printer-state.conf"));
  ASSERT_TRUE(agent.start(config)) << agent.error();
  SavedPath saved("/opt/Orvane");
  ASSERT_TRUE(make_dirs("/opt/Orvane/mfp/share"));
  const std::string settings = "/opt/Orvane/mfp/share/OEM.ini";
  const std::string lines =
      "SNMP_VERSION=3\nSNMP_V3_USER=printadmin\nSNMP_V3_LEVEL=authPriv\n"
      "SNMP_V3_AUTH_PROTOCOL=SHA-256\nSNMP_V3_PRIV_PROTOCOL=AES-128\n"
      "SNMP_V3_PRIV_PASSPHRASE=print-priv-2026\nSNMP_V3_AUTH_PASSPHRASE=";
  const struct {
    const char* what;
    const char* passphrase;
    const char* host;
    int status;
    std::string duplexer;
    std::string err;
    std::string state;      // a line of --state's, or its words on standard error
  } table[] = {
      {"answered", "print-auth-2026", kAgent, 0,
       "Duplexer: ?SnmpDuplexer \".1.3.6.1.4.1.64991.1.2.0\" -> \"1\" -> True; default False\n",
       "", "supply 1 \"Black Toner\": toner, black, 7 of 100 (7 %)\n"},
      {"wrong passphrase", "wrong-passphrase", kAgent, 2,
       "Duplexer: ?SnmpDuplexer \".1.3.6.1.4.1.64991.1.2.0\" -> refused: the authentication "
       "passphrase or protocol is not the printer's (usmStatsWrongDigests); default False\n",
       "zorvquery: no query got an answer\n",
       "zorvquery: the printer gave no state: refused: the authentication passphrase or protocol "
       "is not the printer's (usmStatsWrongDigests)\n"},
      {"silent", "print-auth-2026", "127.0.0.26", 2,
       "Duplexer: ?SnmpDuplexer \".1.3.6.1.4.1.64991.1.2.0\" -> no answer: Timeout; default "
       "False\n",
       "zorvquery: no query got an answer; under SNMPv3 a wrong privacy passphrase is not "
       "answered at all\n",
       "zorvquery: the printer gave no state: no answer: Timeout; under SNMPv3 a wrong privacy "
       "passphrase is not answered at all\n"},
  };
  for (const auto& row : table) {
    SCOPED_TRACE(row.what);
    ASSERT_TRUE(write_file(settings, lines + row.passphrase + "\n"));
    ASSERT_EQ(chmod(settings.c_str(), 0640), 0);
    const std::string uri = std::string("socket://") + row.host + ":9100";
    ProgramResult r = run_program(filter_run(ZORVQUERY_PATH, {"zorvquery", uri, kWorkedExample}));
    EXPECT_EQ(r.status, row.status);
    EXPECT_EQ(r.err, row.err);
    EXPECT_EQ(r.out.substr(0, r.out.find('\n') + 1),
              "# " + uri + ": SNMPv3 to " + row.host +
                  ", user printadmin, authPriv, SHA-256, AES-128 (" + settings + ")\n");
    EXPECT_NE(r.out.find(row.duplexer), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find(row.passphrase), std::string::npos);
    EXPECT_EQ(r.out.find("print-priv-2026"), std::string::npos);

    // The printer's state, with the same settings and the same exit statuses.
    ProgramResult state = run_program(
        filter_run(ZORVQUERY_PATH, {"zorvquery", "--state", uri, kWorkedExample}));
    EXPECT_EQ(state.status, row.status);
    EXPECT_EQ(state.out.substr(0, state.out.find('\n') + 1),
              r.out.substr(0, r.out.find('\n') + 1));
    EXPECT_NE((state.out + state.err).find(row.state), std::string::npos) << state.out << state.err;
    EXPECT_EQ(state.out.find(row.passphrase), std::string::npos);
  }
}

}  // namespace
