// A printer's own state as the server keeps and publishes it: the last walk the printer
// answered (probe/state_walk.h), when it answered, and, when a later walk failed, that the
// state is stale and why; what PAPPL publishes of it (the supplies behind printer-supply and
// marker-*, printer-state-reasons, the ready media of the trays), and the attributes PAPPL 1.3.1
// does not make itself (printer-alert, and the printer's real trays, which PAPPL's own
// printer-input-tray and printer-output-tray cannot carry).
#ifndef ZORV_APP_PRINTER_STATE_H
#define ZORV_APP_PRINTER_STATE_H

#include <cups/ppd.h>
#include <pappl/pappl.h>

#include <cstddef>
#include <ctime>

#include "app/ppd_driver.h"
#include "probe/probe.h"

// How often a printer's state is asked when nothing else asks: the default of the setting, and
// its bounds.
inline constexpr int kDefaultStateInterval = 60;
inline constexpr int kShortestStateInterval = 10;
inline constexpr int kLongestStateInterval = 24 * 3600;
inline constexpr size_t kStateWordsSize = 256;
// A time with its zone: "2026-12-01 14:03:07 CET".
inline constexpr size_t kStateTimeSize = 48;

// The vendor attributes of the state.
inline constexpr char kInputTrayAttribute[] = "zorv-input-tray";
inline constexpr char kOutputTrayAttribute[] = "zorv-output-tray";
inline constexpr char kStaleAttribute[] = "zorv-state-stale";
inline constexpr char kAnsweredAttribute[] = "zorv-state-answered";

// What the server keeps of a printer's state. Trivially copyable, on the C heap.
struct KeptState {
  PrinterStateResult last;  // the last walk the printer answered; outcome kNotAsked before one
  time_t answered;          // when it answered; 0: never
  time_t asked;             // when the last walk ended; 0: never
  bool stale;               // the last walk failed: last is from answered
  char failure[kStateWordsSize];  // why it failed
};

// Takes a walk's result: an answer replaces the state; a failure keeps it, marked stale, with
// why in words. A cancelled walk changes nothing.
void keepStateResult(KeptState& kept, const PrinterStateResult& result, time_t now);

// PAPPL's supplies of a state (at most max): the printer's description, kind, colour, whether
// it is consumed, and its level in percent (-1 unknown, -3 some remaining). Returns the count.
int papplSuppliesOf(const PrinterState& state, pappl_supply_t* supplies, int max);
// PAPPL's printer-state-reasons of a state; the reasons PAPPL has no bit for are "other".
pappl_preason_t papplReasonsOf(const PrinterState& state);
// Every reason papplReasonsOf can give: the ones the server sets and takes back.
pappl_preason_t papplStateReasons();

// Adds the state's attributes to attrs (the printer's vendor attributes): printer-alert and
// printer-alert-description, zorv-input-tray and zorv-output-tray in printer-input-tray's and
// printer-output-tray's form, and, while the state is stale, zorv-state-stale and the time of
// the last answer. Nothing before the printer first answered.
void addStateAttributes(const KeptState& kept, ipp_t* attrs);
// Whether current holds exactly the state attributes addStateAttributes would add.
bool sameStateAttributes(ipp_t* current, const KeptState& kept);

// The ready media of data's sources from the trays that name their media (by PWG, PPD or
// legacy name, or by dimensions), matched by name: a source "tray-1" (PPD "Tray1") is the
// printer's "Tray 1". Sources without such a tray keep what they hold.
void applyTrayMedia(const PrinterState& state, ppd_file_t* ppd, const PpdDriver& driver,
                    pappl_pr_driver_data_t* data);

// when in local time with its zone, or "never" for 0.
void stateTimeText(time_t when, char* text, size_t size);

#endif  // ZORV_APP_PRINTER_STATE_H
