// A printer's state as zorvquery --state shows it to people: one line per input tray, output
// bin, supply and alert, then the printer's status, its detected errors and the
// printer-state-reasons they give, then what was wrong with the answers.
#ifndef ZORV_PROBE_STATE_REPORT_H
#define ZORV_PROBE_STATE_REPORT_H

#include <cstdio>

#include "probe/printer_state.h"

// Writes the report of an answered walk to out (nothing for another outcome).
void writeStateReport(FILE* out, const PrinterStateResult& result);

// One line's pieces, for other layouts (the web page): the level of a tray, bin or supply in
// words ("181 of 550 (32 %)", "some remaining", "unknown").
void fillWords(int level, int capacity, char* buffer, size_t size);

#endif  // ZORV_PROBE_STATE_REPORT_H
