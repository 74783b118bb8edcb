// Test double of the libusb 0.1 functions the USB option query uses. It serves the real usb.h
// structures built from a scenario and records every call with its arguments. Linked in place
// of the library into unit tests, and preloaded into the built filter for whole-program runs.
#ifndef ZORV_TESTS_FAKE_USB_FAKE_USB_H
#define ZORV_TESTS_FAKE_USB_FAKE_USB_H

#include <array>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

struct usb_dev_handle;

namespace fake_usb {

// The answer of one control request.
struct Reply {
  int result = 8;              // what usb_control_msg returns
  std::vector<uint8_t> bytes;  // stored into the data buffer, at most its size
  std::string error;           // usb_strerror() after a negative result
};

// One string descriptor as usb_get_string_simple delivers it.
struct StringDescriptor {
  std::string text;
  bool fails = false;  // the read returns -1 and sets error
  std::string error = "error sending control message: Broken pipe";
  bool terminated = true;     // false: no terminator is stored, even when there is room
  char fill = '\0';           // when set, the buffer after the text is filled with it
  std::optional<int> result;  // returned instead of the stored length
};

// One interface: the class of each of its alternate settings.
struct Interface {
  std::vector<uint8_t> classes;
  bool no_altsetting_array = false;
};

struct Config {
  std::vector<Interface> interfaces;
  bool no_interface_array = false;
};

using Request = std::array<uint8_t, 4>;  // bmRequestType, bRequest, wValue, wIndex

struct Device {
  std::string id;  // names the device in the call record
  uint8_t device_class = 0;
  std::vector<Config> configs;
  std::optional<int> num_configurations;  // descriptor value; default configs.size()
  bool no_config_array = false;           // config left null whatever the descriptor says
  uint8_t manufacturer_index = 1;
  uint8_t product_index = 2;
  uint8_t serial_index = 3;
  std::map<int, StringDescriptor> strings;  // an index not listed fails
  std::string open_error;                   // non-empty: usb_open fails with this text
  int close_result = 0;
  std::string close_error;
  std::map<Request, Reply> replies;  // keyed by the setup bytes of the request
  int delay_ms = 0;  // each control request takes this long, and no signal cuts it short
  Reply unknown_request{-32, {}, "error sending control message: Broken pipe"};
};

struct Bus {
  std::vector<Device> devices;
};

struct Scenario {
  std::vector<Bus> buses;
  int find_busses_result = 1;
  std::string find_busses_error = "could not open /dev/bus/usb";
  int find_devices_result = 1;
  std::string find_devices_error = "could not read device list";
};

// A printer-class device (class 0, one interface of class 7) with the given strings.
Device printer(const std::string& id, const std::string& product,
               const std::string& manufacturer = "Orvane", const std::string& serial = "S1");

// One recorded call.
struct Call {
  std::string function;
  std::string device;  // id of the device concerned; empty when none
  int request_type = 0, request = 0, value = 0, index = 0, size = 0, timeout = 0;
  int string_index = 0, buflen = 0;
  std::vector<uint8_t> data;  // usb_control_msg: the data buffer as handed in
};

// Replaces the scenario, builds its bus and device lists and clears the record. The last
// library error text starts as "No error".
void install(const Scenario& scenario);
const std::vector<Call>& calls();
// The calls as short texts, without usb_strerror: "usb_open(p1)",
// "usb_get_string_simple(p1,2,256)", "usb_control_msg(p1,c0,01,0002,0003,8,3000)".
std::vector<std::string> trace();
// Misuse seen by the double: a handle used after close or never opened, and the like.
const std::vector<std::string>& violations();
// Handles opened and not closed.
int open_handles();
// The id of the device behind a handle the double gave out, or "".
std::string id_of(const usb_dev_handle* handle);
// Appends each trace line to a file as it happens (for programs run with the double preloaded).
void trace_to_file(const std::string& path);

// The usb_control_msg calls of the record.
std::vector<Call> control_calls();
// A reply of eight bytes: bytes, then zeros.
Reply reply8(std::vector<uint8_t> bytes);

// Reads a scenario from a text file; false with a message naming the line on a bad line.
bool load_scenario(const std::string& path, Scenario* scenario, std::string* error);

}  // namespace fake_usb

#endif  // ZORV_TESTS_FAKE_USB_FAKE_USB_H
