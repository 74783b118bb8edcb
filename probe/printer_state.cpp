// What a printer's state records mean: its texts kept safe, levels as percentages, colours,
// kinds, and the printer-state-reasons they give.
#include "probe/printer_state.h"

#include <strings.h>

#include <cstdio>
#include <cstring>

#include "log/escape.h"
#include "log/text.h"
#include "probe/messages.h"

namespace {

// The printer's text is read at most this far: a description longer than the kept text gains
// nothing from more bytes, and a hostile one costs no more than this.
constexpr size_t kTextReadLimit = 4 * kStateTextSize;
// A consumed supply at or under this percentage is low; a receptacle at or over its mirror is
// almost full. IPP's marker-low-levels say the same.
constexpr int kLowPercent = 10;
constexpr int kAlmostFullPercent = 90;

template <typename T, size_t N>
const char* name_in(const T (&names)[N], int value, const char* other) {
  for (const T& name : names) {
    if (name.value == value) return name.text;
  }
  return other;
}

struct Named {
  int value;
  const char* text;
};

// The IPP keywords of the supplies' kinds.
constexpr Named kSupplyKeywords[] = {
    {3, "toner"},
    {4, "wasteToner"},
    {5, "ink"},
    {6, "inkCartridge"},
    {7, "inkRibbon"},
    {8, "wasteInk"},
    {9, "opc"},
    {10, "developer"},
    {11, "fuserOil"},
    {12, "solidWax"},
    {13, "ribbonWax"},
    {14, "wasteWax"},
    {15, "fuser"},
    {16, "coronaWire"},
    {17, "fuserOilWick"},
    {18, "cleanerUnit"},
    {19, "fuserCleaningPad"},
    {20, "transferUnit"},
    {21, "tonerCartridge"},
    {22, "fuserOiler"},
    {23, "water"},
    {24, "wasteWater"},
    {25, "glueWaterAdditive"},
    {26, "wastePaper"},
    {27, "bindingSupply"},
    {28, "bandingSupply"},
    {29, "stitchingWire"},
    {30, "shrinkWrap"},
    {31, "paperWrap"},
    {32, "staples"},
    {33, "inserts"},
    {34, "covers"},
};

constexpr Named kSupplyWords[] = {
    {3, "toner"},
    {4, "waste toner box"},
    {5, "ink"},
    {6, "ink cartridge"},
    {7, "ink ribbon"},
    {8, "waste ink box"},
    {9, "photoconductor"},
    {10, "developer"},
    {11, "fuser oil"},
    {12, "solid wax"},
    {13, "wax ribbon"},
    {14, "waste wax box"},
    {15, "fuser"},
    {16, "corona wire"},
    {17, "fuser oil wick"},
    {18, "cleaner unit"},
    {19, "fuser cleaning pad"},
    {20, "transfer unit"},
    {21, "toner cartridge"},
    {22, "fuser oiler"},
    {23, "water"},
    {24, "waste water"},
    {25, "glue water additive"},
    {26, "waste paper"},
    {27, "binding supply"},
    {28, "banding supply"},
    {29, "stitching wire"},
    {30, "shrink wrap"},
    {31, "paper wrap"},
    {32, "staples"},
    {33, "inserts"},
    {34, "covers"},
};

constexpr Named kTrayKeywords[] = {
    {3, "sheetFeedAutoRemovableTray"},
    {4, "sheetFeedAutoNonRemovableTray"},
    {5, "sheetFeedManual"},
    {6, "continuousRoll"},
    {7, "continuousFanFold"},
};

constexpr Named kTrayWords[] = {
    {3, "removable tray"}, {4, "fixed tray"}, {5, "manual feed"}, {6, "roll"}, {7, "fan-fold"},
};

constexpr Named kBinWords[] = {
    {3, "removable bin"}, {4, "fixed bin"}, {5, "roll"}, {6, "mailbox"}, {7, "fan-fold"},
};

constexpr Named kBinKeywords[] = {
    {3, "removableBin"}, {4, "unRemovableBin"},    {5, "continuousRollDevice"},
    {6, "mailBox"},      {7, "continuousFanFold"},
};

// Colour words of descriptions and colorant values, longest first so that "light cyan" is not
// taken for "cyan"; each with the IPP colour keyword it stands for.
struct ColourWord {
  const char* word;
  const char* keyword;
};
constexpr ColourWord kColourWords[] = {
    {"light cyan", "light-cyan"},
    {"photo cyan", "light-cyan"},
    {"light magenta", "light-magenta"},
    {"photo magenta", "light-magenta"},
    {"light gray", "light-gray"},
    {"light grey", "light-gray"},
    {"light black", "light-gray"},
    {"tri-colo", "multi-color"},
    {"tricolo", "multi-color"},
    {"multi-colo", "multi-color"},
    {"cyan", "cyan"},
    {"magenta", "magenta"},
    {"yellow", "yellow"},
    {"black", "black"},
    {"gray", "gray"},
    {"grey", "gray"},
    {"orange", "orange"},
    {"violet", "violet"},
    {"green", "green"},
    {"red", "red"},
    {"blue", "blue"},
};

// The bits of each reason's keyword, in bit order.
constexpr const char* kReasonKeywords[kStateReasonBits] = {
    "other",
    "media-low",
    "media-empty",
    "media-jam",
    "toner-low",
    "toner-empty",
    "door-open",
    "cover-open",
    "offline",
    "input-tray-missing",
    "output-tray-missing",
    "marker-supply-low",
    "marker-supply-empty",
    "marker-waste-almost-full",
    "marker-waste-full",
    "output-area-almost-full",
    "output-area-full",
    "marker-supply-missing",
    "media-needed",
};

// The reason of each detected error bit, in bit order.
constexpr uint32_t kErrorReasons[kPrinterErrorBits] = {
    kReasonMediaLow,
    kReasonMediaEmpty,
    kReasonTonerLow,
    kReasonTonerEmpty,
    kReasonDoorOpen,
    kReasonMediaJam,
    kReasonOffline,
    kReasonOther,
    kReasonInputTrayMissing,
    kReasonOutputTrayMissing,
    kReasonMarkerSupplyMissing,
    kReasonOutputAreaAlmostFull,
    kReasonOutputAreaFull,
    kReasonMediaEmpty,
    kReasonOther,
};

constexpr const char* kErrorWords[kPrinterErrorBits] = {
    "paper low",
    "no paper",
    "toner low",
    "no toner",
    "door open",
    "paper jam",
    "offline",
    "service requested",
    "input tray missing",
    "output tray missing",
    "marker supply missing",
    "output almost full",
    "output full",
    "input tray empty",
    "preventive maintenance overdue",
};

// The reason of an alert's code (prtAlertCode).
constexpr struct {
  int code;
  uint32_t reason;
} kAlertReasons[] = {
    {3, kReasonCoverOpen},
    {5, kReasonDoorOpen},
    {8, kReasonMediaJam},
    {501, kReasonDoorOpen},
    {801, kReasonInputTrayMissing},
    {807, kReasonMediaLow},
    {808, kReasonMediaEmpty},
    {809, kReasonMediaNeeded},
    {810, kReasonMediaNeeded},
    {901, kReasonOutputTrayMissing},
    {902, kReasonOutputAreaAlmostFull},
    {903, kReasonOutputAreaFull},
    {1101, kReasonTonerEmpty},
    {1102, kReasonMarkerSupplyEmpty},
    {1103, kReasonMarkerSupplyEmpty},
    {1104, kReasonTonerLow},
    {1105, kReasonMarkerSupplyLow},
    {1106, kReasonMarkerSupplyLow},
    {1107, kReasonMarkerWasteAlmostFull},
    {1108, kReasonMarkerWasteAlmostFull},
    {1109, kReasonMarkerWasteFull},
    {1110, kReasonMarkerWasteFull},
    {1115, kReasonMarkerSupplyMissing},
    {1301, kReasonInputTrayMissing},
};

constexpr const char* kTableWords[] = {"trays",  "output bins", "supplies",
                                       "alerts", "colorants",   "printer status"};

bool is_toner(int type) {
  return type == 3 || type == 21;
}

// Whether text holds word (any letter case).
bool holds_word(const char* text, const char* word) {
  const size_t length = strlen(word);
  for (const char* p = text; *p != '\0'; ++p) {
    if (strncasecmp(p, word, length) == 0) return true;
  }
  return false;
}

const char* colour_of_text(const char* text) {
  for (const ColourWord& colour : kColourWords) {
    if (holds_word(text, colour.word)) return colour.keyword;
  }
  return "";
}

}  // namespace

