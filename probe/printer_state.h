// A printer's own state as data: its input trays, output bins, marker supplies and alerts from
// the Printer MIB, and its status and detected errors from the host resources MIB, with what
// they mean for people and for IPP (percentages, colours, printer-state-reasons). Every text the
// printer gave is kept escaped and cut to a bound: it can never end a line, carry a control
// byte or be anything but well-formed UTF-8. Nothing here talks to a printer or writes anywhere
// (probe/state_walk.h asks the printer).
#ifndef ZORV_PROBE_PRINTER_STATE_H
#define ZORV_PROBE_PRINTER_STATE_H

#include <cstddef>
#include <cstdint>

#include "probe/record.h"

// A name or description as kept: escaped, at most 127 bytes, an escape or a character never cut.
inline constexpr size_t kStateTextSize = 128;
inline constexpr size_t kColourTextSize = 32;
// At most this many rows of each table are kept; a printer that lists more is cut (and noted).
inline constexpr size_t kMaxTrays = 32;
inline constexpr size_t kMaxBins = 16;
inline constexpr size_t kMaxSupplies = 32;
inline constexpr size_t kMaxAlerts = 32;
inline constexpr size_t kMaxColorants = 32;
inline constexpr size_t kMaxStateNotes = 16;

// The Printer MIB's values for a capacity or level that is not a count.
inline constexpr int kLevelOther = -1;
inline constexpr int kLevelUnknown = -2;
inline constexpr int kLevelSomeRemaining = -3;  // levels only: at least one unit is there
// Not a value of the MIB: the printer gave none.
inline constexpr int kNotGiven = -100;

// One input tray (prtInputTable).
struct StateTray {
  unsigned long device;       // hrDeviceIndex
  unsigned long index;        // prtInputIndex
  int type;                   // prtInputType: 3 removable tray, 4 fixed tray, 5 manual feed, ...
  int capacity;               // prtInputMaxCapacity: a count, kLevelOther, kLevelUnknown, kNotGiven
  int level;                  // prtInputCurrentLevel: a count, a kLevel* value, kNotGiven
  int status;                 // prtInputStatus (sub-unit status bits), kNotGiven
  int unit;                   // prtInputDimUnit: 3 ten-thousandths of an inch, 4 micrometres
  int feed;                   // prtInputMediaDimFeedDirDeclared, in unit; kNotGiven
  int xfeed;                  // prtInputMediaDimXFeedDirDeclared, in unit; kNotGiven
  char name[kStateTextSize];  // prtInputName
  char media[kStateTextSize];  // prtInputMediaName
};

// One output bin (prtOutputTable).
struct StateBin {
  unsigned long device;
  unsigned long index;
  int type;       // prtOutputType
  int capacity;   // prtOutputMaxCapacity
  int remaining;  // prtOutputRemainingCapacity
  int status;     // prtOutputStatus
  char name[kStateTextSize];
};

// prtMarkerSuppliesClass.
inline constexpr int kSupplyConsumed = 3;    // supplyThatIsConsumed
inline constexpr int kSupplyReceptacle = 4;  // receptacleThatIsFilled (waste)

// One marker supply (prtMarkerSuppliesTable), with its colorant when the printer names one.
struct StateSupply {
  unsigned long device;
  unsigned long index;
  int supply_class;  // kSupplyConsumed, kSupplyReceptacle, or another value
  int type;          // prtMarkerSuppliesType: 3 toner, 5 ink, 9 opc, 15 fuser, ...
  int colorant;      // prtMarkerSuppliesColorantIndex (0: none)
  int capacity;      // prtMarkerSuppliesMaxCapacity
  int level;         // prtMarkerSuppliesLevel
  char description[kStateTextSize];
  char colour[kColourTextSize];  // prtMarkerColorantValue of its colorant ("cyan"), or ""
};

// One alert (prtAlertTable).
struct StateAlert {
  unsigned long device;
  unsigned long index;
  int severity;     // prtAlertSeverityLevel: 1 other, 3 critical, 4 warning, 5
                    // warningBinaryChangeEvent
  int group;        // prtAlertGroup: 6 cover, 8 input, 9 output, 11 markerSupplies, 13 mediaPath
  int group_index;  // prtAlertGroupIndex
  int code;         // prtAlertCode: 3 coverOpen, 8 jam, 501 doorOpen, 803 input empty, ...
  char description[kStateTextSize];
};

