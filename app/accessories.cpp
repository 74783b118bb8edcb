// A printer's accessories: who owns them (the registry of the context, and every holder of a
// reference), their making when a printer is made and their end when it goes, and what the
// web page sets and reads of them.
#include "app/accessories.h"

#include <fcntl.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>

#include "app/accessory_parts.h"
#include "app/query_schedule.h"
#include "log/text.h"
#include "probe/probe.h"

namespace {

constexpr char kStateSuffix[] = ".accessories";

// The options of the PPD's installable group, with their defaults.
bool load_options(PrinterAccessories* a) {
  UniquePpd ppd(ppdOpenFile(a->ppd_path));
  ppd_group_t* group = ppd != nullptr ? installableGroup(ppd.get()) : nullptr;
  if (group == nullptr) return true;
  a->options = make_array<InstalledOption>(static_cast<size_t>(group->num_options));
  if (a->options == nullptr) return false;
  for (int i = 0; i < group->num_options; i++) {
    const ppd_option_t& option = group->options[i];
    if (!plainName(option.keyword)) continue;
    InstalledOption& o = a->options[a->count++];
    copy_text(o.keyword, sizeof(o.keyword), option.keyword);
    copy_text(o.ppd_default, sizeof(o.ppd_default), option.defchoice);
    o.outcome = ProbeOutcome::kNotAsked;
  }
  return true;
}

// Sets one of the printer's intervals, within its bounds, and keeps it.
SettingOutcome set_interval(pappl_printer_t* printer, int PrinterAccessories::*field, int seconds,
                            int shortest, int longest, char* why, size_t why_size) {
  AccessoriesRef a = acquireAccessories(printer);
  if (!a) {
    copy_text(why, why_size, "the printer has no accessories");
    return SettingOutcome::kRefused;
  }
  if (seconds < shortest) seconds = shortest;
  if (seconds > longest) seconds = longest;
  {
    Locked locked(a->lock);
    a.get()->*field = seconds;
  }
  return saveSetting(a.get(), why, why_size);
}

}  // namespace

AccessoryContext::~AccessoryContext() {
  // A query thread's last step is to say it ended; nothing of it runs after that.
  Locked registry(lock);
  while (threads > 0) ended.wait(lock);
}

AccessoriesRef::~AccessoriesRef() {
  if (a_ == nullptr) return;
  bool last = false;
  {
    Locked registry(a_->context->lock);
    last = --a_->refs == 0;
  }
  if (last) UniqueObject<PrinterAccessories> gone(a_);
}

AccessoriesRef acquireAccessories(pappl_printer_t* printer) {
  PpdDriver* driver = ppdDriverOf(printer);
  if (driver == nullptr || driver->accessory_context == nullptr) return AccessoriesRef();
  // Under the registry's lock the accessories are either still registered, and so held by
  // the registry, or already taken from the driver.
  Locked registry(driver->accessory_context->lock);
  PrinterAccessories* a = driver->accessories.load();
  if (a == nullptr) return AccessoriesRef();
  a->refs++;
  return AccessoriesRef(a);
}

InstalledOption* findOption(PrinterAccessories* a, const char* keyword) {
  for (int i = 0; i < a->count; i++) {
    if (strcmp(a->options[i].keyword, keyword) == 0) return &a->options[i];
  }
  return nullptr;
}

bool plainName(const char* text) {
  if (text == nullptr || text[0] == '\0') return false;
  for (const unsigned char* p = reinterpret_cast<const unsigned char*>(text); *p != '\0'; ++p) {
    if (*p <= ' ' || *p >= 0x7f || *p == '=') return false;
  }
  return true;
}

bool hasChoice(ppd_file_t* ppd, const char* keyword, const char* choice) {
  ppd_option_t* option = ppdFindOption(ppd, keyword);
  return option != nullptr && ppdFindChoice(option, choice) != nullptr;
}

UniqueMalloc<InstalledOption[]> snapshotOptions(PrinterAccessories* a, int* count) {
  Locked locked(a->lock);
  UniqueMalloc<InstalledOption[]> copy = make_array<InstalledOption>(static_cast<size_t>(a->count));
  *count = copy != nullptr ? a->count : 0;
  if (copy != nullptr && a->count > 0) {
    memcpy(copy.get(), a->options.get(), sizeof(InstalledOption) * static_cast<size_t>(a->count));
  }
  return copy;
}

SettingOutcome saveSetting(PrinterAccessories* a, char* why, size_t why_size) {
  return saveAccessories(a->context, a->system, why, why_size) ? SettingOutcome::kSaved
                                                               : SettingOutcome::kNotSaved;
}

bool going(PrinterAccessories* a) {
  Locked locked(a->lock);
  return a->stopping;
}

UniqueObject<AccessoryContext> makeAccessoryContext(const char* state_file) {
  UniqueObject<AccessoryContext> context = make_object<AccessoryContext>();
  if (context != nullptr && state_file != nullptr && state_file[0] != '\0' &&
      !format_text(context->state_path, sizeof(context->state_path), "%s%s", state_file,
                   kStateSuffix)) {
    context->state_path[0] = '\0';
  }
  return context;
}

