// What the command line does without PAPPL's main loop: the help and the drivers listing.
#include "app/command_line.h"

#include <cstring>

#include "app/system.h"
#include "log/escape.h"

namespace {

constexpr size_t kDeviceIdOptionSize = kDeviceIdSize;

// PAPPL's sub-commands and options in its own words, with the forms that are ours.
constexpr const char* kUsageLines[] = {
    "Sub-commands:",
    "  add PRINTER      Add a printer (-m auto: the driver by the printer's device ID).",
    "  autoadd          Automatically add supported printers.",
    "  cancel           Cancel one or more jobs.",
    "  default          Set the default printer.",
    "  delete           Delete a printer.",
    "  devices          List devices.",
    "  devices -v DEVICE-URI",
    "                   Ask one network printer for its device ID and driver.",
    "  drivers          List drivers.",
    "  jobs             List jobs.",
    "  modify           Modify a printer.",
    "  options -d PRINTER | -u URI",
    "                   List a printer's options, formats and installed accessories.",
    "  pause            Pause printing for a printer.",
    "  printers         List printers.",
    "  query -d PRINTER Ask the printer for its accessories now and show its answers.",
    "  resume           Resume printing for a printer.",
    "  server           Run a server.",
    "  shutdown         Shutdown a running server.",
    "  status           Show server/printer/job status.",
    "  submit           Submit a file for printing.",
    "",
    "Options:",
    "  -a               Cancel all jobs (cancel).",
    "  -d PRINTER       Specify printer.",
    "  -j JOB-ID        Specify job ID (cancel).",
    "  -m DRIVER-NAME   Specify driver (add/modify).",
    "  -n COPIES        Specify number of copies (submit).",
    "  -o NAME=VALUE    Specify option (add,modify,server,submit).",
    "  -u URI           Specify ipp: or ipps: printer/server.",
    "  -v DEVICE-URI    Specify socket: or usb: device (add/modify).",
    "",
    "The server's options (-o server-port=, state-file=, ppd-directories=, ...)",
    "are in zorv-printer-app(8).",
};

}  // namespace

bool helpAsked(int argc, char* argv[]) {
  for (int i = 1; i < argc; i++) {
    if (strcmp(argv[i], "--") == 0) return false;
    if (strcmp(argv[i], "--help") == 0) return true;
  }
  return false;
}

void printUsage(FILE* out) {
  fprintf(out,
          "Usage: %s SUB-COMMAND [OPTIONS] [FILENAME]\n"
          "       %s [OPTIONS] [FILENAME]\n"
          "       %s [OPTIONS] -\n\n",
          kAppName, kAppName, kAppName);
  for (const char* line : kUsageLines) fprintf(out, "%s\n", line);
}

void usageCallback(void*) {
  printUsage(stdout);
}

int listDriversSubcommand(int argc, char* argv[], const DriverCatalog& catalog) {
  for (int i = 0; i < catalog.num_skipped; i++) {
    fprintf(stderr, "%s: PPD left out: %s.\n", kAppName, ShownText(catalog.skipped[i]).c_str());
  }
  char device_id[kDeviceIdOptionSize];
  const char* only = nullptr;
  if (commandLineOption(argc, argv, "device-id", device_id, sizeof(device_id))) {
    only = matchDeviceId(catalog, device_id);
    if (only == nullptr) return 0;
  }
  for (int i = 0; i < catalog.count; i++) {
    const DriverEntry& entry = catalog.entries[i];
    if (only != nullptr && strcmp(only, entry.name) != 0) continue;
    printf("%s \"%s\" \"%s\"\n", entry.name, entry.description, entry.device_id);
  }
  return 0;
}
