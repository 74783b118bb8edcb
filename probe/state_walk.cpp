// The walk of a printer's state tables. Each table is walked a row at a time: one GETNEXT asks
// for every column still in the table after the last row's index; the smallest index among the
// answers is the next row, and a column whose answer lies further on has no cell in that row (a
// gap) and is asked again from there. An answer that does not lie after what was asked ends its
// column, so that an agent that answers the same or an earlier object cannot keep the walk
// going; the rows kept are bounded, and the whole walk shares one time-out.
#include "probe/probe.h"

#include <net-snmp/net-snmp-config.h>
#include <net-snmp/net-snmp-includes.h>

#include <climits>
#include <cstring>
#include <ctime>

#include "common/handles.h"
#include "common/secret.h"
#include "log/text.h"
#include "probe/device_uri.h"
#include "probe/snmp_round.h"
#include "probe/snmp_session.h"
#include "probe/snmp_usm.h"

namespace {

constexpr size_t kMaxColumns = 9;
constexpr size_t kEntryLength = 10;
// Row indexes are two numbers in the Printer MIB (the device and the row), one in the host
// resources MIB; more than this is no row of ours.
constexpr size_t kMaxIndex = 4;

struct TableSpec {
  StateTable table;
  unsigned long entry[kEntryLength];
  int columns[kMaxColumns];
  size_t column_count;
  size_t max_rows;
};

// The columns asked, in column order (a row's answers arrive in this order, so that a tray's
// dimension unit is known before its dimensions).
constexpr TableSpec kTables[] = {
    // prtInputTable: type, unit, feed and cross-feed dimensions, capacity, level, status,
    // media name, name.
    {StateTable::kTrays,
     {1, 3, 6, 1, 2, 1, 43, 8, 2, 1},
     {2, 3, 4, 5, 9, 10, 11, 12, 13},
     9,
     kMaxTrays},
    // prtOutputTable: type, capacity, remaining, status, name.
    {StateTable::kBins, {1, 3, 6, 1, 2, 1, 43, 9, 2, 1}, {2, 4, 5, 6, 7}, 5, kMaxBins},
    // prtMarkerSuppliesTable: colorant index, class, type, description, capacity, level.
    {StateTable::kSupplies, {1, 3, 6, 1, 2, 1, 43, 11, 1, 1}, {3, 4, 5, 6, 8, 9}, 6, kMaxSupplies},
    // prtAlertTable: severity, group, group index, code, description.
    {StateTable::kAlerts, {1, 3, 6, 1, 2, 1, 43, 18, 1, 1}, {2, 4, 5, 7, 8}, 5, kMaxAlerts},
    // prtMarkerColorantTable: value.
    {StateTable::kColorants, {1, 3, 6, 1, 2, 1, 43, 12, 1, 1}, {4}, 1, kMaxColorants},
    // hrPrinterTable: status, detected error state; the first printer only.
    {StateTable::kPrinter, {1, 3, 6, 1, 2, 1, 25, 3, 5, 1}, {1, 2}, 2, 1},
};
constexpr size_t kTableCount = sizeof(kTables) / sizeof(kTables[0]);

// A GETBULK asks for this many rows at once (SNMPv2c and SNMPv3; SNMPv1 has none).
constexpr int kMaxRepetitions = 8;

// One column's answers to one request, in order, and how many of them rows took.
struct Column {
  const netsnmp_variable_list* values[kMaxRepetitions] = {};
  unsigned long index[kMaxRepetitions][kMaxIndex] = {};
  size_t lengths[kMaxRepetitions] = {};
  size_t count = 0;
  size_t next = 0;
  bool ended = false;
};

// How far the walk of one table has got.
struct TableWalk {
  bool active[kMaxColumns];        // columns still in the table
  unsigned long index[kMaxIndex];  // the last row's index
  size_t index_length;
  size_t rows;
  int error_status;             // the request ended with an error status (not noSuchName)
  SnmpName names[kMaxColumns];  // what the request asks for
  size_t asked[kMaxColumns];    // the column (in TableSpec::columns) of each name
};

struct Walk {
  PrinterState* state;
  SnmpRequest requests[kTableCount];
  TableWalk tables[kTableCount];
};

bool is_exception(u_char type) {
  return type == SNMP_NOSUCHOBJECT || type == SNMP_NOSUCHINSTANCE || type == SNMP_ENDOFMIBVIEW;
}

// An integer value, cut to int; false for another type.
bool int_value(const netsnmp_variable_list* variable, long* value) {
  if (variable->val.integer == nullptr) return false;
  switch (variable->type) {
    case ASN_INTEGER:
      *value = *variable->val.integer;
      break;
    case ASN_COUNTER:
    case ASN_GAUGE:
    case ASN_UINTEGER:
      *value = static_cast<long>(static_cast<unsigned long>(*variable->val.integer) & 0xFFFFFFFFul);
      break;
    default:
      return false;
  }
  if (*value > INT_MAX) *value = INT_MAX;
  if (*value < INT_MIN) *value = INT_MIN;
  return true;
}

// The state's int field from an integer variable; a wrong type leaves it and is noted.
void take_int(Walk& walk, StateTable table, const netsnmp_variable_list* variable, int* field) {
  long value = 0;
  if (int_value(variable, &value)) {
    *field = static_cast<int>(value);
  } else {
    addStateNote(*walk.state, StateNoteKind::kBadValue, table);
  }
}

// A level or capacity: a count, or a value the MIB defines for none (lowest: lowest_special);
// anything under it is taken as unknown and noted.
void take_level(Walk& walk, StateTable table, const netsnmp_variable_list* variable, int* field,
                int lowest_special) {
  take_int(walk, table, variable, field);
  if (*field != kNotGiven && *field < lowest_special) {
    *field = kLevelUnknown;
    addStateNote(*walk.state, StateNoteKind::kBadValue, table);
  }
}

void take_text(Walk& walk, StateTable table, const netsnmp_variable_list* variable, char* text,
               size_t size) {
  if (variable->type == ASN_OCTET_STR) {
    stateText(text, size, variable->val.string, variable->val_len);
  } else {
    addStateNote(*walk.state, StateNoteKind::kBadValue, table);
  }
}

// hrPrinterDetectedErrorState: bit 0 is the first octet's high bit.
void take_errors(Walk& walk, const netsnmp_variable_list* variable) {
  PrinterState& state = *walk.state;
  if (variable->type != ASN_OCTET_STR) {
    addStateNote(state, StateNoteKind::kBadValue, StateTable::kPrinter);
    return;
  }
  state.errors_given = true;
  state.errors = 0;
  for (int bit = 0; bit < kPrinterErrorBits; ++bit) {
    const size_t octet = static_cast<size_t>(bit) / 8;
    if (octet < variable->val_len && variable->val.string != nullptr &&
        (variable->val.string[octet] & (0x80 >> (bit % 8))) != 0) {
      state.errors |= 1u << bit;
    }
  }
}

void take_tray_cell(Walk& walk, StateTray& tray, int column, const netsnmp_variable_list* v) {
  constexpr StateTable kTable = StateTable::kTrays;
  switch (column) {
    case 2:
      take_int(walk, kTable, v, &tray.type);
      break;
    case 3:
      take_int(walk, kTable, v, &tray.unit);
      break;
    case 4:
      take_int(walk, kTable, v, &tray.feed);
      break;
    case 5:
      take_int(walk, kTable, v, &tray.xfeed);
      break;
    case 9:
      take_level(walk, kTable, v, &tray.capacity, kLevelUnknown);
      break;
    case 10:
      take_level(walk, kTable, v, &tray.level, kLevelSomeRemaining);
      break;
    case 11:
      take_int(walk, kTable, v, &tray.status);
      break;
    case 12:
      take_text(walk, kTable, v, tray.media, sizeof(tray.media));
      break;
    default:
      take_text(walk, kTable, v, tray.name, sizeof(tray.name));
      break;
  }
}

void take_bin_cell(Walk& walk, StateBin& bin, int column, const netsnmp_variable_list* v) {
  constexpr StateTable kTable = StateTable::kBins;
  switch (column) {
    case 2:
      take_int(walk, kTable, v, &bin.type);
      break;
    case 4:
      take_level(walk, kTable, v, &bin.capacity, kLevelUnknown);
      break;
    case 5:
      take_level(walk, kTable, v, &bin.remaining, kLevelSomeRemaining);
      break;
    case 6:
      take_int(walk, kTable, v, &bin.status);
      break;
    default:
      take_text(walk, kTable, v, bin.name, sizeof(bin.name));
      break;
  }
}

void take_supply_cell(Walk& walk, StateSupply& supply, int column, const netsnmp_variable_list* v) {
  constexpr StateTable kTable = StateTable::kSupplies;
  switch (column) {
    case 3:
      take_int(walk, kTable, v, &supply.colorant);
      break;
    case 4:
      take_int(walk, kTable, v, &supply.supply_class);
      break;
    case 5:
      take_int(walk, kTable, v, &supply.type);
      break;
    case 6:
      take_text(walk, kTable, v, supply.description, sizeof(supply.description));
      break;
    case 8:
      take_level(walk, kTable, v, &supply.capacity, kLevelUnknown);
      break;
    default:
      take_level(walk, kTable, v, &supply.level, kLevelSomeRemaining);
      break;
  }
}

void take_alert_cell(Walk& walk, StateAlert& alert, int column, const netsnmp_variable_list* v) {
  constexpr StateTable kTable = StateTable::kAlerts;
  switch (column) {
    case 2:
      take_int(walk, kTable, v, &alert.severity);
      break;
    case 4:
      take_int(walk, kTable, v, &alert.group);
      break;
    case 5:
      take_int(walk, kTable, v, &alert.group_index);
      break;
    case 7:
      take_int(walk, kTable, v, &alert.code);
      break;
    default:
      take_text(walk, kTable, v, alert.description, sizeof(alert.description));
      break;
  }
}

// A new row of table t at position row, every field not given yet; device and index from the
// row's index.
void start_row(Walk& walk, size_t t, size_t row, const unsigned long* index, size_t length) {
  PrinterState& state = *walk.state;
  const unsigned long device = length >= 2 ? index[0] : 1;
  const unsigned long number = index[length - 1];
  switch (kTables[t].table) {
    case StateTable::kTrays:
      state.trays[row] = {device,    number,    kNotGiven, kNotGiven, kNotGiven, kNotGiven,
                          kNotGiven, kNotGiven, kNotGiven, "",        ""};
      state.tray_count = row + 1;
      break;
    case StateTable::kBins:
      state.bins[row] = {device, number, kNotGiven, kNotGiven, kNotGiven, kNotGiven, ""};
      state.bin_count = row + 1;
      break;
    case StateTable::kSupplies:
      state.supplies[row] = {device, number, kNotGiven, kNotGiven, 0, kNotGiven, kNotGiven, "", ""};
      state.supply_count = row + 1;
      break;
    case StateTable::kAlerts:
      state.alerts[row] = {device, number, kNotGiven, kNotGiven, kNotGiven, kNotGiven, ""};
      state.alert_count = row + 1;
      break;
    case StateTable::kColorants:
      state.colorants[row] = {device, number, ""};
      state.colorant_count = row + 1;
      break;
    case StateTable::kPrinter:
      break;
  }
}

void take_cell(Walk& walk, size_t t, size_t row, int column, const netsnmp_variable_list* v) {
  PrinterState& state = *walk.state;
  switch (kTables[t].table) {
    case StateTable::kTrays:
      take_tray_cell(walk, state.trays[row], column, v);
      break;
    case StateTable::kBins:
      take_bin_cell(walk, state.bins[row], column, v);
      break;
    case StateTable::kSupplies:
      take_supply_cell(walk, state.supplies[row], column, v);
      break;
    case StateTable::kAlerts:
      take_alert_cell(walk, state.alerts[row], column, v);
      break;
    case StateTable::kColorants:
      take_text(walk, StateTable::kColorants, v, state.colorants[row].value,
                sizeof(state.colorants[row].value));
      break;
    case StateTable::kPrinter:
      if (column == 1) {
        take_int(walk, StateTable::kPrinter, v, &state.status);
      } else {
        take_errors(walk, v);
      }
      break;
  }
}

// Sets the request of table t up for the columns still in it, after the last row's index;
// false when none is left.
bool arm(Walk& walk, size_t t) {
  const TableSpec& spec = kTables[t];
  TableWalk& table = walk.tables[t];
  size_t n = 0;
  for (size_t c = 0; c < spec.column_count; ++c) {
    if (!table.active[c]) continue;
    SnmpName& name = table.names[n];
    memcpy(name.ids, spec.entry, sizeof(spec.entry));
    name.ids[kEntryLength] = static_cast<unsigned long>(spec.columns[c]);
    memcpy(name.ids + kEntryLength + 1, table.index, table.index_length * sizeof(unsigned long));
    name.length = kEntryLength + 1 + table.index_length;
    table.asked[n++] = c;
  }
  walk.requests[t].names = table.names;
  walk.requests[t].name_count = n;
  return n > 0;
}

// Where an answer's name lies for the column asked: the row index after the column (into
// index), or false when it lies outside the column, holds no row, or does not come after what
// was asked or answered before it (which ends the column, and for the last reason is noted).
bool row_of(Walk& walk, size_t t, const oid* after, size_t after_length, size_t column,
            const netsnmp_variable_list* v, unsigned long* index, size_t* length) {
  const TableSpec& spec = kTables[t];
  if (v == nullptr || is_exception(v->type) || v->name == nullptr) return false;
  if (snmp_oid_compare(v->name, v->name_length, after, after_length) <= 0) {
    addStateNote(*walk.state, StateNoteKind::kBackwards, spec.table);
    return false;
  }
  if (v->name_length <= kEntryLength + 1 || v->name_length > kEntryLength + 1 + kMaxIndex ||
      memcmp(v->name, spec.entry, sizeof(spec.entry)) != 0 ||
      v->name[kEntryLength] != static_cast<oid>(spec.columns[column])) {
    return false;
  }
  *length = v->name_length - kEntryLength - 1;
  for (size_t i = 0; i < *length; ++i) index[i] = v->name[kEntryLength + 1 + i];
  return true;
}

int compare_index(const unsigned long* a, size_t a_length, const unsigned long* b,
                  size_t b_length) {
  for (size_t i = 0; i < a_length && i < b_length; ++i) {
    if (a[i] != b[i]) return a[i] < b[i] ? -1 : 1;
  }
  if (a_length == b_length) return 0;
  return a_length < b_length ? -1 : 1;
}

// The walk's next step for one table, after its request ended.
bool follow_table(SnmpRequest& request, void* data) {
  Walk& walk = *static_cast<Walk*>(data);
  const size_t t = static_cast<size_t>(&request - walk.requests);
  const TableSpec& spec = kTables[t];
  TableWalk& table = walk.tables[t];
  if (request.outcome == SnmpOutcome::kErrorStatus) {
    // An SNMPv1 agent names the variable past the end of its objects: that column ends, and
    // the others are asked again.
    const long bad = request.error_index;
    if (request.error_status == SNMP_ERR_NOSUCHNAME && bad >= 1 &&
        static_cast<size_t>(bad) <= request.name_count) {
      table.active[table.asked[bad - 1]] = false;
      return arm(walk, t);
    }
    table.error_status = static_cast<int>(request.error_status);
    return false;
  }
  if (request.outcome != SnmpOutcome::kAnswered) return false;

  // Each column's answers in order: the answer holds one per column asked, and a GETBULK's as
  // many times over as it repeats.
  const size_t n = request.name_count;
  Column column_of[kMaxColumns];
  size_t i = 0;
  for (const netsnmp_variable_list* v = request.variable; v != nullptr && n > 0;
       v = v->next_variable, ++i) {
    Column& c = column_of[i % n];
    if (c.ended || c.count >= kMaxRepetitions) continue;
    const oid* after = c.count > 0 ? c.values[c.count - 1]->name : table.names[i % n].ids;
    const size_t after_length =
        c.count > 0 ? c.values[c.count - 1]->name_length : table.names[i % n].length;
    if (row_of(walk, t, after, after_length, table.asked[i % n], v, c.index[c.count],
               &c.lengths[c.count])) {
      c.values[c.count++] = v;
    } else {
      c.ended = true;
    }
  }
  // A column that gave no answer at all has ended too.
  for (size_t k = 0; k < n; ++k) column_of[k].ended |= column_of[k].count == 0;

  // Rows while every column still in the table has an answer to tell its next cell by.
  for (;;) {
    const unsigned long* next = nullptr;
    size_t next_length = 0;
    bool starved = false;
    for (size_t k = 0; k < n && !starved; ++k) {
      const Column& c = column_of[k];
      if (c.next >= c.count) {
        starved = !c.ended;
        continue;
      }
      if (next == nullptr ||
          compare_index(c.index[c.next], c.lengths[c.next], next, next_length) < 0) {
        next = c.index[c.next];
        next_length = c.lengths[c.next];
      }
    }
    if (starved) break;
    if (next == nullptr) return false;
    if (table.rows >= spec.max_rows) {
      if (spec.table != StateTable::kPrinter) {
        addStateNote(*walk.state, StateNoteKind::kCut, spec.table, spec.max_rows);
      }
      return false;
    }
    unsigned long row_index[kMaxIndex] = {};
    memcpy(row_index, next, next_length * sizeof(unsigned long));
    const size_t row = table.rows++;
    start_row(walk, t, row, row_index, next_length);
    for (size_t k = 0; k < n; ++k) {
      Column& c = column_of[k];
      if (c.next < c.count &&
          compare_index(c.index[c.next], c.lengths[c.next], row_index, next_length) == 0) {
        take_cell(walk, t, row, spec.columns[table.asked[k]], c.values[c.next++]);
      }
    }
    memcpy(table.index, row_index, next_length * sizeof(unsigned long));
    table.index_length = next_length;
  }
  for (size_t k = 0; k < n; ++k) {
    if (column_of[k].ended) table.active[table.asked[k]] = false;
  }
  return arm(walk, t);
}

// Each supply gets the value of its colorant, when the printer lists one.
void name_colours(PrinterState& state) {
  for (size_t s = 0; s < state.supply_count; ++s) {
    StateSupply& supply = state.supplies[s];
    for (size_t c = 0; c < state.colorant_count && supply.colorant > 0; ++c) {
      const StateColorant& colorant = state.colorants[c];
      if (colorant.device == supply.device &&
          colorant.index == static_cast<unsigned long>(supply.colorant)) {
        copy_text(supply.colour, sizeof(supply.colour), colorant.value);
      }
    }
  }
}

// The walk's outcome from its requests: a table that ended without its end (a time-out, a
// refusal) makes the whole walk that failure; error statuses on every table make it kError.
void take_outcome(const Walk& walk, PrinterStateResult& result) {
  size_t errors = 0;
  for (size_t t = 0; t < kTableCount; ++t) {
    const SnmpRequest& request = walk.requests[t];
    const char* text = request.error_text != nullptr ? request.error_text : "";
    switch (request.outcome) {
      case SnmpOutcome::kFailed:
        result.outcome = StateOutcome::kNoAnswer;
        copy_text(result.detail, sizeof(result.detail), text);
        return;
      case SnmpOutcome::kRefused:
        result.outcome = StateOutcome::kRefused;
        result.report = request.report;
        copy_text(result.detail, sizeof(result.detail), text);
        return;
      case SnmpOutcome::kOpenFailed:
      case SnmpOutcome::kInvalidOid:
      case SnmpOutcome::kNotSent:
        result.outcome = StateOutcome::kNoSession;
        copy_text(result.detail, sizeof(result.detail), text);
        return;
      case SnmpOutcome::kErrorStatus:
        if (walk.tables[t].error_status != 0) {
          ++errors;
          copy_text(result.detail, sizeof(result.detail),
                    snmp_errstring(walk.tables[t].error_status));
        }
        break;
      case SnmpOutcome::kAnswered:
        break;
    }
  }
  result.outcome = errors == kTableCount ? StateOutcome::kError : StateOutcome::kAnswered;
  for (size_t t = 0; t < kTableCount && result.outcome == StateOutcome::kAnswered; ++t) {
    if (walk.tables[t].error_status != 0) {
      addStateNote(result.state, StateNoteKind::kNoTable, kTables[t].table);
    }
  }
}

long elapsed_since(const struct timespec& start) {
  struct timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return (now.tv_sec - start.tv_sec) * 1000 + (now.tv_nsec - start.tv_nsec) / 1000000;
}

}  // namespace

