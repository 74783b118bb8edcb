// The device query as a library, in process: the record of every way the scripted agent
// answers, two threads querying two agents at once, a cancel by descriptor, and recorded walks
// of real printers served by snmpsimd, asked through the CUPS-standard attributes.
#include <sys/eventfd.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "common/handles.h"
#include "log/escape.h"
#include "probe/messages.h"
#include "probe/probe.h"
#include "support/background.h"
#include "support/paths.h"
#include "support/ppd.h"
#include "support/records.h"
#include "support/snmp_agent.h"
#include "support/snmpd.h"

namespace {

const std::string kAgentPpd = test_data("fault/agent.ppd");
const std::string kWorkedExample = SOURCE_DIR "/docs/examples/worked-example.ppd";
const std::string kWalks = test_data("walks/");

std::string probe_lines(const std::string& ppd_path, const std::string& uri,
                        const ProbeCancel& cancel = {}) {
  UniquePpd ppd = open_ppd(ppd_path);
  if (!ppd) return "no PPD " + ppd_path;
  ProbeResult result;
  probeDevice(ppd.get(), uri.c_str(), cancel, result);
  return lines_of(result);
}

class ScriptedAgentRecords : public ::testing::Test {
 protected:
  void SetUp() override {
    REQUIRE_ROOT();
    if (!agent_.bound()) GTEST_SKIP() << "UDP 127.0.0.77:161 or 127.0.0.78:161 is taken";
  }
  ScriptedAgent agent_{"127.0.0.77", ScriptedAgent::Mode::kScripted};
  const std::string uri_ = "socket://127.0.0.77:9100";
};

TEST_F(ScriptedAgentRecords, EveryWayOfAnsweringIsARecord) {
  UniquePpd ppd = open_ppd(kAgentPpd);
  ASSERT_TRUE(ppd);
  ProbeResult result;
  probeDevice(ppd.get(), uri_.c_str(), ProbeCancel{}, result);
  EXPECT_EQ(result.status, kProbeDone);
  const std::string opaque_start = "000102030405";
  struct Row {
    const char* keyword;
    ProbeOutcome outcome;
    std::string reply;
    const char* choice;  // "" for none
    const char* words;   // how the words begin
    size_t notes;
  } rows[] = {
      {"Opaque", ProbeOutcome::kAnswered, "", "True", "", 0},
      {"Text", ProbeOutcome::kAnswered, "abc", "True", "", 0},
      {"Refused", ProbeOutcome::kErrorStatus, "", "", "error status: (noSuchName)", 0},
      {"Silent", ProbeOutcome::kNoAnswer, "", "", "no answer: Timeout", 0},
      {"Hostile", ProbeOutcome::kAnswered, kHostileAnswer, "", "", 0},
      {"Slow", ProbeOutcome::kAnswered, "slow", "True", "", 0},
      {"Twice", ProbeOutcome::kAnswered, "first", "True", "", 0},
      {"Late", ProbeOutcome::kNoAnswer, "", "", "no answer: Timeout", 0},
      {"Elsewhere", ProbeOutcome::kNoAnswer, "", "", "no answer: Timeout", 0},
      {"OtherPort", ProbeOutcome::kNoAnswer, "", "", "no answer: Timeout", 0},
      {"Neighbour", ProbeOutcome::kNoAnswer, "", "", "no answer: Timeout", 0},
      {"NoQuery", ProbeOutcome::kNoQuery, "", "", "no query attribute '?SnmpNoQuery'", 0},
      {"BadOid", ProbeOutcome::kBadQuery, "", "", "the OID cannot be read", 0},
      {"NoReply", ProbeOutcome::kAnswered, "abc", "", "", 0},
      {"BadRegex", ProbeOutcome::kAnswered, "abc", "True", "", 1},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.keyword);
    const ProbeRecord* record = record_of(result, row.keyword);
    ASSERT_NE(record, nullptr);
    EXPECT_EQ(record->outcome, row.outcome);
    if (strcmp(row.keyword, "Opaque") == 0) {
      EXPECT_EQ(std::string(record->reply).substr(0, opaque_start.size()), opaque_start);
      EXPECT_EQ(strlen(record->reply), kReplyTextSize - 1);
    } else {
      EXPECT_EQ(record->reply, row.reply);
    }
    EXPECT_STREQ(record->choice != nullptr ? record->choice : "", row.choice);
    char words[512];
    probeFailureWords(*record, words, sizeof(words));
    EXPECT_EQ(std::string(words).rfind(row.words, 0), 0u) << words;
    EXPECT_EQ(record->note_count, row.notes);
  }
  EXPECT_EQ(result.notes_of(*record_of(result, "BadRegex"))->kind, ProbeNoteKind::kRegexInvalid);
}

// A server stops a query by making a descriptor readable: the wait for the silent and late
// answers ends, and no record is an answer.
TEST_F(ScriptedAgentRecords, ADescriptorCancelsTheWait) {
  UniqueFd cancel(eventfd(0, EFD_CLOEXEC));
  ASSERT_GE(cancel.get(), 0);
  std::thread canceller([&] {
    while (agent_.requests() < 13) sleep_ms(10);
    const uint64_t one = 1;
    EXPECT_EQ(write(cancel.get(), &one, sizeof(one)), static_cast<ssize_t>(sizeof(one)));
  });
  ProbeCancel by_descriptor;
  by_descriptor.fd = cancel.get();
  UniquePpd ppd = open_ppd(kAgentPpd);
  ASSERT_TRUE(ppd);
  ProbeResult result;
  probeDevice(ppd.get(), uri_.c_str(), by_descriptor, result);
  canceller.join();
  EXPECT_EQ(result.status, kProbeCancelled);
  for (size_t i = 0; i < result.count; ++i) {
    EXPECT_EQ(result.records[i].outcome, ProbeOutcome::kNotAsked);
  }
}

