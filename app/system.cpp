// The Printer Application's server and command line.
#include "app/system.h"

#include <signal.h>
#include <unistd.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "app/add_printer.h"
#include "app/command_line.h"
#include "app/devices.h"
#include "app/handles.h"
#include "app/image_job.h"
#include "app/options_list.h"
#include "app/ppd_driver.h"
#include "app/print_job.h"
#include "app/query_schedule.h"
#include "app/web.h"
#include "common/handles.h"
#include "log/escape.h"
#include "log/text.h"
#include "probe/probe.h"

namespace {

constexpr char kFooterHtml[] =
    "zorv Printer Application: the zorv PPDs, driverless. "
    "See <code>man zorv-printer-app</code>.";
constexpr char kDefaultLogFile[] = "-";
constexpr int kMaxPort = 65535;
constexpr size_t kCopyBufferSize = 65536;
constexpr size_t kSecondsOptionSize = 32;
constexpr long kMaxOptionSeconds = 86400;

struct HttpCloser {
  void operator()(http_t* http) const { httpClose(http); }
};
using HttpOwner = std::unique_ptr<http_t, HttpCloser>;

pappl_loglevel_t log_level_of(const char* text) {
  static const struct {
    const char* name;
    pappl_loglevel_t level;
  } kLevels[] = {{"debug", PAPPL_LOGLEVEL_DEBUG},
                 {"info", PAPPL_LOGLEVEL_INFO},
                 {"warn", PAPPL_LOGLEVEL_WARN},
                 {"error", PAPPL_LOGLEVEL_ERROR},
                 {"fatal", PAPPL_LOGLEVEL_FATAL}};
  for (const auto& level : kLevels) {
    if (text != nullptr && strcmp(text, level.name) == 0) return level.level;
  }
  return PAPPL_LOGLEVEL_UNSPEC;
}

// The driver of an "auto" printer: by the device ID PAPPL got, else, for a network printer that
// did not answer PAPPL's "public", by the one it gives with our settings.
const char* autoadd(const char*, const char* device_uri, const char* device_id, void* data) {
  const DriverCatalog& catalog = static_cast<AppContext*>(data)->catalog;
  const char* driver = matchDeviceId(catalog, device_id);
  if (driver != nullptr || device_uri == nullptr) return driver;
  char id[kDeviceIdTextSize];
  char source[kPpdPathSize];
  char why[kTriesWordsSize];
  if (!deviceIdOfPrinter(catalog, device_uri, id, sizeof(id), source, sizeof(source), why,
                         sizeof(why))) {
    return nullptr;
  }
  return matchDeviceId(catalog, id);
}

// PAPPL calls this while it holds the system's lock, and removes by itself the printer's pages
// (resources whose data is the printer): nothing here may call PAPPL for the system. A second
// lock of the system from this thread is refused by the C library, PAPPL ignores the refusal,
// and its unlock then leaves the lock broken: the next connection waits for ever.
void delete_printer(pappl_printer_t*, pappl_pr_driver_data_t* data) {
  PpdDriver* driver = static_cast<PpdDriver*>(data->extension);
  detachAccessories(driver);
  freePpdDriver(driver);
  data->extension = nullptr;
}

bool make_driver(pappl_system_t* system, const char* driver_name, const char* device_uri, const char*,
                 pappl_pr_driver_data_t* data, ipp_t** attrs, void* context) {
  char why[256];
  // Every way of making a printer ends here: IPP, the web page, the state file of an earlier
  // server.
  if (!deviceUriAllowed(device_uri, why, sizeof(why))) {
    papplLog(system, PAPPL_LOGLEVEL_ERROR, "Printer not made on '%s': %s.",
             ShownText(device_uri).c_str(), why);
    return false;
  }
  const DriverEntry* entry = findDriver(static_cast<AppContext*>(context)->catalog, driver_name);
  if (entry == nullptr) {
    papplLog(system, PAPPL_LOGLEVEL_ERROR, "No driver '%s'.", ShownText(driver_name).c_str());
    return false;
  }
  if (!loadPpdDriver(entry->ppd_path, entry->name, data, attrs, why, sizeof(why))) {
    papplLog(system, PAPPL_LOGLEVEL_ERROR, "Driver '%s' not made from '%s': %s.", entry->name,
             ShownText(entry->ppd_path).c_str(), why);
    return false;
  }
  setJobCallbacks(data);
  data->delete_cb = delete_printer;
  // A network printer reports its state (app/printer_state.h); PAPPL then adds its supplies page.
  data->status_cb = printerStatus;
  data->has_supplies = connectionType(device_uri) == kConnectionNetwork;
  static_cast<PpdDriver*>(data->extension)->watch = static_cast<AppContext*>(context)->watch;
  // Before the printer exists, so that every thread that finds it finds this too.
  static_cast<PpdDriver*>(data->extension)->accessory_context =
      static_cast<AppContext*>(context)->accessories;
  return true;
}

void printer_created(pappl_printer_t* printer, void* context) {
  addPrinterPages(printer);
  attachAccessories(printer, static_cast<AppContext*>(context)->accessories);
}

// The query resource for printer, its name escaped for a URI.
const char* query_resource_of(const char* printer, char* resource, size_t size) {
  char escaped[kPpdPathSize];
  size_t n = 0;
  for (const char* p = printer; *p != '\0' && n + 4 < sizeof(escaped); ++p) {
    if (isalnum(static_cast<unsigned char>(*p)) != 0 || *p == '-' || *p == '_' || *p == '.') {
      escaped[n++] = *p;
    } else {
      n += static_cast<size_t>(
          snprintf(escaped + n, sizeof(escaped) - n, "%%%02X", static_cast<unsigned char>(*p)));
    }
  }
  escaped[n] = '\0';
  format_text(resource, size, "%s?printer=%s", kQueryResource, escaped);
  return resource;
}

// "query -d NAME": asks the server to ask the printer now and prints what it answered, as
// zorvquery does. The exit status is zorvquery's: 0 answered, 2 no answer, 1 anything else.
int query_subcommand(const char*, int num_options, cups_option_t* options, int, char**, void*) {
  const char* printer = cupsGetOption("printer-name", num_options, options);
  if (printer == nullptr) {
    fprintf(stderr, "%s: query needs a printer (-d NAME)\n", kAppName);
    return 1;
  }
  char socket_path[kSocketPathSize] = "";
  HttpOwner http(connectLocalServer(socket_path, sizeof(socket_path)));
  if (http == nullptr) {
    fprintf(stderr, "%s: no server on %s: %s\n", kAppName, ShownText(socket_path).c_str(),
            cupsLastErrorString());
    return 1;
  }
  char resource[kPpdPathSize + sizeof(kQueryResource) + 16];
  httpClearFields(http.get());
  httpSetField(http.get(), HTTP_FIELD_HOST, httpGetHostname(http.get(), nullptr, 0));
  http_status_t status = HTTP_STATUS_ERROR;
  if (httpGet(http.get(), query_resource_of(printer, resource, sizeof(resource))) == 0) {
    while ((status = httpUpdate(http.get())) == HTTP_STATUS_CONTINUE) {
    }
  }
  char buffer[kCopyBufferSize];
  ssize_t got;
  while ((got = httpRead2(http.get(), buffer, sizeof(buffer))) > 0) {
    fwrite(buffer, 1, static_cast<size_t>(got), stdout);
  }
  switch (static_cast<int>(status)) {
    case kQueryAnswered:
      return 0;
    case kQueryNoAnswer:
      fprintf(stderr, "%s: no query got an answer\n", kAppName);
      return 2;
    case kQueryBusy:
      fprintf(stderr, "%s: the printer '%s' is busy with a job; it is asked again later\n",
              kAppName, ShownText(printer).c_str());
      return 2;
    case HTTP_STATUS_NOT_FOUND:
      fprintf(stderr, "%s: no printer '%s'\n", kAppName, ShownText(printer).c_str());
      return 1;
    case HTTP_STATUS_SERVICE_UNAVAILABLE:
      fprintf(stderr, "%s: the device of '%s' cannot be queried\n", kAppName,
              ShownText(printer).c_str());
      return 1;
    default:
      fprintf(stderr, "%s: the server answered %d\n", kAppName, static_cast<int>(status));
      return 1;
  }
}

// The first timer runs once PAPPL has set its own SIGTERM handler, which ours then calls.
bool watch_server_stop(pappl_system_t*, void*) {
  watchServerStop();
  return false;
}

bool save_state(pappl_system_t* system, void* path) {
  return papplSystemSaveState(system, static_cast<const char*>(path));
}

pappl_system_t* make_system(int num_options, cups_option_t* options, void* data) {
  AppContext* context = static_cast<AppContext*>(data);
  const char* port_text = cupsGetOption("server-port", num_options, options);
  const int port = port_text != nullptr ? atoi(port_text) : kDefaultPort;
  if (port < 1 || port > kMaxPort) {
    fprintf(stderr, "%s: bad server-port '%s'\n", kAppName, port_text);
    return nullptr;
  }
  const char* level_text = cupsGetOption("log-level", num_options, options);
  pappl_loglevel_t level = log_level_of(level_text != nullptr ? level_text : "info");
  if (level == PAPPL_LOGLEVEL_UNSPEC) {
    fprintf(stderr, "%s: bad log-level '%s'\n", kAppName, level_text);
    return nullptr;
  }
  const char* listen = cupsGetOption("listen-hostname", num_options, options);
  const char* spool = cupsGetOption("spool-directory", num_options, options);
  const char* log = cupsGetOption("log-file", num_options, options);
  // Root's jobs are spooled where the package made room for them; anyone else's in PAPPL's
  // temporary directory.
  if (spool == nullptr && geteuid() == 0) spool = kDefaultSpoolDirectory;

  // No TLS: the server listens on loopback, where a certificate protects nothing.
  pappl_system_t* system =
      papplSystemCreate(PAPPL_SOPTIONS_MULTI_QUEUE | PAPPL_SOPTIONS_WEB_INTERFACE |
                            PAPPL_SOPTIONS_WEB_LOG | PAPPL_SOPTIONS_NO_TLS,
                        kAppName, port, "_print,_universal", spool,
                        log != nullptr ? log : kDefaultLogFile, level, nullptr, false);
  if (system == nullptr) return nullptr;
  if (!papplSystemAddListeners(system, listen != nullptr ? listen : kDefaultListen)) {
    fprintf(stderr, "%s: cannot listen on %s port %d\n", kAppName,
            listen != nullptr ? listen : kDefaultListen, port);
    papplSystemDelete(system);
    return nullptr;
  }
  // PAPPL looks for a filter to the printer's format first: these come before its own image
  // filters, and before its raw path, which counts a page of its own.
  papplSystemAddMIMEFilter(system, "application/postscript", "application/postscript",
                           printPostScriptDocument, nullptr);
  papplSystemAddMIMEFilter(system, "application/octet-stream", "application/postscript",
                           printPostScriptDocument, nullptr);
  papplSystemAddMIMEFilter(system, "image/jpeg", "application/postscript", printJpegDocument,
                           nullptr);
  papplSystemAddMIMEFilter(system, "image/png", "application/postscript", printPngDocument,
                           nullptr);
  if (pdfConverterFound(context->pdf)) {
    papplSystemAddMIMEFilter(system, "application/pdf", "application/postscript", printPdfDocument,
                             &context->pdf);
  } else {
    papplLog(system, PAPPL_LOGLEVEL_WARN, "No PDF converter at '%s': PDF is not offered.",
             ShownText(context->pdf.converter).c_str());
  }
  pappl_version_t version = {};
  copy_text(version.name, sizeof(version.name), kAppName);
  copy_text(version.sversion, sizeof(version.sversion), kAppVersion);
  version.version[0] = 1;
  papplSystemSetVersions(system, 1, &version);
  papplSystemSetPrinterDrivers(system, context->catalog.count, context->catalog.drivers, autoadd,
                               printer_created, make_driver, context);
  addSystemPages(system);
  addAddPrinterPage(system, &context->catalog);
  if (context->places.public_socket[0] != '\0' &&
      !papplSystemAddListeners(system, context->places.public_socket)) {
    papplLog(system, PAPPL_LOGLEVEL_ERROR, "Cannot listen on %s.",
             ShownText(context->places.public_socket).c_str());
  }
  papplSystemAddTimerCallback(system, 0, kQueryTickSeconds, runDueQueries, context->accessories);
  papplSystemAddTimerCallback(system, 0, 0, watch_server_stop, nullptr);
  for (int i = 0; i < context->catalog.num_skipped; i++) {
    papplLog(system, PAPPL_LOGLEVEL_WARN, "PPD left out: %s.",
             ShownText(context->catalog.skipped[i]).c_str());
  }
  if (context->places.state_file[0] != '\0') {
    papplSystemLoadState(system, context->places.state_file);
    papplSystemSetSaveCallback(system, save_state, context->places.state_file);
  }
  // After the state, which may name an administrators' group of its own.
  setUpAccess(system, &context->access);
  return system;
}

}  // namespace

