// zorvautoconf run the way the scheduler runs it for a network queue: the PPD from a private
// cupsd, the answers from a private snmpd, the rewritten PPD read back from /var/tmp/autoconf.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "support/cupsd.h"
#include "support/paths.h"
#include "support/ppd.h"
#include "support/program.h"
#include "support/snmpd.h"

namespace {

constexpr char kAgent[] = "127.0.0.24";
constexpr char kQueue[] = "snmpq";
constexpr char kJob[] = "%!PS\njob bytes\n";

// Runs program under a private mount namespace in which /etc/snmp is empty, with argv[0] as
// given, so that the SNMP library finds no snmp.conf (and with it no "mibs :" line that would
// keep it from loading the default MIBs, most of which are not installed).
ProgramRun without_snmp_conf(const std::string& program, const std::vector<std::string>& args,
                             const std::vector<std::string>& env) {
  ProgramRun run;
  run.path = "/usr/bin/unshare";
  run.args = {"unshare", "--mount", "/bin/bash", "-c",
              "mount -t tmpfs tmpfs /etc/snmp && exec -a \"$0\" " + program + " \"$@\""};
  run.args.insert(run.args.end(), args.begin(), args.end());
  run.env = env;
  return run;
}

// Runs of the filter against a private agent on kAgent, started afresh for each test.
class SnmpFilterWithAgent : public ::testing::Test {
 protected:
  void SetUp() override {
    REQUIRE_ROOT();
    if (!snmpd_available()) GTEST_SKIP() << "snmpd is not installed";
    SnmpdConfig config;
    config.address = kAgent;
    ASSERT_TRUE(agent_.start(config)) << agent_.error();
  }

