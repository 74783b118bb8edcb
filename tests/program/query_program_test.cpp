// zorvquery run as a program: against a private agent (answering, and nothing there), --check
// on a PPD holding each mistake once, and bad arguments.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "support/paths.h"
#include "support/program.h"
#include "support/snmpd.h"

namespace {

constexpr char kAgent[] = "127.0.0.25";
const std::string kWorkedExample = SOURCE_DIR "/docs/examples/worked-example.ppd";

ProgramResult zorvquery(const std::vector<std::string>& args) {
  ProgramRun run;
  run.path = ZORVQUERY_PATH;
  run.args = {"zorvquery"};
  run.args.insert(run.args.end(), args.begin(), args.end());
  run.env = filter_environment();
  return run_program(run);
}

TEST(QueryProgram, AnsweringAgentShowsEachOptionsReplyAndChoice) {
  REQUIRE_ROOT();
  if (!snmpd_available()) GTEST_SKIP() << "snmpd is not installed";
  Snmpd agent;
  SnmpdConfig config;
  config.address = kAgent;
  config.values_files.push_back(SOURCE_DIR "/docs/examples/worked-example-agent.conf");
  ASSERT_TRUE(agent.start(config)) << agent.error();
  const std::string uri = std::string("socket://") + kAgent + ":9100";
  ProgramResult r = zorvquery({uri, kWorkedExample});
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
  ProgramResult silent = zorvquery({"socket://127.0.0.26", kWorkedExample});
  EXPECT_EQ(silent.status, 2);
  EXPECT_NE(silent.out.find("Duplexer: ?SnmpDuplexer \".1.3.6.1.4.1.64991.1.2.0\" -> no answer: "
                            "Timeout"),
            std::string::npos)
      << silent.out;
  EXPECT_NE(silent.err.find("a wrong community is not answered"), std::string::npos);
}

TEST(QueryProgram, CheckReportsEachMistakeOnceAndNothingForTheWorkedExample) {
  ProgramResult r = zorvquery({"--check", SOURCE_DIR "/docs/examples/first-draft.ppd"});
  EXPECT_EQ(r.status, 3);
  EXPECT_EQ(
      r.out,
      "*cupsPreFilter \"application/vnd.cups-postscript 0 zorvautoconf\": no *cupsFilter or "
      "*cupsFilter2 line takes application/vnd.cups-postscript, so zorvautoconf never runs\n"
      "Finisher: reply attribute 'SnmpFinisher SR-40' names a choice that the option does not "
      "have (choices: None, SR40)\n"
      "Duplexer: reply attribute 'SnmpDuplexer True' does not compile: Unmatched ( or \\(\n"
      "Disk: query attribute '?SnmpDisk' cannot be read: \"KESTREL-MIB::disk.0\"\n"
      "Envelope: reply attributes 'SnmpEnvelope' but no query attribute '?SnmpEnvelope'\n"
      "Cassette: query attribute '?Ep0Cassette' but no reply attribute 'Ep0Cassette'\n"
      "HighCapacityInputTrayWithCasterAndLock: the keyword has 38 characters; its attribute "
      "names longer than 40 characters are cut, and the cut names are looked up\n"
      "# SNMP community: the default (manufacturer \"Kestrel\" leads to no settings file with "
      "SNMP_COMMUNITY=)\n");

  ProgramResult clean = zorvquery({"--check", kWorkedExample});
  EXPECT_EQ(clean.status, 0) << clean.out;
}

TEST(QueryProgram, BadArgumentsPpdsAndUrisAreStatusOne) {
  TempDir dir;
  ASSERT_TRUE(write_file(dir.file("text.ppd"), "not a PPD\n"));
  struct Case {
    std::vector<std::string> args;
    std::string err;
  } cases[] = {
      {{}, "Usage: zorvquery DEVICE-URI PPD-FILE\n       zorvquery --check PPD-FILE\n"},
      {{"--check"}, "Usage: zorvquery DEVICE-URI PPD-FILE\n       zorvquery --check PPD-FILE\n"},
      {{"--bogus", kWorkedExample},
       "Usage: zorvquery DEVICE-URI PPD-FILE\n       zorvquery --check PPD-FILE\n"},
      {{"socket://x", dir.file("missing.ppd")},
       "zorvquery: " + dir.file("missing.ppd") + ": no such PPD file\n"},
      {{"socket://x", dir.path()}, "zorvquery: " + dir.path() + ": no such PPD file\n"},
      {{"socket://x", dir.file("text.ppd")},
       "zorvquery: " + dir.file("text.ppd") +
           ": not a PPD file (Missing asterisk in column 1 on line 1)\n"},
      {{"file:/dev/null", kWorkedExample},
       "zorvquery: the device URI file:/dev/null cannot be queried (network URIs: http:, ipp:, "
       "socket:, lpd:; USB URIs: usb:, mfp:)\n"},
      {{"socket://user:secret@", kWorkedExample},
       "zorvquery: no host in the device URI socket://user:****@\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args.empty() ? "(none)" : c.args[0]);
    ProgramResult r = zorvquery(c.args);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, c.err);
  }
}

}  // namespace
