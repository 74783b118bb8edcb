// Network path of the option query, as the filter runs it: host, community, and one SNMP GET
// per installable option, all in one round (probe/), whose messages go to standard error and
// whose answers mark the PPD's choices.
#ifndef ZORV_AUTOCONF_SNMP_QUERY_H
#define ZORV_AUTOCONF_SNMP_QUERY_H

#include <cups/ppd.h>

#include "probe/probe.h"

struct snmp_session;

// 0 when the host was found and the option walk ran; -1 when the URI has no usable host.
int snmpUpdateConfigOptions(ppd_file_t* ppd, const char* device_uri);
// Prepares the SNMP library once per process (probeSnmpInit).
void snmpLibraryInit();
// The host in a static 256-byte buffer that the next call overwrites, or null.
const char* hostFromUri(const char* uri);
// One option's GET on session parameters already set up, reported and marked.
void querySnmpOption(ppd_file_t* ppd, ppd_option_t* option, struct snmp_session* session);
// Marks the choice of the option's first Snmp<Keyword> attribute whose expression matches the
// reply text, or says on standard error that none does (the reply text shown escaped).
void applySnmpReply(ppd_file_t* ppd, ppd_option_t* option, const char* reply);
// The same with the option's CUPS-standard "OID<Keyword> <Choice>" values and the answer's
// natural text.
void applyOidReply(ppd_file_t* ppd, ppd_option_t* option, const char* text);
// 0 on a match, REG_NOMATCH, or the regcomp error code (reported on standard error).
int regexMatch(const char* pattern, const char* text);

#endif  // ZORV_AUTOCONF_SNMP_QUERY_H