// One colorant (prtMarkerColorantTable): what a supply's colorant index names.
struct StateColorant {
  unsigned long device;
  unsigned long index;
  char value[kColourTextSize];
};

// What went wrong with the printer's answers, each kept once per table.
enum class StateNoteKind : uint8_t {
  kCut,        // more rows than are kept (count: the rows kept)
  kBackwards,  // an answer named the same or an earlier object than asked: the table ends there
  kBadValue,   // a value of the wrong type, or a level or capacity the MIB does not define
  kNoTable,    // the printer has no such table (an error status for the whole request)
};

// The tables of a walk, for the notes.
enum class StateTable : uint8_t { kTrays, kBins, kSupplies, kAlerts, kColorants, kPrinter };

struct StateNote {
  StateNoteKind kind;
  StateTable table;
  size_t count;
};

// hrPrinterStatus.
inline constexpr int kPrinterStatusOther = 1;
inline constexpr int kPrinterStatusUnknown = 2;
inline constexpr int kPrinterStatusIdle = 3;
inline constexpr int kPrinterStatusPrinting = 4;
inline constexpr int kPrinterStatusWarmup = 5;

// hrPrinterDetectedErrorState, bit n for the MIB's bit n (the first octet's high bit is bit 0).
enum PrinterErrorBit : uint32_t {
  kErrorLowPaper = 1u << 0,
  kErrorNoPaper = 1u << 1,
  kErrorLowToner = 1u << 2,
  kErrorNoToner = 1u << 3,
  kErrorDoorOpen = 1u << 4,
  kErrorJammed = 1u << 5,
  kErrorOffline = 1u << 6,
  kErrorServiceRequested = 1u << 7,
  kErrorInputTrayMissing = 1u << 8,
  kErrorOutputTrayMissing = 1u << 9,
  kErrorMarkerSupplyMissing = 1u << 10,
  kErrorOutputNearFull = 1u << 11,
  kErrorOutputFull = 1u << 12,
  kErrorInputTrayEmpty = 1u << 13,
  kErrorOverduePreventMaint = 1u << 14,
};
inline constexpr int kPrinterErrorBits = 15;

// The printer-state-reasons keywords that the state can give, as bits.
enum StateReason : uint32_t {
  kReasonOther = 1u << 0,
  kReasonMediaLow = 1u << 1,
  kReasonMediaEmpty = 1u << 2,
  kReasonMediaJam = 1u << 3,
  kReasonTonerLow = 1u << 4,
  kReasonTonerEmpty = 1u << 5,
  kReasonDoorOpen = 1u << 6,
  kReasonCoverOpen = 1u << 7,
  kReasonOffline = 1u << 8,
  kReasonInputTrayMissing = 1u << 9,
  kReasonOutputTrayMissing = 1u << 10,
  kReasonMarkerSupplyLow = 1u << 11,
  kReasonMarkerSupplyEmpty = 1u << 12,
  kReasonMarkerWasteAlmostFull = 1u << 13,
  kReasonMarkerWasteFull = 1u << 14,
  kReasonOutputAreaAlmostFull = 1u << 15,
  kReasonOutputAreaFull = 1u << 16,
  kReasonMarkerSupplyMissing = 1u << 17,
  kReasonMediaNeeded = 1u << 18,
};
inline constexpr int kStateReasonBits = 19;

// Everything one walk found. Trivially copyable: a server keeps the last one as it is.
struct PrinterState {
  int status = 0;             // hrPrinterStatus, 0 when not given
  uint32_t errors = 0;        // PrinterErrorBit values
  bool errors_given = false;  // hrPrinterDetectedErrorState was there
  size_t tray_count = 0;
  size_t bin_count = 0;
  size_t supply_count = 0;
  size_t alert_count = 0;
  size_t colorant_count = 0;
  size_t note_count = 0;
  StateTray trays[kMaxTrays];
  StateBin bins[kMaxBins];
  StateSupply supplies[kMaxSupplies];
  StateAlert alerts[kMaxAlerts];
  StateColorant colorants[kMaxColorants];
  StateNote notes[kMaxStateNotes];
};

