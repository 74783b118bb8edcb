// The printer's installed choices published to PAPPL: its capabilities narrowed through the
// PPD's constraints (app/capabilities.h), zorv-installed, the trays' ready media and the
// vendor attributes of its state. A publish runs inside papplSystemIteratePrinters, holding
// PAPPL's system lock for reading: a delete of the printer, which holds it for writing, is
// then either over (and the printer is not found) or not yet begun; everything that reads
// files is done before.
#include <cstring>

#include "app/accessory_parts.h"
#include "app/capabilities.h"
#include "log/text.h"
#include "probe/probe.h"

namespace {

constexpr size_t kLineSize = 512;
constexpr size_t kInstalledTextSize = 2 * kAttributeNameSize;

// What a publish works with: the PPD, read before PAPPL's lock is taken, and the snapshot of
// the accessories, taken in the publish's turn so that the newest is written last.
struct Publish {
  PrinterAccessories* a;
  bool with_state;
  UniquePpd ppd;
  int count;
  UniqueMalloc<InstalledOption[]> options;
  UniqueMalloc<KeptState[]> kept;
};

// Marks every installable option's choice in ppd, after the PPD's defaults.
void mark_choices(ppd_file_t* ppd, const InstalledOption* options, int count) {
  ppdMarkDefaults(ppd);
  for (int i = 0; i < count; i++) {
    const char* choice = effectiveChoice(options[i]);
    if (choice[0] != '\0') ppdMarkOption(ppd, options[i].keyword, choice);
  }
}

// The installed choices as "Keyword=Choice" values, each in its own kInstalledTextSize slot of
// text.
int installed_values(const InstalledOption* options, int count, char* text, const char** values) {
  int n = 0;
  for (int i = 0; i < count; i++) {
    const char* choice = effectiveChoice(options[i]);
    if (!plainName(choice)) continue;
    char* slot = text + static_cast<size_t>(n) * kInstalledTextSize;
    format_text(slot, kInstalledTextSize, "%s=%s", options[i].keyword, choice);
    values[n++] = slot;
  }
  return n;
}

// Whether the printer's current vendor attribute already says values.
bool installed_unchanged(ipp_t* attrs, const char** values, int count) {
  ipp_attribute_t* current = ippFindAttribute(attrs, kInstalledAttribute, IPP_TAG_ZERO);
  if (current == nullptr) return count == 0;
  if (ippGetCount(current) != count) return false;
  for (int i = 0; i < count; i++) {
    const char* value = ippGetString(current, i, nullptr);
    if (value == nullptr || strcmp(value, values[i]) != 0) return false;
  }
  return true;
}

// A copy of the printer's kept state under its lock; null when memory runs out.
UniqueMalloc<KeptState[]> kept_snapshot(PrinterAccessories* a) {
  UniqueMalloc<KeptState[]> copy = make_array<KeptState>(1);
  Locked locked(a->lock);
  if (copy != nullptr) copy[0] = a->kept[0];
  return copy;
}

// Sets the driver data and attributes that follow what p took in; PAPPL rebuilds its
// attributes only when something changed. Under the publish lock.
void publish_driver_data(const Publish& p) {
  pappl_printer_t* printer = p.a->printer;
  PpdDriver* driver = ppdDriverOf(printer);
  if (driver == nullptr) return;
  pappl_pr_driver_data_t current;
  papplPrinterGetDriverData(printer, &current);
  pappl_pr_driver_data_t data = current;
  char why[kLineSize] = "";
  narrowCapabilities(p.ppd.get(), *driver, &data, why, sizeof(why));
  if (why[0] != '\0') papplLogPrinter(printer, PAPPL_LOGLEVEL_WARN, "%s.", why);
  if (p.kept[0].answered != 0) applyTrayMedia(p.kept[0].last.state, p.ppd.get(), *driver, &data);

  UniqueMalloc<char[]> text =
      make_array<char>((static_cast<size_t>(p.count) + 1) * kInstalledTextSize);
  UniqueMalloc<const char*[]> values = make_array<const char*>(static_cast<size_t>(p.count) + 1);
  if (text == nullptr || values == nullptr) return;
  const int n = installed_values(p.options.get(), p.count, text.get(), values.get());

  UniqueIpp attrs(papplPrinterGetDriverAttributes(printer));
  ipp_attribute_t* ucs = ippFindAttribute(attrs.get(), kUcsDefault, IPP_TAG_ZERO);
  const bool same_installed =
      sameCapabilities(current, data) && installed_unchanged(attrs.get(), values.get(), n);
  if (same_installed && sameStateAttributes(attrs.get(), p.kept[0])) return;
  UniqueIpp vendor =
      ppdVendorAttributes(*driver, ucs != nullptr ? ippGetString(ucs, 0, nullptr) : nullptr);
  if (n > 0) {
    ippAddStrings(vendor.get(), IPP_TAG_PRINTER, IPP_TAG_NAME, kInstalledAttribute, n, nullptr,
                  values.get());
  }
  addStateAttributes(p.kept[0], vendor.get());
  if (!papplPrinterSetDriverData(printer, &data, vendor.get())) {
    papplLogPrinter(printer, PAPPL_LOGLEVEL_ERROR,
                    "The capabilities of the installed options were refused.");
    return;
  }
  // The state's attributes alone change no configuration.
  if (same_installed) return;
  // PAPPL moves printer-config-change-time (and tells subscribers) when defaults are set, not
  // when the capabilities are: the defaults, the profile's among them, are set again.
  ipp_attribute_t* chosen = ippFindAttribute(vendor.get(), kUcsDefault, IPP_TAG_ZERO);
  cups_option_t profile = {
      const_cast<char*>(kUcsAttribute),
      const_cast<char*>(chosen != nullptr ? ippGetString(chosen, 0, nullptr) : kUcsAuto)};
  papplPrinterSetDriverDefaults(printer, &data, 1, &profile);
  papplLogPrinter(printer, PAPPL_LOGLEVEL_INFO,
                  "Capabilities follow the installed options: %d sources, %d output bins, sides "
                  "%x, finishings %x.",
                  data.num_source, data.num_bin, static_cast<unsigned>(data.sides_supported),
                  static_cast<unsigned>(data.finishings));
}

// papplSystemIteratePrinters' callback: publishes for the one printer of the accessories, while
// it has not begun to go. Other printers are not looked at: while the system is deleted, those
// before it are already freed.
void publish_if_found(pappl_printer_t* printer, void* data) {
  Publish& p = *static_cast<Publish*>(data);
  if (printer != p.a->printer || going(p.a)) return;
  Locked publishing(p.a->publish_lock);
  p.options = snapshotOptions(p.a, &p.count);
  p.kept = kept_snapshot(p.a);
  if (p.kept == nullptr || (p.count > 0 && p.options == nullptr)) return;
  mark_choices(p.ppd.get(), p.options.get(), p.count);
  publish_driver_data(p);
  if (p.with_state) publishState(p.a);
}

}  // namespace

