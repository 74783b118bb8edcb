// A printer's accessories as the server learns them: the device query of the filters (probe/)
// run in the background for each printer when it is added, when the server starts, at an
// interval and on demand; each installable option's choice from the device, kept when a query
// fails; a choice set by hand that wins over it until cleared; and the printer's IPP
// capabilities made to follow the installed choices through the PPD's own constraints. What
// was learned is kept in a file beside the server's state and survives a restart.
#ifndef ZORV_APP_ACCESSORIES_H
#define ZORV_APP_ACCESSORIES_H

#include <cups/ppd.h>
#include <pappl/pappl.h>
#include <pthread.h>

#include <atomic>
#include <cstddef>
#include <cstdio>
#include <ctime>

#include "app/capabilities.h"
#include "app/ppd_driver.h"
#include "app/printer_state.h"
#include "common/handles.h"
#include "probe/ppd_attributes.h"
#include "probe/record.h"
#include "probe/snmp_v3_settings.h"

// How often a printer is asked when nothing else asks: the default of the printer setting.
inline constexpr int kDefaultQueryInterval = 3600;
inline constexpr int kShortestQueryInterval = 60;
inline constexpr int kLongestQueryInterval = 7 * 24 * 3600;
// Queries of different printers that run at the same time, at most.
inline constexpr int kMaxRunningQueries = 4;
// The vendor attribute with the installed choices, "Keyword=Choice" names.
inline constexpr char kInstalledAttribute[] = "zorv-installed";
inline constexpr size_t kQueryTextSize = 256;
inline constexpr size_t kWordsSize = 256;
inline constexpr size_t kStatePathSize = kPpdPathSize + 16;

// One installable option of a printer, as the web page shows it.
struct InstalledOption {
  char keyword[kAttributeNameSize];
  char ppd_default[kChoiceSize];
  char device_choice[kChoiceSize];  // "" until the device named a choice
  char hand_choice[kChoiceSize];    // "" when none is set by hand
  // The last query that reached this option.
  ProbeOutcome outcome;
  char query_name[kAttributeNameSize];
  char query[kQueryTextSize];  // cut to fit
  char reply[kReplyTextSize];
  char words[kWordsSize];  // why there is no reply, in words; or a note on it
  time_t asked;            // 0: never
};

// The choice the printer is taken to have: set by hand, else from the device, else the PPD's.
const char* effectiveChoice(const InstalledOption& option);

struct PrinterAccessories;

// What the accessories of every printer share: the bound on running queries, the file the
// choices are kept in ("" keeps nothing) and every printer's accessories, to write that file.
struct AccessoryContext {
  std::atomic<int> running{0};
  char state_path[kStatePathSize] = "";
  pthread_mutex_t lock = PTHREAD_MUTEX_INITIALIZER;  // of printers
  HeapList<PrinterAccessories*> printers;
};

// The shared part of the accessories, on the C heap; state_file is the server's state file
// (the choices are kept beside it) or "" (nothing is kept). Null when memory runs out.
AccessoryContext* makeAccessoryContext(const char* state_file);
void freeAccessoryContext(AccessoryContext* context);

// Makes the accessories of a printer whose driver was just made: its options from the PPD,
// what the state file kept for it, the capabilities that follow, and a query to come.
void attachAccessories(pappl_printer_t* printer, AccessoryContext* context);
// Stops the printer's query, waits for it to end, and frees the accessories. For the driver's
// delete callback.
void detachAccessories(PrinterAccessories* accessories);

// The timer callback: starts the queries that are due, within the bound; always true.
bool runDueQueries(pappl_system_t* system, void* context);
// Asks for a query of the printer, and for a walk of its state when it is a network printer,
// as soon as the bound allows (the web page's button).
void requestQuery(pappl_printer_t* printer);

// PAPPL's status callback: publishes the printer's last known state (supplies,
// printer-state-reasons), never asking the printer. Always true.
bool printerStatus(pappl_printer_t* printer);
// Sets the interval between the walks of the printer's state, in seconds, within the bounds.
void setStateInterval(pappl_printer_t* printer, int seconds);
// A copy of the printer's kept state, its interval and whether it is asked at all (a network
// printer); false for a printer without accessories.
bool copyKeptState(pappl_printer_t* printer, KeptState* kept, int* interval, bool* network);
// Runs a query of the printer now, in the calling thread (after the one running, if any), and
// writes its records to out as zorvquery shows them. Returns the number of options that got an
// answer, or -1 when the printer's device cannot be queried.
int queryNow(pappl_printer_t* printer, FILE* out);

// Sets option keyword by hand to choice ("" clears it, and the device's choice counts again).
// False for an option or a choice the PPD does not have.
bool setHandChoice(pappl_printer_t* printer, const char* keyword, const char* choice);
// Sets the interval between the printer's queries, in seconds, within the bounds.
void setQueryInterval(pappl_printer_t* printer, int seconds);

// The printer's own SNMPv3 settings, used instead of the manufacturer's settings file once set;
// a passphrase left empty keeps the one set before. False, with why (never a passphrase), for
// settings that break a rule; nothing changes then.
bool setPrinterSnmpV3(pappl_printer_t* printer, const SnmpV3Settings& settings, char* why,
                      size_t why_size);
// Back to the manufacturer's settings file.
void clearPrinterSnmpV3(pappl_printer_t* printer);
// What a page may show of them: false when the printer has none; else the settings without
// their passphrases into shown, and whether each passphrase is set.
bool shownPrinterSnmpV3(pappl_printer_t* printer, SnmpV3Settings* shown, bool* auth_set,
                        bool* priv_set);

// A copy of the printer's options (at most max), its interval, whether a query (of the options
// or the state) runs now, and whether one was asked for and waits for its turn, for showing;
// returns the number of options, or -1 for a printer without accessories.
int copyInstalledOptions(pappl_printer_t* printer, InstalledOption* options, int max, int* interval,
                         bool* running, bool* waiting);

// Marks the printer's installed choices in ppd (a handle of the caller's), for a job.
void markInstalledChoices(pappl_printer_t* printer, ppd_file_t* ppd);


#endif  // ZORV_APP_ACCESSORIES_H
