// The libusb 0.1 entry points of the double, served from the installed scenario. The usb.h
// records are built as the library builds them: linked bus and device lists, descriptor arrays.
#include "support/fake_usb/fake_usb.h"

#include <usb.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <memory>

// The library keeps this record private; the double gives it the fields it needs.
struct usb_dev_handle {
  size_t device = 0;
  bool open = false;
};

namespace fake_usb {
namespace {

struct Built {
  std::vector<std::unique_ptr<usb_bus>> buses;
  std::vector<std::unique_ptr<struct usb_device>> devices;
  std::vector<std::vector<usb_config_descriptor>> configs;
  std::vector<std::vector<usb_interface>> interfaces;
  std::vector<std::vector<usb_interface_descriptor>> altsettings;
};

struct State {
  Scenario scenario;
  std::vector<const Device*> devices;  // flat, in bus then device order
  Built built;
  std::vector<std::unique_ptr<usb_dev_handle>> handles;  // kept so stale use is caught
  std::vector<Call> calls;
  std::vector<std::string> violations;
  std::string last_error = "No error";
  char error_text[256] = "No error";
  std::string trace_path;
};

State& state() {
  static State s;
  return s;
}

std::string text_of(const Call& call) {
  char line[160];
  if (call.function == "usb_get_string_simple") {
    snprintf(line, sizeof(line), "%s(%s,%d,%d)", call.function.c_str(), call.device.c_str(),
             call.string_index, call.buflen);
  } else if (call.function == "usb_control_msg") {
    snprintf(line, sizeof(line), "%s(%s,%02x,%02x,%04x,%04x,%d,%d)", call.function.c_str(),
             call.device.c_str(), call.request_type, call.request, call.value, call.index,
             call.size, call.timeout);
  } else {
    snprintf(line, sizeof(line), "%s(%s)", call.function.c_str(), call.device.c_str());
  }
  return line;
}

void record(const Call& call) {
  State& s = state();
  s.calls.push_back(call);
  if (s.trace_path.empty() || call.function == "usb_strerror") return;
  if (FILE* out = fopen(s.trace_path.c_str(), "a")) {
    fprintf(out, "%s\n", text_of(call).c_str());
    fclose(out);
  }
}

void set_error(const std::string& text) {
  state().last_error = text;
}

// The device behind a handle, or null (and a recorded violation) for a handle not open.
const Device* device_of(usb_dev_handle* handle, const char* function) {
  State& s = state();
  for (const auto& owned : s.handles) {
    if (owned.get() != handle) continue;
    if (!owned->open) {
      s.violations.push_back(std::string(function) + " on a closed handle");
      return nullptr;
    }
    return s.devices[owned->device];
  }
  s.violations.push_back(std::string(function) + " on an unknown handle");
  return nullptr;
}

void build(State& s) {
  Built& b = s.built;
  usb_bus* previous_bus = nullptr;
  for (const Bus& bus : s.scenario.buses) {
    auto owned_bus = std::make_unique<usb_bus>();
    usb_bus* this_bus = owned_bus.get();
    snprintf(this_bus->dirname, sizeof(this_bus->dirname), "%03zu", b.buses.size() + 1);
    this_bus->prev = previous_bus;
    if (previous_bus != nullptr) previous_bus->next = this_bus;
    previous_bus = this_bus;
    b.buses.push_back(std::move(owned_bus));

    struct usb_device* previous = nullptr;
    for (const Device& device : bus.devices) {
      auto owned = std::make_unique<struct usb_device>();
      struct usb_device* d = owned.get();
      snprintf(d->filename, sizeof(d->filename), "%03zu", s.devices.size() + 1);
      d->bus = this_bus;
      d->descriptor.bLength = USB_DT_DEVICE_SIZE;
      d->descriptor.bDescriptorType = USB_DT_DEVICE;
      d->descriptor.bDeviceClass = device.device_class;
      d->descriptor.iManufacturer = device.manufacturer_index;
      d->descriptor.iProduct = device.product_index;
      d->descriptor.iSerialNumber = device.serial_index;
      d->descriptor.bNumConfigurations = static_cast<uint8_t>(
          device.num_configurations.value_or(static_cast<int>(device.configs.size())));
      if (!device.no_config_array && !device.configs.empty()) {
        std::vector<usb_config_descriptor> configs(device.configs.size());
        for (size_t c = 0; c < device.configs.size(); ++c) {
          const Config& config = device.configs[c];
          configs[c].bNumInterfaces = static_cast<uint8_t>(config.interfaces.size());
          if (config.no_interface_array || config.interfaces.empty()) continue;
          std::vector<usb_interface> interfaces(config.interfaces.size());
          for (size_t i = 0; i < config.interfaces.size(); ++i) {
            const Interface& interface = config.interfaces[i];
            interfaces[i].num_altsetting = static_cast<int>(interface.classes.size());
            if (interface.no_altsetting_array || interface.classes.empty()) continue;
            std::vector<usb_interface_descriptor> alts(interface.classes.size());
            for (size_t a = 0; a < alts.size(); ++a) {
              alts[a].bInterfaceNumber = static_cast<uint8_t>(i);
              alts[a].bAlternateSetting = static_cast<uint8_t>(a);
              alts[a].bInterfaceClass = interface.classes[a];
            }
            b.altsettings.push_back(std::move(alts));
            interfaces[i].altsetting = b.altsettings.back().data();
          }
          b.interfaces.push_back(std::move(interfaces));
          configs[c].interface = b.interfaces.back().data();
        }
        b.configs.push_back(std::move(configs));
        d->config = b.configs.back().data();
      }
      d->prev = previous;
      if (previous != nullptr) {
        previous->next = d;
      } else {
        this_bus->devices = d;
      }
      previous = d;
      s.devices.push_back(&device);
      b.devices.push_back(std::move(owned));
    }
  }
}

}  // namespace

Device printer(const std::string& id, const std::string& product, const std::string& manufacturer,
               const std::string& serial) {
  Device device;
  device.id = id;
  device.configs = {Config{{Interface{{USB_CLASS_PRINTER}}}}};
  device.strings[1].text = manufacturer;
  device.strings[2].text = product;
  device.strings[3].text = serial;
  return device;
}

void install(const Scenario& scenario) {
  State& s = state();
  s.scenario = scenario;
  s.devices.clear();
  // The vectors of the arrays grow while building, so their elements must not move: each
  // inner vector is moved in whole, which keeps its data pointer.
  s.built = Built{};
  s.handles.clear();
  s.calls.clear();
  s.violations.clear();
  s.last_error = "No error";
  build(s);
}

const std::vector<Call>& calls() {
  return state().calls;
}

std::vector<std::string> trace() {
  std::vector<std::string> lines;
  for (const Call& call : state().calls) {
    if (call.function != "usb_strerror") lines.push_back(text_of(call));
  }
  return lines;
}

std::vector<Call> control_calls() {
  std::vector<Call> found;
  for (const Call& call : state().calls) {
    if (call.function == "usb_control_msg") found.push_back(call);
  }
  return found;
}

Reply reply8(std::vector<uint8_t> bytes) {
  bytes.resize(8);
  return Reply{8, bytes, ""};
}

const std::vector<std::string>& violations() {
  return state().violations;
}

int open_handles() {
  int n = 0;
  for (const auto& handle : state().handles) n += handle->open ? 1 : 0;
  return n;
}

std::string id_of(const usb_dev_handle* handle) {
  State& s = state();
  for (const auto& owned : s.handles) {
    if (owned.get() == handle) return s.devices[owned->device]->id;
  }
  return "";
}

void trace_to_file(const std::string& path) {
  state().trace_path = path;
}

}  // namespace fake_usb

