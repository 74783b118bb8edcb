// A printer's accessories as the server learns them: each installable option's choice from the
// device, kept when a query fails; a choice set by hand that wins over it until cleared; the
// intervals of the queries. The asking is app/query_schedule.h's, the keeping over a restart
// app/accessory_store.cpp's, the printer's capabilities that follow the choices
// app/installed_publish.cpp's and its own SNMPv3 settings app/printer_snmp.h's.
#ifndef ZORV_APP_ACCESSORIES_H
#define ZORV_APP_ACCESSORIES_H

#include <pappl/pappl.h>

#include <atomic>
#include <cstddef>
#include <ctime>

#include "app/handles.h"
#include "app/ppd_driver.h"
#include "app/printer_state.h"
#include "common/handles.h"
#include "probe/probe.h"

// How often a printer is asked when nothing else asks: the default of the printer setting.
inline constexpr int kDefaultQueryInterval = 3600;
inline constexpr int kShortestQueryInterval = 60;
inline constexpr int kLongestQueryInterval = 7 * 24 * 3600;
inline constexpr size_t kQueryTextSize = 256;
inline constexpr size_t kWordsSize = 256;
inline constexpr size_t kStatePathSize = kPpdPathSize + 16;
// Why a setting was not saved or was refused, in words.
inline constexpr size_t kSettingWordsSize = kStatePathSize + 128;

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
// choices are kept in ("" keeps nothing), every printer's accessories (to write that file),
// and the query threads that have not ended, which the context outlives.
struct AccessoryContext {
  AccessoryContext() = default;
  ~AccessoryContext();
  AccessoryContext(const AccessoryContext&) = delete;
  AccessoryContext& operator=(const AccessoryContext&) = delete;

  std::atomic<int> running{0};
  char state_path[kStatePathSize] = "";
  Mutex lock;  // of printers, threads and the references of every printer's accessories
  Condition ended;
  HeapList<PrinterAccessories*> printers;
  int threads = 0;
  // One save of the state file at a time; never taken by a callback of PAPPL's.
  Mutex save_lock;
  // The system is ending: its printers leave the registry one by one, and a save now (a query
  // that ends as it is stopped) would write a file without them.
  std::atomic<bool> ending{false};
};

// The shared part of the accessories; state_file is the server's state file (the choices are
// kept beside it) or "" (nothing is kept). Null when memory runs out.
UniqueObject<AccessoryContext> makeAccessoryContext(const char* state_file);

// Makes the accessories of a printer whose driver was just made: its options from the PPD,
// what the state file kept for it, the capabilities that follow, and a query to come.
void attachAccessories(pappl_printer_t* printer, AccessoryContext* context);
// For the driver's delete callback, which PAPPL calls holding the system's lock: stops the
// printer's query, waits for it to end (and, while the system is being deleted, for every
// thread that publishes for the printer), and lets the accessories go; the last holder of
// them frees them.
void detachAccessories(PpdDriver* driver);

// What became of a setting: saved in the state file; in force but not saved (the words say
// why, and the log has it); or refused (the words say why; nothing changed).
enum class SettingOutcome { kSaved, kNotSaved, kRefused };

// Sets the interval between the walks of the printer's state, in seconds, within the bounds.
SettingOutcome setStateInterval(pappl_printer_t* printer, int seconds, char* why, size_t why_size);
// A copy of the printer's kept state, its interval and whether it is asked at all (a network
// printer); false for a printer without accessories.
bool copyKeptState(pappl_printer_t* printer, KeptState* kept, int* interval, bool* network);
// Sets option keyword by hand to choice ("" clears it, and the device's choice counts again);
// refused for an option or a choice the PPD does not have.
SettingOutcome setHandChoice(pappl_printer_t* printer, const char* keyword, const char* choice,
                             char* why, size_t why_size);
// Sets the interval between the printer's queries, in seconds, within the bounds.
SettingOutcome setQueryInterval(pappl_printer_t* printer, int seconds, char* why, size_t why_size);

// A copy of the printer's options (at most max), its interval, whether a query (of the options
// or the state) runs now, and whether one was asked for and waits for its turn, for showing;
// returns the number of options, or -1 for a printer without accessories.
int copyInstalledOptions(pappl_printer_t* printer, InstalledOption* options, int max, int* interval,
                         bool* running, bool* waiting);

#endif  // ZORV_APP_ACCESSORIES_H
