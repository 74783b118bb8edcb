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

// The page of the printer's accessories: each installable option (by the PPD's label), its
// query, what it gave, the choice from the device and the one set by hand (a form), the time of
// the last query, the interval between queries, a button that asks the printer now (the page
// then reloads itself until the answers are there), and the printer's own state
// (app/state_page.h).
inline constexpr char kAccessoriesPage[] = "accessories";
inline constexpr char kAccessoriesPageLabel[] = "Accessories";

// The records of a query made now, as zorvquery shows them, in plain text, for the query
// sub-command: GET /zorv-query?printer=NAME on the local socket (over TCP: an administrator's
// POST with the form's session token) answers 200 when some option got an answer, 202 when
// none did, 203 when a USB printer is busy with a job, 404 for no such printer (or one that
// went while its query waited), 503 when its device cannot be queried.
inline constexpr char kQueryResource[] = "/zorv-query";
inline constexpr int kQueryAnswered = 200;
inline constexpr int kQueryNoAnswer = 202;
inline constexpr int kQueryBusy = 203;

// The path of one of printer's pages (kDriverPage, kAccessoriesPage) into path; false when it
// does not fit.
bool printerPagePath(pappl_printer_t* printer, const char* page, char* path, size_t size);

// Adds the printer's pages (its main page in place of PAPPL's, app/printer_page.h) and their
// links; PAPPL removes both with the printer.
void addPrinterPages(pappl_printer_t* printer);
// Adds the query resource of the system.
void addSystemPages(pappl_system_t* system);

#endif  // ZORV_APP_WEB_H
