// zorvquery run as a program: --check on a PPD holding each mistake once, and bad arguments.
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "support/paths.h"
#include "support/ppd.h"
#include "support/program.h"

namespace {

const std::string kWorkedExample = SOURCE_DIR "/docs/examples/worked-example.ppd";

// zorvquery with args, in the environment a user's shell would give it.
ProgramResult zorvquery(std::vector<std::string> args) {
  args.insert(args.begin(), "zorvquery");
  return run_program(filter_run(ZORVQUERY_PATH, args));
}

TEST(QueryProgram, CheckReportsEachMistakeOnceAndNothingForTheWorkedExample) {
  ProgramResult r = zorvquery({"--check", SOURCE_DIR "/docs/examples/first-draft.ppd"});
  EXPECT_EQ(r.status, 3);
  EXPECT_EQ(
      r.out,
      "line 67: the PPD library drops '*OIDInstalledMemory 512MB \"524288 KBytes\"': a ':' "
      "must follow the name and the choice, and a choice has no blanks\n"
      "line 76: its quoted value never ends; the PPD library takes the rest of the file into "
      "it\n"
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
      "SNMP_COMMUNITY=; tried /opt/Kestrel/mfp/share/OEM.ini: No such file or directory)\n");

  ProgramResult clean = zorvquery({"--check", kWorkedExample});
  EXPECT_EQ(clean.status, 0) << clean.out;
}

// A PPD is shown to the administrator's terminal escaped, whatever it holds: ESC, CSI and OSC
// in their 7-bit, 8-bit and UTF-8 forms in a query, a reply attribute and a pre-filter line
// (a copy in /var/tmp/autoconf is anyone's to write).
TEST(QueryProgram, PpdTextReachesTheTerminalEscaped) {
  const std::string controls = "\x1b]0;x\x07\x9b" "2J\xc2\x9b" "31m";
  TempDir dir;
  ASSERT_TRUE(write_file(
      dir.file("controls.ppd"),
      test_ppd("Acme", installable_option("Tray") + installable_option("Disk"),
               "*cupsPreFilter: \"" + controls + " 0 zorvautoconf\"\n*?SnmpTray: \"" +
                   controls + "\"\n*SnmpTray True: \"" + controls + "(\"\n*?Ep0Disk: \"" +
                   controls + "\"\n")));
  const auto clean = [](const std::string& text) {
    for (size_t i = 0; i < text.size(); ++i) {
      const auto c = static_cast<unsigned char>(text[i]);
      if ((c < 0x20 && c != '\n') || (c >= 0x7f && c <= 0x9f)) return false;
      if (c == 0xc2 && i + 1 < text.size() && static_cast<unsigned char>(text[i + 1]) <= 0x9f) {
        return false;
      }
    }
    return true;
  };
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"--check", dir.file("controls.ppd")},
        std::vector<std::string>{"socket://127.0.0.1:1", dir.file("controls.ppd")}}) {
    SCOPED_TRACE(args[0]);
    ProgramResult r = zorvquery(args);
    EXPECT_NE(r.out.find("\\x1B]0;x\\x07\\x9B2J\\xC2\\x9B31m"), std::string::npos) << r.out;
    EXPECT_TRUE(clean(r.out)) << r.out;
    EXPECT_TRUE(clean(r.err)) << r.err;
  }
}

// The CUPS-standard query written without '?' and without a choice is a query, not a reply.
TEST(QueryProgram, CheckTellsAStandardQueryLineFromItsReplies) {
  TempDir dir;
  ASSERT_TRUE(write_file(
      dir.file("oid.ppd"),
      test_ppd("Acme", installable_option("Tray") + installable_option("Disk"),
               "*OIDTray: \".1.3.6.1.4.1.64999.1.13.0\"\n"
               "*OIDDisk: \".1.3.6.1.4.1.64999.1.14.0\"\n*OIDDisk True: \"1\"\n")));
  ProgramResult r = zorvquery({"--check", dir.file("oid.ppd")});
  EXPECT_EQ(r.status, 3);
  EXPECT_EQ(r.out,
            "Tray: query attribute 'OIDTray' but no reply attribute 'OIDTray'\n"
            "# SNMP community: the default (manufacturer \"Acme\" leads to no settings file with "
            "SNMP_COMMUNITY=; tried none: only Orvane, Kestrel, TALMA, Brightwell, Pemberly "
            "have a settings file (/opt/<vendor>/mfp/share/OEM.ini))\n");
}

