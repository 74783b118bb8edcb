// Network path of the option query: host, community, and one SNMP GET per installable option,
// all in one round (snmp_round.h).
#ifndef ZORV_AUTOCONF_SNMP_QUERY_H
#define ZORV_AUTOCONF_SNMP_QUERY_H

#include <cups/ppd.h>

#include <cstddef>

#include "autoconf/option_answer.h"

struct snmp_session;

// 0 when the host was found and the option walk ran; -1 when the URI has no usable host.
int snmpUpdateConfigOptions(ppd_file_t* ppd, const char* device_uri);
// Prepares the SNMP library once per run: init_snmp under the program's name with its MIB
// warnings hushed, packet dumps and debugging off.
void snmpLibraryInit();
// The network path for a known host and community: every installable option's GET at once,
// then each option reported and marked in option order and handed to observer (when not null).
// 0, or -1 when SIGTERM ended the round (nothing reported or marked then).
int snmpQueryOptions(ppd_file_t* ppd, const char* host, const char* community,
                     OptionObserver observer, void* context);
// The host in a static 256-byte buffer that the next call overwrites, or null.
const char* hostFromUri(const char* uri);
// 0 with the community in buffer, -1 with buffer untouched.
int getSnmpCommunity(ppd_file_t* ppd, char* buffer, int size);
// The same, and the settings file it came from into source (when not null).
int findSnmpCommunity(ppd_file_t* ppd, char* buffer, int size, char* source, size_t source_size);
// Room for a community: at most 32 characters.
inline constexpr size_t kSnmpCommunitySize = 33;
// The community a run uses: SNMP_COMMUNITY= of the manufacturer's settings file, with the
// file's path into source (when not null), else the default, with source left empty.
void snmpRunCommunity(ppd_file_t* ppd, char (&community)[kSnmpCommunitySize], char* source,
                      size_t source_size);
// Settings-reader callback: 1 when line set the community in buffer (33 bytes), else 0.
int parseCommunityLine(char* line, void* buffer);
void querySnmpOption(ppd_file_t* ppd, ppd_option_t* option, struct snmp_session* session);
// Marks the choice of the option's first Snmp<Keyword> attribute whose expression matches the
// reply text, or says on standard error that none does (the reply text shown escaped).
void applySnmpReply(ppd_file_t* ppd, ppd_option_t* option, const char* reply);
// 0 on a match, REG_NOMATCH, or the regcomp error code.
int regexMatch(const char* pattern, const char* text);

#endif  // ZORV_AUTOCONF_SNMP_QUERY_H
