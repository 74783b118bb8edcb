// The device query as a library: given an open PPD and a device URI, one record per
// installable option of what the printer answered and the choice it picks. It writes nothing
// to standard error or to a log, marks nothing in the PPD, and keeps no state that two
// threads could share, so a server may query several printers at once, each with a PPD
// handle of its own (a handle's attribute lookups keep a position).
#ifndef ZORV_PROBE_PROBE_H
#define ZORV_PROBE_PROBE_H

#include <cups/ppd.h>

#include "probe/device_uri.h"
#include "probe/record.h"

// Queries the printer of uri about every installable option of ppd into result: by SNMP for a
// network URI (the community, or the SNMPv3 settings, from the manufacturer's settings file;
// SNMPv3 settings that are not used are a kSnmpSettingsUnused note), by endpoint-0 requests
// for a USB URI. result.status tells whether the printer was reached; a URI without a host is
// kProbeNoDevice with a kNoHost note, one of another kind kProbeUnsupported.
void probeDevice(ppd_file_t* ppd, const char* uri, const ProbeCancel& cancel, ProbeResult& result);

struct SnmpV3Settings;
// The same, with a program's own SNMPv3 settings for a network URI instead of the
// manufacturer's settings file (v3 null: the file, as probeDevice).
void probeDeviceWith(ppd_file_t* ppd, const char* uri, const SnmpV3Settings* v3,
                     const ProbeCancel& cancel, ProbeResult& result);

#endif  // ZORV_PROBE_PROBE_H