// --check shows what SNMPv3 the queries use, never a passphrase, and settings that are not
// used as a problem.
TEST(QueryProgram, CheckShowsTheSnmpV3UserLevelAndProtocols) {
  REQUIRE_ROOT();
  SavedPath saved("/opt/Kestrel");
  ASSERT_TRUE(make_dirs("/opt/Kestrel/mfp/share"));
  const std::string settings = "/opt/Kestrel/mfp/share/OEM.ini";
  ASSERT_TRUE(write_file(settings,
                         "SNMP_VERSION=3\nSNMP_V3_USER=alice\nSNMP_V3_LEVEL=authPriv\n"
                         "SNMP_V3_AUTH_PROTOCOL=SHA-256\nSNMP_V3_AUTH_PASSPHRASE=alice-auth-pass\n"
                         "SNMP_V3_PRIV_PROTOCOL=AES-128\nSNMP_V3_PRIV_PASSPHRASE=alice-priv-pass\n"));
  const std::string community =
      "# SNMP community: the default (manufacturer \"Kestrel\" leads to no settings file with "
      "SNMP_COMMUNITY=; tried " +
      settings + ": no SNMP_COMMUNITY= line)\n";
  TempDir dir;
  ASSERT_TRUE(write_file(dir.file("k.ppd"), test_ppd("Kestrel", installable_option("T"), "")));
  const struct {
    mode_t mode;
    int status;
    std::string out;
  } table[] = {
      {0640, 0,
       community + "# SNMPv3: user alice, authPriv, SHA-256, AES-128, from " + settings +
           " (instead of the community)\n"},
      {0644, 3,
       community + "SNMPv3 settings of " + settings +
           " not used: it holds a passphrase that others may read (0640 root:lp keeps it to "
           "root and the filters); the queries use SNMPv1\n"},
  };
  for (const auto& row : table) {
    SCOPED_TRACE(row.mode);
    ASSERT_EQ(chmod(settings.c_str(), row.mode), 0);
    ProgramResult r = zorvquery({"--check", dir.file("k.ppd")});
    EXPECT_EQ(r.status, row.status);
    EXPECT_EQ(r.out, row.out);
  }
}

