// The queue's own defaults from the device's marks: which options a PPD: line carries, and
// which it leaves out.
#include "autoconf/queue_defaults.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "support/capture.h"
#include "support/ppd.h"
#include "support/text.h"

namespace {

std::string choice_option(const std::string& keyword, const std::string& choice) {
  return "*OpenUI *" + keyword + "/" + keyword + ": PickOne\n*Default" + keyword + ": None\n*" +
         keyword + " None/None: \"\"\n*" + keyword + " " + choice + "/Other: \"\"\n" +
         "*CloseUI: *" + keyword + "\n";
}

TEST(QueueDefaults, OnlyMarkedSafeChoicesAreReportedAndOnlyWhenAsked) {
  const std::string options = installable_option("Duplexer") + installable_option("Disk") +
                              choice_option("Tray", "PF=500") +
                              choice_option("Finisher", std::string(40, 'F'));
  struct Case {
    const char* attribute;
    const char* err;
    int reported;
  } cases[] = {
      {"*zorvUpdateQueue: True\n",
       "WARNING: option 'Tray' choice 'PF=500' cannot be passed to the queue safely, not "
       "reported\n"
       "PPD: DefaultDuplexer=True DefaultFinisher=FFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFF\n",
       2},
      {"*zorvUpdateQueue: False\n", "", 0},
      {"*zorvUpdateQueue: true\n", "", 0},
      {"", "", 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.attribute);
    UniquePpd ppd = open_ppd_text(test_ppd("Acme", options, c.attribute));
    ASSERT_NE(ppd, nullptr);
    // Disk is left unmarked: the device said nothing about it.
    ppdMarkOption(ppd.get(), "Duplexer", "True");
    ppdMarkOption(ppd.get(), "Tray", "PF=500");
    ppdMarkOption(ppd.get(), "Finisher", std::string(40, 'F').c_str());
    StreamCapture err(stderr);
    const int reported = queueUpdateWanted(ppd.get()) ? reportQueueDefaults(ppd.get()) : 0;
    EXPECT_EQ(err.finish(), c.err);
    EXPECT_EQ(reported, c.reported);
  }
}

// Every pair, the first of a line too, is checked for room: a line never passes its limit, and
// a pair too long for any line is refused whole. (The PPD library's 40-character names keep
// real pairs far below that.)
TEST(QueueDefaults, EveryPairIsCheckedForRoomOnItsLine) {
  // " Default" + keyword + "=" + choice: 9 bytes besides the keyword and the choice.
  const auto pair = [](size_t length) { return std::string(length - 10, 'K'); };
  struct Case {
    std::vector<size_t> pairs;  // their lengths
    std::vector<bool> added;
    std::vector<size_t> lines;  // the lengths of the lines written, newline included
  } cases[] = {
      {{1018}, {true}, {1023}},
      {{1019}, {false}, {}},
      {{1023}, {false}, {}},
      {{1100}, {false}, {}},
      {{500, 518}, {true, true}, {1023}},
      {{500, 519}, {true, true}, {505, 524}},
      {{500, 1019, 20}, {true, false, true}, {525}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.pairs.size() == 1 ? std::to_string(c.pairs[0]) : "several");
    StreamCapture out(stderr);
    {
      PpdLine line(stderr);
      for (size_t i = 0; i < c.pairs.size(); ++i) {
        EXPECT_EQ(line.add(pair(c.pairs[i]).c_str(), "C"), c.added[i]) << i;
      }
    }
    std::vector<size_t> lines;
    for (const std::string& text : split_lines(out.finish())) {
      EXPECT_EQ(text.rfind("PPD: Default", 0), 0u);
      lines.push_back(text.size() + 1);
    }
    EXPECT_EQ(lines, c.lines);
  }
}

TEST(QueueDefaults, TextThatTheSchedulerWouldSplitOrMisreadIsUnsafe) {
  for (const char* text :
       {"A B", "A\tB", "A\"B", "A'B", "A\\B", "A=B", "{A}", "A\nB", "", "\xc3\xa9"}) {
    EXPECT_FALSE(safeOnPpdLine(text)) << text;
  }
  for (const char* text : {"PF500", "True", "512MB", "Tray-2_x.y", "A,B"}) {
    EXPECT_TRUE(safeOnPpdLine(text)) << text;
  }
}

}  // namespace