  Snmpd agent_;
};

TEST_F(SnmpFilterWithAgent, NetworkQueueGetsItsDefaultsFromTheAgent) {
  TempDir work;
  const std::string options = installable_option("DuplexUnit") + installable_option("Tray2") +
                              installable_option("Disk") + installable_option("Finisher");
  const std::string attributes =
      std::string(
          "*?SnmpDuplexUnit: \"ZORV-TEST-MIB::zorvDuplex.0\"\n*SnmpDuplexUnit True: \"Duplex\"\n") +
      "*?SnmpTray2: \"" + test_oid(".1.7.0") + "\"\n*SnmpTray2 True: \"^01000000$\"\n" +
      "*?SnmpFinisher: \"" + test_oid(".1.98.0") + "\"\n*SnmpFinisher True: \"1\"\n";
  ASSERT_TRUE(write_file(work.file("q.ppd"), test_ppd("Acme", options, attributes)));

  Cupsd cupsd;
  ASSERT_TRUE(cupsd.start()) << cupsd.failure();
  const std::string queue_uri = std::string("socket://") + kAgent + ":9100";
  ASSERT_TRUE(cupsd.add_queue(kQueue, work.file("q.ppd"), queue_uri)) << cupsd.failure();
  // The scheduler refuses a query right after the port in a queue's URI, but backends take
  // one, and the filter must find the host in it.
  const std::string uri = queue_uri + "?waiteof=false";

  SavedPath output_dir("/var/tmp/autoconf");
  TempDir empty_home;
  const std::vector<std::string> env = {"PATH=/usr/sbin:/usr/bin:/sbin:/bin", "LANG=C",
                                        "HOME=" + empty_home.path(),
                                        "CUPS_SERVER=" + cupsd.server(), "DEVICE_URI=" + uri,
                                        // One OID is given by a name from the tests' own MIB.
                                        "MIBDIRS=+" TEST_DATA_DIR "/snmp", "MIBS=+ZORV-TEST-MIB"};

  // The same surroundings make the library's own tools print their MIB warnings.
  ProgramRun control = without_snmp_conf(
      "/usr/bin/snmpget", {"snmpget", "-v1", "-c", "mirelo", kAgent, test_oid(".1.1.0")}, env);
  const ProgramResult tool = run_program(control);
  EXPECT_NE(tool.err.find("Cannot find module"), std::string::npos) << tool.err;

  ProgramRun run = without_snmp_conf(ZORVAUTOCONF_PATH, filter_args(kQueue), env);
  run.input = kJob;
  const ProgramResult result = run_filter(run);
  EXPECT_EQ(result.out, kJob);
  // The messages' words are the unit and agent tests'; here the failed query, and none of the
  // MIB warnings that the library's own tools print in the same surroundings.
  EXPECT_NE(result.err.find("WARNING: SNMP query (" + test_oid(".1.98.0") + ") failure\n"),
            std::string::npos)
      << result.err;
  EXPECT_EQ(result.err.find("Cannot find module"), std::string::npos) << result.err;

  const std::string rewritten = read_file(std::string("/var/tmp/autoconf/") + kQueue + ".ppd");
  EXPECT_NE(rewritten.find("*DefaultDuplexUnit: True\n"), std::string::npos) << rewritten;
  EXPECT_NE(rewritten.find("*DefaultTray2: True\n"), std::string::npos);
  EXPECT_NE(rewritten.find("*DefaultDisk: False\n"), std::string::npos);
  EXPECT_NE(rewritten.find("*DefaultFinisher: False\n"), std::string::npos);
}

TEST(SnmpFilter, UriWithoutHostSkipsTheNetworkPath) {
  REQUIRE_ROOT();
  TempDir work;
  ASSERT_TRUE(write_file(work.file("q.ppd"),
                         test_ppd("Acme", installable_option("DuplexUnit"),
                                  "*?SnmpDuplexUnit: \"" + test_oid(".1.3.0") + "\"\n")));
  Cupsd cupsd;
  ASSERT_TRUE(cupsd.start()) << cupsd.failure();
  ASSERT_TRUE(cupsd.add_queue(kQueue, work.file("q.ppd"), "socket://localhost:9100"))
      << cupsd.failure();
  SavedPath output_dir("/var/tmp/autoconf");
  const ProgramResult result =
      run_filter(filter_run(ZORVAUTOCONF_PATH, filter_args(kQueue), kJob,
                            cupsd.client_environment({"DEVICE_URI=socket:localhost"})));
  EXPECT_EQ(result.out, kJob);
  EXPECT_NE(result.err.find("ERROR: hostFromUri(socket:localhost) failed:\n"), std::string::npos)
      << result.err;
  EXPECT_NE(read_file(std::string("/var/tmp/autoconf/") + kQueue + ".ppd")
                .find("*DefaultDuplexUnit: False\n"),
            std::string::npos);
}

TEST_F(SnmpFilterWithAgent, PacketDumpsOfTheSnmpConfigurationNeverReachTheJob) {
  TempDir work;
  ASSERT_TRUE(write_file(
      work.file("q.ppd"),
      test_ppd("Acme", installable_option("Tray2"),
               "*?SnmpTray2: \"" + test_oid(".1.7.0") + "\"\n*SnmpTray2 True: \"^01000000$\"\n")));
  // The machine's snmp.conf may ask for packet dumps; the library's dumps go through xdump,
  // which this program exports and which writes to standard output, the job stream.
  ASSERT_TRUE(write_file(work.file("snmp.conf"), "dumpPacket yes\ndoDebugging 1\n"));
  Cupsd cupsd;
  ASSERT_TRUE(cupsd.start()) << cupsd.failure();
  const std::string uri = std::string("socket://") + kAgent + ":9100";
  ASSERT_TRUE(cupsd.add_queue(kQueue, work.file("q.ppd"), uri)) << cupsd.failure();
  SavedPath output_dir("/var/tmp/autoconf");
  const ProgramResult result = run_filter(
      filter_run(ZORVAUTOCONF_PATH, filter_args(kQueue), kJob,
                 cupsd.client_environment({"DEVICE_URI=" + uri, "SNMPCONFPATH=" + work.path()})));
  EXPECT_EQ(result.out, kJob);
  EXPECT_EQ(result.err, "");
  EXPECT_NE(
      read_file(std::string("/var/tmp/autoconf/") + kQueue + ".ppd").find("*DefaultTray2: True\n"),
      std::string::npos);
}

}  // namespace
