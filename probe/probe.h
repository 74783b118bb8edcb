// The device query library as the programs see it (the filter, zorvquery, the Printer
// Application): a printer's installable options, its state and its IEEE 1284 device ID, asked
// over SNMP (v1, v2c to an IPv6 address, or v3) or USB; the records of what it said and their
// words; the settings the queries use and what is wrong with them. The SNMP transport (the
// library's set-up, sessions, rounds, the USM, the values) and the USB requests stay inside
// probe/.
//
// Nothing here writes to standard error or to a log, marks anything in a PPD, or keeps state
// that two threads could share: a server may ask several printers at once, each with a PPD
// handle of its own (a handle's attribute lookups keep a position).
#ifndef ZORV_PROBE_PROBE_H
#define ZORV_PROBE_PROBE_H

#include <cups/ppd.h>

#include <cstddef>

#include "common/secret.h"
#include "probe/device_uri.h"
#include "probe/messages.h"
#include "probe/ppd_handles.h"
#include "probe/printer_state.h"
#include "probe/record.h"
#include "probe/report.h"
#include "probe/snmp_settings.h"
#include "probe/state_report.h"

struct snmp_session;
struct usb_dev_handle;

// Sets the SNMP library up for the process, once, whichever thread comes first (every query
// does it itself; a program calls it only to read OIDs by MIB names before any query).
void probeInit();

// The network side of a query, set up once for every program: the URI's host and the
// credentials of the run, on pages that are never dumped or swapped (they may hold SNMPv3
// passphrases).
struct NetworkQuery {
  char host[kHostSize] = "";
  Secret<SnmpCredentials> credentials;  // null only when no page could be had
  SnmpSettingsReport report;            // the SNMPv3 settings file, or why it is not used
  char community_source[kSettingsPathSize] = "";  // the community's file; "": the default
};

// Sets up a query of the network printer at uri: the SNMP library, the URI's host, and the
// credentials: SNMPv3 with v3 when given, else those of ppd's manufacturer (null: the default
// community). When they hold SNMPv3 secrets the process leaves core dumps. kProbeDone;
// kProbeUnsupported for a URI that is not a network one; kProbeNoDevice with *why (when why is
// given) for a host that is refused; kProbeNoMemory.
int setupNetworkQuery(const char* uri, ppd_file_t* ppd, const SnmpV3Settings* v3,
                      NetworkQuery& query, const char** why = nullptr);
// The credentials alone, for a host already set (one manufacturer's settings after another):
// false when no page could be had.
bool chooseCredentials(ppd_file_t* ppd, const SnmpV3Settings* v3, NetworkQuery& query);

// Queries the printer of uri about every installable option of ppd into result: by SNMP for a
// network URI (the community, or the SNMPv3 settings, from the manufacturer's settings file;
// SNMPv3 settings that are not used are a kSnmpSettingsUnused note), by endpoint-0 requests
// for a USB URI. result.status tells whether the printer was reached; a URI whose host is
// refused is kProbeNoDevice with a kNoHost note, one of another kind kProbeUnsupported.
void probeDevice(ppd_file_t* ppd, const char* uri, const ProbeCancel& cancel, ProbeResult& result);
// The same, with a program's own SNMPv3 settings for a network URI instead of the
// manufacturer's settings file (v3 null: the file, as probeDevice).
void probeDeviceWith(ppd_file_t* ppd, const char* uri, const SnmpV3Settings* v3,
                     const ProbeCancel& cancel, ProbeResult& result);
// The network query of every installable option, once set up: the note of SNMPv3 settings not
// used, then one record per option. The option's query line is its own "?Snmp<Keyword>", else
// the CUPS-standard "?OID<Keyword>" (or "OID<Keyword>" without a choice), whose answers are
// compared with the OID<Keyword> values instead of the Snmp<Keyword> expressions. A cancelled
// round leaves every record kNotAsked.
void probeNetworkOptions(ppd_file_t* ppd, const NetworkQuery& query, const ProbeCancel& cancel,
                         ProbeResult& result);
// Adds the note that SNMPv3 settings were not used, with report's file and reason, to the
// device notes before the records; nothing when report has no problem.
void noteSnmpSettings(const SnmpSettingsReport& report, ProbeResult& result);

// One option on session parameters the caller set up (null: none, which is the record's
// kNoSession without a failed call); its notes go to notes.
void probeSnmpOption(ppd_file_t* ppd, const ppd_option_t* option, struct snmp_session* session,
                     const ProbeCancel& cancel, ProbeRecord& record, HeapList<ProbeNote>& notes);