void stateText(char* text, size_t size, const unsigned char* bytes, size_t length) {
  if (size == 0) return;
  char raw[kTextReadLimit + 1];
  size_t n = 0;
  while (bytes != nullptr && n < length && n < kTextReadLimit && bytes[n] != 0) {
    raw[n] = static_cast<char>(bytes[n]);
    ++n;
  }
  while (n > 0 && (raw[n - 1] == ' ' || raw[n - 1] == '\t')) --n;
  raw[n] = '\0';
  escape_utf8(text, size, raw);
}

int fillPercent(int level, int capacity) {
  if (level == kLevelSomeRemaining) return kLevelSomeRemaining;
  if (level < 0 || capacity <= 0) return -1;
  if (level >= capacity) return 100;
  return static_cast<int>(100L * level / capacity);
}

int supplyPercent(const StateSupply& supply) {
  return fillPercent(supply.level, supply.capacity);
}

bool trayMediaSize(const StateTray& tray, int* width, int* length) {
  // Ten-thousandths of an inch are 0.254 hundredths of a millimetre; micrometres 0.1.
  long numerator = 0;
  long denominator = 1;
  if (tray.unit == 3) {
    numerator = 254;
    denominator = 1000;
  } else if (tray.unit == 4) {
    numerator = 1;
    denominator = 10;
  }
  if (numerator == 0 || tray.feed <= 0 || tray.xfeed <= 0) return false;
  *width = static_cast<int>(tray.xfeed * numerator / denominator);
  *length = static_cast<int>(tray.feed * numerator / denominator);
  return *width > 0 && *length > 0;
}

