// Fuzzes the USB query and reply attribute parsing through usbQueryOption, on a small real PPD
// handle whose ?Ep0Tray and Ep0Tray values are replaced by fuzzer text for each input, and a
// stand-in for the libusb 0.1 calls that answers with fuzzer-chosen bytes and result.
// Input: result byte, 8 reply bytes, then the query value and up to three reply values
// separated by zero bytes.
#include <usb.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "autoconf/usb_query.h"
#include "fuzz_support.h"

namespace {

constexpr size_t kReplySize = 8;

struct Answer {
  int result = 0;
  uint8_t bytes[kReplySize] = {};
} g_answer;

ppd_file_t* g_ppd = nullptr;
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
}

}  // namespace

// The libusb 0.1 calls of the USB path; only the control request is reached from here.
extern "C" {
void usb_init(void) {}
int usb_find_busses(void) {
  return 0;
}
int usb_find_devices(void) {
  return 0;
}
struct usb_bus* usb_get_busses(void) {
  return nullptr;
}
usb_dev_handle* usb_open(struct usb_device*) {
  return nullptr;
}
int usb_close(usb_dev_handle*) {
  return 0;
}
int usb_get_string_simple(usb_dev_handle*, int, char* buf, size_t buflen) {
  if (buflen > 0) buf[0] = '\0';
  return 0;
}
char* usb_strerror(void) {
  static char text[] = "fuzz";
  return text;
}
int usb_control_msg(usb_dev_handle*, int, int, int, int, char* bytes, int size, int) {
  // Like the library: at most size bytes arrive, whatever the device claims.
  int stored = g_answer.result < 0 ? 0 : g_answer.result;
  if (stored > size) stored = size;
  if (stored > static_cast<int>(kReplySize)) stored = kReplySize;
  memcpy(bytes, g_answer.bytes, static_cast<size_t>(stored));
  return g_answer.result > size ? size : g_answer.result;
}
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (g_ppd == nullptr) open_fixture();
  if (size < 1 + kReplySize) return 0;
  g_answer.result = static_cast<int>(data[0] % 12) - 2;  // -2 to 9
  memcpy(g_answer.bytes, data + 1, kReplySize);

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

  char handle_storage[16] = {};
  usbQueryOption(reinterpret_cast<usb_dev_handle*>(handle_storage), g_ppd, g_option);

  g_query->value = saved_query;
  for (size_t i = 0; i < g_replies.size(); i++) g_replies[i]->value = saved_replies[i];
  return 0;
}
