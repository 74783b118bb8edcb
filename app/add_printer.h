// The web interface's add-printer page in place of PAPPL's: the same form (a name, a device
// found or a network printer's host, a driver), whose device URI goes through the server's
// rules before a printer is made (app/devices.h), and whose list of devices leaves DNS-SD out,
// and says why, when avahi-daemon does not answer: PAPPL 1.3.1's own page aborts the server
// then.
#ifndef ZORV_APP_ADD_PRINTER_H
#define ZORV_APP_ADD_PRINTER_H

#include <pappl/pappl.h>

#include "app/ppd_catalog.h"

inline constexpr char kAddPrinterPage[] = "/addprinter";

// Adds the page; PAPPL keeps the first resource of a path, so this comes before its own.
// catalog must outlive the system.
void addAddPrinterPage(pappl_system_t* system, const DriverCatalog* catalog);

#endif  // ZORV_APP_ADD_PRINTER_H
