// A printer's accessories and state as the server learns them. Each printer has one lock for
// its accessories, held only to read or change them, never across a query, a PPD parse or a
// call into PAPPL: an IPP request never waits for the device. The queries (of the installable
// options, of the printer's state, each when it is due) run in threads of their own, at most
// kMaxRunningQueries at once; a printer's query is stopped through a descriptor and waited for
// before its accessories go. What is published to PAPPL is published by one thread at a time
// (publish_lock), so that a query's end and a hand-set choice cannot undo each other.
#include "app/accessories.h"

#include <fcntl.h>
#include <pthread.h>
#include <sys/eventfd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <new>

#include "app/capabilities.h"
#include "app/handles.h"
#include "common/handles.h"
#include "common/secret.h"
#include "log/escape.h"
#include "log/text.h"
#include "probe/messages.h"
#include "probe/ppd_handles.h"
#include "probe/probe.h"
#include "probe/report.h"
#include "probe/snmp_v3_settings.h"
#include "probe/state_walk.h"

struct PrinterAccessories {
  pthread_mutex_t lock = PTHREAD_MUTEX_INITIALIZER;
  pthread_cond_t changed = PTHREAD_COND_INITIALIZER;
  pappl_printer_t* printer = nullptr;
  AccessoryContext* context = nullptr;
  int printer_id = 0;
  char ppd_path[kPpdPathSize] = "";
  int count = 0;
  InstalledOption* options = nullptr;  // count of them, on the C heap
  int interval = kDefaultQueryInterval;
  time_t last_query = 0;  // when the last query ended; 0: none yet
  bool wanted = true;     // a query was asked for (a new printer, a started server, the button)
  bool running = false;   // a query runs now
  bool stopping = false;  // the printer goes: no query starts any more
  int cancel = -1;        // an eventfd, readable once stopping
  // The printer's own SNMPv3 settings (use_v3), on pages a core dump leaves out.
  bool use_v3 = false;
  Secret<SnmpV3Settings> v3;
  // The printer's own state: asked of a network printer only, at its own interval.
  bool network = false;
  KeptState* kept = nullptr;  // on the C heap
  int state_interval = kDefaultStateInterval;
  time_t last_state = 0;     // when the last walk ended; 0: none yet
  bool state_wanted = true;  // a walk was asked for
  pappl_preason_t published_reasons = PAPPL_PREASON_NONE;  // the state's reasons set in PAPPL
  pthread_mutex_t publish_lock = PTHREAD_MUTEX_INITIALIZER;
};

namespace {

constexpr char kStateSuffix[] = ".accessories";
constexpr char kNoChoice[] = "-";
constexpr size_t kLineSize = 512;
constexpr size_t kInstalledTextSize = 2 * kAttributeNameSize;
// A line of the state file: an SNMPv3 line carries two passphrases in hexadecimal.
constexpr size_t kStateLineSize = 4 * kSnmpPassphraseSize + 256;

// The buffer of a stream that reads or writes secrets, and one line of it.
struct StreamBuffer {
  char bytes[8192];
};
struct StateLine {
  char text[kStateLineSize];
};

class Locked {
 public:
  explicit Locked(pthread_mutex_t* lock) : lock_(lock) { pthread_mutex_lock(lock_); }
  ~Locked() { pthread_mutex_unlock(lock_); }
  Locked(const Locked&) = delete;
  Locked& operator=(const Locked&) = delete;

