// Finding the attached printer of a PPD and the whole USB path, against the libusb double:
// library call order, class test at every level, string reads, failures and their messages.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "autoconf/usb_query.h"
#include "probe/usb_probe.h"
#include "support/capture.h"
#include "support/fake_usb/fake_usb.h"
#include "support/paths.h"
#include "support/ppd.h"
#include "support/text.h"

using fake_usb::Bus;
using fake_usb::Config;
using fake_usb::Device;
using fake_usb::Interface;
using fake_usb::Reply;
using fake_usb::reply8;
using fake_usb::Request;
using fake_usb::Scenario;

namespace {

using Trace = std::vector<std::string>;

// Points the PPD's model name at other text for one test; the original is back before close.
class ModelName {
 public:
  ModelName(ppd_file_t* ppd, const char* text)
      : ppd_(ppd), saved_(ppd->modelname), text_(text != nullptr ? text : "") {
    ppd_->modelname = text != nullptr ? text_.data() : nullptr;
  }
  ~ModelName() { ppd_->modelname = saved_; }
  ModelName(const ModelName&) = delete;
  ModelName& operator=(const ModelName&) = delete;

 private:
  ppd_file_t* ppd_;
  char* saved_;
  std::string text_;
};

Device other(const std::string& id, uint8_t device_class) {
  Device device = fake_usb::printer(id, "ZX 500");
  device.device_class = device_class;
  device.configs = {Config{{Interface{{device_class}}}}};
  return device;
}

Trace strings_of(const std::string& id) {
  return {"usb_get_string_simple(" + id + ",1,256)", "usb_get_string_simple(" + id + ",2,256)",
          "usb_get_string_simple(" + id + ",3,256)"};
}

Trace concat(std::initializer_list<Trace> parts) {
  Trace all;
  for (const Trace& part : parts) all.insert(all.end(), part.begin(), part.end());
  return all;
}

class UsbMatch : public ::testing::Test {
 protected:
  void SetUp() override {
    ppd_ = open_ppd(test_data("usb/tray.ppd"));
    ASSERT_NE(ppd_, nullptr);
  }
  void TearDown() override {
    EXPECT_TRUE(fake_usb::violations().empty()) << fake_usb::violations().front();
  }

  // Runs the matcher on a scenario; returns its standard error, the id of the matched device
  // (or "") in *matched, and closes the matched handle outside the record.
  std::string match(const Scenario& scenario, std::string* matched,
                    const std::string& uri = "usb://x") {
    fake_usb::install(scenario);
    usb_dev_handle* handle = nullptr;
    std::string err = stderr_of([&] { handle = usb_open_matched_device(ppd_.get(), uri.c_str()); });
    trace_ = fake_usb::trace();
    matched->clear();
    if (handle != nullptr) {
      *matched = fake_usb::id_of(handle);
      EXPECT_EQ(fake_usb::open_handles(), 1);
      usb_close(handle);
    } else {
      EXPECT_EQ(fake_usb::open_handles(), 0);
    }
    return err;
  }