// The settings file's pitfalls: a value is everything after the '=', as written, so each of
// these lines silently gives another community (or SNMPv3 setting) than its author meant.
// --check names the file and the line, never the value; without a community it names the path
// it tried.
TEST(QueryProgram, CheckNamesTheSettingsLinesThatGiveAnotherValue) {
  REQUIRE_ROOT();
  SavedPath saved("/opt/Kestrel");
  ASSERT_TRUE(make_dirs("/opt/Kestrel/mfp/share"));
  const std::string settings = "/opt/Kestrel/mfp/share/OEM.ini";
  const std::string from =
      "# SNMP community: SNMP_COMMUNITY= of " + settings + " (manufacturer \"Kestrel\")\n";
  const std::string line1 = settings + ", line 1: SNMP_COMMUNITY: ";
  // A line longer than the readers' buffer reaches them in pieces: it is still one line.
  const std::string long_line = "# " + std::string(1500, '-') + "\nSNMP_COMMUNITY=\"public\"\n";
  const struct {
    const char* lines;  // null: no settings file
    std::string out;
  } table[] = {
      {"SNMP_COMMUNITY=public\n", from},
      {"SNMP_COMMUNITY =public\n", from},  // a blank before '=' changes nothing
      {"SNMP_COMMUNITY = public\n", line1 + "the blank after '=' is part of the value\n" + from},
      {"SNMP_COMMUNITY=public \t\n",
       line1 + "the blanks at the end are part of the value\n" + from},
      {"SNMP_COMMUNITY=\"public\"\n", line1 + "the quotes are part of the value\n" + from},
      {"SNMP_COMMUNITY=public  # office\n", line1 + "the comment is part of the value\n" + from},
      {"SNMP_COMMUNITY=public\r\n",
       line1 + "the carriage return of a Windows line end is part of the value\n" + from},
      {"SNMP_COMMUNITY=\n",
       line1 + "the empty value is the empty community, not the default\n" + from},
      {"[snmp]\n# SNMP_COMMUNITY=old\nSNMP_COMMUNITY=public\n",
       settings +
           ", line 2: SNMP_COMMUNITY: the line is commented out, but a comment sign does "
           "not stop the key, and the key's later lines are passed over\n" +
           from},
      {long_line.c_str(),
       settings + ", line 2: SNMP_COMMUNITY: the quotes are part of the value\n" + from},
      // In the file's order, whatever the order of the keys.
      {"SNMP_V3_CONTEXT='office'\nSNMP_COMMUNITY=public\nSNMP_V3_USER= \"alice\"\r\n",
       settings + ", line 1: SNMP_V3_CONTEXT: the quotes are part of the value\n" + settings +
           ", line 3: SNMP_V3_USER: the blank after '=' is part of the value; the quotes are "
           "part of the value; the carriage return of a Windows line end is part of the "
           "value\n" + from},
      // A passphrase may hold " #": only the blank at its end is reported.
      {"SNMP_COMMUNITY=public\nSNMP_V3_AUTH_PASSPHRASE=public #1 \n",
       settings + ", line 2: SNMP_V3_AUTH_PASSPHRASE: the blanks at the end are part of the "
                  "value\n" + from},
      {"X=1\n",
       "# SNMP community: the default (manufacturer \"Kestrel\" leads to no settings file with "
       "SNMP_COMMUNITY=; tried " +
           settings + ": no SNMP_COMMUNITY= line)\n"},
      {nullptr,
       "# SNMP community: the default (manufacturer \"Kestrel\" leads to no settings file with "
       "SNMP_COMMUNITY=; tried " +
           settings + ": No such file or directory)\n"},
  };
  TempDir dir;
  ASSERT_TRUE(write_file(dir.file("k.ppd"), test_ppd("Kestrel", installable_option("T"), "")));
  for (const auto& row : table) {
    SCOPED_TRACE(row.lines != nullptr ? row.lines : "(no file)");
    unlink(settings.c_str());
    if (row.lines != nullptr) {
      ASSERT_TRUE(write_file(settings, row.lines));
      ASSERT_EQ(chmod(settings.c_str(), 0640), 0);
    }
    ProgramResult r = zorvquery({"--check", dir.file("k.ppd")});
    EXPECT_EQ(r.out, row.out);
    EXPECT_EQ(r.status, row.out.find(settings + ", line") == 0 ? 3 : 0);
    EXPECT_EQ(r.out.find("public"), std::string::npos);
  }
}

TEST(QueryProgram, BadArgumentsPpdsAndUrisAreStatusOne) {
  const std::string usage =
      "Usage: zorvquery DEVICE-URI PPD-FILE\n       zorvquery --check PPD-FILE\n"
      "       zorvquery --state DEVICE-URI [PPD-FILE]\n";
  TempDir dir;
  ASSERT_TRUE(write_file(dir.file("text.ppd"), "not a PPD\n"));
  struct Case {
    std::vector<std::string> args;
    std::string err;
  } cases[] = {
      {{}, usage},
      {{"--check"}, usage},
      {{"--bogus", kWorkedExample},
       usage},
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
       "zorvquery: no host in the device URI socket://user:****@: its host is empty\n"},
      {{"--state"}, usage},
      {{"--state", "socket://x", kWorkedExample, "more"}, usage},
      {{"--state", "--check"}, usage},
      {{"--state", "socket://x", dir.file("text.ppd")},
       "zorvquery: " + dir.file("text.ppd") +
           ": not a PPD file (Missing asterisk in column 1 on line 1)\n"},
      {{"--state", "usb://Orvane/Model"},
       "zorvquery: the state of a USB printer is not asked: --state needs a network device URI "
       "(http:, ipp:, socket:, lpd:)\n"},
      {{"--state", "socket://user:secret@"},
       "zorvquery: no host in the device URI socket://user:****@: its host is empty\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args.empty() ? "(none)" : c.args[0] + " " + c.args.back());
    ProgramResult r = zorvquery(c.args);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, c.err);
  }
}

}  // namespace
