// A printer's accessories as the server learns them. Each printer has one lock for its
// accessories, held only to read or change them, never across a query, a PPD parse or a call
// into PAPPL: an IPP request never waits for the device. The queries run in threads of their
// own, at most kMaxRunningQueries at once; a printer's query is stopped through a descriptor
// and waited for before its accessories go.
#include "app/accessories.h"

#include <fcntl.h>
#include <pthread.h>
#include <sys/eventfd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <new>

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
    } else if (mine && strncmp(line, "snmpv3 ", 7) == 0) {
      take_v3_line(a, line);
    } else if (strncmp(line, "end", 3) == 0) {
      mine = false;
    }
  }
}

// --- The printer's capabilities -------------------------------------------------------------

template <int N>
bool choice_allowed(ppd_file_t* ppd, const char* keyword, const ChoiceTable<N>& table, int i) {
  return table.choice[i][0] == '\0' || ppdInstallableConflict(ppd, keyword, table.choice[i]) == 0;
}

// Whether every "*Option Choice" pair of a finishing's code is free of conflicts.
bool finishing_allowed(ppd_file_t* ppd, const char* code) {
  return eachFinishingPair(
      code,
      [](const char* keyword, const char* choice, void* data) {
        return ppdInstallableConflict(static_cast<ppd_file_t*>(data), keyword, choice) == 0;
      },
      ppd);
}

void note_why(char* why, size_t why_size, const char* attribute) {
  const size_t used = strlen(why);
  snprintf(why + used, why_size - used,
           "%sthe installed options rule out every value of %s: it keeps the PPD's",
           used > 0 ? "; " : "", attribute);
}

bool same_media(const pappl_media_col_t& a, const pappl_media_col_t& b) {
  return memcmp(&a, &b, sizeof(a)) == 0;
}

// Whether two driver data offer the same values in what the installed choices narrow.
bool same_capabilities(const pappl_pr_driver_data_t& a, const pappl_pr_driver_data_t& b) {
  if (a.num_source != b.num_source || a.num_bin != b.num_bin ||
      a.sides_supported != b.sides_supported || a.sides_default != b.sides_default ||
      a.finishings != b.finishings || a.bin_default != b.bin_default ||
      !same_media(a.media_default, b.media_default)) {
    return false;
  }
  for (int i = 0; i < a.num_source; i++) {
    if (strcmp(a.source[i], b.source[i]) != 0 || !same_media(a.media_ready[i], b.media_ready[i])) {
      return false;
    }
  }
  for (int i = 0; i < a.num_bin; i++) {
    if (strcmp(a.bin[i], b.bin[i]) != 0) return false;
  }
  return true;
}

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

