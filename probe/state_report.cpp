// A printer's state as zorvquery --state shows it.
#include "probe/state_report.h"

#include <cstring>

#include "log/text.h"

namespace {

constexpr size_t kLevelWordsSize = 128;
constexpr size_t kLineSize = 1024;

// A kept text between double quotes: it holds no control character (the walk escaped them),
// so only its quotes need a backslash.
void quoted(const char* text, char* buffer, size_t size) {
  size_t n = 0;
  if (size < 3) return;
  buffer[n++] = '"';
  for (const char* p = text; *p != '\0' && n + 3 < size; ++p) {
    if (*p == '"') buffer[n++] = '\\';
    buffer[n++] = *p;
  }
  buffer[n++] = '"';
  buffer[n] = '\0';
}

void write_tray(FILE* out, const StateTray& tray) {
  char name[2 * kStateTextSize + 3];
  quoted(tray.name, name, sizeof(name));
  char level[kLevelWordsSize];
  fillWords(tray.level, tray.capacity, level, sizeof(level));
  fprintf(out, "tray %lu %s: %s%s%s", tray.index, name,
          tray.type != kNotGiven ? trayTypeWords(tray.type) : "",
          tray.type != kNotGiven ? ", " : "", level);
  int width = 0;
  int length = 0;
  if (tray.media[0] != '\0') {
    char media[2 * kStateTextSize + 3];
    quoted(tray.media, media, sizeof(media));
    fprintf(out, ", media %s", media);
  } else if (trayMediaSize(tray, &width, &length)) {
    fprintf(out, ", media %d x %d mm", (width + 50) / 100, (length + 50) / 100);
  }
  fputc('\n', out);
}

void write_bin(FILE* out, const StateBin& bin) {
  char name[2 * kStateTextSize + 3];
  quoted(bin.name, name, sizeof(name));
  char room[kLevelWordsSize];
  fillWords(bin.remaining, bin.capacity, room, sizeof(room));
  fprintf(out, "bin %lu %s: %s%sroom for %s\n", bin.index, name,
          bin.type != kNotGiven ? binTypeWords(bin.type) : "", bin.type != kNotGiven ? ", " : "",
          room);
}

void write_supply(FILE* out, const StateSupply& supply) {
  char description[2 * kStateTextSize + 3];
  quoted(supply.description, description, sizeof(description));
  char level[kLevelWordsSize];
  fillWords(supply.level, supply.capacity, level, sizeof(level));
  const char* colour = supplyColour(supply);
  fprintf(out, "supply %lu %s: %s%s%s%s, %s\n", supply.index, description,
          supplyTypeWords(supply.type),
          supply.supply_class == kSupplyReceptacle ? " (filled, not consumed)" : "",
          colour[0] != '\0' ? ", " : "", colour, level);
}

void write_alert(FILE* out, const StateAlert& alert) {
  char description[2 * kStateTextSize + 3];
  quoted(alert.description, description, sizeof(description));
  fprintf(out, "alert %lu: code %d, group %d.%d, severity %d, %s\n", alert.index, alert.code,
          alert.group, alert.group_index, alert.severity, description);
}

// "name, name" of the set bits of bits, each worded by words; "none" when no bit is set.
void bit_words(uint32_t bits, int count, const char* (*words)(uint32_t), char* buffer,
               size_t size) {
  copy_text(buffer, size, "");
  for (int bit = 0; bit < count; ++bit) {
    if ((bits & (1u << bit)) == 0) continue;
    const size_t used = strlen(buffer);
    format_text(buffer + used, size - used, "%s%s", used > 0 ? ", " : "", words(1u << bit));
  }
  if (buffer[0] == '\0') copy_text(buffer, size, "none");
}

}  // namespace

void fillWords(int level, int capacity, char* buffer, size_t size) {
  const int percent = fillPercent(level, capacity);
  char level_words[kLevelWordsSize];
  char capacity_words[kLevelWordsSize];
  levelWords(level, level_words, sizeof(level_words));
  levelWords(capacity, capacity_words, sizeof(capacity_words));
  if (percent >= 0) {
    format_text(buffer, size, "%d of %d (%d %%)", level, capacity, percent);
  } else {
    format_text(buffer, size, "level %s, capacity %s", level_words, capacity_words);
  }
}

void writeStateReport(FILE* out, const PrinterStateResult& result) {
  if (result.outcome != StateOutcome::kAnswered) return;
  const PrinterState& state = result.state;
  for (size_t i = 0; i < state.tray_count; ++i) write_tray(out, state.trays[i]);
  for (size_t i = 0; i < state.bin_count; ++i) write_bin(out, state.bins[i]);
  for (size_t i = 0; i < state.supply_count; ++i) write_supply(out, state.supplies[i]);
  for (size_t i = 0; i < state.alert_count; ++i) write_alert(out, state.alerts[i]);
  char errors[kLineSize];
  if (state.errors_given) {
    bit_words(state.errors, kPrinterErrorBits, printerErrorWords, errors, sizeof(errors));
  } else {
    copy_text(errors, sizeof(errors), "not given");
  }
  char reasons[kLineSize];
  bit_words(stateReasons(state), kStateReasonBits, stateReasonKeyword, reasons, sizeof(reasons));
  fprintf(out, "status: %s; detected errors: %s; printer-state-reasons: %s\n",
          printerStatusWords(state.status), errors, reasons);
  for (size_t i = 0; i < state.note_count; ++i) {
    char words[kLineSize];
    stateNoteWords(state.notes[i], words, sizeof(words));
    fprintf(out, "# %s\n", words);
  }
}