// How a walk ended (PrinterStateResult::outcome).
enum class StateOutcome : uint8_t {
  kNotAsked,   // cancelled before an answer, or a URI that names no network printer
  kAnswered,   // state holds what the printer said (some tables may be missing)
  kNoAnswer,   // time-out, send or receive error (detail)
  kRefused,    // SNMPv3: the printer's report (report) or no engine
  kNoSession,  // the session could not be opened, or the settings cannot be used (detail)
  kError,      // the printer answered every table with an error status (detail)
};

// A walk's result: the state when the printer answered, else why not.
struct PrinterStateResult {
  StateOutcome outcome = StateOutcome::kNotAsked;
  SnmpReport report = SnmpReport::kNone;  // kRefused
  char detail[kDetailSize] = "";          // the library's words for a failure
  long elapsed_ms = 0;                    // how long the walk took
  PrinterState state;
};

// The text a printer gave, as kept: the bytes up to the first zero byte or length, every byte
// that is not part of well-formed UTF-8 and every control character escaped ("\x1B"), trailing
// blanks dropped, cut before the first escape or character that does not fit in size bytes.
void stateText(char* text, size_t size, const unsigned char* bytes, size_t length);

// A supply's level in percent of its capacity (0 to 100); -1 when the printer gives no count
// or no capacity (0 or less), kLevelSomeRemaining when it says only that some is left.
int supplyPercent(const StateSupply& supply);
// A tray's or bin's fill in percent of its capacity, the same way.
int fillPercent(int level, int capacity);
// The media a tray holds by its declared dimensions, in hundredths of millimetres: false when
// the printer gave no dimensions or unit it defines.
bool trayMediaSize(const StateTray& tray, int* width, int* length);
// The supply's colour as a keyword of IPP's marker-colors names ("cyan", "black", "light-cyan",
// "multi-color"): its colorant's value when the printer names one, else the first colour word of
// its description; "" for none.
const char* supplyColour(const StateSupply& supply);
// The IPP keyword of a supply's kind (prtMarkerSuppliesType as printer-supply's "type="):
// "toner", "tonerCartridge", "opc", "wasteToner", ...; "other" for another value.
const char* supplyTypeKeyword(int type);
// The same for people: "toner", "toner cartridge", "photoconductor", "waste toner box", ...
const char* supplyTypeWords(int type);
// A tray's kind for printer-input-tray ("sheetFeedAutoRemovableTray", ...; "other").
const char* trayTypeKeyword(int type);
// An output bin's kind for printer-output-tray ("removableBin", ...; "other").
const char* binTypeKeyword(int type);
// The same kinds for people: "removable tray", "manual feed", "fixed bin", ...
const char* trayTypeWords(int type);
const char* binTypeWords(int type);

// The reasons the state gives: the detected errors, the alerts, and the supplies whose level is
// at or under the low mark (10 %) or empty, or, for a waste receptacle, almost or quite full.
uint32_t stateReasons(const PrinterState& state);
// The printer-state-reasons keyword of one bit ("media-jam"); "" for none.
const char* stateReasonKeyword(uint32_t reason);
// "idle", "printing", "warming up", "other", "unknown" or "not given".
const char* printerStatusWords(int status);
// A detected error bit in words ("paper jam"); "" for none.
const char* printerErrorWords(uint32_t bit);
// A level, capacity or fill in words for people: "181", "unknown", "other", "some remaining",
// "not given".
void levelWords(int value, char* buffer, size_t size);
// A note in words ("more than 32 trays: the first 32 are kept").
void stateNoteWords(const StateNote& note, char* buffer, size_t size);
// Why a walk gave no state, in words ("no answer: Timeout"); "" for an answer.
void stateFailureWords(const PrinterStateResult& result, char* buffer, size_t size);

// Adds a note once per kind and table; nothing once the notes are full.
void addStateNote(PrinterState& state, StateNoteKind kind, StateTable table, size_t count = 0);

#endif  // ZORV_PROBE_PRINTER_STATE_H
