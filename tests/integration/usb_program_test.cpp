// The whole zorvautoconf on the USB path: the shipped binary with the libusb double preloaded,
// its PPD from a private scheduler, from DEVICE_URI to the rewritten copy in /var/tmp/autoconf.
#include <algorithm>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "support/cupsd.h"
#include "support/paths.h"
#include "support/program.h"
#include "support/text.h"

namespace {

constexpr char kQueue[] = "zx500";
constexpr char kJob[] = "%!PS\nshowpage\n\x00\x01\xff job bytes\n";
const std::string kPpd = test_data("usb/tray.ppd");
const std::string kTarget = std::string("/var/tmp/autoconf/") + kQueue + ".ppd";

class UsbProgram : public ::testing::Test {
 protected:
  void SetUp() override {
    REQUIRE_ROOT();
    output_.emplace("/var/tmp/autoconf");
    ASSERT_TRUE(cupsd_.start()) << cupsd_.failure();
    ASSERT_TRUE(cupsd_.add_queue(kQueue, kPpd, "file:/dev/null")) << cupsd_.failure();
  }

  // Runs the filter as the scheduler would for a job of the queue, with the double preloaded;
  // with cancel_when, the scheduler cancels the job (SIGTERM) once it returns true.
  ProgramResult run(const std::string& device_uri, const std::string& scenario,
                    std::function<bool()> cancel_when = nullptr) {
    ProgramRun program =
        filter_run(ZORVAUTOCONF_PATH, filter_args(kQueue), std::string(kJob, sizeof(kJob) - 1),
                   cupsd_.client_environment({
                       "DEVICE_URI=" + device_uri,
                       "TMPDIR=" + work_.path(),
                       "LD_PRELOAD=" FAKE_USB_PRELOAD,
                       "FAKE_USB_SCENARIO=" + test_data("usb/" + scenario),
                       "FAKE_USB_TRACE=" + trace_path(),
                       // A sanitizer build checks that its runtime comes first; the double is
                       // preloaded ahead.
                       "ASAN_OPTIONS=verify_asan_link_order=0",
                   }));
    const bool cancelled = static_cast<bool>(cancel_when);
    program.term_when = std::move(cancel_when);
    ProgramResult result = run_filter(program, cancelled ? kAnyStatus : 0);
    if (!cancelled) {
      EXPECT_EQ(result.out, program.input);
    }
    EXPECT_EQ(result.err.find("fake_usb:"), std::string::npos) << result.err;
    return result;
  }

  std::string trace_path() const { return work_.file("usb-calls"); }
  std::vector<std::string> usb_calls() const { return split_lines(read_file(trace_path())); }

