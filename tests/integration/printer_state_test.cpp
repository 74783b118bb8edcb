// The printer's state as the walk reads it, in process: the recorded walks of three real
// printers served by snmpsimd (what each printer's trays, supplies and status are), a scripted
// agent for every way a table can be wrong (gaps, loops, bad levels, hostile text, thousands of
// rows, silence, slowness), and SNMPv3 against a private snmpd.
#include <sys/eventfd.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "common/handles.h"
#include "probe/snmp_session.h"
#include "probe/snmp_round.h"
#include "probe/state_report.h"
#include "probe/probe.h"
#include "support/paths.h"
#include "support/snmp_agent.h"
#include "support/snmpd.h"

namespace {

constexpr char kSimulator[] = "127.0.0.9";
constexpr char kScripted[] = "127.0.0.79";
constexpr char kV3Agent[] = "127.0.0.45";
const std::string kWalks = test_data("walks/");

// A walk's result lives on the heap: it is some tens of kilobytes.
struct Walked {
  UniqueMalloc<PrinterStateResult[]> result = make_array<PrinterStateResult>(1);
  PrinterStateResult& operator*() { return result[0]; }
  PrinterStateResult* operator->() { return &result[0]; }
};

SnmpCredentials community(const char* name) {
  SnmpCredentials credentials;
  copy_text(credentials.community, sizeof(credentials.community), name);
  return credentials;
}

void walk(const char* host, const SnmpCredentials& credentials, Walked& walked,
          int timeout_ms = kStateWalkTimeoutMs, const ProbeCancel& cancel = {}) {
  probeSnmpInit();
  walkPrinterState(host, credentials, cancel, *walked, timeout_ms);
}

std::string report_of(const PrinterStateResult& result) {
  char* text = nullptr;
  size_t length = 0;
  FILE* out = open_memstream(&text, &length);
  writeStateReport(out, result);
  fclose(out);
  std::string report(text, length);
  free(text);
  return report;
}

// The three recorded printers, each under a community of its own, served once for the suite.
class RecordedStates : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    if (geteuid() != 0 || !snmpsim_available()) return;
    printers_ = new SimulatedPrinters();
    if (!printers_->start(kSimulator, {{"nc8300h", kWalks + "brother.snmprec"},
                                       {"mx3570n", kWalks + "sharp_mx3570n.snmprec"},
                                       {"wfc5790", kWalks + "epson_wf-c5790.snmprec"}})) {
      failure_ = printers_->error();
    }
  }
  static void TearDownTestSuite() {
    delete printers_;
    printers_ = nullptr;
  }
  void SetUp() override {
    REQUIRE_ROOT();
    if (!snmpsim_available()) GTEST_SKIP() << "snmpsimd is not installed";
    ASSERT_TRUE(failure_.empty()) << failure_;
  }
  static SimulatedPrinters* printers_;
  static std::string failure_;
};
SimulatedPrinters* RecordedStates::printers_ = nullptr;
std::string RecordedStates::failure_;

