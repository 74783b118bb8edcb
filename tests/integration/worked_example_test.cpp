// The USB half of the worked example in docs/ppd-attributes.md: the shipped zorvautoconf, with
// the libusb double preloaded, turns the printer's answer into the defaults the guide shows.
// (The SNMP half runs under the real scheduler in print_path_test.cpp.)
#include <string>

#include <gtest/gtest.h>

#include "support/cupsd.h"
#include "support/paths.h"
#include "support/program.h"

namespace {

constexpr char kQueue[] = "worked";
const std::string kPpd = SOURCE_DIR "/docs/examples/worked-example.ppd";
const std::string kTarget = std::string("/var/tmp/autoconf/") + kQueue + ".ppd";

std::string replaced(std::string text, const std::string& from, const std::string& to) {
  size_t at = text.find(from);
  EXPECT_NE(at, std::string::npos) << from;
  if (at != std::string::npos) text.replace(at, from.size(), to);
  return text;
}

TEST(WorkedExample, UsbAnswerSetsTheFeederAndTheDuplexUnit) {
  REQUIRE_ROOT();
  SavedPath output("/var/tmp/autoconf");
  TempDir work;
  Cupsd cupsd;
  ASSERT_TRUE(cupsd.start()) << cupsd.failure();
  ASSERT_TRUE(cupsd.add_queue(kQueue, kPpd, "file:/dev/null")) << cupsd.failure();

  ProgramRun program;
  program.path = ZORVAUTOCONF_PATH;
  program.args = filter_args(kQueue);
  program.env = cupsd.client_environment({
      "DEVICE_URI=usb://Orvane/Laser%205100",
      "TMPDIR=" + work.path(),
      "LD_PRELOAD=" FAKE_USB_PRELOAD,
      "FAKE_USB_SCENARIO=" TEST_DATA_DIR "/ppd/worked-example-usb.scenario",
      "ASAN_OPTIONS=verify_asan_link_order=0",
  });
  program.input = "job bytes\n";
  ProgramResult result = run_program(program);
  ASSERT_TRUE(result.exited) << result.describe();
  EXPECT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(result.out, program.input);
  // Mask FF: reply byte 0 (01) is PF500. Mask 00 FF: skip 1, reply byte 1 (01) is True. The
  // SNMP-only options keep their defaults and are not asked over USB.
  EXPECT_EQ(result.err,
            "WARNING: option 'InstalledMemory' has no query attribute "
            "'?Ep0InstalledMemory'\n"
            "WARNING: option 'Finisher' has no query attribute '?Ep0Finisher'\n"
            "WARNING: option 'Stapler' has no query attribute '?Ep0Stapler'\n");
  const std::string source = read_file(cupsd.server_root() + "/ppd/" + kQueue + ".ppd");
  EXPECT_EQ(read_file(kTarget), replaced(replaced(source, "*DefaultOptionalTray: None\n",
                                                  "*DefaultOptionalTray: PF500\n"),
                                         "*DefaultDuplexer: False\n", "*DefaultDuplexer: True\n"));
}

}  // namespace
