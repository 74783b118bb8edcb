// The devices a printer of the server may use, and the devices it can find.
#include "app/devices.h"

#include <avahi-client/client.h>
#include <avahi-common/error.h>
#include <avahi-common/simple-watch.h>

#include <cctype>
#include <cstdio>
#include <cstring>
#include <memory>

#include "app/handles.h"
#include "app/system.h"
#include "common/secret.h"
#include "log/escape.h"
#include "log/text.h"
#include "probe/probe.h"

namespace {

constexpr size_t kSchemeSize = 32;

struct AvahiPollDeleter {
  void operator()(AvahiSimplePoll* poll) const { avahi_simple_poll_free(poll); }
};
struct AvahiClientDeleter {
  void operator()(AvahiClient* client) const { avahi_client_free(client); }
};

void ignore_client_state(AvahiClient*, AvahiClientState, void*) {}

// The scheme of uri ("file" for "file:///x"), lowercase; "" when there is none.
void scheme_of(const char* uri, char* scheme, size_t size) {
  scheme[0] = '\0';
  const char* colon = strchr(uri, ':');
  if (colon == nullptr || static_cast<size_t>(colon - uri) >= size) return;
  for (size_t i = 0; uri + i < colon; ++i) {
    scheme[i] = static_cast<char>(tolower(static_cast<unsigned char>(uri[i])));
  }
  scheme[colon - uri] = '\0';
}

bool print_device(const char* info, const char* uri, const char* id, void* verbose) {
  printf("%s\n", ShownText(uri).c_str());
  if (verbose != nullptr && info != nullptr) printf("    %s\n", ShownText(info).c_str());
  if (verbose != nullptr && id != nullptr) printf("    %s\n", ShownText(id).c_str());
  return false;
}

void print_device_error(const char* message, void*) {
  printf("%s: %s\n", kAppName, ShownText(message).c_str());
}

// The value of a sub-command's option ("-m NAME"), its index in argv, or 0.
int option_index(int argc, char* argv[], const char* option) {
  for (int i = 2; i + 1 < argc; i++) {
    if (strcmp(argv[i], option) == 0) return i + 1;
  }
  return 0;
}

// One try of deviceIdOfPrinter: the settings of ppd's manufacturer (null: the default
// community), unless the settings file of key was tried already.
bool try_settings(ppd_file_t* ppd, NetworkQuery& query, char (*tried)[kSettingsPathSize],
                  size_t* tried_count, char* id, size_t size, char* source, size_t source_size,
                  char* why, size_t why_size) {
  if (!chooseCredentials(ppd, nullptr, query)) return false;
  const SnmpCredentials& credentials = *query.credentials;
  const SnmpSettingsReport& report = query.report;
  const char* community_source = query.community_source;
  char key[kSettingsPathSize];
  if (credentials.use_v3) {
    format_text(key, sizeof(key), "SNMPv3 of %s", report.path);
  } else if (community_source[0] != '\0') {
    format_text(key, sizeof(key), "the community of %s", community_source);
  } else {
    copy_text(key, sizeof(key), "the default community");
  }
  for (size_t i = 0; i < *tried_count; i++) {
    if (strcmp(tried[i], key) == 0) return false;
  }
  copy_text(tried[(*tried_count)++], kSettingsPathSize, key);
  char words[kDeviceWordsSize];
  if (snmpDeviceId(query.host, credentials, ProbeCancel{}, id, size, words, sizeof(words))) {
    copy_text(source, source_size, key);
    return true;
  }
  const size_t used = strlen(why);
  format_text(why + used, why_size - used, "%s%s: %s", used > 0 ? "; " : "", key, words);
  return false;
}

}  // namespace

bool deviceUriAllowed(const char* uri, char* why, size_t why_size) {
  if (uri == nullptr || uri[0] == '\0') {
    copy_text(why, why_size, "there is no device URI");
    return false;
  }
  char scheme[kSchemeSize];
  scheme_of(uri, scheme, sizeof(scheme));
  if (strcmp(scheme, "file") == 0) {
    copy_text(why, why_size,
              "a file: device would write the server's files; print to a network or USB "
              "printer");
    return false;
  }
  const char* host_why = "";
  char host[kHostSize];
  if (connectionType(uri) == kConnectionNetwork && !hostOfUri(uri, host, sizeof(host), &host_why)) {
    format_text(why, why_size, "the device URI is refused: %s", host_why);
    return false;
  }
  char missing[kDeviceWordsSize];
  if (strcmp(scheme, "dnssd") == 0 && !dnssdAvailable(missing, sizeof(missing))) {
    format_text(why, why_size, "DNS-SD is not available (%s)", missing);
    return false;
  }
  copy_text(why, why_size, "");
  return true;
}

bool dnssdAvailable(char* why, size_t why_size) {
  std::unique_ptr<AvahiSimplePoll, AvahiPollDeleter> poll(avahi_simple_poll_new());
  if (poll == nullptr) {
    copy_text(why, why_size, "no memory for an avahi client");
    return false;
  }
  // Without AVAHI_CLIENT_NO_FAIL the client exists only while the daemon answers.
  int error = 0;
  std::unique_ptr<AvahiClient, AvahiClientDeleter> client(avahi_client_new(
      avahi_simple_poll_get(poll.get()), static_cast<AvahiClientFlags>(0), ignore_client_state,
      nullptr, &error));
  if (client == nullptr) {
    format_text(why, why_size, "avahi-daemon: %s", avahi_strerror(error));
    return false;
  }
  copy_text(why, why_size, "");
  return true;
}

