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
#include "log/escape.h"
#include "log/text.h"
#include "probe/device_uri.h"

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

int listDevicesSubcommand(int argc, char* argv[]) {
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