TEST_F(RecordedStates, EachPrinterItsTraysSuppliesAndStatus) {
  const struct Row {
    const char* community;
    std::string report;
  } rows[] = {
      {"nc8300h",
       "tray 1 \"AUTO\": level some remaining, capacity 250\n"
       "tray 2 \"MANUAL TRAY\": level some remaining, capacity 1\n"
       "tray 3 \"TRAY1\": level some remaining, capacity 250\n"
       "supply 1 \"Black Toner Cartridge\": toner, black, level some remaining, capacity unknown\n"
       "supply 2 \"Drum Unit\": photoconductor, 11501 of 12000 (95 %)\n"
       "status: not given; detected errors: none; printer-state-reasons: none\n"},
      {"mx3570n",
       "tray 1 \"Bypass Tray\": 0 of 100 (0 %)\n"
       "tray 2 \"Tray 1\": 181 of 550 (32 %)\n"
       "tray 3 \"Tray 2\": 181 of 550 (32 %)\n"
       "tray 4 \"Tray 3\": 181 of 550 (32 %)\n"
       "tray 5 \"Tray 4\": 368 of 550 (66 %)\n"
       "tray 31 \"Auto Select\": level unknown, capacity unknown\n"
       "supply 1 \"Cyan Toner\": toner, cyan, 55 of 100 (55 %)\n"
       "supply 2 \"Magenta Toner\": toner, magenta, 19 of 100 (19 %)\n"
       "supply 3 \"Yellow Toner\": toner, yellow, 40 of 100 (40 %)\n"
       "supply 4 \"Black Toner\": toner, black, 34 of 100 (34 %)\n"
       "supply 5 \"Waste Toner\": waste toner box, level 100, capacity unknown\n"
       "supply 6 \"Cyan Photoconductive Drum\": photoconductor, cyan, 81 of 100 (81 %)\n"
       "supply 7 \"Magenta Photoconductive Drum\": photoconductor, magenta, 81 of 100 (81 %)\n"
       "supply 8 \"Yellow Photoconductive Drum\": photoconductor, yellow, 81 of 100 (81 %)\n"
       "supply 9 \"Black Photoconductive Drum\": photoconductor, black, 95 of 100 (95 %)\n"
       "supply 10 \"Cyan Developer\": developer, cyan, 91 of 100 (91 %)\n"
       "supply 11 \"Magenta Developer\": developer, magenta, 91 of 100 (91 %)\n"
       "supply 12 \"Yellow Developer\": developer, yellow, 91 of 100 (91 %)\n"
       "supply 13 \"Black Developer\": developer, black, 74 of 100 (74 %)\n"
       "supply 14 \"Fusing Unit\": fuser, level unknown, capacity unknown\n"
       "status: not given; detected errors: toner low; printer-state-reasons: toner-low\n"},
      {"wfc5790",
       "tray 1 \"Rear Auto Sheet Feeder\": level unknown, capacity 80\n"
       "tray 2 \"Sheet feeder bin 1\": level unknown, capacity 250\n"
       "supply 1 \"Black Ink Supply Unit T9441/T9451/T9461\": ink, black, 1 of 100 (1 %)\n"
       "supply 2 \"Cyan Ink Supply Unit T9442/T9452\": ink, cyan, 1 of 100 (1 %)\n"
       "supply 3 \"Magenta Ink Supply Unit T9443/T9453\": ink, magenta, 1 of 100 (1 %)\n"
       "supply 4 \"Yellow Ink Supply Unit T9444/T9454\": ink, yellow, 1 of 100 (1 %)\n"
       "status: not given; detected errors: none; printer-state-reasons: marker-supply-low\n"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.community);
    Walked walked;
    walk(kSimulator, community(row.community), walked);
    ASSERT_EQ(walked->outcome, StateOutcome::kAnswered) << walked->detail;
    EXPECT_EQ(report_of(*walked), row.report);
  }
  // A community the printers do not know is silence, as under SNMPv1 it always is.
  Walked refused;
  walk(kSimulator, community("public"), refused, 500);
  EXPECT_EQ(refused->outcome, StateOutcome::kNoAnswer);
  EXPECT_STREQ(refused->detail, "Timeout");
}

// --- The scripted agent: tables as no printer should give them --------------------------

constexpr char kInput[] = "1.3.6.1.2.1.43.8.2.1";
constexpr char kSupplies[] = "1.3.6.1.2.1.43.11.1.1";

void put(AgentObjects& objects, const std::string& entry, int column, int row,
         const AgentValue& value) {
  objects[agent_oid(entry + "." + std::to_string(column) + ".1." + std::to_string(row))] = value;
}

void tray(AgentObjects& objects, int row, const std::string& name, long capacity, long level) {
  put(objects, kInput, 9, row, agent_integer(capacity));
  put(objects, kInput, 10, row, agent_integer(level));
  put(objects, kInput, 13, row, agent_text(name));
}

void supply(AgentObjects& objects, int row, const std::string& description, long capacity,
            long level) {
  put(objects, kSupplies, 4, row, agent_integer(kSupplyConsumed));
  put(objects, kSupplies, 5, row, agent_integer(3));
  put(objects, kSupplies, 6, row, agent_text(description));
  put(objects, kSupplies, 8, row, agent_integer(capacity));
  put(objects, kSupplies, 9, row, agent_integer(level));
}

