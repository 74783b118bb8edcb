// The accessories of one printer as the rooms that keep them share them (app/accessories.cpp,
// accessory_store.cpp, installed_publish.cpp, query_schedule.cpp, printer_snmp.cpp); private
// to those rooms. Who may touch what:
// - the fields set at the start never change;
// - every other field is read and changed under lock, never across a query, a PPD parse, file
//   I/O or a call into PAPPL;
// - refs under the context's lock: the registry holds one while the printer exists, every
//   thread and page that works with the accessories one more; the last one frees them;
// - PAPPL is called for the printer only by the thread whose turn it is (running: the delete
//   waits for it), or inside papplSystemIteratePrinters (publishers: a delete cannot be under
//   way then, and the one of the system's end waits for them).
#ifndef ZORV_APP_ACCESSORY_PARTS_H
#define ZORV_APP_ACCESSORY_PARTS_H

#include <cups/ppd.h>
#include <pappl/pappl.h>

#include <cstddef>
#include <ctime>

#include "app/accessories.h"
#include "app/handles.h"
#include "app/printer_state.h"
#include "common/handles.h"
#include "common/secret.h"
#include "probe/probe.h"

struct PrinterAccessories {
  Mutex lock;
  Condition changed;  // running, stopping or publishers changed
  // Set at the start.
  pappl_printer_t* printer = nullptr;
  pappl_system_t* system = nullptr;
  AccessoryContext* context = nullptr;
  int printer_id = 0;
  char ppd_path[kPpdPathSize] = "";
  bool network = false;
  UniqueFd cancel;  // an eventfd, readable once stopping
  // Under the context's lock.
  int refs = 1;
  // Under lock.
  int count = 0;
  UniqueMalloc<InstalledOption[]> options;  // count of them
  int interval = kDefaultQueryInterval;
  time_t last_query = 0;  // when the last query ended; 0: none yet
  bool wanted = true;     // a query was asked for (a new printer, a started server, the button)
  bool running = false;   // a query runs now: its turn
  bool stopping = false;  // the printer goes: no query starts any more, nothing is published
  int publishers = 0;     // threads in a publish for the printer
  // The printer's own SNMPv3 settings (use_v3), on pages a core dump leaves out.
  bool use_v3 = false;
  Secret<SnmpV3Settings> v3;
  // The printer's own state: asked of a network printer only, at its own interval.
  UniqueMalloc<KeptState[]> kept;  // one
  int state_interval = kDefaultStateInterval;
  time_t last_state = 0;                                   // when the last walk ended; 0: none yet
  bool state_wanted = true;                                // a walk was asked for
  pappl_preason_t published_reasons = PAPPL_PREASON_NONE;  // the state's reasons set in PAPPL
  // One publish of the printer at a time, so that an older snapshot is never written last.
  Mutex publish_lock;
};

// A reference to a printer's accessories, or none; it keeps them from being freed (not the
// printer: see above).
class AccessoriesRef {
 public:
  AccessoriesRef() = default;
  explicit AccessoriesRef(PrinterAccessories* adopted) : a_(adopted) {}
  ~AccessoriesRef();
  AccessoriesRef(AccessoriesRef&& other) noexcept : a_(other.a_) { other.a_ = nullptr; }
  AccessoriesRef(const AccessoriesRef&) = delete;
  AccessoriesRef& operator=(const AccessoriesRef&) = delete;
  AccessoriesRef& operator=(AccessoriesRef&&) = delete;

  PrinterAccessories* get() const { return a_; }
  PrinterAccessories* operator->() const { return a_; }
  explicit operator bool() const { return a_ != nullptr; }

 private:
  PrinterAccessories* a_ = nullptr;
};

// A new reference to the printer's accessories; none for a printer without them or one whose
// delete has begun.
AccessoriesRef acquireAccessories(pappl_printer_t* printer);

// The option keyword of a, under its lock; null for none.
InstalledOption* findOption(PrinterAccessories* a, const char* keyword);
// A PPD name that a line of the state file and a "Keyword=Choice" value can carry whole.
bool plainName(const char* text);
// Whether ppd has the choice of option keyword.
bool hasChoice(ppd_file_t* ppd, const char* keyword, const char* choice);
// A copy of the printer's options under its lock into *count of them; null when memory runs
// out.
UniqueMalloc<InstalledOption[]> snapshotOptions(PrinterAccessories* a, int* count);
// True once the printer goes.
bool going(PrinterAccessories* a);

// The state file (app/accessory_store.cpp). Reads what it kept for a new printer's accessories,
// before they are shared.
void loadAccessories(PrinterAccessories* a);
// Writes every printer's accessories to it, replacing it whole; false, with why and a line in
// the log of system, when it could not be written (the old file is then left as it was).
bool saveAccessories(AccessoryContext* context, pappl_system_t* system, char* why, size_t why_size);
// The state file written again after a setting of a changed: kSaved, or kNotSaved with why.
SettingOutcome saveSetting(PrinterAccessories* a, char* why, size_t why_size);

// Makes the printer's IPP capabilities and zorv-installed follow its installed choices, its
// ready media the trays' media and its vendor attributes its state; with_state, also its
// supplies and printer-state-reasons. Never while the caller's turn runs (a delete waits for
// that): inside papplSystemIteratePrinters, and not at all once the printer goes
// (app/installed_publish.cpp).
void publishAccessories(PrinterAccessories* a, bool with_state);
// The supplies and printer-state-reasons alone, for a caller inside PAPPL's callback for the
// printer (its status callback) or inside a publish.
void publishState(PrinterAccessories* a);

#endif  // ZORV_APP_ACCESSORY_PARTS_H
