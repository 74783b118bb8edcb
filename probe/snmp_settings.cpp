// The SNMP settings of a printer's manufacturer.
#include "probe/snmp_settings.h"

#include <strings.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "log/settings.h"
#include "log/text.h"

namespace {

constexpr char kDefaultCommunity[] = "mirelo";
constexpr char kSettingsPattern[] = "/opt/%s/mfp/share/OEM.ini";
constexpr const char* kVendors[] = {"Orvane", "Kestrel", "TALMA", "Brightwell", "Pemberly"};

}  // namespace

int parseCommunityLine(char* line, void* buffer) {
  strip_newline(line);
  const char* value = settingLineValue(line, kSnmpCommunityKey);
  if (value == nullptr) return 0;
  copy_text(static_cast<char*>(buffer), kSnmpCommunitySize, value);
  return 1;
}

int getSnmpCommunity(ppd_file_t* ppd, char* buffer, int size) {
  return findSnmpCommunity(ppd, buffer, size, nullptr, 0);
}

int findSnmpCommunity(ppd_file_t* ppd, char* buffer, int size, char* source, size_t source_size) {
  if (ppd == nullptr || ppd->manufacturer == nullptr || buffer == nullptr ||
      size < static_cast<int>(kSnmpCommunitySize)) {
    return -1;
  }
  for (const char* vendor : kVendors) {
    if (strcasecmp(vendor, ppd->manufacturer) != 0) continue;
    char path[kSettingsPathSize];
    snprintf(path, sizeof(path), kSettingsPattern, vendor);
    if (read_settings(path, parseCommunityLine, buffer) == 1) {
      if (source != nullptr) copy_text(source, source_size, path);
      return 0;
    }
  }
  return -1;
}

bool snmpSettingsPath(ppd_file_t* ppd, char* path, size_t size) {
  if (ppd == nullptr || ppd->manufacturer == nullptr || path == nullptr || size == 0) return false;
  for (const char* vendor : kVendors) {
    if (strcasecmp(vendor, ppd->manufacturer) != 0) continue;
    snprintf(path, size, kSettingsPattern, vendor);
    return true;
  }
  return false;
}

void snmpDefaultCommunityWords(ppd_file_t* ppd, char* buffer, size_t size) {
  if (buffer == nullptr || size == 0) return;
  char path[kSettingsPathSize];
  if (!snmpSettingsPath(ppd, path, sizeof(path))) {
    char vendors[kSettingsPathSize] = "";
    for (const char* vendor : kVendors) {
      const size_t used = strlen(vendors);
      snprintf(vendors + used, sizeof(vendors) - used, "%s%s", used > 0 ? ", " : "", vendor);
    }
    char pattern[kSettingsPathSize];
    snprintf(pattern, sizeof(pattern), kSettingsPattern, "<vendor>");
    snprintf(buffer, size, "tried none: only %s have a settings file (%s)", vendors, pattern);
    return;
  }
  char community[kSnmpCommunitySize];
  errno = 0;
  const int found = read_settings(path, parseCommunityLine, community);
  const int error = errno;
  explicit_bzero(community, sizeof(community));
  if (found == 1) {
    snprintf(buffer, size, "tried %s", path);
  } else if (found == 0) {
    snprintf(buffer, size, "tried %s: no %s= line", path, kSnmpCommunityKey);
  } else {
    snprintf(buffer, size, "tried %s: %s", path, strerror(error));
  }
}

void snmpRunCommunity(ppd_file_t* ppd, char (&community)[kSnmpCommunitySize], char* source,
                      size_t source_size) {
  if (source != nullptr && source_size > 0) source[0] = '\0';
  if (findSnmpCommunity(ppd, community, sizeof(community), source, source_size) != 0) {
    copy_text(community, sizeof(community), kDefaultCommunity);
  }
}

void snmpRunCredentials(ppd_file_t* ppd, SnmpCredentials& credentials, SnmpSettingsReport& report,
                        char* source, size_t source_size) {
  report = SnmpSettingsReport();
  snmpRunCommunity(ppd, credentials.community, source, source_size);
  credentials.use_v3 = false;
  char path[kSettingsPathSize];
  if (!snmpSettingsPath(ppd, path, sizeof(path))) return;
  credentials.use_v3 = readSnmpV3Settings(path, credentials.v3, report) == 1;
  if (!credentials.use_v3 && report.problem == SnmpSettingsProblem::kNone) report.path[0] = '\0';
}
