// Start-up of the USB double when it is preloaded into a built program: the scenario comes from
// the file named by FAKE_USB_SCENARIO, and the calls go to the file named by FAKE_USB_TRACE.
#include <cstdio>
#include <cstdlib>

#include "support/fake_usb/fake_usb.h"

namespace {

__attribute__((constructor)) void load_from_environment() {
  const char* scenario_path = getenv("FAKE_USB_SCENARIO");
  const char* trace_path = getenv("FAKE_USB_TRACE");
  fake_usb::Scenario scenario;
  std::string error;
  if (scenario_path != nullptr && !fake_usb::load_scenario(scenario_path, &scenario, &error)) {
    // Said loudly so that a broken fixture is not mistaken for a program fault.
    fprintf(stderr, "fake_usb: %s\n", error.c_str());
  }
  fake_usb::install(scenario);
  if (trace_path != nullptr) fake_usb::trace_to_file(trace_path);
}

}  // namespace
