// zorvquery run as a program against a private agent: an answering one, and nothing there.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "support/paths.h"
#include "support/program.h"
#include "support/snmpd.h"

namespace {

constexpr char kAgent[] = "127.0.0.25";
const std::string kWorkedExample = SOURCE_DIR "/docs/examples/worked-example.ppd";

TEST(QueryProgram, AnsweringAgentShowsEachOptionsReplyAndChoice) {
  REQUIRE_ROOT();
  if (!snmpd_available()) GTEST_SKIP() << "snmpd is not installed";
  Snmpd agent;
  SnmpdConfig config;
  config.address = kAgent;
  config.values_files.push_back(SOURCE_DIR "/docs/examples/worked-example-agent.conf");
  ASSERT_TRUE(agent.start(config)) << agent.error();
  const std::string uri = std::string("socket://") + kAgent + ":9100";
  ProgramResult r = run_program(filter_run(ZORVQUERY_PATH, {"zorvquery", uri, kWorkedExample}));
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out,
            "# " + uri + ": SNMP to " + kAgent +
                ", community the default (no settings file for this manufacturer)\n"
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

}  // namespace
