// The printer's main page ("/<printer>/") in place of PAPPL's: its status and
// printer-state-reasons, links to its pages and PAPPL's, pausing, resuming and making it the
// default (for administrators), and the summary of its installed accessories, trays and
// supplies. PAPPL's own main page has no room for a driver's content; the first resource added
// for a path wins, so this one is added when the printer is made, before PAPPL adds its own.
#ifndef ZORV_APP_PRINTER_PAGE_H
#define ZORV_APP_PRINTER_PAGE_H

#include <pappl/pappl.h>

void addPrinterMainPage(pappl_printer_t* printer);

#endif  // ZORV_APP_PRINTER_PAGE_H