const char* effectiveChoice(const InstalledOption& option) {
  if (option.hand_choice[0] != '\0') return option.hand_choice;
  if (option.device_choice[0] != '\0') return option.device_choice;
  return option.ppd_default;
}

void attachAccessories(pappl_printer_t* printer, AccessoryContext* context) {
  PpdDriver* driver = ppdDriverOf(printer);
  if (driver == nullptr) return;
  UniqueObject<PrinterAccessories> made = make_object<PrinterAccessories>();
  if (made == nullptr) return;
  PrinterAccessories* a = made.get();
  a->printer = printer;
  a->system = papplPrinterGetSystem(printer);
  a->context = context;
  a->printer_id = papplPrinterGetID(printer);
  copy_text(a->ppd_path, sizeof(a->ppd_path), driver->ppd_path);
  a->cancel.reset(eventfd(0, EFD_CLOEXEC));
  a->network = connectionType(papplPrinterGetDeviceURI(printer)) == kConnectionNetwork;
  a->kept = make_array<KeptState>(1);
  if (a->cancel.get() < 0 || a->kept == nullptr || !load_options(a)) return;
  loadAccessories(a);
  {
    Locked registry(context->lock);
    if (!context->printers.add(a)) return;
    driver->accessories = made.release();
    // The caller's reference, for the publish below.
    a->refs++;
  }
  AccessoriesRef held(a);
  // What the state file kept counts at once, before the printer could be asked.
  publishAccessories(a, false);
}

void detachAccessories(PpdDriver* driver) {
  AccessoryContext* context = driver != nullptr ? driver->accessory_context : nullptr;
  if (context == nullptr) return;
  PrinterAccessories* a = nullptr;
  {
    Locked registry(context->lock);
    a = driver->accessories.exchange(nullptr);
    if (a == nullptr) return;
    // Set with the first removal, under the lock that a save's look at the registry takes.
    if (papplSystemIsShutdown(a->system)) context->ending = true;
    for (size_t i = 0; i < context->printers.size(); i++) {
      if (context->printers[i] == a) context->printers.remove_at(i);
    }
  }
  // The registry's reference, let go at the end.
  AccessoriesRef registered(a);
  // A delete while the server runs holds the system's lock, so no publish is under way and
  // none will find the printer; the system's own end holds none, and a publish may be.
  const bool system_ends = papplSystemIsShutdown(a->system);
  Locked locked(a->lock);
  a->stopping = true;
  const uint64_t one = 1;
  if (write(a->cancel.get(), &one, sizeof(one)) < 0) {
    // The query then ends at its time-out.
  }
  a->changed.broadcast();
  while (a->running || (system_ends && a->publishers > 0)) a->changed.wait(a->lock);
}

SettingOutcome setStateInterval(pappl_printer_t* printer, int seconds, char* why, size_t why_size) {
  return set_interval(printer, &PrinterAccessories::state_interval, seconds, kShortestStateInterval,
                      kLongestStateInterval, why, why_size);
}

bool copyKeptState(pappl_printer_t* printer, KeptState* kept, int* interval, bool* network) {
  AccessoriesRef a = acquireAccessories(printer);
  if (!a) return false;
  Locked locked(a->lock);
  *kept = a->kept[0];
  *interval = a->state_interval;
  *network = a->network;
  return true;
}

SettingOutcome setHandChoice(pappl_printer_t* printer, const char* keyword, const char* choice,
                             char* why, size_t why_size) {
  AccessoriesRef a = acquireAccessories(printer);
  if (!a || keyword == nullptr || choice == nullptr) {
    copy_text(why, why_size, "the printer has no such option");
    return SettingOutcome::kRefused;
  }
  if (choice[0] != '\0') {
    UniquePpd ppd(ppdOpenFile(a->ppd_path));
    if (ppd == nullptr || !hasChoice(ppd.get(), keyword, choice) || !plainName(choice)) {
      copy_text(why, why_size, "the PPD has no such choice");
      return SettingOutcome::kRefused;
    }
  }
  {
    Locked locked(a->lock);
    InstalledOption* o = findOption(a.get(), keyword);
    if (o == nullptr) {
      copy_text(why, why_size, "the printer has no such option");
      return SettingOutcome::kRefused;
    }
    copy_text(o->hand_choice, sizeof(o->hand_choice), choice);
  }
  publishAccessories(a.get(), false);
  return saveSetting(a.get(), why, why_size);
}

SettingOutcome setQueryInterval(pappl_printer_t* printer, int seconds, char* why, size_t why_size) {
  return set_interval(printer, &PrinterAccessories::interval, seconds, kShortestQueryInterval,
                      kLongestQueryInterval, why, why_size);
}

int copyInstalledOptions(pappl_printer_t* printer, InstalledOption* options, int max, int* interval,
                         bool* running, bool* waiting) {
  AccessoriesRef a = acquireAccessories(printer);
  if (!a) return -1;
  Locked locked(a->lock);
  const int n = a->count < max ? a->count : max;
  if (n > 0) memcpy(options, a->options.get(), sizeof(InstalledOption) * static_cast<size_t>(n));
  *interval = a->interval;
  *running = a->running;
  *waiting = !a->running && (a->wanted || (a->network && a->state_wanted));
  return n;
}
