// The printer's own state on its pages. Every text of the printer's was escaped and bounded
// when the walk kept it, and is HTML-escaped here.
#include "app/state_page.h"

#include <cstring>

#include "app/accessories.h"
#include "app/printer_state.h"
#include "common/handles.h"
#include "log/text.h"
#include "probe/probe.h"

namespace {

constexpr size_t kWords = 128;
constexpr size_t kLineSize = 1024;
constexpr int kShownOptions = 512;

void cell(pappl_client_t* client, const char* text) {
  papplClientHTMLPuts(client, "<td>");
  papplClientHTMLEscape(client, text, 0);
  papplClientHTMLPuts(client, "</td>");
}

// A level as a bar and its words, for a supply or a tray.
void level_cell(pappl_client_t* client, int level, int capacity) {
  char words[kWords];
  fillWords(level, capacity, words, sizeof(words));
  const int percent = fillPercent(level, capacity);
  papplClientHTMLPuts(client, "<td>");
  if (percent >= 0) {
    papplClientHTMLPrintf(client, "<meter min=\"0\" max=\"100\" low=\"11\" value=\"%d\"></meter> ",
                          percent);
  }
  papplClientHTMLEscape(client, words, 0);
  papplClientHTMLPuts(client, "</td>");
}

// When the printer last answered, and whether what is shown is stale.
void answered_line(pappl_client_t* client, const KeptState& kept) {
  char answered[kStateTimeSize];
  char asked[kStateTimeSize];
  stateTimeText(kept.answered, answered, sizeof(answered));
  stateTimeText(kept.asked, asked, sizeof(asked));
  papplClientHTMLPuts(client, "<p id=\"state-answered\">");
  if (kept.answered == 0 && kept.asked == 0) {
    papplClientHTMLPuts(client, "The printer's state has not been asked yet.");
  } else if (kept.answered == 0) {
    papplClientHTMLPrintf(client, "The printer has not given its state yet (asked %s: ", asked);
    papplClientHTMLEscape(client, kept.failure, 0);
    papplClientHTMLPuts(client, ").");
  } else if (kept.stale) {
    papplClientHTMLPrintf(client,
                          "<strong>Stale:</strong> the printer did not give its state when asked "
                          "at %s (",
                          asked);
    papplClientHTMLEscape(client, kept.failure, 0);
    papplClientHTMLPrintf(client, "); what is shown is its last answer, of %s.", answered);
  } else {
    papplClientHTMLPrintf(client, "The printer's state as it gave it at %s.", answered);
  }
  papplClientHTMLPuts(client, "</p>\n");
}

// "name, name" of the set bits, each worded by words.
void bit_words(uint32_t bits, int count, const char* (*words)(uint32_t), char* text, size_t size) {
  copy_text(text, size, "");
  for (int bit = 0; bit < count; ++bit) {
    if ((bits & (1u << bit)) == 0) continue;
    const size_t used = strlen(text);
    format_text(text + used, size - used, "%s%s", used > 0 ? ", " : "", words(1u << bit));
  }
  if (text[0] == '\0') copy_text(text, size, "none");
}

void status_line(pappl_client_t* client, const PrinterState& state) {
  char errors[kLineSize] = "not given";
  if (state.errors_given) {
    bit_words(state.errors, kPrinterErrorBits, printerErrorWords, errors, sizeof(errors));
  }
  char reasons[kLineSize];
  bit_words(stateReasons(state), kStateReasonBits, stateReasonKeyword, reasons, sizeof(reasons));
  papplClientHTMLPrintf(client,
                        "<p id=\"state-status\">Status: %s. Detected errors: %s. "
                        "printer-state-reasons: %s.</p>\n",
                        printerStatusWords(state.status), errors, reasons);
}

void trays_table(pappl_client_t* client, const PrinterState& state) {
  papplClientHTMLPuts(client,
                      "<table class=\"list\" id=\"zorv-trays\"><thead><tr><th>Tray</th>"
                      "<th>Kind</th><th>Paper</th><th>Media</th></tr></thead><tbody>\n");
  for (size_t i = 0; i < state.tray_count; ++i) {
    const StateTray& tray = state.trays[i];
    papplClientHTMLPuts(client, "<tr>");
    cell(client, tray.name[0] != '\0' ? tray.name : "(no name)");
    cell(client, tray.type != kNotGiven ? trayTypeWords(tray.type) : "-");
    level_cell(client, tray.level, tray.capacity);
    char media[kStateTextSize] = "-";
    int width = 0;
    int length = 0;
    if (tray.media[0] != '\0') {
      copy_text(media, sizeof(media), tray.media);
    } else if (trayMediaSize(tray, &width, &length)) {
      format_text(media, sizeof(media), "%d x %d mm", (width + 50) / 100, (length + 50) / 100);
    }
    cell(client, media);
    papplClientHTMLPuts(client, "</tr>\n");
  }
  if (state.tray_count == 0) papplClientHTMLPuts(client, "<tr><td colspan=\"4\">none</td></tr>\n");
  papplClientHTMLPuts(client, "</tbody></table>\n");
}

void bins_table(pappl_client_t* client, const PrinterState& state) {
  if (state.bin_count == 0) return;
  papplClientHTMLPuts(client,
                      "<table class=\"list\" id=\"zorv-bins\"><thead><tr><th>Output bin</th>"
                      "<th>Kind</th><th>Room</th></tr></thead><tbody>\n");
  for (size_t i = 0; i < state.bin_count; ++i) {
    const StateBin& bin = state.bins[i];
    papplClientHTMLPuts(client, "<tr>");
    cell(client, bin.name[0] != '\0' ? bin.name : "(no name)");
    cell(client, bin.type != kNotGiven ? binTypeWords(bin.type) : "-");
    level_cell(client, bin.remaining, bin.capacity);
    papplClientHTMLPuts(client, "</tr>\n");
  }
  papplClientHTMLPuts(client, "</tbody></table>\n");
}

void supplies_table(pappl_client_t* client, const PrinterState& state) {
  papplClientHTMLPuts(client,
                      "<table class=\"list\" id=\"zorv-supplies\"><thead><tr><th>Supply</th>"
                      "<th>Kind</th><th>Colour</th><th>Level</th></tr></thead><tbody>\n");
  for (size_t i = 0; i < state.supply_count; ++i) {
    const StateSupply& supply = state.supplies[i];
    papplClientHTMLPuts(client, "<tr>");
    cell(client, supply.description[0] != '\0' ? supply.description : "(no description)");
    cell(client, supplyTypeWords(supply.type));
    const char* colour = supplyColour(supply);
    cell(client, colour[0] != '\0' ? colour : "-");
    level_cell(client, supply.level, supply.capacity);
    papplClientHTMLPuts(client, "</tr>\n");
  }
  if (state.supply_count == 0) {
    papplClientHTMLPuts(client, "<tr><td colspan=\"4\">none</td></tr>\n");
  }
  papplClientHTMLPuts(client, "</tbody></table>\n");
}

void alerts_and_notes(pappl_client_t* client, const PrinterState& state) {
  if (state.alert_count > 0) papplClientHTMLPuts(client, "<ul id=\"zorv-alerts\">\n");
  for (size_t i = 0; i < state.alert_count; ++i) {
    const StateAlert& alert = state.alerts[i];
    papplClientHTMLPrintf(client, "<li>Alert %d (group %d.%d, severity %d): ", alert.code,
                          alert.group, alert.group_index, alert.severity);
    papplClientHTMLEscape(client, alert.description, 0);
    papplClientHTMLPuts(client, "</li>\n");
  }
  if (state.alert_count > 0) papplClientHTMLPuts(client, "</ul>\n");
  for (size_t i = 0; i < state.note_count; ++i) {
    char words[kLineSize];
    stateNoteWords(state.notes[i], words, sizeof(words));
    papplClientHTMLPuts(client, "<p class=\"state-note\">Note: ");
    papplClientHTMLEscape(client, words, 0);
    papplClientHTMLPuts(client, ".</p>\n");
  }
}

}  // namespace