class ScriptedStates : public ::testing::Test {
 protected:
  void SetUp() override {
    REQUIRE_ROOT();
    if (!agent_.bound()) GTEST_SKIP() << "UDP 127.0.0.79:161 is taken";
  }
  ScriptedAgent agent_{kScripted, ScriptedAgent::Mode::kTable};
};

// Whether text can stand in a line, a web page and an IPP text value: no control byte, and
// well-formed UTF-8 as far as its bytes go (every lead byte followed by its continuations).
bool safe_text(const char* text) {
  for (const unsigned char* p = reinterpret_cast<const unsigned char*>(text); *p != 0; ++p) {
    if (*p < 0x20 || *p == 0x7f) return false;
    if (*p < 0x80) continue;
    const int more = *p >= 0xF0 ? 3 : *p >= 0xE0 ? 2 : *p >= 0xC2 ? 1 : -1;
    if (more < 0 || (*p == 0xC2 && p[1] <= 0x9F)) return false;
    for (int i = 0; i < more; ++i) {
      if ((*++p & 0xC0) != 0x80) return false;
    }
  }
  return true;
}

TEST_F(ScriptedStates, BadTablesGiveBoundedRecordsAndSayWhy) {
  const std::string hostile = std::string(3000, 'x') + "\n";
  const std::string controls =
      "Toner\nPPD: *DefaultX: Y\r\x1b]0;title\x07 \x9b"
      "31m \xff\xfe end";
  AgentObjects gaps;
  put(gaps, kInput, 13, 1, agent_text("name only"));
  put(gaps, kInput, 9, 2, agent_integer(500));
  tray(gaps, 3, "whole", 250, 100);
  AgentObjects levels;
  supply(levels, 1, "other", kLevelOther, kLevelOther);
  supply(levels, 2, "unknown", kLevelUnknown, kLevelUnknown);
  supply(levels, 3, "some", kLevelUnknown, kLevelSomeRemaining);
  supply(levels, 4, "out of range", -7, -42);
  supply(levels, 5, "no maximum", 0, 10);
  supply(levels, 6, "over full", 100, 250);
  supply(levels, 7, "empty", 100, 0);
  put(levels, kSupplies, 9, 8, agent_text("a text where a level belongs"));
  AgentObjects texts;
  supply(texts, 1, hostile, 100, 50);
  supply(texts, 2, controls, 100, 50);
  AgentObjects many;
  for (int row = 1; row <= 5000; ++row) tray(many, row, "tray " + std::to_string(row), 550, 100);
  std::string ended_early;
  for (const char* table : {"trays", "output bins", "supplies", "alerts", "colorants"}) {
    ended_early += std::string("the ") + table +
                   " ended early: an answer named the same or an earlier object than asked\n";
  }
  const char* ended = ended_early.c_str();
  AgentObjects two_trays;
  tray(two_trays, 1, "first", 250, 10);
  tray(two_trays, 2, "second", 250, 20);

  const struct Case {
    const char* what;
    const AgentObjects* objects;
    ScriptedAgent::Walk walk;
    size_t trays;
    size_t supplies;
    const char* notes;  // the notes' words, one a line
    int most_requests;  // what the walk may cost the agent at most
  } cases[] = {
      {"gaps in the rows", &gaps, ScriptedAgent::Walk::kForward, 3, 0, "", 40},
      {"an agent that answers with the object asked for", &two_trays,
       ScriptedAgent::Walk::kSameObject, 1, 0, ended, 40},
      {"an agent that answers with an earlier object", &two_trays,
       ScriptedAgent::Walk::kEarlierObject, 1, 0, ended, 40},
      {"levels and capacities of every kind", &levels, ScriptedAgent::Walk::kForward, 0, 8,
       "the supplies hold a value of the wrong type or out of range\n", 40},
      {"over-long and control-laden descriptions", &texts, ScriptedAgent::Walk::kForward, 0, 2, "",
       40},
      {"five thousand trays", &many, ScriptedAgent::Walk::kForward, kMaxTrays, 0,
       "more than 32 trays: the first 32 are kept\n", 70},
  };
  // SNMPv1 row by row, and SNMPv2c (the agent's IPv6 address) eight rows per GETBULK, each
  // answer after a neighbour's forgery that only the source address keeps out.
  for (const char* host : {kScripted, "::1"}) {
    for (const Case& c : cases) {
      SCOPED_TRACE(std::string(host) + ": " + c.what);
      if (!agent_.bound6() && strcmp(host, "::1") == 0) continue;
      agent_.set_objects(*c.objects);
      agent_.set_walk(c.walk);
      const int before = agent_.requests();
      Walked walked;
      walk(host, community("mirelo"), walked);
      ASSERT_EQ(walked->outcome, StateOutcome::kAnswered) << walked->detail;
      const PrinterState& state = walked->state;
      EXPECT_EQ(state.tray_count, c.trays);
      EXPECT_EQ(state.supply_count, c.supplies);
      std::string notes;
      for (size_t i = 0; i < state.note_count; ++i) {
        char words[256];
        stateNoteWords(state.notes[i], words, sizeof(words));
        notes += std::string(words) + "\n";
      }
      EXPECT_EQ(notes, c.notes);
      EXPECT_LE(agent_.requests() - before, c.most_requests);
      for (size_t i = 0; i < state.tray_count; ++i) EXPECT_TRUE(safe_text(state.trays[i].name));
      for (size_t i = 0; i < state.supply_count; ++i) {
        EXPECT_TRUE(safe_text(state.supplies[i].description)) << state.supplies[i].description;
      }
    }
  }
}

