// The printer's own web page beside PAPPL's: its driver and PPD, its colour profile (the
// zorv-ucs default and the profiles found), and the media, trays, bins, sides, colour modes and
// resolutions that the PPD gave it.
#ifndef ZORV_APP_WEB_H
#define ZORV_APP_WEB_H

#include <pappl/pappl.h>

#include <cstddef>

// The page's path under the printer's web path: "/<printer>/driver".
inline constexpr char kDriverPage[] = "driver";
inline constexpr char kDriverPageLabel[] = "Driver";

// The page's path for printer into path; false when it does not fit.
bool driverPagePath(pappl_printer_t* printer, char* path, size_t size);

// Adds the printer's page and its link on PAPPL's printer page; removes them again.
void addPrinterPages(pappl_printer_t* printer);
void removePrinterPages(pappl_printer_t* printer);

#endif  // ZORV_APP_WEB_H
