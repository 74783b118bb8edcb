// The IEEE 1284 device ID a network printer gives over SNMP, at the PWG's object for it
// (ppmPrinterIEEE1284DeviceId of the printer's first port), asked with the settings of a run:
// what the Printer Application matches to a driver's *1284DeviceID.
#ifndef ZORV_PROBE_DEVICE_ID_H
#define ZORV_PROBE_DEVICE_ID_H

#include <cstddef>

#include "probe/record.h"
#include "probe/snmp_v3_settings.h"

inline constexpr char kPwgDeviceIdOid[] = ".1.3.6.1.4.1.2699.1.2.1.2.1.1.3.1";
// Room for a device ID as kept: escaped (probe/printer_state.h's rule), at most 1023 bytes.
inline constexpr size_t kDeviceIdTextSize = 1024;

// Asks the printer at host for its device ID with credentials (one GET, kSnmpQueryTimeoutMs):
// true with the ID in id (control characters and bytes of no UTF-8 character escaped, cut
// whole); false with why in words ("no answer: Timeout", "no such object (an SNMPv2c
// exception)", "refused: ...", "an empty device ID"). probeSnmpInit must have run.
bool snmpDeviceId(const char* host, const SnmpCredentials& credentials, const ProbeCancel& cancel,
                  char* id, size_t size, char* why, size_t why_size);

#endif  // ZORV_PROBE_DEVICE_ID_H