 private:
  pthread_mutex_t* lock_;
};

PrinterAccessories* accessories_of(pappl_printer_t* printer) {
  PpdDriver* driver = ppdDriverOf(printer);
  return driver != nullptr ? driver->accessories.load() : nullptr;
}

// A PPD name that a line of the state file and a "Keyword=Choice" value can carry whole.
bool plain_name(const char* text) {
  if (text == nullptr || text[0] == '\0') return false;
  for (const unsigned char* p = reinterpret_cast<const unsigned char*>(text); *p != '\0'; ++p) {
    if (*p <= ' ' || *p >= 0x7f || *p == '=') return false;
  }
  return true;
}

InstalledOption* find_option(PrinterAccessories* a, const char* keyword) {
  for (int i = 0; i < a->count; i++) {
    if (strcmp(a->options[i].keyword, keyword) == 0) return &a->options[i];
  }
  return nullptr;
}

// The options of the PPD's installable group, with their defaults.
bool load_options(PrinterAccessories* a) {
  UniquePpd ppd(ppdOpenFile(a->ppd_path));
  ppd_group_t* group = ppd != nullptr ? installableGroup(ppd.get()) : nullptr;
  if (group == nullptr) return true;
  a->options = static_cast<InstalledOption*>(
      calloc(static_cast<size_t>(group->num_options), sizeof(InstalledOption)));
  if (a->options == nullptr) return false;
  for (int i = 0; i < group->num_options; i++) {
    const ppd_option_t& option = group->options[i];
    if (!plain_name(option.keyword)) continue;
    InstalledOption& o = a->options[a->count++];
    copy_text(o.keyword, sizeof(o.keyword), option.keyword);
    copy_text(o.ppd_default, sizeof(o.ppd_default), option.defchoice);
    o.outcome = ProbeOutcome::kNotAsked;
  }
  return true;
}

bool has_choice(ppd_file_t* ppd, const char* keyword, const char* choice) {
  ppd_option_t* option = ppdFindOption(ppd, keyword);
  return option != nullptr && ppdFindChoice(option, choice) != nullptr;
}

// Marks every installable option's choice in ppd, after the PPD's defaults.
void mark_choices(ppd_file_t* ppd, const InstalledOption* options, int count) {
  ppdMarkDefaults(ppd);
  for (int i = 0; i < count; i++) {
    const char* choice = effectiveChoice(options[i]);
    if (choice[0] != '\0') ppdMarkOption(ppd, options[i].keyword, choice);
  }
}

// A copy of the printer's options under its lock; null when memory runs out.
UniqueMalloc<InstalledOption[]> snapshot(PrinterAccessories* a, int* count) {
  Locked locked(&a->lock);
  UniqueMalloc<InstalledOption[]> copy = make_array<InstalledOption>(static_cast<size_t>(a->count));
  *count = copy != nullptr ? a->count : 0;
  if (copy != nullptr && a->count > 0) {
    memcpy(copy.get(), a->options, sizeof(InstalledOption) * static_cast<size_t>(a->count));
  }
  return copy;
}

// --- The state file ---------------------------------------------------------------------

// Text as lower-case hexadecimal ("-" for the empty text), so that a line of the state file
// carries any bytes; and back, false for anything else or what does not fit.
void put_hex(FILE* out, const char* text) {
  if (text[0] == '\0') fputc('-', out);
  for (const unsigned char* p = reinterpret_cast<const unsigned char*>(text); *p != '\0'; ++p) {
    fprintf(out, "%02x", *p);
  }
}

bool take_hex(const char* hex, char* text, size_t size) {
  if (strcmp(hex, kNoChoice) == 0) {
    text[0] = '\0';
    return true;
  }
  size_t n = 0;
  for (const char* p = hex; p[0] != '\0'; p += 2) {
    unsigned byte = 0;
    if (p[1] == '\0' || n + 1 >= size || sscanf(p, "%2x", &byte) != 1 || byte == 0) return false;
    text[n++] = static_cast<char>(byte);
  }
  text[n] = '\0';
  return true;
}

void save_one(FILE* out, PrinterAccessories* a) {
  Locked locked(&a->lock);
  fprintf(out, "printer %d interval %d\n", a->printer_id, a->interval);
  fprintf(out, "state-interval %d\n", a->state_interval);
  if (a->use_v3 && a->v3.get() != nullptr) {
    const SnmpV3Settings& v3 = *a->v3;
    fprintf(out, "snmpv3 %s %s %s ", snmpLevelName(v3.level), snmpAuthName(v3.auth),
            snmpPrivName(v3.priv));
    for (const char* text : {v3.user, v3.context, v3.auth_passphrase, v3.priv_passphrase}) {
      put_hex(out, text);
      fputc(' ', out);
    }
    fputc('\n', out);
  }
  for (int i = 0; i < a->count; i++) {
    const InstalledOption& o = a->options[i];
    fprintf(out, "option %s %s %s\n", o.keyword,
            o.device_choice[0] != '\0' ? o.device_choice : kNoChoice,
            o.hand_choice[0] != '\0' ? o.hand_choice : kNoChoice);
  }
  fputs("end\n", out);
}

// Writes every printer's accessories to the state file, replacing it whole: a file for the
// server's user alone, written beside the old one and renamed over it.
void save_state(AccessoryContext* context) {
  if (context->state_path[0] == '\0') return;
  Locked registry(&context->lock);
  char temporary[kStatePathSize + 8];
  if (!format_text(temporary, sizeof(temporary), "%s.new", context->state_path)) return;
  // The file holds passphrases: made afresh for the server's user alone, and its stream's
  // buffer on pages that are cleared (declared first, so that it outlives the stream).
  Secret<StreamBuffer> buffer;
  unlink(temporary);
  UniqueFd fd(open(temporary, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
  if (fd.get() < 0) return;
  UniqueFile out(fdopen(fd.release(), "w"));
  if (out == nullptr || buffer.get() == nullptr ||
      setvbuf(out.get(), buffer->bytes, _IOFBF, sizeof(buffer->bytes)) != 0) {
    return;
  }
  fputs("# The accessories of zorv-printer-app's printers; written by the server.\n", out.get());
  for (size_t i = 0; i < context->printers.size(); i++) save_one(out.get(), context->printers[i]);
  const bool written = fflush(out.get()) == 0 && fsync(fileno(out.get())) == 0;
  if (fclose(out.release()) != 0 || !written || rename(temporary, context->state_path) != 0) {
    unlink(temporary);
  }
}

// The printer's SNMPv3 settings from a state file's line (changed in place): used when they
// meet the rules.
void take_v3_line(PrinterAccessories* a, char* line) {
  constexpr int kFields = 8;  // "snmpv3", level, auth, priv, user, context, two passphrases
  char* fields[kFields];
  int n = 0;
  char* save = nullptr;
  for (char* field = strtok_r(line, " \n", &save); field != nullptr && n < kFields;
       field = strtok_r(nullptr, " \n", &save)) {
    fields[n++] = field;
  }
  Secret<SnmpV3Settings> v3;
  SnmpSettingsReport report;
  // A protocol the level does not use is written "none".
  const auto none = [](const char* name) { return strcmp(name, "none") == 0; };
  if (n != kFields || v3.get() == nullptr || a->v3.get() == nullptr ||
      !snmpLevelOfName(fields[1], &v3->level) ||
      (!none(fields[2]) && !snmpAuthOfName(fields[2], &v3->auth)) ||
      (!none(fields[3]) && !snmpPrivOfName(fields[3], &v3->priv)) ||
      !take_hex(fields[4], v3->user, sizeof(v3->user)) ||
      !take_hex(fields[5], v3->context, sizeof(v3->context)) ||
      !take_hex(fields[6], v3->auth_passphrase, sizeof(v3->auth_passphrase)) ||
      !take_hex(fields[7], v3->priv_passphrase, sizeof(v3->priv_passphrase)) ||
      !checkSnmpV3Settings(*v3, report)) {
    return;
  }
  *a->v3 = *v3;
  a->use_v3 = true;
}

// Reads what the state file kept for the printer: its interval, its SNMPv3 settings and, for
// each option and choice the PPD still has, the device's and the hand-set choice.
void load_state(PrinterAccessories* a) {
  if (a->context->state_path[0] == '\0') return;
  // The file holds passphrases: what is read of it stays on pages that are cleared.
  Secret<StreamBuffer> buffer;
  Secret<StateLine> read;
  UniqueFile in(fopen(a->context->state_path, "re"));
  UniquePpd ppd(ppdOpenFile(a->ppd_path));
  if (in == nullptr || ppd == nullptr || buffer.get() == nullptr || read.get() == nullptr ||
      setvbuf(in.get(), buffer->bytes, _IOFBF, sizeof(buffer->bytes)) != 0) {
    return;
  }
  char* line = read->text;
  bool mine = false;
  while (fgets(line, kStateLineSize, in.get()) != nullptr) {
    int id = 0;
    int interval = 0;
    int state_interval = 0;
    char keyword[kAttributeNameSize];
    char device[kChoiceSize];
    char hand[kChoiceSize];
    if (sscanf(line, "printer %d interval %d", &id, &interval) == 2) {
      mine = id == a->printer_id;
      if (mine && interval >= kShortestQueryInterval && interval <= kLongestQueryInterval) {
        a->interval = interval;
      }
    } else if (mine && sscanf(line, "option %40s %40s %40s", keyword, device, hand) == 3) {
      InstalledOption* o = find_option(a, keyword);
      if (o == nullptr) continue;
      if (strcmp(device, kNoChoice) != 0 && has_choice(ppd.get(), keyword, device)) {
        copy_text(o->device_choice, sizeof(o->device_choice), device);
      }
      if (strcmp(hand, kNoChoice) != 0 && has_choice(ppd.get(), keyword, hand)) {
        copy_text(o->hand_choice, sizeof(o->hand_choice), hand);
      }
    } else if (mine && sscanf(line, "state-interval %d", &state_interval) == 1) {
      if (state_interval >= kShortestStateInterval && state_interval <= kLongestStateInterval) {
        a->state_interval = state_interval;
      }
    } else if (mine && strncmp(line, "snmpv3 ", 7) == 0) {
      take_v3_line(a, line);
    } else if (strncmp(line, "end", 3) == 0) {
      mine = false;
    }
  }
}

// --- Publishing --------------------------------------------------------------------------

// The installed choices as "Keyword=Choice" values, each in its own kInstalledTextSize slot of
// text.
int installed_values(const InstalledOption* options, int count, char* text, const char** values) {
  int n = 0;
  for (int i = 0; i < count; i++) {
    const char* choice = effectiveChoice(options[i]);
    if (!plain_name(choice)) continue;
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
  Locked locked(&a->lock);
  if (copy != nullptr && a->kept != nullptr) copy[0] = *a->kept;
  return copy;
}

// Makes the printer's IPP capabilities and zorv-installed follow its installed choices, its
// ready media the trays' media, and its vendor attributes its state; PAPPL rebuilds its
// attributes only when something changed.
void publish_locked(PrinterAccessories* a);
void publish(PrinterAccessories* a) {
  Locked publishing(&a->publish_lock);
  publish_locked(a);
}

void publish_locked(PrinterAccessories* a) {
  int count = 0;
  UniqueMalloc<InstalledOption[]> options = snapshot(a, &count);
  UniqueMalloc<KeptState[]> kept = kept_snapshot(a);
  if (kept == nullptr) return;
  UniquePpd ppd(ppdOpenFile(a->ppd_path));
  PpdDriver* driver = ppdDriverOf(a->printer);
  if (ppd == nullptr || driver == nullptr || (count > 0 && options == nullptr)) return;
  mark_choices(ppd.get(), options.get(), count);

  pappl_pr_driver_data_t current;
  papplPrinterGetDriverData(a->printer, &current);
  pappl_pr_driver_data_t data = current;
  char why[kLineSize] = "";
  narrowCapabilities(ppd.get(), *driver, &data, why, sizeof(why));
  if (why[0] != '\0') papplLogPrinter(a->printer, PAPPL_LOGLEVEL_WARN, "%s.", why);
  if (kept[0].answered != 0) applyTrayMedia(kept[0].last.state, ppd.get(), *driver, &data);

  UniqueMalloc<char[]> text =
      make_array<char>((static_cast<size_t>(count) + 1) * kInstalledTextSize);
  UniqueMalloc<const char*[]> values = make_array<const char*>(static_cast<size_t>(count) + 1);
  if (text == nullptr || values == nullptr) return;
  const int n = installed_values(options.get(), count, text.get(), values.get());

  UniqueIpp attrs(papplPrinterGetDriverAttributes(a->printer));
  ipp_attribute_t* ucs = ippFindAttribute(attrs.get(), kUcsDefault, IPP_TAG_ZERO);
  const bool same_installed =
      sameCapabilities(current, data) && installed_unchanged(attrs.get(), values.get(), n);
  if (same_installed && sameStateAttributes(attrs.get(), kept[0])) return;
  UniqueIpp vendor =
      ppdVendorAttributes(*driver, ucs != nullptr ? ippGetString(ucs, 0, nullptr) : nullptr);
  if (n > 0) {
    ippAddStrings(vendor.get(), IPP_TAG_PRINTER, IPP_TAG_NAME, kInstalledAttribute, n, nullptr,
                  values.get());
  }
  addStateAttributes(kept[0], vendor.get());
  if (!papplPrinterSetDriverData(a->printer, &data, vendor.get())) {
    papplLogPrinter(a->printer, PAPPL_LOGLEVEL_ERROR,
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
  papplPrinterSetDriverDefaults(a->printer, &data, 1, &profile);
  papplLogPrinter(a->printer, PAPPL_LOGLEVEL_INFO,
                  "Capabilities follow the installed options: %d sources, %d output bins, sides "
                  "%x, finishings %x.",
                  data.num_source, data.num_bin, static_cast<unsigned>(data.sides_supported),
                  static_cast<unsigned>(data.finishings));
}

// --- The queries ------------------------------------------------------------------------

// What a query found, into the printer's options: the device's choice where it named one; a
// failed query keeps the last known choice.
void take_records(PrinterAccessories* a, const ProbeResult& result) {
  const time_t now = time(nullptr);
  Locked locked(&a->lock);
  for (size_t i = 0; i < result.count; i++) {
    const ProbeRecord& record = result.records[i];
    if (record.outcome == ProbeOutcome::kNotAsked || record.option == nullptr) continue;
    InstalledOption* o = find_option(a, record.option->keyword);
    if (o == nullptr) continue;
    o->outcome = record.outcome;
    o->asked = now;
    copy_text(o->query_name, sizeof(o->query_name), record.query_name);
    copy_text(o->query, sizeof(o->query), record.query != nullptr ? record.query : "");
    copy_text(o->reply, sizeof(o->reply),
              record.outcome == ProbeOutcome::kAnswered ? record.reply : "");
    probeFailureWords(record, o->words, sizeof(o->words));
    if (record.choice != nullptr && plain_name(record.choice)) {
      copy_text(o->device_choice, sizeof(o->device_choice), record.choice);
    }
  }
}

// A copy of the printer's own SNMPv3 settings into v3 (a Secret's): false when it has none.
bool copy_v3(PrinterAccessories* a, SnmpV3Settings* v3) {
  if (v3 == nullptr) return false;
  Locked locked(&a->lock);
  const bool use_v3 = a->use_v3 && a->v3.get() != nullptr;
  if (use_v3) *v3 = *a->v3;
  return use_v3;
}

// One query of the printer's device, its records taken and, when out is given, written there
// as zorvquery shows them. Returns the number of options that got an answer, -1 when the
// device cannot be queried, -2 when it is busy with a job.
int run_query(PrinterAccessories* a, FILE* out) {
  char uri[kPpdPathSize];
  copy_text(uri, sizeof(uri), papplPrinterGetDeviceURI(a->printer));
  // A USB printer is asked only while no job holds it: holding its device keeps jobs off.
  const bool usb = connectionType(uri) == kConnectionUsb;
  pappl_device_t* device = usb ? papplPrinterOpenDevice(a->printer) : nullptr;
  if (usb && device == nullptr) return -2;
  UniquePpd ppd(ppdOpenFile(a->ppd_path));
  ProbeResult result;
  Secret<SnmpV3Settings> v3;
  const bool use_v3 = copy_v3(a, v3.get());
  if (ppd != nullptr) {
    ProbeCancel cancel;
    cancel.fd = a->cancel;
    probeDeviceWith(ppd.get(), uri, use_v3 ? v3.get() : nullptr, cancel, result);
  } else {
    result.status = kProbeUnsupported;
  }
  if (device != nullptr) papplPrinterCloseDevice(a->printer);
  if (result.status == kProbeUnsupported) return -1;
  take_records(a, result);
  int answered = 0;
  for (size_t i = 0; i < result.count; i++) {
    if (result.records[i].outcome == ProbeOutcome::kAnswered) answered++;
  }
  if (out != nullptr) writeProbeReport(out, result, uri);
  papplLogPrinter(a->printer, PAPPL_LOGLEVEL_INFO,
                  "Asked the printer at %s: %d of %d options answered.", ShownText(uri).c_str(),
                  answered, static_cast<int>(result.count));
  return answered;
}

// Sets the state's supplies and printer-state-reasons in PAPPL: the reasons the state gave
// before and no longer gives are taken back, others' are left alone. Nothing before the printer
// first answered. For the status callback and a walk's end.
void publish_state(PrinterAccessories* a) {
  pappl_supply_t supplies[PAPPL_MAX_SUPPLY];
  int count = 0;
  pappl_preason_t add = PAPPL_PREASON_NONE;
  pappl_preason_t remove = PAPPL_PREASON_NONE;
  {
    Locked locked(&a->lock);
    if (a->kept == nullptr || a->kept->answered == 0 || a->stopping) return;
    count = papplSuppliesOf(a->kept->last.state, supplies, PAPPL_MAX_SUPPLY);
    add = papplReasonsOf(a->kept->last.state);
    remove = a->published_reasons & ~add;
    a->published_reasons = add;
  }
  papplPrinterSetReasons(a->printer, add, remove);
  papplPrinterSetSupplies(a->printer, count, supplies);
}

// One walk of the printer's state, kept (a failure keeps the last state, marked stale) and
// logged. False when the printer is no network printer.
bool run_state(PrinterAccessories* a) {
  char uri[kPpdPathSize];
  copy_text(uri, sizeof(uri), papplPrinterGetDeviceURI(a->printer));
  if (connectionType(uri) != kConnectionNetwork) return false;
  UniquePpd ppd(ppdOpenFile(a->ppd_path));
  Secret<SnmpV3Settings> v3;
  const bool use_v3 = copy_v3(a, v3.get());
  UniqueMalloc<PrinterStateResult[]> result = make_array<PrinterStateResult>(1);
  if (result == nullptr) return true;
  ProbeCancel cancel;
  cancel.fd = a->cancel;
  probePrinterState(ppd.get(), uri, use_v3 ? v3.get() : nullptr, cancel, result[0]);
  char failure[kStateWordsSize] = "";
  char answered[kStateTimeSize] = "";
  {
    Locked locked(&a->lock);
    if (a->kept != nullptr) {
      keepStateResult(*a->kept, result[0], time(nullptr));
      copy_text(failure, sizeof(failure), a->kept->stale ? a->kept->failure : "");
      stateTimeText(a->kept->answered, answered, sizeof(answered));
    }
  }
  const PrinterState& state = result[0].state;
  if (result[0].outcome == StateOutcome::kAnswered) {
    papplLogPrinter(a->printer, PAPPL_LOGLEVEL_INFO,
                    "The printer's state at %s: %d trays, %d output bins, %d supplies, %d alerts.",
                    ShownText(uri).c_str(), static_cast<int>(state.tray_count),
                    static_cast<int>(state.bin_count), static_cast<int>(state.supply_count),
                    static_cast<int>(state.alert_count));
  } else if (failure[0] != '\0') {
    papplLogPrinter(a->printer, PAPPL_LOGLEVEL_WARN,
                    "The printer's state at %s was not read: %s; the state of %s is kept.",
                    ShownText(uri).c_str(), ShownText(failure).c_str(), answered);
  }
  return true;
}

// Waits until no query of the printer runs and takes the turn; false when the printer goes.
bool take_turn(PrinterAccessories* a) {
  Locked locked(&a->lock);
  while (a->running && !a->stopping) pthread_cond_wait(&a->changed, &a->lock);
  if (a->stopping) return false;
  a->running = true;
  return true;
}

void end_turn(PrinterAccessories* a, bool queried) {
  Locked locked(&a->lock);
  a->running = false;
  if (queried) {
    a->last_query = time(nullptr);
    a->wanted = false;
  }
  pthread_cond_broadcast(&a->changed);
}

// True once the printer goes: PAPPL then deletes it while it holds the system's lock, and
// waits for the query, so the query's end must not call PAPPL for it.
bool going(PrinterAccessories* a) {
  Locked locked(&a->lock);
  return a->stopping;
}

// Whether the option query and the state walk of the printer are due; under its lock.
bool query_due(const PrinterAccessories* a, time_t now) {
  return a->wanted || now >= a->last_query + a->interval;
}
bool state_due(const PrinterAccessories* a, time_t now) {
  return a->network && (a->state_wanted || now >= a->last_state + a->state_interval);
}

void* background_query(void* data) {
  PrinterAccessories* a = static_cast<PrinterAccessories*>(data);
  bool options = false;
  bool state = false;
  {
    Locked locked(&a->lock);
    const time_t now = time(nullptr);
    options = query_due(a, now);
    state = state_due(a, now);
  }
  int answered = -2;
  if (options) {
    answered = run_query(a, nullptr);
    // A busy USB printer is asked again at the next turn of the timer.
    if (answered != -2 && !going(a)) {
      publish(a);
      save_state(a->context);
    }
  }
  if (state && !going(a) && run_state(a)) {
    {
      Locked locked(&a->lock);
      a->last_state = time(nullptr);
      a->state_wanted = false;
    }
    // The capabilities and vendor attributes first: once the supplies show, all of it does.
    if (!going(a)) {
      publish(a);
      publish_state(a);
    }
  }
  a->context->running--;
  end_turn(a, options && answered != -2);
  return nullptr;
}

// Starts the printer's query when it is due and the bound allows it.
void start_if_due(pappl_printer_t* printer, void* data) {
  AccessoryContext* context = static_cast<AccessoryContext*>(data);
  PrinterAccessories* a = accessories_of(printer);
  if (a == nullptr) return;
  {
    Locked locked(&a->lock);
    const time_t now = time(nullptr);
    const bool due = query_due(a, now) || state_due(a, now);
    if (a->running || a->stopping || !due) return;
    if (context->running.fetch_add(1) >= kMaxRunningQueries) {
      context->running--;
      return;
    }
    a->running = true;
  }
  pthread_attr_t attr;
  pthread_attr_init(&attr);
  pthread_attr_setdetachstate(&attr, PTHREAD_CREATE_DETACHED);
  pthread_t thread;
  if (pthread_create(&thread, &attr, background_query, a) != 0) {
    context->running--;
    end_turn(a, false);
  }
  pthread_attr_destroy(&attr);
}

// Sets one of the printer's intervals, within its bounds, and keeps it.
void set_interval(pappl_printer_t* printer, int PrinterAccessories::*field, int seconds,
                  int shortest, int longest) {
  PrinterAccessories* a = accessories_of(printer);
  if (a == nullptr) return;
  if (seconds < shortest) seconds = shortest;
  if (seconds > longest) seconds = longest;
  {
    Locked locked(&a->lock);
    a->*field = seconds;
  }
  save_state(a->context);
}

}  // namespace

AccessoryContext* makeAccessoryContext(const char* state_file) {
  auto* context = static_cast<AccessoryContext*>(calloc(1, sizeof(AccessoryContext)));
  if (context == nullptr) return nullptr;
  new (context) AccessoryContext();
  if (state_file != nullptr && state_file[0] != '\0' &&
      !format_text(context->state_path, sizeof(context->state_path), "%s%s", state_file,
                   kStateSuffix)) {
    context->state_path[0] = '\0';
  }
  return context;
}

void freeAccessoryContext(AccessoryContext* context) {
  if (context == nullptr) return;
  context->~AccessoryContext();
  free(context);
}

const char* effectiveChoice(const InstalledOption& option) {
  if (option.hand_choice[0] != '\0') return option.hand_choice;
  if (option.device_choice[0] != '\0') return option.device_choice;
  return option.ppd_default;
}

void attachAccessories(pappl_printer_t* printer, AccessoryContext* context) {
  PpdDriver* driver = ppdDriverOf(printer);
  if (driver == nullptr) return;
  auto* a = static_cast<PrinterAccessories*>(calloc(1, sizeof(PrinterAccessories)));
  if (a == nullptr) return;
  new (a) PrinterAccessories();
  a->printer = printer;
  a->context = context;
  a->printer_id = papplPrinterGetID(printer);
  copy_text(a->ppd_path, sizeof(a->ppd_path), driver->ppd_path);
  a->cancel = eventfd(0, EFD_CLOEXEC);
  a->network = connectionType(papplPrinterGetDeviceURI(printer)) == kConnectionNetwork;
  a->kept = static_cast<KeptState*>(calloc(1, sizeof(KeptState)));
  if (a->cancel < 0 || a->kept == nullptr || !load_options(a)) {
    detachAccessories(a);
    return;
  }
  load_state(a);
  {
    Locked registry(&context->lock);
    if (!context->printers.add(a)) {
      detachAccessories(a);
      return;
    }
  }
  driver->accessories = a;
  // What the state file kept counts at once, before the printer could be asked.
  publish(a);
}

void detachAccessories(PrinterAccessories* a) {
  if (a == nullptr) return;
  if (a->context != nullptr) {
    Locked registry(&a->context->lock);
    for (size_t i = 0; i < a->context->printers.size(); i++) {
      if (a->context->printers[i] == a) a->context->printers.remove_at(i);
    }
  }
  {
    Locked locked(&a->lock);
    a->stopping = true;
    const uint64_t one = 1;
    if (a->cancel >= 0 && write(a->cancel, &one, sizeof(one)) < 0) {
      // The query then ends at its time-out.
    }
    pthread_cond_broadcast(&a->changed);
    while (a->running) pthread_cond_wait(&a->changed, &a->lock);
  }
  if (a->cancel >= 0) close(a->cancel);
  free(a->options);
  free(a->kept);
  a->~PrinterAccessories();
  free(a);
}

bool runDueQueries(pappl_system_t* system, void* context) {
  papplSystemIteratePrinters(system, start_if_due, context);
  return true;
}

void requestQuery(pappl_printer_t* printer) {
  PrinterAccessories* a = accessories_of(printer);
  if (a == nullptr) return;
  {
    Locked locked(&a->lock);
    a->wanted = true;
    a->state_wanted = a->network;
  }
  start_if_due(printer, a->context);
}

bool printerStatus(pappl_printer_t* printer) {
  PrinterAccessories* a = accessories_of(printer);
  if (a != nullptr) publish_state(a);
  return true;
}

void setStateInterval(pappl_printer_t* printer, int seconds) {
  set_interval(printer, &PrinterAccessories::state_interval, seconds, kShortestStateInterval,
               kLongestStateInterval);
}

bool copyKeptState(pappl_printer_t* printer, KeptState* kept, int* interval, bool* network) {
  PrinterAccessories* a = accessories_of(printer);
  if (a == nullptr) return false;
  Locked locked(&a->lock);
  if (a->kept != nullptr) *kept = *a->kept;
  *interval = a->state_interval;
  *network = a->network;
  return a->kept != nullptr;
}

int queryNow(pappl_printer_t* printer, FILE* out) {
  PrinterAccessories* a = accessories_of(printer);
  if (a == nullptr || !take_turn(a)) return -1;
  int answered = run_query(a, out);
  if (answered == -2) {
    fputs("# the printer is busy with a job; asked again later\n", out);
    Locked locked(&a->lock);
    a->wanted = true;
  } else if (answered >= 0 && !going(a)) {
    publish(a);
    save_state(a->context);
  }
  end_turn(a, answered >= 0);
  return answered == -2 ? 0 : answered;
}

bool setHandChoice(pappl_printer_t* printer, const char* keyword, const char* choice) {
  PrinterAccessories* a = accessories_of(printer);
  if (a == nullptr || keyword == nullptr || choice == nullptr) return false;
  if (choice[0] != '\0') {
    UniquePpd ppd(ppdOpenFile(a->ppd_path));
    if (ppd == nullptr || !has_choice(ppd.get(), keyword, choice) || !plain_name(choice)) {
      return false;
    }
  }
  {
    Locked locked(&a->lock);
    InstalledOption* o = find_option(a, keyword);
    if (o == nullptr) return false;
    copy_text(o->hand_choice, sizeof(o->hand_choice), choice);
  }
  publish(a);
  save_state(a->context);
  return true;
}

void setQueryInterval(pappl_printer_t* printer, int seconds) {
  set_interval(printer, &PrinterAccessories::interval, seconds, kShortestQueryInterval,
               kLongestQueryInterval);
}

bool setPrinterSnmpV3(pappl_printer_t* printer, const SnmpV3Settings& settings, char* why,
                      size_t why_size) {
  PrinterAccessories* a = accessories_of(printer);
  Secret<SnmpV3Settings> v3;
  if (a == nullptr || v3.get() == nullptr || a->v3.get() == nullptr) {
    copy_text(why, why_size, "no room for the settings");
    return false;
  }
  *v3 = settings;
  {
    Locked locked(&a->lock);
    if (a->use_v3) {
      if (v3->auth_passphrase[0] == '\0') {
        copy_text(v3->auth_passphrase, sizeof(v3->auth_passphrase), a->v3->auth_passphrase);
      }
      if (v3->priv_passphrase[0] == '\0') {
        copy_text(v3->priv_passphrase, sizeof(v3->priv_passphrase), a->v3->priv_passphrase);
      }
    }
  }
  SnmpSettingsReport report;
  if (!checkSnmpV3Settings(*v3, report)) {
    snmpSettingsProblemWords(report, why, why_size);
    return false;
  }
  {
    Locked locked(&a->lock);
    *a->v3 = *v3;
    a->use_v3 = true;
  }
  save_state(a->context);
  return true;
}

void clearPrinterSnmpV3(pappl_printer_t* printer) {
  PrinterAccessories* a = accessories_of(printer);
  if (a == nullptr) return;
  {
    Locked locked(&a->lock);
    a->use_v3 = false;
    if (a->v3.get() != nullptr) explicit_bzero(a->v3.get(), sizeof(SnmpV3Settings));
  }
  save_state(a->context);
}

bool shownPrinterSnmpV3(pappl_printer_t* printer, SnmpV3Settings* shown, bool* auth_set,
                        bool* priv_set) {
  PrinterAccessories* a = accessories_of(printer);
  if (a == nullptr) return false;
  Locked locked(&a->lock);
  if (!a->use_v3 || a->v3.get() == nullptr) return false;
  const SnmpV3Settings& v3 = *a->v3;
  copy_text(shown->user, sizeof(shown->user), v3.user);
  copy_text(shown->context, sizeof(shown->context), v3.context);
  shown->level = v3.level;
  shown->auth = v3.auth;
  shown->priv = v3.priv;
  shown->auth_passphrase[0] = shown->priv_passphrase[0] = '\0';
  *auth_set = v3.auth_passphrase[0] != '\0';
  *priv_set = v3.priv_passphrase[0] != '\0';
  return true;
}

int copyInstalledOptions(pappl_printer_t* printer, InstalledOption* options, int max, int* interval,
                         bool* running, bool* waiting) {
  PrinterAccessories* a = accessories_of(printer);
  if (a == nullptr) return -1;
  Locked locked(&a->lock);
  const int n = a->count < max ? a->count : max;
  if (n > 0) memcpy(options, a->options, sizeof(InstalledOption) * static_cast<size_t>(n));
  *interval = a->interval;
  *running = a->running;
  *waiting = !a->running && (a->wanted || (a->network && a->state_wanted));
  return n;
}

void markInstalledChoices(pappl_printer_t* printer, ppd_file_t* ppd) {
  PrinterAccessories* a = accessories_of(printer);
  if (a == nullptr) return;
  int count = 0;
  UniqueMalloc<InstalledOption[]> options = snapshot(a, &count);
  for (int i = 0; i < count; i++) {
    const char* choice = effectiveChoice(options[i]);
    if (choice[0] != '\0') ppdMarkOption(ppd, options[i].keyword, choice);
  }
}
