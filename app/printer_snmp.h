// A printer's own SNMPv3 settings, used for its queries instead of the manufacturer's settings
// file once set, and kept in the state file with its accessories.
#ifndef ZORV_APP_PRINTER_SNMP_H
#define ZORV_APP_PRINTER_SNMP_H

#include <pappl/pappl.h>

#include <cstddef>

#include "app/accessories.h"
#include "probe/probe.h"

// Sets them; a passphrase left empty keeps the one set before. Refused, with why (never a
// passphrase), for settings that break a rule; nothing changes then.
SettingOutcome setPrinterSnmpV3(pappl_printer_t* printer, const SnmpV3Settings& settings, char* why,
                                size_t why_size);
// Back to the manufacturer's settings file.
SettingOutcome clearPrinterSnmpV3(pappl_printer_t* printer, char* why, size_t why_size);
// What a page may show of them: false when the printer has none; else the settings without
// their passphrases into shown, and whether each passphrase is set.
bool shownPrinterSnmpV3(pappl_printer_t* printer, SnmpV3Settings* shown, bool* auth_set,
                        bool* priv_set);

#endif  // ZORV_APP_PRINTER_SNMP_H