TEST_F(ScriptedStates, GapsLevelsAndTextsAsKept) {
  AgentObjects objects;
  put(objects, kInput, 13, 1, agent_text("name only"));
  put(objects, kInput, 9, 2, agent_integer(500));
  tray(objects, 3, "whole", 250, 100);
  supply(objects, 1, "other", kLevelOther, kLevelOther);
  supply(objects, 2, "some", kLevelUnknown, kLevelSomeRemaining);
  supply(objects, 3, "out of range", -7, -42);
  supply(objects, 4, "no maximum", 0, 10);
  supply(objects, 5, "over full", 100, 250);
  supply(objects, 6,
         "Toner\nPPD: *DefaultX: Y\r\x1b]0;t\x07 \xc2\x9b"
         "31m \xff end",
         100, 5);
  supply(objects, 7, std::string(3000, 'x'), 100, 0);
  agent_.set_objects(objects);
  Walked walked;
  walk(kScripted, community("mirelo"), walked);
  ASSERT_EQ(walked->outcome, StateOutcome::kAnswered) << walked->detail;
  EXPECT_EQ(
      report_of(*walked),
      "tray 1 \"name only\": level not given, capacity not given\n"
      "tray 2 \"\": level not given, capacity 500\n"
      "tray 3 \"whole\": 100 of 250 (40 %)\n"
      "supply 1 \"other\": toner, level other, capacity other\n"
      "supply 2 \"some\": toner, level some remaining, capacity unknown\n"
      "supply 3 \"out of range\": toner, level unknown, capacity unknown\n"
      "supply 4 \"no maximum\": toner, level 10, capacity 0\n"
      "supply 5 \"over full\": toner, 250 of 100 (100 %)\n"
      "supply 6 \"Toner\\nPPD: *DefaultX: Y\\r\\x1B]0;t\\x07 \\xC2\\x9B31m \\xFF end\": toner, "
      "5 of 100 (5 %)\n"
      "supply 7 \"" +
          std::string(kStateTextSize - 1, 'x') +
          "\": toner, 0 of 100 (0 %)\n"
          "status: not given; detected errors: not given; printer-state-reasons: toner-low, "
          "toner-empty\n"
          "# the supplies hold a value of the wrong type or out of range\n");
}

// A printer that never answers costs the walk's one time-out; one that answers each request
// after 400 ms cannot finish within a second, and a walk cut short gives no state.
TEST_F(ScriptedStates, SilentOrSlowPrinterCostsOneTimeOut) {
  Walked silent;
  walk("127.0.0.80", community("mirelo"), silent, 600);
  EXPECT_EQ(silent->outcome, StateOutcome::kNoAnswer);
  EXPECT_STREQ(silent->detail, "Timeout");
  EXPECT_GE(silent->elapsed_ms, 600);
  EXPECT_LT(silent->elapsed_ms, 600 + 1000);

  ScriptedAgent slow("127.0.0.81", ScriptedAgent::Mode::kTable, 400);
  ASSERT_TRUE(slow.bound());
  AgentObjects objects;
  for (int row = 1; row <= 4; ++row) tray(objects, row, "tray", 500, 250);
  slow.set_objects(objects);
  Walked cut;
  walk("127.0.0.81", community("mirelo"), cut, 1000);
  EXPECT_EQ(cut->outcome, StateOutcome::kNoAnswer);
  EXPECT_EQ(cut->state.tray_count, 0u);
  char words[256];
  stateFailureWords(*cut, words, sizeof(words));
  EXPECT_STREQ(words, "no answer: Timeout");
}