using fake_usb::Call;
using fake_usb::state;

static Call make_call(const char* function, const std::string& device = "") {
  Call call;
  call.function = function;
  call.device = device;
  return call;
}

void usb_init(void) {
  fake_usb::record(make_call("usb_init"));
}

int usb_find_busses(void) {
  fake_usb::record(make_call("usb_find_busses"));
  const fake_usb::Scenario& scenario = state().scenario;
  if (scenario.find_busses_result < 0) fake_usb::set_error(scenario.find_busses_error);
  return scenario.find_busses_result;
}

int usb_find_devices(void) {
  fake_usb::record(make_call("usb_find_devices"));
  const fake_usb::Scenario& scenario = state().scenario;
  if (scenario.find_devices_result < 0) fake_usb::set_error(scenario.find_devices_error);
  return scenario.find_devices_result;
}

struct usb_bus* usb_get_busses(void) {
  fake_usb::record(make_call("usb_get_busses"));
  auto& buses = state().built.buses;
  return buses.empty() ? nullptr : buses.front().get();
}

usb_dev_handle* usb_open(struct usb_device* dev) {
  auto& s = state();
  size_t found = s.built.devices.size();
  for (size_t k = 0; k < s.built.devices.size(); ++k) {
    if (s.built.devices[k].get() == dev) found = k;
  }
  if (found == s.built.devices.size()) {
    fake_usb::record(make_call("usb_open", "?"));
    s.violations.push_back("usb_open of a device not in the lists");
    return nullptr;
  }
  const fake_usb::Device& device = *s.devices[found];
  fake_usb::record(make_call("usb_open", device.id));
  if (!device.open_error.empty()) {
    fake_usb::set_error(device.open_error);
    return nullptr;
  }
  s.handles.push_back(std::make_unique<usb_dev_handle>());
  s.handles.back()->device = found;
  s.handles.back()->open = true;
  return s.handles.back().get();
}