// Two printers asked at once from two threads, each with a PPD handle of its own: each gets
// exactly the records it gets when asked alone.
TEST_F(ScriptedAgentRecords, TwoThreadsQueryTwoAgentsAtOnce) {
  if (!snmpd_available()) GTEST_SKIP() << "snmpd is not installed";
  Snmpd other;
  SnmpdConfig config;
  config.address = "127.0.0.25";
  config.values_files.push_back(SOURCE_DIR "/docs/examples/worked-example-agent.conf");
  ASSERT_TRUE(other.start(config)) << other.error();
  const std::string other_uri = "ipp://127.0.0.25/ipp/print";

  const std::string alone = probe_lines(kAgentPpd, uri_);
  const std::string other_alone = probe_lines(kWorkedExample, other_uri);
  ASSERT_NE(other_alone.find("InstalledMemory 7 [512] 512MB"), std::string::npos) << other_alone;

  std::atomic<bool> done{false};
  std::string together;
  std::thread first([&] {
    together = probe_lines(kAgentPpd, uri_);
    done = true;
  });
  int rounds = 0;
  while (!done || rounds == 0) {
    EXPECT_EQ(probe_lines(kWorkedExample, other_uri), other_alone);
    ++rounds;
  }
  first.join();
  EXPECT_EQ(together, alone);
  EXPECT_GT(rounds, 1);
}

// Recorded walks of two real printers, each under its manufacturer's community: a PPD that
// asks for the memory and two input trays through the CUPS-standard attributes gets the
// choices the recordings decide.
TEST(RecordedPrinters, StandardAttributesReadTheWalks) {
  REQUIRE_ROOT();
  if (!snmpsim_available()) GTEST_SKIP() << "snmpsimd is not installed";
  SimulatedPrinters printers;
  ASSERT_TRUE(printers.start("127.0.0.9", {{"mx3570n", kWalks + "sharp_mx3570n.snmprec"},
                                           {"nc8300h", kWalks + "brother.snmprec"}}))
      << printers.error();
  SavedPath orvane("/opt/Orvane"), kestrel("/opt/Kestrel");
  ASSERT_TRUE(make_dirs("/opt/Orvane/mfp/share") && make_dirs("/opt/Kestrel/mfp/share"));
  ASSERT_TRUE(write_file("/opt/Orvane/mfp/share/OEM.ini", "SNMP_COMMUNITY=mx3570n\n"));
  ASSERT_TRUE(write_file("/opt/Kestrel/mfp/share/OEM.ini", "SNMP_COMMUNITY=nc8300h\n"));

  const std::string options =
      "*OpenUI *InstalledMemory/Installed Memory: PickOne\n*DefaultInstalledMemory: 64MB\n"
      "*InstalledMemory 64MB/64 MB: \"\"\n*InstalledMemory 1GB/1 GB: \"\"\n"
      "*InstalledMemory 4GB/4 GB: \"\"\n*CloseUI: *InstalledMemory\n" +
      installable_option("Tray4") + installable_option("ManualTray");
  const std::string attributes =
      "*OIDInstalledMemory: \".1.3.6.1.2.1.25.2.2.0\"\n"
      "*OIDInstalledMemory 64MB: \"65536 KBytes\"\n"
      "*OIDInstalledMemory 1GB: \"1048576 KBytes\"\n"
      "*OIDInstalledMemory 4GB: \"4194304 KBytes\"\n"
      "*?OIDTray4: \".1.3.6.1.2.1.43.8.2.1.13.1.5\"\n*OIDTray4 True: \"Tray 4\"\n"
      "*?OIDManualTray: \".1.3.6.1.2.1.43.8.2.1.13.1.2\"\n"
      "*OIDManualTray True: \"MANUAL TRAY|Manual.*\"\n*OIDManualTray False: \".*\"\n";
  struct Row {
    const char* manufacturer;
    const char* memory;
    const char* tray4;  // "" for none
    ProbeOutcome tray4_outcome;
    const char* manual;
  } rows[] = {
      {"Orvane", "4GB", "True", ProbeOutcome::kAnswered, "False"},  // the colour MFP
      {"Kestrel", "64MB", "", ProbeOutcome::kErrorStatus, "True"},  // no fourth tray
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.manufacturer);
    UniquePpd ppd = open_ppd_text(test_ppd(row.manufacturer, options, attributes));
    ASSERT_TRUE(ppd);
    ProbeResult result;
    probeDevice(ppd.get(), "socket://127.0.0.9:9100", ProbeCancel{}, result);
    ASSERT_EQ(result.status, kProbeDone);
    const ProbeRecord* memory = record_of(result, "InstalledMemory");
    const ProbeRecord* tray4 = record_of(result, "Tray4");
    const ProbeRecord* manual = record_of(result, "ManualTray");
    ASSERT_TRUE(memory != nullptr && tray4 != nullptr && manual != nullptr);
    EXPECT_EQ(memory->family, ProbeFamily::kOid);
    EXPECT_STREQ(memory->choice, row.memory) << lines_of(result);
    EXPECT_EQ(tray4->outcome, row.tray4_outcome);
    EXPECT_STREQ(tray4->choice != nullptr ? tray4->choice : "", row.tray4);
    EXPECT_STREQ(manual->choice, row.manual);
  }
}

}  // namespace