bool commandLineOption(int argc, char* argv[], const char* name, char* value, size_t size) {
  const size_t length = strlen(name);
  bool found = false;
  for (int i = 1; i < argc; i++) {
    const char* option = nullptr;
    if (strcmp(argv[i], "-o") == 0 && i + 1 < argc) {
      option = argv[++i];
    } else if (strncmp(argv[i], "-o", 2) == 0) {
      option = argv[i] + 2;
    }
    if (option != nullptr && strncmp(option, name, length) == 0 && option[length] == '=') {
      copy_text(value, size, option + length + 1);
      found = true;
    }
  }
  return found;
}

namespace {

// The value of "-o NAME=SECONDS" into *seconds, which keeps its value when there is none;
// false (said on standard error) for a value that is not a count of seconds up to a day.
bool seconds_option(int argc, char* argv[], const char* name, int* seconds) {
  char text[kSecondsOptionSize];
  if (!commandLineOption(argc, argv, name, text, sizeof(text))) return true;
  char* end = nullptr;
  const long value = strtol(text, &end, 10);
  if (end == text || *end != '\0' || value < 0 || value > kMaxOptionSeconds) {
    fprintf(stderr, "%s: bad %s '%s'\n", kAppName, name, ShownText(text).c_str());
    return false;
  }
  *seconds = static_cast<int>(value);
  return true;
}

}  // namespace

