// The SNMP settings of a printer's manufacturer.
#include "probe/snmp_settings.h"

#include <strings.h>

#include <cstdio>
#include <cstring>

#include "log/settings.h"
#include "log/text.h"

namespace {

constexpr char kDefaultCommunity[] = "mirelo";
constexpr char kSettingsPattern[] = "/opt/%s/mfp/share/OEM.ini";
constexpr char kCommunityKey[] = "SNMP_COMMUNITY";
constexpr size_t kCommunityKeyLength = sizeof(kCommunityKey) - 1;
constexpr const char* kVendors[] = {"Orvane", "Kestrel", "TALMA", "Brightwell", "Pemberly"};

}  // namespace

int parseCommunityLine(char* line, void* buffer) {
  strip_newline(line);
  if (strstr(line, kCommunityKey) == nullptr) return 0;
  // The key is passed over by position, wherever it stands in the line.
  if (strlen(line) < kCommunityKeyLength) return 0;
  const char* equals = strchr(line + kCommunityKeyLength, '=');
  if (equals == nullptr) return 0;
  copy_text(static_cast<char*>(buffer), kSnmpCommunitySize, equals + 1);
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

void snmpRunCommunity(ppd_file_t* ppd, char (&community)[kSnmpCommunitySize], char* source,
                      size_t source_size) {
  if (source != nullptr && source_size > 0) source[0] = '\0';
  if (findSnmpCommunity(ppd, community, sizeof(community), source, source_size) != 0) {
    copy_text(community, sizeof(community), kDefaultCommunity);
  }
}