  std::optional<SavedPath> output_;
  TempDir work_;
  Cupsd cupsd_;
};

TEST_F(UsbProgram, UsbAndMfpUrisRewriteTheDefaultsTheirPrinterReports) {
  // p1 has the tray and the duplex unit, p2 neither; both are of the PPD's model.
  std::string with_both = read_file(kPpd);
  replace_text(with_both, "*DefaultTray: False\n", "*DefaultTray: True\n");
  replace_text(with_both, "*DefaultDuplex: None\n", "*DefaultDuplex: Unit\n");
  const std::vector<std::string> lx = {"usb_open(lx)", "usb_get_string_simple(lx,1,256)",
                                       "usb_get_string_simple(lx,2,256)",
                                       "usb_get_string_simple(lx,3,256)", "usb_close(lx)"};
  auto asked = [](const std::string& id) {
    return std::vector<std::string>{"usb_open(" + id + ")",
                                    "usb_get_string_simple(" + id + ",1,256)",
                                    "usb_get_string_simple(" + id + ",2,256)",
                                    "usb_get_string_simple(" + id + ",3,256)",
                                    "usb_control_msg(" + id + ",c1,01,0000,0000,8,3000)",
                                    "usb_control_msg(" + id + ",c1,02,0000,0001,8,3000)",
                                    "usb_close(" + id + ")"};
  };
  std::vector<std::string> passed_over = {"usb_open(p1)", "usb_get_string_simple(p1,1,256)",
                                          "usb_get_string_simple(p1,2,256)",
                                          "usb_get_string_simple(p1,3,256)", "usb_close(p1)"};
  struct Case {
    const char* uri;
    std::string expected;
    std::vector<std::string> opened;  // after the enumeration
  } cases[] = {
      // Without a serial number the first printer of the model is taken; p2 is never opened.
      {"mfp:/dev/usb/lp0", with_both, {}},
      {"usb://Orvane/ZX%20500", with_both, {}},
      // The serial number of the URI chooses p2.
      {"usb://Orvane/ZX%20500?serial=Z0002", read_file(kPpd), {}},
  };
  const std::vector<std::string> p1 = asked("p1");
  const std::vector<std::string> p2 = asked("p2");
  cases[0].opened = lx;
  cases[0].opened.insert(cases[0].opened.end(), p1.begin(), p1.end());
  cases[1].opened = cases[0].opened;
  cases[2].opened = lx;
  cases[2].opened.insert(cases[2].opened.end(), passed_over.begin(), passed_over.end());
  cases[2].opened.insert(cases[2].opened.end(), p2.begin(), p2.end());
  for (const Case& c : cases) {
    SCOPED_TRACE(c.uri);
    remove_tree(trace_path());
    remove_tree(kTarget);
    ProgramResult result = run(c.uri, "two_printers.scenario");
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(read_file(kTarget), c.expected);
    std::vector<std::string> expected_calls = {"usb_init()", "usb_find_busses()",
                                               "usb_find_devices()", "usb_get_busses()"};
    expected_calls.insert(expected_calls.end(), c.opened.begin(), c.opened.end());
    EXPECT_EQ(usb_calls(), expected_calls);
  }
}

TEST_F(UsbProgram, FailuresOnThePrinterAreReportedAndTheJobGoesOn) {
  // Each failure's words are the unit tests' (usb_match_test, usb_query_test); here the short
  // reply that still marks the duplex unit.
  ProgramResult result = run("usb://Orvane/ZX%20500", "failing_printer.scenario");
  EXPECT_NE(result.err.find("WARNING: USB reply (c1 02 00 01 / 00 ff) has unexpected size (3)\n"),
            std::string::npos)
      << result.err;
  // The printer without a configuration array is taken by its device class alone.
  std::string expected = read_file(kPpd);
  replace_text(expected, "*DefaultDuplex: None\n", "*DefaultDuplex: Unit\n");
  EXPECT_EQ(read_file(kTarget), expected);
}

TEST_F(UsbProgram, WithoutAPrinterThePpdIsCopiedUnchanged) {
  struct Case {
    const char* scenario;
    const char* reported;  // the line that says why, in the unit tests' words
  } cases[] = {
      {"gone.scenario", "ERROR: usb_open_matched_device() failed: <No such device>\n"},
      {"no_busses.scenario", "ERROR: usb_find_busses() failed: <could not open /dev/bus/usb>\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.scenario);
    remove_tree(kTarget);
    ProgramResult result = run("usb://Orvane/ZX%20500", c.scenario);
    EXPECT_NE(result.err.find(c.reported), std::string::npos) << result.err;
    EXPECT_EQ(read_file(kTarget), read_file(kPpd));
  }
}

// The request in flight cannot be interrupted, but a cancelled job sends no further one, writes
// no copy and is not passed on.
TEST_F(UsbProgram, CancelSendsNoFurtherRequest) {
  // Cancelled while the first request is in flight.
  ProgramResult result = run("usb://Orvane/ZX%20500", "slow_printer.scenario", [this] {
    return read_file(trace_path()).find("usb_control_msg(") != std::string::npos;
  });
  EXPECT_EQ(result.status, 2);
  EXPECT_EQ(result.out, "");
  const std::vector<std::string> calls = usb_calls();
  EXPECT_EQ(
      std::count_if(calls.begin(), calls.end(),
                    [](const std::string& call) { return call.rfind("usb_control_msg(", 0) == 0; }),
      1)
      << read_file(trace_path());
  EXPECT_FALSE(path_exists(kTarget));
}

}  // namespace
