// The queries of the printers' accessories and their turns. A query's turn (running) is what a
// delete of the printer waits for: inside it the printer is asked and PAPPL is called for it
// only to log and to hold a USB device. What a query found is published after its turn
// (app/installed_publish.cpp), when a delete that waits for nothing of it may have begun.
#include "app/query_schedule.h"

#include <pthread.h>

#include <cstring>

#include "app/accessory_parts.h"
#include "log/escape.h"
#include "log/text.h"
#include "probe/probe.h"

namespace {

// What a query found, into the printer's options: the device's choice where it named one; a
// failed query keeps the last known choice.
void take_records(PrinterAccessories* a, const ProbeResult& result) {
  const time_t now = time(nullptr);
  Locked locked(a->lock);
  for (size_t i = 0; i < result.count; i++) {
    const ProbeRecord& record = result.records[i];
    if (record.outcome == ProbeOutcome::kNotAsked || record.option == nullptr) continue;
    InstalledOption* o = findOption(a, record.option->keyword);
    if (o == nullptr) continue;
    o->outcome = record.outcome;
    o->asked = now;
    copy_text(o->query_name, sizeof(o->query_name), record.query_name);
    copy_text(o->query, sizeof(o->query), record.query != nullptr ? record.query : "");
    copy_text(o->reply, sizeof(o->reply),
              record.outcome == ProbeOutcome::kAnswered ? record.reply : "");
    probeFailureWords(record, o->words, sizeof(o->words));
    if (record.choice != nullptr && plainName(record.choice)) {
      copy_text(o->device_choice, sizeof(o->device_choice), record.choice);
    }
  }
}

// A copy of the printer's own SNMPv3 settings into v3 (a Secret's): false when it has none.
bool copy_v3(PrinterAccessories* a, SnmpV3Settings* v3) {
  if (v3 == nullptr) return false;
  Locked locked(a->lock);
  const bool use_v3 = a->use_v3 && a->v3.get() != nullptr;
  if (use_v3) *v3 = *a->v3;
  return use_v3;
}

// One query of the printer's device in the caller's turn, its records taken and, when out is
// given, written there as zorvquery shows them.
QueryResult run_query(PrinterAccessories* a, FILE* out) {
  char uri[kPpdPathSize];
  copy_text(uri, sizeof(uri), papplPrinterGetDeviceURI(a->printer));
  // A USB printer is asked only while no job holds it: holding its device keeps jobs off.
  const bool usb = connectionType(uri) == kConnectionUsb;
  pappl_device_t* device = usb ? papplPrinterOpenDevice(a->printer) : nullptr;
  if (usb && device == nullptr) return {QueryOutcome::kBusy, 0};
  UniquePpd ppd(ppdOpenFile(a->ppd_path));
  ProbeResult result;
  Secret<SnmpV3Settings> v3;
  const bool use_v3 = copy_v3(a, v3.get());
  if (ppd != nullptr) {
    ProbeCancel cancel;
    cancel.fd = a->cancel.get();
    probeDeviceWith(ppd.get(), uri, use_v3 ? v3.get() : nullptr, cancel, result);
  } else {
    result.status = kProbeUnsupported;
  }
  if (device != nullptr) papplPrinterCloseDevice(a->printer);
  if (result.status == kProbeUnsupported) return {QueryOutcome::kCannotQuery, 0};
  take_records(a, result);
  int answered = 0;
  for (size_t i = 0; i < result.count; i++) {
    if (result.records[i].outcome == ProbeOutcome::kAnswered) answered++;
  }
  if (out != nullptr) writeProbeReport(out, result, uri);
  papplLogPrinter(a->printer, PAPPL_LOGLEVEL_INFO,
                  "Asked the printer at %s: %d of %d options answered.", ShownText(uri).c_str(),
                  answered, static_cast<int>(result.count));
  return {QueryOutcome::kAsked, answered};
}

// One walk of the printer's state in the caller's turn, kept (a failure keeps the last state,
// marked stale) and logged. False when the printer is no network printer.
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
  cancel.fd = a->cancel.get();
  probePrinterState(ppd.get(), uri, use_v3 ? v3.get() : nullptr, cancel, result[0]);
  char failure[kStateWordsSize] = "";
  char answered[kStateTimeSize] = "";
  {
    Locked locked(a->lock);
    keepStateResult(a->kept[0], result[0], time(nullptr));
    copy_text(failure, sizeof(failure), a->kept[0].stale ? a->kept[0].failure : "");
    stateTimeText(a->kept[0].answered, answered, sizeof(answered));
    a->last_state = time(nullptr);
    a->state_wanted = false;
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
  Locked locked(a->lock);
  while (a->running && !a->stopping) a->changed.wait(a->lock);
  if (a->stopping) return false;
  a->running = true;
  return true;
}

// Ends the turn; queried: the options were asked (or cannot be), and are not due again before
// the interval.
void end_turn(PrinterAccessories* a, bool queried) {
  Locked locked(a->lock);
  a->running = false;
  if (queried) {
    a->last_query = time(nullptr);
    a->wanted = false;
  }
  a->changed.broadcast();
}

// Whether the option query and the state walk of the printer are due; under its lock.
bool query_due(const PrinterAccessories* a, time_t now) {
  return a->wanted || now >= a->last_query + a->interval;
}
bool state_due(const PrinterAccessories* a, time_t now) {
  return a->network && (a->state_wanted || now >= a->last_state + a->state_interval);
}

// What was found published, and the options' choices saved (the failure of a save is in the
// log), after the turn.
void publish_found(PrinterAccessories* a, bool options, bool state) {
  if (!options && !state) return;
  publishAccessories(a, state);
  char why[kSettingWordsSize];
  if (options) saveAccessories(a->context, a->system, why, sizeof(why));
}

void* background_query(void* data) {
  PrinterAccessories* a = static_cast<PrinterAccessories*>(data);
  AccessoryContext* context = a->context;
  {
    // The reference the starter took for this thread.
    AccessoriesRef held(a);
    bool options = false;
    bool state = false;
    {
      Locked locked(a->lock);
      const time_t now = time(nullptr);
      options = query_due(a, now);
      state = state_due(a, now);
    }
    QueryOutcome outcome = QueryOutcome::kBusy;
    if (options) outcome = run_query(a, nullptr).outcome;
    const bool walked = state && !going(a) && run_state(a);
    context->running--;
    // A busy USB printer is asked again at the next turn of the timer.
    const bool queried = options && outcome != QueryOutcome::kBusy;
    end_turn(a, queried);
    publish_found(a, queried, walked);
  }
  Locked registry(context->lock);
  context->threads--;
  context->ended.broadcast();
  return nullptr;
}

// Starts the printer's query when it is due and the bound allows it.
void start_if_due(pappl_printer_t* printer, void* data) {
  AccessoryContext* context = static_cast<AccessoryContext*>(data);
  AccessoriesRef a = acquireAccessories(printer);
  if (!a) return;
  {
    Locked locked(a->lock);
    const time_t now = time(nullptr);
    const bool due = query_due(a.get(), now) || state_due(a.get(), now);
    if (a->running || a->stopping || !due) return;
    if (context->running.fetch_add(1) >= kMaxRunningQueries) {
      context->running--;
      return;
    }
    a->running = true;
  }
  {
    Locked registry(context->lock);
    context->threads++;
    // The thread's own reference.
    a->refs++;
  }
  pthread_attr_t attr;
  pthread_attr_init(&attr);
  pthread_attr_setdetachstate(&attr, PTHREAD_CREATE_DETACHED);
  pthread_t thread;
  if (pthread_create(&thread, &attr, background_query, a.get()) != 0) {
    context->running--;
    end_turn(a.get(), false);
    AccessoriesRef unused(a.get());
    Locked registry(context->lock);
    context->threads--;
    context->ended.broadcast();
  }
  pthread_attr_destroy(&attr);
}

}  // namespace

bool runDueQueries(pappl_system_t* system, void* context) {
  papplSystemIteratePrinters(system, start_if_due, context);
  return true;
}

void requestQuery(pappl_printer_t* printer) {
  AccessoriesRef a = acquireAccessories(printer);
  if (!a) return;
  {
    Locked locked(a->lock);
    a->wanted = true;
    a->state_wanted = a->network;
  }
  start_if_due(printer, a->context);
}

bool printerStatus(pappl_printer_t* printer) {
  AccessoriesRef a = acquireAccessories(printer);
  if (a) publishState(a.get());
  return true;
}

QueryResult queryNow(pappl_printer_t* printer, FILE* out) {
  AccessoriesRef a = acquireAccessories(printer);
  if (!a || !take_turn(a.get())) return {QueryOutcome::kGone, 0};
  const QueryResult result = run_query(a.get(), out);
  if (result.outcome == QueryOutcome::kBusy) {
    fputs("# the printer is busy with a job; asked again later\n", out);
    Locked locked(a->lock);
    a->wanted = true;
  }
  end_turn(a.get(), result.outcome != QueryOutcome::kBusy);
  publish_found(a.get(), result.outcome == QueryOutcome::kAsked, false);
  return result;
}