int usb_close(usb_dev_handle* dev) {
  const fake_usb::Device* device = fake_usb::device_of(dev, "usb_close");
  Call call = make_call("usb_close", device != nullptr ? device->id : "?");
  fake_usb::record(call);
  if (device == nullptr) return -1;
  dev->open = false;
  if (device->close_result < 0) fake_usb::set_error(device->close_error);
  return device->close_result;
}

int usb_get_string_simple(usb_dev_handle* dev, int index, char* buf, size_t buflen) {
  const fake_usb::Device* device = fake_usb::device_of(dev, "usb_get_string_simple");
  Call call = make_call("usb_get_string_simple", device != nullptr ? device->id : "?");
  call.string_index = index;
  call.buflen = static_cast<int>(buflen);
  fake_usb::record(call);
  if (device == nullptr) return -1;
  auto it = device->strings.find(index);
  if (it == device->strings.end() || it->second.fails) {
    fake_usb::set_error(it == device->strings.end() ? "error sending control message: Broken pipe"
                                                    : it->second.error);
    return -1;
  }
  const fake_usb::StringDescriptor& string = it->second;
  if (buflen == 0) return string.result.value_or(0);
  size_t room = string.terminated ? buflen - 1 : buflen;
  size_t n = string.text.size() < room ? string.text.size() : room;
  if (n > 0) memcpy(buf, string.text.data(), n);
  if (string.fill != '\0') memset(buf + n, string.fill, buflen - n);
  if (string.terminated) buf[n] = '\0';
  return string.result.value_or(static_cast<int>(n));
}

int usb_control_msg(usb_dev_handle* dev, int requesttype, int request, int value, int index,
                    char* bytes, int size, int timeout) {
  const fake_usb::Device* device = fake_usb::device_of(dev, "usb_control_msg");
  Call call = make_call("usb_control_msg", device != nullptr ? device->id : "?");
  call.request_type = requesttype;
  call.request = request;
  call.value = value;
  call.index = index;
  call.size = size;
  call.timeout = timeout;
  if (bytes != nullptr && size > 0) call.data.assign(bytes, bytes + size);
  fake_usb::record(call);
  if (device == nullptr) return -1;
  // The setup bytes a device sees: the low byte of each field.
  fake_usb::Request setup{static_cast<uint8_t>(requesttype), static_cast<uint8_t>(request),
                          static_cast<uint8_t>(value), static_cast<uint8_t>(index)};
  if (value > 0xFF || index > 0xFF || value < 0 || index < 0) {
    state().violations.push_back("usb_control_msg with wValue or wIndex above 255");
  }
  // Like the kernel's wait for a control transfer: a signal does not end it early.
  struct timespec left = {device->delay_ms / 1000, (device->delay_ms % 1000) * 1000000L};
  while (nanosleep(&left, &left) != 0 && errno == EINTR) {
  }
  auto it = device->replies.find(setup);
  const fake_usb::Reply& reply = it != device->replies.end() ? it->second : device->unknown_request;
  if (bytes != nullptr && size > 0) {
    size_t n = reply.bytes.size() < static_cast<size_t>(size) ? reply.bytes.size()
                                                              : static_cast<size_t>(size);
    if (n > 0) memcpy(bytes, reply.bytes.data(), n);
  }
  if (reply.result < 0) fake_usb::set_error(reply.error);
  return reply.result;
}

char* usb_strerror(void) {
  auto& s = state();
  fake_usb::record(make_call("usb_strerror"));
  snprintf(s.error_text, sizeof(s.error_text), "%s", s.last_error.c_str());
  return s.error_text;
}