int runPrinterApp(int argc, char* argv[]) {
  // Before the sub-commands that are ours, which PAPPL's main loop never sees.
  if (helpAsked(argc, argv)) {
    printUsage(stdout);
    return 0;
  }
  UniqueMalloc<AppContext[]> context = make_array<AppContext>(1);
  if (context == nullptr) {
    fprintf(stderr, "%s: out of memory\n", kAppName);
    return 1;
  }
  char directories[kOptionTextSize];
  if (!commandLineOption(argc, argv, "ppd-directories", directories, sizeof(directories))) {
    format_text(directories, sizeof(directories), "%s:%s", kPackagePpdDirectory,
                kLocalPpdDirectory);
  }
  commandLineOption(argc, argv, "state-file", context[0].places.state_file,
                    sizeof(context[0].places.state_file));
  readAccessSettings(argc, argv, &context[0].access);
  const char* subcommand = argc > 1 ? argv[1] : "";
  if (strcmp(subcommand, "server") == 0 &&
      !prepareServer(context[0].access.admin_group, &context[0].places)) {
    return 1;
  }
  // A printer that closes its connection is a failed write of its job, not the server's end.
  signal(SIGPIPE, SIG_IGN);
  int stall_seconds = kDefaultStallSeconds;
  context[0].pdf.seconds = kDefaultConverterSeconds;
  if (!seconds_option(argc, argv, "stall-timeout", &stall_seconds) ||
      !seconds_option(argc, argv, "converter-timeout", &context[0].pdf.seconds)) {
    return 1;
  }
  if (!commandLineOption(argc, argv, "pdf-converter", context[0].pdf.converter,
                         sizeof(context[0].pdf.converter))) {
    copy_text(context[0].pdf.converter, sizeof(context[0].pdf.converter), kDefaultPdfConverter);
  }
  std::unique_ptr<DeviceWatch, void (*)(DeviceWatch*)> watch(
      strcmp(subcommand, "server") == 0 ? makeDeviceWatch(stall_seconds) : nullptr,
      freeDeviceWatch);
  context[0].watch = watch.get();
  if (strcmp(subcommand, "options") == 0) return listOptionsSubcommand(argc, argv);
  if (strcmp(subcommand, "add") == 0 && !addSubcommandUriAllowed(argc, argv)) return 1;
  // Outlives the system, and with it every printer's accessories and query thread.
  UniqueObject<AccessoryContext> accessories = makeAccessoryContext(context[0].places.state_file);
  context[0].accessories = accessories.get();
  if (accessories == nullptr) {
    fprintf(stderr, "%s: out of memory\n", kAppName);
    return 1;
  }
  scanPpdDirectories(&context[0].catalog, directories);
  // PAPPL's listing browses DNS-SD whether or not avahi-daemon runs, and aborts when it does not.
  if (strcmp(subcommand, "devices") == 0) {
    return listDevicesSubcommand(argc, argv, context[0].catalog);
  }
  if (strcmp(subcommand, "drivers") == 0) {
    int status = 0;
    if (context[0].catalog.count == 0) {
      fprintf(stderr, "%s: no PPD in %s\n", kAppName, directories);
    } else {
      status = listDriversSubcommand(argc, argv, context[0].catalog);
    }
    return status;
  }
  // PAPPL asks a device for its ID with the community "public" only.
  if (strcmp(subcommand, "add") == 0 && !chooseAutoDriver(argc, argv, context[0].catalog)) {
    return 1;
  }
  const int status =
      papplMainloop(argc, argv, kAppVersion, kFooterHtml, context[0].catalog.count,
                    context[0].catalog.drivers, autoadd, make_driver, kQuerySubcommand,
                    query_subcommand, make_system, usageCallback, context.get());
  // Every printer's accessories and query thread end before their files are given back.
  context[0].accessories = nullptr;
  accessories.reset();
  if (strcmp(subcommand, "server") == 0) handBackStateFiles(context[0].places.state_file);
  return status;
}