const char* supplyColour(const StateSupply& supply) {
  const char* colour = colour_of_text(supply.colour);
  return colour[0] != '\0' ? colour : colour_of_text(supply.description);
}

const char* supplyTypeKeyword(int type) {
  return name_in(kSupplyKeywords, type, "other");
}

const char* supplyTypeWords(int type) {
  return name_in(kSupplyWords, type, "supply");
}

const char* trayTypeKeyword(int type) {
  return name_in(kTrayKeywords, type, "other");
}

const char* binTypeKeyword(int type) {
  return name_in(kBinKeywords, type, "other");
}

const char* trayTypeWords(int type) {
  return name_in(kTrayWords, type, "tray");
}

const char* binTypeWords(int type) {
  return name_in(kBinWords, type, "bin");
}

uint32_t stateReasons(const PrinterState& state) {
  uint32_t reasons = 0;
  for (int bit = 0; bit < kPrinterErrorBits; ++bit) {
    if ((state.errors & (1u << bit)) != 0) reasons |= kErrorReasons[bit];
  }
  for (size_t i = 0; i < state.alert_count; ++i) {
    for (const auto& alert : kAlertReasons) {
      if (alert.code == state.alerts[i].code) reasons |= alert.reason;
    }
  }
  for (size_t i = 0; i < state.supply_count; ++i) {
    const StateSupply& supply = state.supplies[i];
    const int percent = supplyPercent(supply);
    if (percent < 0) continue;
    if (supply.supply_class == kSupplyReceptacle) {
      if (percent >= 100) {
        reasons |= kReasonMarkerWasteFull;
      } else if (percent >= kAlmostFullPercent) {
        reasons |= kReasonMarkerWasteAlmostFull;
      }
    } else if (percent == 0) {
      reasons |= is_toner(supply.type) ? kReasonTonerEmpty : kReasonMarkerSupplyEmpty;
    } else if (percent <= kLowPercent) {
      reasons |= is_toner(supply.type) ? kReasonTonerLow : kReasonMarkerSupplyLow;
    }
  }
  return reasons;
}

