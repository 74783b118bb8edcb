// Asks a printer for its state: one SNMP walk of the Printer MIB's input, output, marker
// supplies, colorant and alert tables and the host resources MIB's printer table, each table a
// chain of GETNEXT requests (one column per variable, a row per request), all chains in flight
// together within one time-out. A table ends at its end, at its row bound, or where the
// printer's answers stop moving forward; every value is checked for its type and range.
#ifndef ZORV_PROBE_STATE_WALK_H
#define ZORV_PROBE_STATE_WALK_H

#include <cups/ppd.h>

#include "probe/printer_state.h"
#include "probe/record.h"
#include "probe/snmp_v3_settings.h"

// The whole walk, an SNMPv3 engine's discovery included, ends within this time.
inline constexpr int kStateWalkTimeoutMs = 5000;

// Walks the state of the printer at host with credentials into result (a walk that does not
// end in time, or a refusal, gives no state, only why). probeSnmpInit must have run.
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

#endif  // ZORV_PROBE_STATE_WALK_H