  UniquePpd ppd_;
  Trace trace_;
};

TEST_F(UsbMatch, FirstMatchingPrinterInBusThenDeviceOrderIsTaken) {
  Scenario scenario;
  scenario.buses = {Bus{{other("hub", 9), fake_usb::printer("lx", "LX 9")}},
                    Bus{{fake_usb::printer("p1", "ZX 500"), fake_usb::printer("p2", "ZX 500")}}};
  std::string matched;
  EXPECT_EQ(match(scenario, &matched), "");
  EXPECT_EQ(matched, "p1");
  EXPECT_EQ(trace_, concat({{"usb_get_busses()", "usb_open(lx)"},
                            strings_of("lx"),
                            {"usb_close(lx)", "usb_open(p1)"},
                            strings_of("p1")}));
}

TEST_F(UsbMatch, PrinterClassIsFoundAtEveryLevel) {
  Device by_device = other("d", 7);
  by_device.configs.clear();
  Device in_later_config = other("c", 0);
  in_later_config.configs = {Config{{Interface{{8}}}}, Config{{Interface{{7}}}}};
  Device in_later_interface = other("i", 0);
  in_later_interface.configs = {Config{{Interface{{3}}, Interface{{8}}, Interface{{7}}}}};
  Device in_later_altsetting = other("a", 0);
  in_later_altsetting.configs = {Config{{Interface{{255, 255, 7}}}}};
  Device nowhere = other("n", 0);
  nowhere.configs = {Config{{Interface{{3, 8}}, Interface{{255}}}}, Config{{Interface{{9}}}}};
  Device no_configurations = other("z", 0);
  no_configurations.configs.clear();
  Device no_config_array = other("x", 0);
  no_config_array.num_configurations = 2;
  no_config_array.no_config_array = true;
  Device printer_without_config_array = other("y", 7);
  printer_without_config_array.num_configurations = 1;
  printer_without_config_array.no_config_array = true;
  Device no_interface_array = other("f", 0);
  no_interface_array.configs = {Config{{Interface{{7}}}, true}};
  Device no_altsetting_array = other("s", 0);
  no_altsetting_array.configs = {Config{{Interface{{7}, true}}}};

  struct Case {
    Device device;
    int has_class;
  } cases[] = {{by_device, 1},
               {in_later_config, 1},
               {in_later_interface, 1},
               {in_later_altsetting, 1},
               {nowhere, 0},
               {no_configurations, 0},
               {no_config_array, 0},
               {printer_without_config_array, 1},
               {no_interface_array, 0},
               {no_altsetting_array, 0}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.device.id);
    Scenario scenario;
    scenario.buses = {Bus{{c.device}}};
    fake_usb::install(scenario);
    EXPECT_EQ(usb_device_has_class(usb_get_busses()->devices, 7), c.has_class);
    std::string matched;
    match(scenario, &matched);
    EXPECT_EQ(matched, c.has_class ? c.device.id : "");
    if (!c.has_class) {
      EXPECT_EQ(trace_, Trace{"usb_get_busses()"});  // never opened
    }
  }
}

TEST_F(UsbMatch, ProductAndModelNameMustContainOneAnother) {
  // The PPD's model name is "Orvane ZX 500 Series".
  struct Case {
    const char* product;
    bool matches;
  } cases[] = {
      {"ZX 500", true},
      {"Orvane ZX 500 Series", true},
      {"Orvane ZX 500 Series PCL", true},
      {"orvane zx 500 series", false},
      {"ZX 5000", false},
      {"", false},  // every model name contains the empty string
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.product);
    Scenario scenario;
    scenario.buses = {Bus{{fake_usb::printer("p", c.product)}}};
    std::string matched;
    EXPECT_EQ(match(scenario, &matched), "");
    EXPECT_EQ(matched, c.matches ? "p" : "");
  }
}

TEST_F(UsbMatch, UnreadableProductMatchesNothingAndEveryIndexIsRead) {
  Device device = fake_usb::printer("p", "LX 9");
  device.strings[2].fails = true;
  device.serial_index = 0;
  device.manufacturer_index = 200;
  device.strings[200].text = "Orvane";
  Scenario scenario;
  scenario.buses = {Bus{{device}}};
  std::string matched;
  EXPECT_EQ(match(scenario, &matched),
            "ERROR: usb_get_string_simple(,2,,) failed: "
            "<error sending control message: Broken pipe>\n"
            "ERROR: usb_get_string_simple(,0,,) failed: "
            "<error sending control message: Broken pipe>\n");
  EXPECT_EQ(matched, "");
  EXPECT_EQ(trace_, (Trace{"usb_get_busses()", "usb_open(p)", "usb_get_string_simple(p,200,256)",
                           "usb_get_string_simple(p,2,256)", "usb_get_string_simple(p,0,256)",
                           "usb_close(p)"}));
}

