// The printer's own state on its pages: the trays, output bins, supplies and alerts of the last
// walk the printer answered, its status, when it answered and, when a later walk failed, that
// the state is stale and why; and the summary on the printer's main page.
#ifndef ZORV_APP_STATE_PAGE_H
#define ZORV_APP_STATE_PAGE_H

#include <pappl/pappl.h>

// The section of the Accessories page (inside its form: the interval's field is the form's).
void stateSection(pappl_client_t* client, pappl_printer_t* printer);

// The summary of the printer's main page: the installed accessories by their PPD labels, the
// trays and the supplies, with when the printer last answered.
void stateSummary(pappl_client_t* client, pappl_printer_t* printer);

#endif  // ZORV_APP_STATE_PAGE_H
