// The queries of the printers' accessories, each in a thread of its own: of the installable
// options (probe/) when a printer is added, when the server starts, at its interval and on
// demand; of a network printer's state at its own interval. At most kMaxRunningQueries run at
// once; a printer's query is stopped through a descriptor and waited for before it goes.
#ifndef ZORV_APP_QUERY_SCHEDULE_H
#define ZORV_APP_QUERY_SCHEDULE_H

#include <pappl/pappl.h>

#include <cstdio>

// Queries of different printers that run at the same time, at most.
inline constexpr int kMaxRunningQueries = 4;

// The timer callback (its data the AccessoryContext): starts the queries that are due, within
// the bound; always true.
bool runDueQueries(pappl_system_t* system, void* context);
// Asks for a query of the printer, and for a walk of its state when it is a network printer,
// as soon as the bound allows (the web page's button).
void requestQuery(pappl_printer_t* printer);

// PAPPL's status callback: publishes the printer's last known state (supplies,
// printer-state-reasons), never asking the printer. Always true.
bool printerStatus(pappl_printer_t* printer);

// What became of a query asked for now.
enum class QueryOutcome {
  kAsked,        // the device was asked; answered options answered
  kCannotQuery,  // the printer's device cannot be queried
  kBusy,         // a USB printer busy with a job: asked again later
  kGone,         // the printer has no accessories, or went while the query waited its turn
};
struct QueryResult {
  QueryOutcome outcome;
  int answered;
};

// Runs a query of the printer now, in the calling thread (after the one running, if any), and
// writes its records to out as zorvquery shows them.
QueryResult queryNow(pappl_printer_t* printer, FILE* out);

#endif  // ZORV_APP_QUERY_SCHEDULE_H