// A serial number in the device URI chooses among printers of the same model; without one, the
// first printer of the model is taken.
TEST_F(UsbMatch, SerialNumberOfTheUriMustMatch) {
  Device unreadable = fake_usb::printer("u", "ZX 500", "Orvane", "Z0002");
  unreadable.strings[3].fails = true;
  Scenario scenario;
  scenario.buses = {Bus{{unreadable, fake_usb::printer("p1", "ZX 500", "Orvane", "Z0001"),
                         fake_usb::printer("p2", "ZX 500", "Orvane", "Z 0/2&3")}}};
  struct Case {
    const char* uri;
    const char* matched;
  } cases[] = {
      {"usb://Orvane/ZX%20500", "u"},
      {"mfp:/dev/usb/lp0", "u"},
      {"usb://Orvane/ZX%20500?serial=Z0001", "p1"},
      {"usb://Orvane/ZX%20500?interface=1&serial=Z%300%30%31", "p1"},
      {"usb://Orvane/ZX%20500?serial=Z%200%2F2%263&interface=0", "p2"},
      {"usb://Orvane/ZX%20500?serial=Z0002", ""},  // only the device that cannot tell has it
      {"usb://Orvane/ZX%20500?serial=", ""},
      {"usb://Orvane/ZX%20500?serial=Z0001%00x", ""},
      {"usb://Orvane/ZX%20500?serialnumber=Z0009", "u"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.uri);
    std::string matched;
    match(scenario, &matched, c.uri);
    EXPECT_EQ(matched, c.matched);
  }
}

TEST_F(UsbMatch, StringsAreCutAtTheLengthTheLibraryReports) {
  // Stale bytes after the text and no terminator: only the reported length counts.
  Device stale = fake_usb::printer("p", "ZX 500");
  stale.strings[2].terminated = false;
  stale.strings[2].fill = 'Q';
  // A full buffer without room for a terminator: the text is cut to 255 characters.
  Device full = fake_usb::printer("f", std::string(300, 'A'));
  full.strings[2].terminated = false;
  full.strings[2].result = 256;
  Device too_long = fake_usb::printer("l", std::string(255, 'A'));
  too_long.strings[2].result = 4096;
  for (const Device& device : {stale, full, too_long}) {
    SCOPED_TRACE(device.id);
    Scenario scenario;
    scenario.buses = {Bus{{device}}};
    std::string matched;
    ModelName model(ppd_.get(),
                    device.id == "p" ? "Orvane ZX 500 Series" : std::string(256, 'A').c_str());
    EXPECT_EQ(match(scenario, &matched), "");
    EXPECT_EQ(matched, device.id);
  }
}

TEST_F(UsbMatch, DeviceThatCannotBeOpenedIsPassedOver) {
  Device gone = fake_usb::printer("gone", "ZX 500");
  gone.open_error = "No such device";
  Scenario scenario;
  scenario.buses = {Bus{{gone, fake_usb::printer("p", "ZX 500")}}};
  std::string matched;
  EXPECT_EQ(match(scenario, &matched), "ERROR: usb_open() failed: <No such device>\n");
  EXPECT_EQ(matched, "p");
}

TEST_F(UsbMatch, FailedCloseOfOtherPrinterIsReportedOnALineOfItsOwn) {
  Device lx = fake_usb::printer("lx", "LX 9");
  lx.close_result = -9;
  lx.close_error = "Bad file descriptor";
  Scenario scenario;
  scenario.buses = {Bus{{lx, fake_usb::printer("p", "ZX 500")}}};
  std::string matched;
  EXPECT_EQ(match(scenario, &matched), "ERROR: usb_close() failed: <Bad file descriptor>\n");
  EXPECT_EQ(matched, "p");
}

TEST_F(UsbMatch, NullPpdLooksAtNoBus) {
  fake_usb::install(Scenario{{Bus{{fake_usb::printer("p", "ZX 500")}}}});
  usb_dev_handle* handle = nullptr;
  EXPECT_EQ(stderr_of([&] { handle = usb_open_matched_device(nullptr, "usb://x"); }),
            "ERROR: invalid ppd\n");
  EXPECT_EQ(handle, nullptr);
  EXPECT_TRUE(fake_usb::trace().empty());
}

TEST_F(UsbMatch, PpdWithoutModelNameMatchesNoDevice) {
  ppd_ = open_ppd(test_data("usb/no_model.ppd"));
  ASSERT_NE(ppd_, nullptr);
  ASSERT_EQ(ppd_->modelname, nullptr);
  Scenario scenario;
  scenario.buses = {Bus{{fake_usb::printer("e", "")}}};  // would match any model name
  std::string matched;
  EXPECT_EQ(match(scenario, &matched), "");
  EXPECT_EQ(matched, "");
  EXPECT_EQ(trace_,
            concat({{"usb_get_busses()", "usb_open(e)"}, strings_of("e"), {"usb_close(e)"}}));
}

