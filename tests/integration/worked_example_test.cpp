// The USB half of the worked example in docs/ppd-attributes.md: the shipped zorvautoconf, with
// the libusb double preloaded, turns the printer's answer into the defaults the guide shows.
// (The SNMP half runs under the real scheduler in print_path_test.cpp.)
#include <string>

#include <gtest/gtest.h>

#include "support/cupsd.h"
#include "support/paths.h"
#include "support/program.h"
#include "support/text.h"

namespace {

constexpr char kQueue[] = "worked";
const std::string kPpd = SOURCE_DIR "/docs/examples/worked-example.ppd";
const std::string kTarget = std::string("/var/tmp/autoconf/") + kQueue + ".ppd";

TEST(WorkedExample, UsbAnswerSetsTheFeederAndTheDuplexUnit) {
  REQUIRE_ROOT();
  SavedPath output("/var/tmp/autoconf");
  TempDir work;
  Cupsd cupsd;
  ASSERT_TRUE(cupsd.start()) << cupsd.failure();
  ASSERT_TRUE(cupsd.add_queue(kQueue, kPpd, "file:/dev/null")) << cupsd.failure();

  ProgramResult result =
      run_filter(filter_run(ZORVAUTOCONF_PATH, filter_args(kQueue), "job bytes\n",
                            cupsd.client_environment({
                                "DEVICE_URI=usb://Orvane/Laser%205100",
                                "TMPDIR=" + work.path(),
                                "LD_PRELOAD=" FAKE_USB_PRELOAD,
                                "FAKE_USB_SCENARIO=" + test_data("ppd/worked-example-usb.scenario"),
                                "ASAN_OPTIONS=verify_asan_link_order=0",
                            })));
  EXPECT_EQ(result.out, "job bytes\n");
  // Mask FF: reply byte 0 (01) is PF500. Mask 00 FF: skip 1, reply byte 1 (01) is True. The
  // SNMP-only options keep their defaults and are not asked over USB.
  EXPECT_NE(result.err.find(
                "WARNING: option 'InstalledMemory' has no query attribute '?Ep0InstalledMemory'\n"),
            std::string::npos)
      << result.err;
  std::string expected = read_file(cupsd.queue_ppd(kQueue));
  replace_text(expected, "*DefaultOptionalTray: None\n", "*DefaultOptionalTray: PF500\n");
  replace_text(expected, "*DefaultDuplexer: False\n", "*DefaultDuplexer: True\n");
  EXPECT_EQ(read_file(kTarget), expected);
}

}  // namespace