void walkPrinterState(const char* host, const SnmpCredentials& credentials,
                      const ProbeCancel& cancel, PrinterStateResult& result, int timeout_ms) {
  probeSnmpInit();
  struct timespec start;
  clock_gettime(CLOCK_MONOTONIC, &start);
  result.state = PrinterState();
  UniqueMalloc<Walk[]> walk = make_array<Walk>(1);
  // The session parameters hold the master keys of SNMPv3.
  Secret<netsnmp_session> session;
  if (walk == nullptr || session.get() == nullptr) {
    result.outcome = StateOutcome::kNoSession;
    copy_text(result.detail, sizeof(result.detail), "no memory for the walk");
    return;
  }
  walk[0].state = &result.state;
  for (size_t t = 0; t < kTableCount; ++t) {
    for (size_t c = 0; c < kTables[t].column_count; ++c) walk[0].tables[t].active[c] = true;
    arm(walk[0], t);
  }
  char no_session[kDetailSize] = "";
  if (setupCredentialSession(session.get(), host, credentials, no_session, sizeof(no_session)) !=
      0) {
    result.outcome = StateOutcome::kNoSession;
    copy_text(result.detail, sizeof(result.detail), no_session);
  } else {
    // Where the protocol has it, a request asks for several rows at once.
    if (session->version != SNMP_VERSION_1) {
      for (SnmpRequest& request : walk[0].requests) request.bulk_rows = kMaxRepetitions;
    }
    const SnmpFollow follow = {follow_table, walk.get()};
    const int round =
        snmpWalk(session.get(), walk[0].requests, kTableCount, timeout_ms, follow, cancel);
    if (round == kSnmpRoundCancelled) {
      result.outcome = StateOutcome::kNotAsked;
      copy_text(result.detail, sizeof(result.detail), "cancelled");
    } else {
      take_outcome(walk[0], result);
    }
  }
  releaseSnmpSession(session.get());
  snmpRoundRelease(walk[0].requests, kTableCount);
  if (result.outcome == StateOutcome::kAnswered) {
    name_colours(result.state);
  } else {
    result.state = PrinterState();
  }
  result.elapsed_ms = elapsed_since(start);
}

void probePrinterState(ppd_file_t* ppd, const char* uri, const SnmpV3Settings* v3,
                       const ProbeCancel& cancel, PrinterStateResult& result,
                       SnmpSettingsReport* report) {
  result = PrinterStateResult();
  NetworkQuery query;
  const char* why = "";
  const int setup = setupNetworkQuery(uri, ppd, v3, query, &why);
  if (report != nullptr) *report = query.report;
  if (setup == kProbeNoDevice) copy_text(result.detail, sizeof(result.detail), why);
  if (setup == kProbeNoMemory) {
    result.outcome = StateOutcome::kNoSession;
    copy_text(result.detail, sizeof(result.detail), "no memory for the settings");
  }
  if (setup == kProbeDone) walkPrinterState(query.host, *query.credentials, cancel, result);
}