// One GET of oid_text on the caller's session parameters, waiting timeout_ms with retries:
// the answer's reply text into buffer (by snmpValueText's length rule) and its length, or -1
// with record (record.query is oid_text) saying why. SIGTERM cancels it.
int probeSnmpGet(struct snmp_session* session, const char* oid_text, char* buffer, size_t size,
                 int timeout_ms, int retries, ProbeRecord& record);
// The record of an answer already had (the reply text of an SNMP family), tried against the
// option's reply attributes of family; the notes that arise go to notes.
void probeAnsweredRecord(ppd_file_t* ppd, const ppd_option_t* option, ProbeFamily family,
                         const char* reply, ProbeRecord& record, HeapList<ProbeNote>& notes);

// Each USB control request waits this long.
inline constexpr int kUsbTimeoutMs = 3000;
// Finds the printer, queries every installable option into result and closes the printer.
// libusb 0.1 keeps its bus list and its last error process-wide, so USB queries of several
// threads run one after another. A cancel is seen between requests.
void probeUsbOptions(ppd_file_t* ppd, const char* device_uri, const ProbeCancel& cancel,
                     ProbeResult& result);
// The first printer-class device, in the library's bus and device order, whose product string
// (which must not be empty) and the PPD's model name contain one another, and, when the device
// URI names a serial number ("usb://Make/Model?serial=S"), whose serial number is that one;
// open and owned by the caller, null when none matched. What went wrong on the way goes to
// notes.
struct usb_dev_handle* probeUsbMatch(ppd_file_t* ppd, const char* device_uri,
                                     HeapList<DeviceNote>& notes);
// Sends the request of the option's query attribute and tries the masked answer against its
// reply attributes, into record; its notes go to notes.
void probeUsbOption(struct usb_dev_handle* handle, ppd_file_t* ppd, const ppd_option_t* option,
                    ProbeRecord& record, HeapList<ProbeNote>& notes);

// An extended regular expression searched for in text: 0 on a match, REG_NOMATCH, or the
// non-zero regcomp error code with its words in error (error_size bytes, when error is given).
int regexSearch(const char* pattern, const char* text, char* error = nullptr,
                size_t error_size = 0);
// Whether a query attribute's value of family can be read: an OID (numeric, or a name of a
// loaded MIB), or the setup and mask bytes of an Ep0 query.
bool probeQueryReadable(ProbeFamily family, const char* value);

// Asks a printer for its state: one SNMP walk of the Printer MIB's input, output, marker
// supplies, colorant and alert tables and the host resources MIB's printer table, each table a
// chain of GETNEXT requests (one column per variable, a row per request), all chains in flight
// together within one time-out. A table ends at its end, at its row bound, or where the
// printer's answers stop moving forward; every value is checked for its type and range.
// The whole walk, an SNMPv3 engine's discovery included, ends within this time.
inline constexpr int kStateWalkTimeoutMs = 5000;
// Walks the state of the printer at host with credentials into result (a walk that does not
// end in time, or a refusal, gives no state, only why).
void walkPrinterState(const char* host, const SnmpCredentials& credentials,
                      const ProbeCancel& cancel, PrinterStateResult& result,
                      int timeout_ms = kStateWalkTimeoutMs);
// The same for the printer of a network device URI, with the credentials of ppd's
// manufacturer (the community of its settings file, or its SNMPv3 settings; null ppd: the
// default community), or v3 when given. A URI without a host is kNotAsked with the reason in
// the detail; one of another kind kNotAsked with an empty detail. report, when given, says
// which settings file was read and why its SNMPv3 settings were not used.
void probePrinterState(ppd_file_t* ppd, const char* uri, const SnmpV3Settings* v3,
                       const ProbeCancel& cancel, PrinterStateResult& result,
                       SnmpSettingsReport* report = nullptr);

// The IEEE 1284 device ID a network printer gives over SNMP, at the PWG's object for it
// (ppmPrinterIEEE1284DeviceId of the printer's first port), asked with the settings of a run:
// what the Printer Application matches to a driver's *1284DeviceID.
inline constexpr char kPwgDeviceIdOid[] = ".1.3.6.1.4.1.2699.1.2.1.2.1.1.3.1";
// Room for a device ID as kept: escaped (probe/printer_state.h's rule), at most 1023 bytes.
inline constexpr size_t kDeviceIdTextSize = 1024;
// Asks the printer at host for its device ID with credentials (one GET, kSnmpQueryTimeoutMs):
// true with the ID in id (control characters and bytes of no UTF-8 character escaped, cut
// whole); false with why in words ("no answer: Timeout", "no such object (an SNMPv2c
// exception)", "refused: ...", "an empty device ID").
bool snmpDeviceId(const char* host, const SnmpCredentials& credentials, const ProbeCancel& cancel,
                  char* id, size_t size, char* why, size_t why_size);

#endif  // ZORV_PROBE_PROBE_H
