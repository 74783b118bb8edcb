// Scenario files of the USB double, for programs that run with it preloaded. One item a line,
// '#' starts a comment, numbers are hexadecimal where the USB field is a byte:
//   find_busses <result> [error text]      find_devices <result> [error text]
//   bus                                    device <id> [class=<hex>] [configurations=<n>]
//       [manufacturer=<n>] [product=<n>] [serial=<n>] [no_config_array]
//   config                                 interface <class hex>...   (one per alternate setting)
//   string <index> <text>                  string_error <index> <error text>
//   open_error <text>                      close <result> [error text]
//   reply <type> <request> <value> <index> <result> [bytes...]    (hex bytes)
//   reply_error <type> <request> <value> <index> <result> <error text>
//   delay <milliseconds>                   (each control request of the device takes this long)
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

#include "support/fake_usb/fake_usb.h"

namespace fake_usb {
namespace {

std::string rest_of(std::istringstream& in) {
  std::string rest;
  std::getline(in >> std::ws, rest);
  return rest;
}

bool read_hex(std::istringstream& in, uint8_t* byte) {
  std::string word;
  if (!(in >> word)) return false;
  char* end = nullptr;
  unsigned long value = strtoul(word.c_str(), &end, 16);
  if (*end != '\0' || value > 0xFF) return false;
  *byte = static_cast<uint8_t>(value);
  return true;
}

bool read_setup(std::istringstream& in, Request* setup, int* result) {
  for (uint8_t& byte : *setup) {
    if (!read_hex(in, &byte)) return false;
  }
  return static_cast<bool>(in >> *result);
}

bool device_option(Device* device, const std::string& word) {
  size_t eq = word.find('=');
  if (word == "no_config_array") {
    device->no_config_array = true;
    return true;
  }
  if (eq == std::string::npos) return false;
  std::string key = word.substr(0, eq);
  long value = strtol(word.c_str() + eq + 1, nullptr, key == "class" ? 16 : 10);
  if (key == "class") {
    device->device_class = static_cast<uint8_t>(value);
  } else if (key == "configurations") {
    device->num_configurations = static_cast<int>(value);
  } else if (key == "manufacturer") {
    device->manufacturer_index = static_cast<uint8_t>(value);
  } else if (key == "product") {
    device->product_index = static_cast<uint8_t>(value);
  } else if (key == "serial") {
    device->serial_index = static_cast<uint8_t>(value);
  } else {
    return false;
  }
  return true;
}

// One line into the scenario; false when the line does not fit its item's shape.
bool parse_line(const std::string& line, Scenario* scenario) {
  std::istringstream in(line);
  std::string item;
  if (!(in >> item) || item[0] == '#') return true;
  if (item == "find_busses" || item == "find_devices") {
    int result = 0;
    if (!(in >> result)) return false;
    std::string error = rest_of(in);
    if (item == "find_busses") {
      scenario->find_busses_result = result;
      if (!error.empty()) scenario->find_busses_error = error;
    } else {
      scenario->find_devices_result = result;
      if (!error.empty()) scenario->find_devices_error = error;
    }
    return true;
  }
  if (item == "bus") {
    scenario->buses.emplace_back();
    return true;
  }
  if (scenario->buses.empty()) return false;
  std::vector<Device>& devices = scenario->buses.back().devices;
  if (item == "device") {
    Device device;
    if (!(in >> device.id)) return false;
    for (std::string word; in >> word;) {
      if (!device_option(&device, word)) return false;
    }
    devices.push_back(device);
    return true;
  }
  if (devices.empty()) return false;
  Device& device = devices.back();
  if (item == "config") {
    device.configs.emplace_back();
    return true;
  }
  if (item == "interface") {
    if (device.configs.empty()) return false;
    Interface interface;
    for (uint8_t value = 0; read_hex(in, &value);) interface.classes.push_back(value);
    device.configs.back().interfaces.push_back(interface);
    return in.eof();
  }
  if (item == "string" || item == "string_error") {
    int index = 0;
    if (!(in >> index)) return false;
    StringDescriptor& string = device.strings[index];
    string.fails = item == "string_error";
    (string.fails ? string.error : string.text) = rest_of(in);
    return true;
  }
  if (item == "open_error") {
    device.open_error = rest_of(in);
    return !device.open_error.empty();
  }
  if (item == "close") {
    if (!(in >> device.close_result)) return false;
    device.close_error = rest_of(in);
    return true;
  }
  if (item == "delay") return static_cast<bool>(in >> device.delay_ms);
  if (item == "reply" || item == "reply_error") {
    Request setup{};
    Reply reply;
    if (!read_setup(in, &setup, &reply.result)) return false;
    if (item == "reply_error") {
      reply.error = rest_of(in);
    } else {
      for (uint8_t byte = 0; read_hex(in, &byte);) reply.bytes.push_back(byte);
      if (!in.eof()) return false;
    }
    device.replies[setup] = reply;
    return true;
  }
  return false;
}

}  // namespace

bool load_scenario(const std::string& path, Scenario* scenario, std::string* error) {
  std::ifstream file(path);
  if (!file) {
    *error = "cannot read " + path;
    return false;
  }
  *scenario = Scenario{};
  int number = 0;
  for (std::string line; std::getline(file, line);) {
    ++number;
    if (!parse_line(line, scenario)) {
      *error = path + ":" + std::to_string(number) + ": cannot use '" + line + "'";
      return false;
    }
  }
  return true;
}

}  // namespace fake_usb