TEST_F(ScriptedStates, ADescriptorCancelsTheWalk) {
  UniqueFd cancel(eventfd(0, EFD_CLOEXEC));
  ASSERT_GE(cancel.get(), 0);
  std::thread canceller([&] {
    sleep_ms(200);
    const uint64_t one = 1;
    EXPECT_EQ(write(cancel.get(), &one, sizeof(one)), static_cast<ssize_t>(sizeof(one)));
  });
  ProbeCancel by_descriptor;
  by_descriptor.fd = cancel.get();
  Walked walked;
  walk("127.0.0.80", community("mirelo"), walked, kStateWalkTimeoutMs, by_descriptor);
  canceller.join();
  EXPECT_EQ(walked->outcome, StateOutcome::kNotAsked);
  EXPECT_LT(walked->elapsed_ms, 2000);
}

// --- SNMPv3 against a private snmpd --------------------------------------------------------

TEST(SnmpV3State, AuthPrivWalksAndAWrongPassphraseIsSaidInWords) {
  REQUIRE_ROOT();
  if (!snmpd_available()) GTEST_SKIP() << "snmpd is not installed";
  Snmpd agent;
  SnmpdConfig config;
  config.address = kV3Agent;
  config.users = kTestV3Users;
  config.v3_only = true;
  config.values_files = {test_data("snmp/printer-state.conf")};
  ASSERT_TRUE(agent.start(config)) << agent.error();

  SnmpCredentials alice;
  alice.use_v3 = true;
  strcpy(alice.v3.user, "alice");
  alice.v3.level = SnmpLevel::kAuthPriv;
  alice.v3.auth = SnmpAuth::kSha256;
  alice.v3.priv = SnmpPriv::kAes128;
  strcpy(alice.v3.auth_passphrase, "alice-auth-pass");
  strcpy(alice.v3.priv_passphrase, "alice-priv-pass");
  Walked walked;
  walk(kV3Agent, alice, walked);
  ASSERT_EQ(walked->outcome, StateOutcome::kAnswered) << walked->detail;
  const std::string report = report_of(*walked);
  EXPECT_EQ(report,
            "tray 1 \"Tray 1\": removable tray, 120 of 550 (21 %), media \"na_letter_8.5x11in\"\n"
            "tray 2 \"Bypass Tray\": manual feed, 0 of 100 (0 %)\n"
            "supply 1 \"Black Toner\": toner, black, 7 of 100 (7 %)\n"
            "supply 2 \"Drum Unit\": photoconductor, 11501 of 12000 (95 %)\n"
            "status: idle; detected errors: none; printer-state-reasons: toner-low\n");

  const struct Case {
    const char* what;
    const char* auth;
    const char* priv;
    StateOutcome outcome;
    const char* words;
  } cases[] = {
      {"a wrong authentication passphrase", "not-alices-pass", "alice-priv-pass",
       StateOutcome::kRefused,
       "refused: the authentication passphrase or protocol is not the printer's "
       "(usmStatsWrongDigests)"},
      {"a wrong privacy passphrase", "alice-auth-pass", "not-alices-priv", StateOutcome::kNoAnswer,
       "no answer: Timeout"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    SnmpCredentials wrong = alice;
    strcpy(wrong.v3.auth_passphrase, c.auth);
    strcpy(wrong.v3.priv_passphrase, c.priv);
    Walked refused;
    walk(kV3Agent, wrong, refused, 1000);
    EXPECT_EQ(refused->outcome, c.outcome);
    char words[512];
    stateFailureWords(*refused, words, sizeof(words));
    EXPECT_STREQ(words, c.words);
    EXPECT_EQ(refused->state.supply_count, 0u);
  }
}

}  // namespace