class UsbPath : public UsbMatch {
 protected:
  std::string run(const Scenario& scenario, int* result) {
    fake_usb::install(scenario);
    std::string err = stderr_of([&] { *result = usbUpdateConfigOptions(ppd_.get(), "usb://x"); });
    EXPECT_EQ(fake_usb::open_handles(), 0);
    return err;
  }
};

Device tray_printer() {
  Device device = fake_usb::printer("p", "ZX 500");
  device.replies[Request{0xc1, 0x01, 0, 0}] = reply8({0x01});
  device.replies[Request{0xc1, 0x02, 0, 1}] = reply8({0x55, 0x80});
  return device;
}

TEST_F(UsbPath, QueriesEveryOptionInTheSpecifiedCallOrder) {
  int result = 1;
  EXPECT_EQ(run(Scenario{{Bus{{tray_printer()}}}}, &result), "");
  EXPECT_EQ(result, 0);
  EXPECT_EQ(fake_usb::trace(),
            concat({{"usb_init()", "usb_find_busses()", "usb_find_devices()", "usb_get_busses()",
                     "usb_open(p)"},
                    strings_of("p"),
                    {"usb_control_msg(p,c1,01,0000,0000,8,3000)",
                     "usb_control_msg(p,c1,02,0000,0001,8,3000)", "usb_close(p)"}}));
  EXPECT_EQ(marked_choice(ppd_.get(), "Tray"), "True");
  EXPECT_EQ(marked_choice(ppd_.get(), "Duplex"), "Unit");
  EXPECT_EQ(marked_choice(ppd_.get(), "PageSize"), "");  // not an installable option
}

TEST_F(UsbPath, EnumerationFailuresEndThePathBeforeAnyDevice) {
  Scenario busses{{Bus{{tray_printer()}}}};
  busses.find_busses_result = -1;
  Scenario devices{{Bus{{tray_printer()}}}};
  devices.find_devices_result = -12;
  int result = 0;
  EXPECT_EQ(run(busses, &result),
            "ERROR: usb_find_busses() failed: <could not open /dev/bus/usb>\n");
  EXPECT_EQ(result, -1);
  EXPECT_EQ(fake_usb::trace(), (Trace{"usb_init()", "usb_find_busses()"}));
  EXPECT_EQ(run(devices, &result),
            "ERROR: usb_find_devices() failed: <could not read device list>\n");
  EXPECT_EQ(result, -1);
  EXPECT_EQ(fake_usb::trace(), (Trace{"usb_init()", "usb_find_busses()", "usb_find_devices()"}));
}

TEST_F(UsbPath, NoMatchingDeviceReportsTheLastLibraryError) {
  Device gone = tray_printer();
  gone.open_error = "No such device";
  int result = 0;
  EXPECT_EQ(run(Scenario{{Bus{{gone}}}}, &result),
            "ERROR: usb_open() failed: <No such device>\n"
            "ERROR: usb_open_matched_device() failed: <No such device>\n");
  EXPECT_EQ(result, -1);
  EXPECT_EQ(run(Scenario{}, &result), "ERROR: usb_open_matched_device() failed: <No error>\n");
  EXPECT_EQ(result, -1);
  ppd_ = open_ppd(test_data("usb/no_model.ppd"));
  EXPECT_EQ(run(Scenario{{Bus{{tray_printer()}}}}, &result),
            "ERROR: usb_open_matched_device() failed: <No error>\n");
  EXPECT_EQ(result, -1);
  EXPECT_TRUE(fake_usb::control_calls().empty());
}

