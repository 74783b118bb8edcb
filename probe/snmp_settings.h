// The SNMP settings of a printer's manufacturer: the community from the vendor settings file
// "/opt/<vendor>/mfp/share/OEM.ini", else the default.
#ifndef ZORV_PROBE_SNMP_SETTINGS_H
#define ZORV_PROBE_SNMP_SETTINGS_H

#include <cups/ppd.h>

#include <cstddef>

#include "probe/snmp_v3_settings.h"

// The settings file's key of the community.
inline constexpr char kSnmpCommunityKey[] = "SNMP_COMMUNITY";

// 0 with the community in buffer, -1 with buffer untouched: the PPD's manufacturer equals a
// vendor of the list (in any letter case) whose settings file has a SNMP_COMMUNITY= line.
int getSnmpCommunity(ppd_file_t* ppd, char* buffer, int size);
// The same, and the settings file it came from into source (when not null).
int findSnmpCommunity(ppd_file_t* ppd, char* buffer, int size, char* source, size_t source_size);
// The community a query uses: SNMP_COMMUNITY= of the manufacturer's settings file, with the
// file's path into source (when not null), else the default, with source left empty.
void snmpRunCommunity(ppd_file_t* ppd, char (&community)[kSnmpCommunitySize], char* source,
                      size_t source_size);
// Why a query uses the default community, in words naming the settings file it tried, into
// buffer: "tried PATH: <the system's words>", "tried PATH: no SNMP_COMMUNITY= line", or, for a
// manufacturer without a settings file, the vendors that have one.
void snmpDefaultCommunityWords(ppd_file_t* ppd, char* buffer, size_t size);
// The settings file of ppd's manufacturer into path: true when the manufacturer equals a
// vendor of the list (in any letter case), whether or not the file exists.
bool snmpSettingsPath(ppd_file_t* ppd, char* path, size_t size);
// Settings-reader callback: 1 when line set the community in buffer (33 bytes), else 0. The
// first 14 characters of a line that holds "SNMP_COMMUNITY" are passed over wherever the key
// stands; the community is everything after the next '=', unchanged, cut to 32 characters.
int parseCommunityLine(char* line, void* buffer);

// The credentials of a run for ppd's manufacturer: the community as snmpRunCommunity gives it
// (with its file into source, when given), and SNMPv3 when the settings file asks for it and
// meets the rules. report says which file was read (path empty: none) and why SNMPv3 keys were
// not used.
void snmpRunCredentials(ppd_file_t* ppd, SnmpCredentials& credentials, SnmpSettingsReport& report,
                        char* source = nullptr, size_t source_size = 0);

#endif  // ZORV_PROBE_SNMP_SETTINGS_H