const char* stateReasonKeyword(uint32_t reason) {
  for (int bit = 0; bit < kStateReasonBits; ++bit) {
    if (reason == (1u << bit)) return kReasonKeywords[bit];
  }
  return "";
}

const char* printerStatusWords(int status) {
  switch (status) {
    case kPrinterStatusOther:
      return "other";
    case kPrinterStatusUnknown:
      return "unknown";
    case kPrinterStatusIdle:
      return "idle";
    case kPrinterStatusPrinting:
      return "printing";
    case kPrinterStatusWarmup:
      return "warming up";
    default:
      return "not given";
  }
}

const char* printerErrorWords(uint32_t bit) {
  for (int i = 0; i < kPrinterErrorBits; ++i) {
    if (bit == (1u << i)) return kErrorWords[i];
  }
  return "";
}

void levelWords(int value, char* buffer, size_t size) {
  switch (value) {
    case kLevelOther:
      copy_text(buffer, size, "other");
      break;
    case kLevelUnknown:
      copy_text(buffer, size, "unknown");
      break;
    case kLevelSomeRemaining:
      copy_text(buffer, size, "some remaining");
      break;
    case kNotGiven:
      copy_text(buffer, size, "not given");
      break;
    default:
      format_text(buffer, size, "%d", value);
      break;
  }
}

void stateNoteWords(const StateNote& note, char* buffer, size_t size) {
  const char* table = kTableWords[static_cast<size_t>(note.table)];
  switch (note.kind) {
    case StateNoteKind::kCut:
      format_text(buffer, size, "more than %zu %s: the first %zu are kept", note.count, table,
                  note.count);
      break;
    case StateNoteKind::kBackwards:
      format_text(buffer, size,
                  "the %s ended early: an answer named the same or an earlier object than asked",
                  table);
      break;
    case StateNoteKind::kBadValue:
      format_text(buffer, size, "the %s hold a value of the wrong type or out of range", table);
      break;
    case StateNoteKind::kNoTable:
      format_text(buffer, size, "no %s: the printer answered with an error status", table);
      break;
  }
}

void stateFailureWords(const PrinterStateResult& result, char* buffer, size_t size) {
  if (size == 0) return;
  buffer[0] = '\0';
  // The option queries' words for the same failures.
  ProbeRecord record;
  record.family = ProbeFamily::kSnmp;
  record.report = result.report;
  record.failed_call = "snmp_sess_open";
  copy_text(record.detail, sizeof(record.detail), result.detail);
  switch (result.outcome) {
    case StateOutcome::kAnswered:
      return;
    case StateOutcome::kNotAsked:
      record.outcome = ProbeOutcome::kNotAsked;
      break;
    case StateOutcome::kNoAnswer:
      record.outcome = ProbeOutcome::kNoAnswer;
      break;
    case StateOutcome::kRefused:
      record.outcome = ProbeOutcome::kRefused;
      break;
    case StateOutcome::kNoSession:
      record.outcome = ProbeOutcome::kNoSession;
      break;
    case StateOutcome::kError:
      record.outcome = ProbeOutcome::kErrorStatus;
      break;
  }
  probeFailureWords(record, buffer, size);
}

void addStateNote(PrinterState& state, StateNoteKind kind, StateTable table, size_t count) {
  for (size_t i = 0; i < state.note_count; ++i) {
    if (state.notes[i].kind == kind && state.notes[i].table == table) return;
  }
  if (state.note_count < kMaxStateNotes) state.notes[state.note_count++] = {kind, table, count};
}
