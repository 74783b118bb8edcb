// The network path of a device query: for every installable option, the GET of the OID its
// query attribute names, all in one round, and the choice the answer picks.
#ifndef ZORV_PROBE_SNMP_PROBE_H
#define ZORV_PROBE_SNMP_PROBE_H

#include <cups/ppd.h>

#include "probe/probe.h"
#include "probe/snmp_round.h"
#include "probe/snmp_v3_settings.h"

struct snmp_session;

// Each GET waits this long, and is sent once.
inline constexpr int kSnmpQueryTimeoutMs = 3000;
inline constexpr int kSnmpQueryRetries = 0;

// Queries every installable option of ppd at host with community into result (status, one
// record per option). The option's query line is its own "?Snmp<Keyword>", else the
// CUPS-standard "?OID<Keyword>" (or "OID<Keyword>" without a choice), whose answers are
// compared with the OID<Keyword> values instead of the Snmp<Keyword> expressions. A cancelled
// round leaves every record kNotAsked. probeSnmpInit must have run.
void probeSnmpOptions(ppd_file_t* ppd, const char* host, const char* community,
                      const ProbeCancel& cancel, ProbeResult& result);
// The same with the credentials a program chose: SNMPv1 with their community, or SNMPv3 with
// their settings (snmpRunCredentials reads the manufacturer's; a server fills them from its
// own state). SNMPv3 settings the library cannot use (a protocol it lacks) give every
// queried option the record kNoSession with the reason in its detail; reports of the printer
// give kRefused.
void probeSnmpOptions(ppd_file_t* ppd, const char* host, const SnmpCredentials& credentials,
                      const ProbeCancel& cancel, ProbeResult& result);

// How an answer is rendered: the reply text of the Snmp<Keyword> attributes, or the natural
// text of the CUPS-standard OID<Keyword> attributes.
enum class SnmpTextForm { kReply, kNatural };

// The outcome of one GET of a round as record fields (outcome, detail, failed_call,
// error_status, exception, and the rendered reply when there is one).
void snmpRecordOutcome(const SnmpRequest& request, SnmpTextForm form, ProbeRecord& record);

#endif  // ZORV_PROBE_SNMP_PROBE_H