// Whatever fails on the USB path, standard error is whole lines, each with its prefix: the
// scheduler reads it line by line, and a message glued to the next would swallow a PPD: line.
TEST_F(UsbPath, EveryFailureIsWholeLinesWithTheirPrefix) {
  // Another printer, then the PPD's, changed by the case.
  using Change = std::function<void(Scenario&, Device & other, Device & printer)>;
  const auto answer = [](Device& printer, Reply reply) {
    printer.replies[Request{0xc1, 0x01, 0, 0}] = std::move(reply);
  };
  const struct Case {
    const char* what;
    Change change;
  } cases[] = {
      {"no bus list", [](Scenario& s, Device&, Device&) { s.find_busses_result = -1; }},
      {"no device list", [](Scenario& s, Device&, Device&) { s.find_devices_result = -1; }},
      {"open fails", [](Scenario&, Device&, Device& p) { p.open_error = "Permission denied"; }},
      {"string fails", [](Scenario&, Device&, Device& p) { p.strings[1].fails = true; }},
      {"no such printer", [](Scenario&, Device&, Device& p) { p.strings[2].text = "QX 1"; }},
      {"close of the other fails",
       [](Scenario&, Device& o, Device&) {
         o.close_result = -9;
         o.close_error = "Bad file descriptor";
       }},
      {"request fails",
       [&](Scenario&, Device&, Device& p) {
         answer(p, Reply{-32, {}, "Broken pipe"});
       }},
      {"time-out",
       [&](Scenario&, Device&, Device& p) {
         answer(p, Reply{0, {}, ""});
       }},
      {"short reply",
       [&](Scenario&, Device&, Device& p) {
         answer(p, Reply{3, {1, 2, 3}, ""});
       }},
      {"final close fails",
       [](Scenario&, Device&, Device& p) {
         p.close_result = -19;
         p.close_error = "No such device";
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Scenario scenario;
    Device other = fake_usb::printer("lx", "LX 9");
    Device printer = tray_printer();
    c.change(scenario, other, printer);
    scenario.buses = {Bus{{other, printer}}};
    int result = 0;
    const std::string err = run(scenario, &result);
    ASSERT_FALSE(err.empty());
    EXPECT_EQ(err.back(), '\n') << err;
    for (const std::string& line : split_lines(err)) {
      EXPECT_TRUE(full_match(line, "(ERROR|WARNING): [^\n]*")) << line;
    }
  }
}

TEST_F(UsbPath, FailedFinalCloseIsReportedOnALineOfItsOwnAndKeepsTheMarks) {
  Device device = tray_printer();
  device.close_result = -19;
  device.close_error = "No such device";
  int result = 1;
  EXPECT_EQ(run(Scenario{{Bus{{device}}}}, &result),
            "ERROR: usb_close() failed: <No such device>\n");
  EXPECT_EQ(result, 0);
  EXPECT_EQ(marked_choice(ppd_.get(), "Tray"), "True");
}

// Unplugged after its product string was read: every later step fails and is reported, and the
// run goes on. Unplugged before it: no product string, so it is not the PPD's printer.
TEST_F(UsbPath, PrinterUnpluggedAfterOpenFailsEachStepAndTheRunGoesOn) {
  for (bool product_read : {true, false}) {
    SCOPED_TRACE(product_read ? "product read" : "nothing read");
    Device device = tray_printer();
    device.replies.clear();
    device.unknown_request = Reply{-19, {}, "No such device"};
    for (auto& [index, string] : device.strings) {
      string.fails = !product_read || index != 2;
      string.error = "No such device";
    }
    device.close_result = -19;
    device.close_error = "No such device";
    int result = 1;
    const std::string strings =
        std::string("ERROR: usb_get_string_simple(,1,,) failed: <No such device>\n") +
        (product_read ? "" : "ERROR: usb_get_string_simple(,2,,) failed: <No such device>\n") +
        "ERROR: usb_get_string_simple(,3,,) failed: <No such device>\n";
    EXPECT_EQ(run(Scenario{{Bus{{device}}}}, &result),
              strings + (product_read ? "WARNING: USB query (c1 01 00 00 / ff) failure (-19)\n"
                                        "WARNING: USB query (c1 02 00 01 / 00 ff) failure (-19)\n"
                                        "ERROR: usb_close() failed: <No such device>\n"
                                      : "ERROR: usb_close() failed: <No such device>\n"
                                        "ERROR: usb_open_matched_device() failed: "
                                        "<No such device>\n"));
    EXPECT_EQ(result, product_read ? 0 : -1);
    EXPECT_EQ(marked_choice(ppd_.get(), "Tray"), "");
  }
}

}  // namespace