void publishAccessories(PrinterAccessories* a, bool with_state) {
  {
    Locked locked(a->lock);
    if (a->stopping) return;
    a->publishers++;
  }
  Publish p{a,
            with_state,
            UniquePpd(),
            0,
            UniqueMalloc<InstalledOption[]>(),
            UniqueMalloc<KeptState[]>()};
  p.ppd.reset(ppdOpenFile(a->ppd_path));
  if (p.ppd != nullptr) papplSystemIteratePrinters(a->system, publish_if_found, &p);
  Locked locked(a->lock);
  a->publishers--;
  a->changed.broadcast();
}

void publishState(PrinterAccessories* a) {
  pappl_supply_t supplies[PAPPL_MAX_SUPPLY];
  int count = 0;
  pappl_preason_t add = PAPPL_PREASON_NONE;
  pappl_preason_t remove = PAPPL_PREASON_NONE;
  {
    Locked locked(a->lock);
    if (a->kept[0].answered == 0 || a->stopping) return;
    count = papplSuppliesOf(a->kept[0].last.state, supplies, PAPPL_MAX_SUPPLY);
    add = papplReasonsOf(a->kept[0].last.state);
    remove = a->published_reasons & ~add;
    a->published_reasons = add;
  }
  papplPrinterSetReasons(a->printer, add, remove);
  papplPrinterSetSupplies(a->printer, count, supplies);
}