// Makes the printer's IPP capabilities and zorv-installed follow its installed choices; PAPPL
// rebuilds its attributes only when something changed.
void publish(PrinterAccessories* a) {
  int count = 0;
  UniqueMalloc<InstalledOption[]> options = snapshot(a, &count);
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

  UniqueMalloc<char[]> text =
      make_array<char>((static_cast<size_t>(count) + 1) * kInstalledTextSize);
  UniqueMalloc<const char*[]> values = make_array<const char*>(static_cast<size_t>(count) + 1);
  if (text == nullptr || values == nullptr) return;
  const int n = installed_values(options.get(), count, text.get(), values.get());

  UniqueIpp attrs(papplPrinterGetDriverAttributes(a->printer));
  ipp_attribute_t* ucs = ippFindAttribute(attrs.get(), kUcsDefault, IPP_TAG_ZERO);
  if (same_capabilities(current, data) && installed_unchanged(attrs.get(), values.get(), n)) {
    return;
  }
  UniqueIpp vendor =
      ppdVendorAttributes(*driver, ucs != nullptr ? ippGetString(ucs, 0, nullptr) : nullptr);
  if (n > 0) {
    ippAddStrings(vendor.get(), IPP_TAG_PRINTER, IPP_TAG_NAME, kInstalledAttribute, n, nullptr,
                  values.get());
  }
  if (!papplPrinterSetDriverData(a->printer, &data, vendor.get())) {
    papplLogPrinter(a->printer, PAPPL_LOGLEVEL_ERROR,
                    "The capabilities of the installed options were refused.");
    return;
  }
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
  bool use_v3 = false;
  if (v3.get() != nullptr) {
    Locked locked(&a->lock);
    use_v3 = a->use_v3 && a->v3.get() != nullptr;
    if (use_v3) *v3 = *a->v3;
  }
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

void* background_query(void* data) {
  PrinterAccessories* a = static_cast<PrinterAccessories*>(data);
  const int answered = run_query(a, nullptr);
  // A busy USB printer is asked again at the next turn of the timer.
  if (answered != -2 && !going(a)) {
    publish(a);
    save_state(a->context);
  }
  a->context->running--;
  end_turn(a, answered != -2);
  return nullptr;
}

// Starts the printer's query when it is due and the bound allows it.
void start_if_due(pappl_printer_t* printer, void* data) {
  AccessoryContext* context = static_cast<AccessoryContext*>(data);
  PrinterAccessories* a = accessories_of(printer);
  if (a == nullptr) return;
  {
    Locked locked(&a->lock);
    const bool due = a->wanted || time(nullptr) >= a->last_query + a->interval;
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

void narrowCapabilities(ppd_file_t* ppd, const PpdDriver& driver, pappl_pr_driver_data_t* data,
                        char* why, size_t why_size) {
  if (why_size > 0) why[0] = '\0';
  // Sources, each with its ready media as it was, or the default media when it comes back.
  int sources[PAPPL_MAX_SOURCE];
  int num_sources = 0;
  for (int i = 0; i < driver.sources.count; i++) {
    if (choice_allowed(ppd, "InputSlot", driver.sources, i)) sources[num_sources++] = i;
  }
  if (num_sources == 0) {
    for (int i = 0; i < driver.sources.count; i++) sources[num_sources++] = i;
    note_why(why, why_size, "media-source");
  }
  pappl_media_col_t ready[PAPPL_MAX_SOURCE];
  for (int s = 0; s < num_sources; s++) {
    const char* keyword = driver.sources.keyword[sources[s]];
    ready[s] = data->media_default;
    for (int k = 0; k < data->num_source; k++) {
      if (strcmp(data->source[k], keyword) == 0) ready[s] = data->media_ready[k];
    }
    copy_text(ready[s].source, sizeof(ready[s].source), keyword);
  }
  bool default_offered = false;
  for (int s = 0; s < num_sources; s++) {
    default_offered |= strcmp(driver.sources.keyword[sources[s]], data->media_default.source) == 0;
  }
  if (!default_offered) {
    copy_text(data->media_default.source, sizeof(data->media_default.source),
              driver.sources.keyword[sources[0]]);
  }
  data->num_source = num_sources;
  for (int s = 0; s < num_sources; s++) {
    data->source[s] = driver.sources.keyword[sources[s]];
    data->media_ready[s] = ready[s];
  }

  // Output bins.
  const char* default_bin =
      data->bin_default < data->num_bin ? data->bin[data->bin_default] : nullptr;
  int num_bins = 0;
  for (int i = 0; i < driver.bins.count; i++) {
    if (choice_allowed(ppd, "OutputBin", driver.bins, i))
      data->bin[num_bins++] = driver.bins.keyword[i];
  }
  if (num_bins == 0 && driver.bins.count > 0) {
    for (int i = 0; i < driver.bins.count; i++) data->bin[num_bins++] = driver.bins.keyword[i];
    note_why(why, why_size, "output-bin");
  }
  data->num_bin = num_bins;
  data->bin_default = 0;
  for (int i = 0; i < num_bins; i++) {
    if (default_bin != nullptr && strcmp(data->bin[i], default_bin) == 0) data->bin_default = i;
  }

  // Sides: one-sided always, two-sided where the duplex choice is free of conflicts.
  pappl_sides_t sides = PAPPL_SIDES_ONE_SIDED;
  for (int i = 1; i < 3; i++) {
    const char* choice = driver.duplex_choice[i];
    if (choice[0] != '\0' && ppdInstallableConflict(ppd, "Duplex", choice) == 0) {
      sides |= static_cast<pappl_sides_t>(1u << i);
    }
  }
  data->sides_supported = sides;
  if ((data->sides_default & sides) == 0) data->sides_default = PAPPL_SIDES_ONE_SIDED;
  data->duplex = sides != PAPPL_SIDES_ONE_SIDED ? PAPPL_DUPLEX_NORMAL : PAPPL_DUPLEX_NONE;

  // Finishings.
  pappl_finishings_t finishings = PAPPL_FINISHINGS_NONE;
  for (int i = 0; i < kFinishCount; i++) {
    const char* code = driver.finishing_code[i];
    if (code[0] != '\0' && finishing_allowed(ppd, code)) finishings |= kFinishingBits[i];
  }
  data->finishings = finishings;
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
  if (a->cancel < 0 || !load_options(a)) {
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
  }
  start_if_due(printer, a->context);
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
  PrinterAccessories* a = accessories_of(printer);
  if (a == nullptr) return;
  if (seconds < kShortestQueryInterval) seconds = kShortestQueryInterval;
  if (seconds > kLongestQueryInterval) seconds = kLongestQueryInterval;
  {
    Locked locked(&a->lock);
    a->interval = seconds;
  }
  save_state(a->context);
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
                         bool* running) {
  PrinterAccessories* a = accessories_of(printer);
  if (a == nullptr) return -1;
  Locked locked(&a->lock);
  const int n = a->count < max ? a->count : max;
  if (n > 0) memcpy(options, a->options, sizeof(InstalledOption) * static_cast<size_t>(n));
  *interval = a->interval;
  *running = a->running;
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