pappl_devtype_t listableDeviceTypes(pappl_devtype_t types, char* why, size_t why_size) {
  copy_text(why, why_size, "");
  if ((types & PAPPL_DEVTYPE_DNS_SD) == 0) return types;
  char missing[kDeviceWordsSize];
  if (dnssdAvailable(missing, sizeof(missing))) return types;
  format_text(why, why_size, "DNS-SD printers are not listed: %s", missing);
  return static_cast<pappl_devtype_t>(types & ~PAPPL_DEVTYPE_DNS_SD);
}

bool deviceIdOfPrinter(const DriverCatalog& catalog, const char* uri, char* id, size_t size,
                       char* source, size_t source_size, char* why, size_t why_size) {
  copy_text(why, why_size, "");
  NetworkQuery query;
  const char* host_why = "";
  const int setup = setupNetworkQuery(uri, nullptr, nullptr, query, &host_why);
  if (setup == kProbeUnsupported) {
    copy_text(why, why_size, "not a network device URI (socket:, ipp:, http:, lpd:)");
    return false;
  }
  if (setup == kProbeNoDevice) {
    format_text(why, why_size, "the device URI is refused: %s", host_why);
    return false;
  }
  if (setup != kProbeDone) return false;
  UniqueMalloc<char[][kSettingsPathSize]> tried =
      make_array<char[kSettingsPathSize]>(static_cast<size_t>(catalog.count) + 1);
  if (tried == nullptr) return false;
  size_t count = 0;
  for (int i = 0; i < catalog.count; i++) {
    UniquePpd ppd(ppdOpenFile(catalog.entries[i].ppd_path));
    if (ppd != nullptr && try_settings(ppd.get(), query, tried.get(), &count, id, size, source,
                                       source_size, why, why_size)) {
      return true;
    }
  }
  return try_settings(nullptr, query, tried.get(), &count, id, size, source, source_size, why,
                      why_size);
}

bool chooseAutoDriver(int argc, char* argv[], const DriverCatalog& catalog) {
  const int driver = option_index(argc, argv, "-m");
  const int device = option_index(argc, argv, "-v");
  if (driver == 0 || device == 0 || strcmp(argv[driver], "auto") != 0 ||
      connectionType(argv[device]) != kConnectionNetwork) {
    return true;
  }
  char id[kDeviceIdTextSize];
  char source[kSettingsPathSize];
  UniqueMalloc<char[]> why = make_array<char>(kTriesWordsSize);
  if (why == nullptr) return true;
  if (!deviceIdOfPrinter(catalog, argv[device], id, sizeof(id), source, sizeof(source), why.get(),
                         kTriesWordsSize)) {
    fprintf(stderr, "%s: the printer gave no IEEE 1284 device ID over SNMP (%s); the server "
                    "tries its own way\n",
            kAppName, ShownText(why.get()).c_str());
    return true;
  }
  const char* name = matchDeviceId(catalog, id);
  if (name == nullptr) {
    fprintf(stderr,
            "%s: Unable to add printer: no driver's *1284DeviceID names the manufacturer and "
            "model of the printer's device ID '%s' (asked with %s).\n",
            kAppName, ShownText(id).c_str(), ShownText(source).c_str());
    return false;
  }
  fprintf(stderr, "%s: the printer's device ID '%s' (asked with %s) matches the driver %s\n",
          kAppName, ShownText(id).c_str(), ShownText(source).c_str(), name);
  argv[driver] = const_cast<char*>(name);
  return true;
}

int listDevicesSubcommand(int argc, char* argv[], const DriverCatalog& catalog) {
  const int device = option_index(argc, argv, "-v");
  if (device != 0) {
    char id[kDeviceIdTextSize];
    char source[kSettingsPathSize];
    UniqueMalloc<char[]> why = make_array<char>(kTriesWordsSize);
    if (why == nullptr) return 1;
    if (!deviceIdOfPrinter(catalog, argv[device], id, sizeof(id), source, sizeof(source),
                           why.get(), kTriesWordsSize)) {
      fprintf(stderr, "%s: %s gave no IEEE 1284 device ID: %s\n", kAppName,
              ShownText(argv[device]).c_str(), ShownText(why.get()).c_str());
      return 1;
    }
    const char* name = matchDeviceId(catalog, id);
    printf("%s\n    %s\n    asked with %s\n    driver %s\n", ShownText(argv[device]).c_str(),
           ShownText(id).c_str(), ShownText(source).c_str(),
           name != nullptr ? name : "none (no *1284DeviceID names its manufacturer and model)");
    return 0;
  }
  bool verbose = false;
  for (int i = 2; i + 1 < argc; i++) {
    if (strcmp(argv[i], "-o") == 0 && strstr(argv[i + 1], "verbose") != nullptr) verbose = true;
  }
  char why[kDeviceWordsSize];
  const pappl_devtype_t types = listableDeviceTypes(PAPPL_DEVTYPE_ALL, why, sizeof(why));
  if (why[0] != '\0') fprintf(stderr, "%s: %s\n", kAppName, why);
  papplDeviceList(types, print_device, verbose ? argv : nullptr, print_device_error, nullptr);
  return 0;
}

bool addSubcommandUriAllowed(int argc, char* argv[]) {
  for (int i = 2; i + 1 < argc; i++) {
    if (strcmp(argv[i], "-v") != 0) continue;
    char why[kDeviceWordsSize];
    if (!deviceUriAllowed(argv[i + 1], why, sizeof(why))) {
      fprintf(stderr, "%s: Unable to add printer: %s.\n", kAppName, why);
      return false;
    }
  }
  return true;
}
