// Fuzzes the USB query and reply attribute parsing through probeUsbOption, on a small real PPD
// handle whose ?Ep0Tray and Ep0Tray values are replaced by fuzzer text for each input, against
// the tests' libusb double answering with fuzzer-chosen bytes and result; the record's
// messages are then written as the filter writes them.
// Input: result byte, 8 reply bytes, then the query value and up to three reply values
// separated by zero bytes.
#include <usb.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "probe/messages.h"
#include "probe/usb_probe.h"
#include "support/fake_usb/fake_usb.h"

namespace {

constexpr size_t kReplySize = 8;

ppd_file_t* g_ppd = nullptr;
FILE* g_messages = nullptr;
ppd_option_t* g_option = nullptr;
ppd_attr_t* g_query = nullptr;
std::vector<ppd_attr_t*> g_replies;

void open_fixture() {
  g_ppd = ppdOpenFile(FUZZ_DATA_DIR "/options.ppd");
  if (g_ppd == nullptr) fuzz_fail("fixture PPD does not open");
  g_option = ppdFindOption(g_ppd, "Tray");
  g_query = ppdFindAttr(g_ppd, "?Ep0Tray", nullptr);
  for (ppd_attr_t* a = ppdFindAttr(g_ppd, "Ep0Tray", nullptr); a != nullptr;
       a = ppdFindNextAttr(g_ppd, "Ep0Tray", nullptr)) {
    g_replies.push_back(a);
  }
  if (g_option == nullptr || g_query == nullptr || g_replies.size() != 3) {
    fuzz_fail("fixture PPD lacks the Tray attributes");
  }
  g_messages = fopen("/dev/null", "w");
  if (g_messages == nullptr) fuzz_fail("no /dev/null");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (g_ppd == nullptr) open_fixture();
  if (size < 1 + kReplySize) return 0;
  // One printer that answers every request with the chosen result (-2 to 9) and bytes.
  fake_usb::Scenario scenario;
  scenario.buses.resize(1);
  fake_usb::Device printer = fake_usb::printer("p1", "Fuzz");
  printer.unknown_request.result = static_cast<int>(data[0] % 12) - 2;
  printer.unknown_request.bytes.assign(data + 1, data + 1 + kReplySize);
  printer.unknown_request.error = "fuzz";
  scenario.buses[0].devices.push_back(printer);
  fake_usb::install(scenario);

  // Values of exactly their length plus terminator, so that a read past them is caught.
  std::vector<std::vector<char>> values;
  values.emplace_back();
  for (size_t i = 1 + kReplySize; i < size; i++) {
    if (data[i] == 0) {
      values.back().push_back('\0');
      values.emplace_back();
    } else {
      values.back().push_back(static_cast<char>(data[i]));
    }
  }
  values.back().push_back('\0');

  char* saved_query = g_query->value;
  std::vector<char*> saved_replies;
  g_query->value = values[0].data();
  for (size_t i = 0; i < g_replies.size(); i++) {
    saved_replies.push_back(g_replies[i]->value);
    if (i + 1 < values.size()) g_replies[i]->value = values[i + 1].data();
  }

  usb_dev_handle* handle = usb_open(usb_get_busses()->devices);
  ProbeRecord record;
  HeapList<ProbeNote> notes;
  probeUsbOption(handle, g_ppd, g_option, record, notes);
  writeOptionMessages(g_messages, record, notes.size() > 0 ? &notes[0] : nullptr);
  if (memchr(record.reply, 0, sizeof(record.reply)) == nullptr) fuzz_fail("reply not terminated");
  if (record.choice != nullptr && record.matched == nullptr) fuzz_fail("a choice without a match");
  usb_close(handle);

  g_query->value = saved_query;
  for (size_t i = 0; i < g_replies.size(); i++) g_replies[i]->value = saved_replies[i];
  return 0;
}