void stateSection(pappl_client_t* client, pappl_printer_t* printer) {
  UniqueMalloc<KeptState[]> kept = make_array<KeptState>(1);
  int interval = kDefaultStateInterval;
  bool network = false;
  papplClientHTMLPuts(client, "<h2 id=\"state\">The printer's state</h2>\n");
  if (kept == nullptr || !copyKeptState(printer, kept.get(), &interval, &network)) return;
  if (!network) {
    papplClientHTMLPuts(client,
                        "<p>The state (trays, supplies, errors) is asked of network printers "
                        "only.</p>\n");
    return;
  }
  answered_line(client, kept[0]);
  if (kept[0].answered != 0) {
    const PrinterState& state = kept[0].last.state;
    status_line(client, state);
    trays_table(client, state);
    bins_table(client, state);
    supplies_table(client, state);
    alerts_and_notes(client, state);
  }
  papplClientHTMLPrintf(client,
                        "<p>Ask the printer's state every <input type=\"number\" "
                        "name=\"state-interval\" min=\"%d\" max=\"%d\" value=\"%d\"> seconds "
                        "(the button above asks it too).</p>\n",
                        kShortestStateInterval, kLongestStateInterval, interval);
}

void stateSummary(pappl_client_t* client, pappl_printer_t* printer) {
  UniqueMalloc<KeptState[]> kept = make_array<KeptState>(1);
  UniqueMalloc<InstalledOption[]> options = make_array<InstalledOption>(kShownOptions);
  if (kept == nullptr || options == nullptr) return;
  int interval = 0;
  bool running = false;
  bool waiting = false;
  const int count =
      copyInstalledOptions(printer, options.get(), kShownOptions, &interval, &running, &waiting);
  bool network = false;
  const bool has_state = copyKeptState(printer, kept.get(), &interval, &network);
  const PpdDriver* driver = ppdDriverOf(printer);
  UniquePpd ppd(driver != nullptr ? ppdOpenFile(driver->ppd_path) : nullptr);
  papplClientHTMLPuts(client, "<h2>Accessories</h2>\n<ul id=\"zorv-installed\">\n");
  for (int i = 0; i < count; ++i) {
    ppd_option_t* option = ppd != nullptr ? ppdFindOption(ppd.get(), options[i].keyword) : nullptr;
    const char* choice = effectiveChoice(options[i]);
    ppd_choice_t* label = option != nullptr ? ppdFindChoice(option, choice) : nullptr;
    papplClientHTMLPuts(client, "<li>");
    papplClientHTMLEscape(
        client, option != nullptr && option->text[0] != '\0' ? option->text : options[i].keyword,
        0);
    papplClientHTMLPuts(client, ": ");
    papplClientHTMLEscape(client, label != nullptr && label->text[0] != '\0' ? label->text : choice,
                          0);
    if (options[i].hand_choice[0] != '\0') papplClientHTMLPuts(client, " (set by hand)");
    papplClientHTMLPuts(client, "</li>\n");
  }
  if (count <= 0) papplClientHTMLPuts(client, "<li>No installable options.</li>\n");
  papplClientHTMLPuts(client, "</ul>\n");
  if (!has_state || !network) return;
  papplClientHTMLPuts(client, "<h2>Trays and supplies</h2>\n");
  answered_line(client, kept[0]);
  if (kept[0].answered == 0) return;
  trays_table(client, kept[0].last.state);
  supplies_table(client, kept[0].last.state);
}
