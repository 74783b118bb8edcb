// The printer's driver page beside PAPPL's own.
#include "app/web.h"

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "app/accessories.h"
#include "app/handles.h"
#include "app/ppd_driver.h"
#include "app/query_schedule.h"
#include "app/printer_page.h"
#include "app/printer_snmp.h"
#include "app/printer_state.h"
#include "app/state_page.h"
#include "common/handles.h"
#include "common/secret.h"
#include "log/escape.h"
#include "log/text.h"
#include "probe/probe.h"

namespace {

constexpr size_t kPathSize = 256;
constexpr size_t kNumberSize = 64;

void row(pappl_client_t* client, const char* label, const char* value) {
  papplClientHTMLPrintf(client, "<tr><th>%s</th><td>", label);
  papplClientHTMLEscape(client, value, 0);
  papplClientHTMLPuts(client, "</td></tr>\n");
}

// A list of values in one cell, each escaped.
void list_row(pappl_client_t* client, const char* label, const char* const* values, int count) {
  papplClientHTMLPrintf(client, "<tr><th>%s</th><td>", label);
  for (int i = 0; i < count; i++) {
    if (i > 0) papplClientHTMLPuts(client, ", ");
    papplClientHTMLEscape(client, values[i], 0);
  }
  if (count == 0) papplClientHTMLPuts(client, "none");
  papplClientHTMLPuts(client, "</td></tr>\n");
}

void profile_rows(pappl_client_t* client, pappl_printer_t* printer, const PpdDriver& driver) {
  UniqueIpp attrs(papplPrinterGetDriverAttributes(printer));
  ipp_attribute_t* current = ippFindAttribute(attrs.get(), kUcsDefault, IPP_TAG_KEYWORD);
  const char* value = current != nullptr ? ippGetString(current, 0, nullptr) : kUcsAuto;
  papplClientHTMLPuts(client, "<tr><th>Colour profile (zorv-ucs default)</th><td id=\"zorv-ucs\">");
  papplClientHTMLEscape(client, value, 0);
  if (strcmp(value, kUcsAuto) == 0) {
    papplClientHTMLPuts(client, ": the profile named like the printer, ");
    papplClientHTMLEscape(client, papplPrinterGetName(printer), 0);
  }
  papplClientHTMLPuts(client, "</td></tr>\n");
  const char* names[kMaxProfiles];
  for (int i = 0; i < driver.num_profiles; i++) names[i] = driver.profiles[i];
  list_row(client, "Profiles found", names, driver.num_profiles);
}

// Each page size with its PPD name, dimensions and imageable area, in millimetres.
void media_rows(pappl_client_t* client, const PpdDriver& driver) {
  UniquePpd ppd(ppdOpenFile(driver.ppd_path));
  papplClientHTMLPuts(client,
                      "<tr><th>Media</th><td><table id=\"zorv-media\">\n"
                      "<tr><th>IPP name</th><th>PPD name</th><th>Size (mm)</th>"
                      "<th>Margins left, bottom, right, top (mm)</th></tr>\n");
  for (int i = 0; ppd != nullptr && i < driver.sizes.count; i++) {
    ppd_size_t* size = ppdPageSize(ppd.get(), driver.sizes.choice[i]);
    if (size == nullptr) continue;
    constexpr double kMillimetresPerPoint = 25.4 / 72.0;
    char dimensions[kNumberSize];
    char margins[kNumberSize];
    format_text(dimensions, sizeof(dimensions), "%.1f x %.1f", size->width * kMillimetresPerPoint,
                size->length * kMillimetresPerPoint);
    format_text(margins, sizeof(margins), "%.1f, %.1f, %.1f, %.1f",
                size->left * kMillimetresPerPoint, size->bottom * kMillimetresPerPoint,
                (size->width - size->right) * kMillimetresPerPoint,
                (size->length - size->top) * kMillimetresPerPoint);
    papplClientHTMLPuts(client, "<tr><td>");
    papplClientHTMLEscape(client, driver.sizes.keyword[i], 0);
    papplClientHTMLPuts(client, "</td><td>");
    papplClientHTMLEscape(client, driver.sizes.choice[i], 0);
    papplClientHTMLPrintf(client, "</td><td>%s</td><td>%s</td></tr>\n", dimensions, margins);
  }
  papplClientHTMLPuts(client, "</table></td></tr>\n");
}

bool driver_page(pappl_client_t* client, void* data) {
  pappl_printer_t* printer = static_cast<pappl_printer_t*>(data);
  pappl_pr_driver_data_t driver_data;
  papplPrinterGetDriverData(printer, &driver_data);
  const PpdDriver* driver = static_cast<const PpdDriver*>(driver_data.extension);
  if (driver == nullptr) return false;
  papplClientHTMLPrinterHeader(client, printer, kDriverPageLabel, 0, nullptr, nullptr);
  papplClientHTMLPuts(client,
                      "<div class=\"row\"><div class=\"col-12\">\n<table class=\"form\" "
                      "summary=\"Driver\" id=\"zorv-driver\">\n");
  row(client, "Driver", driver->driver_name);
  row(client, "PPD", driver->ppd_path);
  row(client, "Make and model", driver_data.make_and_model);
  profile_rows(client, printer, *driver);
  media_rows(client, *driver);
  list_row(client, "Sources", driver_data.source, driver_data.num_source);
  list_row(client, "Output bins", driver_data.bin, driver_data.num_bin);
  const char* sides[3];
  int num_sides = 0;
  static const char* const kSides[] = {"one-sided", "two-sided-long-edge", "two-sided-short-edge"};
  for (int i = 0; i < 3; i++) {
    if ((driver_data.sides_supported & (1u << i)) != 0) sides[num_sides++] = kSides[i];
  }
  list_row(client, "Sides", sides, num_sides);
  const char* modes[2];
  int num_modes = 0;
  if ((driver_data.color_supported & PAPPL_COLOR_MODE_COLOR) != 0) modes[num_modes++] = "color";
  if ((driver_data.color_supported & PAPPL_COLOR_MODE_MONOCHROME) != 0) {
    modes[num_modes++] = "monochrome";
  }
  list_row(client, "Colour modes", modes, num_modes);
  char resolutions[PAPPL_MAX_RESOLUTION][kNumberSize];
  const char* resolution_names[PAPPL_MAX_RESOLUTION];
  for (int i = 0; i < driver_data.num_resolution; i++) {
    format_text(resolutions[i], sizeof(resolutions[i]), "%dx%ddpi", driver_data.x_resolution[i],
                driver_data.y_resolution[i]);
    resolution_names[i] = resolutions[i];
  }
  list_row(client, "Resolutions", resolution_names, driver_data.num_resolution);
  papplClientHTMLPuts(client, "</table>\n</div></div>\n");
  papplClientHTMLPrinterFooter(client);
  return true;
}

// --- The accessories page ---------------------------------------------------------------

// At most this many installable options are shown (and set by hand) on the page.
constexpr int kShownOptions = 512;
constexpr int kSecondsPerMinute = 60;
constexpr char kHandPrefix[] = "hand-";
constexpr char kFromDevice[] = "";
constexpr size_t kProblemSize = 256;
// A page that waits for a query reloads itself this often.
constexpr int kAskingRefreshSeconds = 2;

void escaped_cell(pappl_client_t* client, const char* text) {
  papplClientHTMLPuts(client, "<td>");
  papplClientHTMLEscape(client, text, 0);
  papplClientHTMLPuts(client, "</td>");
}

// The choice select of an option: "from the printer" first, then each of the PPD's choices.
void hand_select(pappl_client_t* client, ppd_file_t* ppd, const InstalledOption& o) {
  papplClientHTMLPrintf(client, "<td><select name=\"%s", kHandPrefix);
  papplClientHTMLEscape(client, o.keyword, 0);
  papplClientHTMLPrintf(client, "\"><option value=\"%s\">from the printer</option>", kFromDevice);
  ppd_option_t* option = ppd != nullptr ? ppdFindOption(ppd, o.keyword) : nullptr;
  for (int i = 0; option != nullptr && i < option->num_choices; i++) {
    const ppd_choice_t& choice = option->choices[i];
    papplClientHTMLPuts(client, "<option value=\"");
    papplClientHTMLEscape(client, choice.choice, 0);
    papplClientHTMLPrintf(client, "\"%s>",
                          strcmp(o.hand_choice, choice.choice) == 0 ? " selected" : "");
    papplClientHTMLEscape(client, choice.text[0] != '\0' ? choice.text : choice.choice, 0);
    papplClientHTMLPuts(client, "</option>");
  }
  papplClientHTMLPuts(client, "</select></td>");
}

// The PPD's label of a choice of option keyword, else the choice's name.
const char* choice_label(ppd_file_t* ppd, const char* keyword, const char* choice) {
  ppd_option_t* option = ppd != nullptr ? ppdFindOption(ppd, keyword) : nullptr;
  ppd_choice_t* found = option != nullptr ? ppdFindChoice(option, choice) : nullptr;
  return found != nullptr && found->text[0] != '\0' ? found->text : choice;
}

// One option: its label from the PPD (the keyword under it), its query and what it gave, and
// the choices as the PPD names them for people.
void option_row(pappl_client_t* client, ppd_file_t* ppd, const InstalledOption& o) {
  papplClientHTMLPrintf(client, "<tr id=\"option-");
  papplClientHTMLEscape(client, o.keyword, 0);
  papplClientHTMLPuts(client, "\"><td>");
  ppd_option_t* option = ppd != nullptr ? ppdFindOption(ppd, o.keyword) : nullptr;
  papplClientHTMLEscape(client, option != nullptr && option->text[0] != '\0' ? option->text : o.keyword,
                        0);
  papplClientHTMLPuts(client, "<br><small>");
  papplClientHTMLEscape(client, o.keyword, 0);
  papplClientHTMLPuts(client, "</small></td>");
  const bool no_query = o.outcome == ProbeOutcome::kNoQuery;
  char query[kQueryTextSize + kAttributeNameSize + 4] = "";
  if (no_query) {
    copy_text(query, sizeof(query), "no query attribute in the PPD: never asked; set it by hand");
  } else if (o.asked == 0) {
    copy_text(query, sizeof(query), "not asked yet");
  } else {
    format_text(query, sizeof(query), "%s \"%s\"", o.query_name, o.query);
  }
  escaped_cell(client, query);
  char gave[kReplyTextSize + kWordsSize + 8] = "";
  if (o.outcome == ProbeOutcome::kAnswered) {
    format_text(gave, sizeof(gave), "\"%s\"%s%s", o.reply, o.words[0] != '\0' ? ", " : "", o.words);
  } else if (!no_query) {
    copy_text(gave, sizeof(gave), o.words);
  }
  escaped_cell(client, gave);
  escaped_cell(client, o.device_choice[0] != '\0' ? choice_label(ppd, o.keyword, o.device_choice)
                                                  : "-");
  hand_select(client, ppd, o);
  escaped_cell(client, choice_label(ppd, o.keyword, effectiveChoice(o)));
  char when[kStateTimeSize] = "-";
  if (o.asked != 0 && !no_query) stateTimeText(o.asked, when, sizeof(when));
  escaped_cell(client, when);
  papplClientHTMLPuts(client, "</tr>\n");
}

// A select of the names of an enumeration's values first to last, value chosen selected.
template <typename T>
void enum_select(pappl_client_t* client, const char* name, T first, T last, T chosen,
                 const char* (*name_of)(T), const char* none) {
  papplClientHTMLPrintf(client, "<select name=\"%s\">", name);
  if (none != nullptr) papplClientHTMLPrintf(client, "<option value=\"\">%s</option>", none);
  for (int v = static_cast<int>(first); v <= static_cast<int>(last); v++) {
    const char* text = name_of(static_cast<T>(v));
    papplClientHTMLPrintf(client, "<option value=\"%s\"%s>%s</option>", text,
                          v == static_cast<int>(chosen) ? " selected" : "", text);
  }
  papplClientHTMLPuts(client, "</select>");
}

// The printer's SNMP settings: its own SNMPv3 user, or the manufacturer's settings file. A
// passphrase is never shown, only whether one is set.
void snmp_section(pappl_client_t* client, pappl_printer_t* printer, const char* problem) {
  SnmpV3Settings shown;
  bool auth_set = false;
  bool priv_set = false;
  const bool own = shownPrinterSnmpV3(printer, &shown, &auth_set, &priv_set);
  papplClientHTMLPuts(client, "<h2>SNMP</h2>\n");
  if (problem[0] != '\0') {
    papplClientHTMLPuts(client, "<p id=\"snmp-problem\">Not saved: ");
    papplClientHTMLEscape(client, problem, 0);
    papplClientHTMLPuts(client, "</p>\n");
  }
  papplClientHTMLPrintf(client,
                        "<table class=\"form\" id=\"zorv-snmp\">\n<tr><th>SNMPv3 for this "
                        "printer</th><td><input type=\"checkbox\" name=\"v3\"%s> (else the "
                        "manufacturer's settings file, or SNMPv1 with its community)</td></tr>\n"
                        "<tr><th>User</th><td><input name=\"v3-user\" value=\"",
                        own ? " checked" : "");
  papplClientHTMLEscape(client, shown.user, 0);
  papplClientHTMLPuts(client, "\"></td></tr>\n<tr><th>Security level</th><td>");
  enum_select(client, "v3-level", SnmpLevel::kNoAuthNoPriv, SnmpLevel::kAuthPriv, shown.level,
              snmpLevelName, nullptr);
  papplClientHTMLPuts(client, "</td></tr>\n<tr><th>Authentication</th><td>");
  enum_select(client, "v3-auth", SnmpAuth::kMd5, SnmpAuth::kSha512, shown.auth, snmpAuthName,
              "none");
  papplClientHTMLPrintf(client,
                        " passphrase <input type=\"password\" name=\"v3-auth-passphrase\" "
                        "autocomplete=\"off\" placeholder=\"%s\"></td></tr>\n"
                        "<tr><th>Privacy</th><td>",
                        auth_set ? "set; empty keeps it" : "");
  enum_select(client, "v3-priv", SnmpPriv::kDes, SnmpPriv::kAes256, shown.priv, snmpPrivName,
              "none");
  papplClientHTMLPrintf(client,
                        " passphrase <input type=\"password\" name=\"v3-priv-passphrase\" "
                        "autocomplete=\"off\" placeholder=\"%s\"></td></tr>\n"
                        "<tr><th>Context</th><td><input name=\"v3-context\" value=\"",
                        priv_set ? "set; empty keeps it" : "");
  papplClientHTMLEscape(client, shown.context, 0);
  papplClientHTMLPuts(client,
                      "\"></td></tr>\n</table>\n<p><input type=\"submit\" name=\"snmp\" "
                      "value=\"Save the SNMP settings\"></p>\n");
}

// A form's text into text, whole or not at all: a user name or passphrase cut would be
// another one.
bool form_text(const CupsOptions& form, const char* name, char* text, size_t size) {
  const char* value = form.get(name);
  return copy_text(text, size, value != nullptr ? value : "") < size;
}

// What a posted form did not do: the settings refused (shown with the SNMP settings) and why
// a setting in force was not saved.
struct FormProblems {
  char refused[kProblemSize] = "";
  char not_saved[kSettingWordsSize] = "";
};

// Keeps why a setting was not saved, the first time.
void note(SettingOutcome outcome, const char* why, FormProblems* problems) {
  if (outcome == SettingOutcome::kNotSaved && problems->not_saved[0] == '\0') {
    copy_text(problems->not_saved, sizeof(problems->not_saved), why);
  }
}

// Takes the SNMP part of a posted form into the printer's settings; problems say why not.
void take_snmp(const CupsOptions& form, pappl_printer_t* printer, FormProblems* problems) {
  char* problem = problems->refused;
  const size_t size = sizeof(problems->refused);
  char why[kSettingWordsSize];
  if (form.get("v3") == nullptr) {
    note(clearPrinterSnmpV3(printer, why, sizeof(why)), why, problems);
    return;
  }
  Secret<SnmpV3Settings> v3;
  if (v3.get() == nullptr) {
    copy_text(problem, size, "no room for the settings");
    return;
  }
  const char* level = form.get("v3-level");
  const char* auth = form.get("v3-auth");
  const char* priv = form.get("v3-priv");
  if (!form_text(form, "v3-user", v3->user, sizeof(v3->user)) ||
      !form_text(form, "v3-context", v3->context, sizeof(v3->context)) ||
      !form_text(form, "v3-auth-passphrase", v3->auth_passphrase, sizeof(v3->auth_passphrase)) ||
      !form_text(form, "v3-priv-passphrase", v3->priv_passphrase, sizeof(v3->priv_passphrase))) {
    copy_text(problem, size, "a name or passphrase is too long");
  } else if (level == nullptr || !snmpLevelOfName(level, &v3->level) ||
             (auth != nullptr && auth[0] != '\0' && !snmpAuthOfName(auth, &v3->auth)) ||
             (priv != nullptr && priv[0] != '\0' && !snmpPrivOfName(priv, &v3->priv))) {
    copy_text(problem, size, "an unknown level or protocol");
  } else {
    const SettingOutcome outcome = setPrinterSnmpV3(printer, *v3, why, sizeof(why));
    if (outcome == SettingOutcome::kRefused) copy_text(problem, size, why);
    note(outcome, why, problems);
  }
}

// Takes a posted form: the button that asks the printer now, the SNMP settings, or the
// hand-set choices and the interval. False when the form is not the page's own (its session
// token does not match). The passphrases of the form are cleared once taken.
bool take_form(pappl_client_t* client, pappl_printer_t* printer, FormProblems* problems,
               bool* asked) {
  char why[kSettingWordsSize];
  CupsOptions form;
  form.count = papplClientGetForm(client, &form.options);
  const bool valid = papplClientIsValidForm(client, form.count, form.options);
  *asked = valid && form.get("query") != nullptr;
  if (valid && form.get("query") != nullptr) requestQuery(printer);
  const char* state_seconds = form.get("state-interval");
  if (valid && state_seconds != nullptr && atoi(state_seconds) > 0) {
    note(setStateInterval(printer, atoi(state_seconds), why, sizeof(why)), why, problems);
  }
  if (valid && form.get("snmp") != nullptr) take_snmp(form, printer, problems);
  for (int i = 0; i < form.count; i++) {
    if (strstr(form.options[i].name, "passphrase") != nullptr) {
      explicit_bzero(form.options[i].value, strlen(form.options[i].value));
    }
  }
  if (!valid || form.get("query") != nullptr || form.get("snmp") != nullptr) return valid;
  for (int i = 0; i < form.count; i++) {
    const char* name = form.options[i].name;
    if (strncmp(name, kHandPrefix, sizeof(kHandPrefix) - 1) == 0) {
      note(setHandChoice(printer, name + sizeof(kHandPrefix) - 1, form.options[i].value, why,
                         sizeof(why)),
           why, problems);
    }
  }
  const char* text = form.get("interval");
  const long minutes = text != nullptr ? strtol(text, nullptr, 10) : 0;
  if (minutes > 0) {
    // More seconds than an int holds are as many as it holds: the setter keeps its bounds.
    constexpr long kMostMinutes = INT_MAX / kSecondsPerMinute;
    note(setQueryInterval(printer,
                          minutes <= kMostMinutes ? static_cast<int>(minutes) * kSecondsPerMinute
                                                  : INT_MAX,
                          why, sizeof(why)),
         why, problems);
  }
  return true;
}

bool accessories_page(pappl_client_t* client, void* data) {
  pappl_printer_t* printer = static_cast<pappl_printer_t*>(data);
  if (!papplClientHTMLAuthorize(client)) return true;
  FormProblems problems;
  char path[kPathSize];
  if (!printerPagePath(printer, kAccessoriesPage, path, sizeof(path))) return false;
  if (papplClientGetMethod(client) == HTTP_STATE_POST) {
    bool asked = false;
    if (!take_form(client, printer, &problems, &asked)) {
      papplClientRespond(client, HTTP_STATUS_BAD_REQUEST, nullptr, nullptr, 0, 0);
      return true;
    }
    // The page the button leads to is an ordinary GET of this one, which shows the query
    // running and then, reloading itself, the answers; reloading it asks nothing again.
    if (asked) {
      papplClientRespondRedirect(client, HTTP_STATUS_SEE_OTHER, path);
      return true;
    }
  }
  UniqueMalloc<InstalledOption[]> options = make_array<InstalledOption>(kShownOptions);
  int interval = 0;
  bool running = false;
  bool waiting = false;
  const int count = options != nullptr ? copyInstalledOptions(printer, options.get(), kShownOptions,
                                                              &interval, &running, &waiting)
                                       : -1;
  const PpdDriver* driver = ppdDriverOf(printer);
  UniquePpd ppd(driver != nullptr ? ppdOpenFile(driver->ppd_path) : nullptr);

  papplClientHTMLPrinterHeader(client, printer, kAccessoriesPageLabel,
                               running || waiting ? kAskingRefreshSeconds : 0, nullptr, nullptr);
  papplClientHTMLPuts(client, "<div class=\"row\"><div class=\"col-12\">\n");
  papplClientHTMLStartForm(client, path, false);
  if (problems.not_saved[0] != '\0') {
    // In force until the server stops, but not kept over a restart.
    papplClientHTMLPuts(client, "<p id=\"save-problem\">Set, but not saved: ");
    papplClientHTMLEscape(client, problems.not_saved, 0);
    papplClientHTMLPuts(client, "</p>\n");
  }
  papplClientHTMLPrintf(client,
                        "<p id=\"query-state\">%s</p>\n"
                        "<table class=\"list\" summary=\"Accessories\" id=\"zorv-accessories\">\n"
                        "<thead><tr><th>Option</th><th>Query</th><th>Reply</th><th>From the "
                        "printer</th><th>Set by hand</th><th>Installed</th><th>Asked</th></tr>"
                        "</thead><tbody>\n",
                        running   ? "The printer is being asked now; this page shows the answers "
                                    "when they come."
                        : waiting ? "The printer is to be asked as soon as other printers' "
                                    "queries let it; this page shows the answers when they come."
                                  : "");
  for (int i = 0; i < count; i++) option_row(client, ppd.get(), options[i]);
  if (count <= 0)
    papplClientHTMLPuts(client, "<tr><td colspan=\"7\">No installable options.</td></tr>\n");
  papplClientHTMLPrintf(
      client,
      "</tbody></table>\n<p>Ask the printer every <input type=\"number\" "
      "name=\"interval\" min=\"1\" value=\"%d\"> minutes. "
      "<input type=\"submit\" name=\"save\" value=\"Save\"> "
      "<input type=\"submit\" name=\"query\" value=\"Ask the printer now\"></p>\n",
      interval / kSecondsPerMinute);
  stateSection(client, printer);
  snmp_section(client, printer, problems.refused);
  papplClientHTMLPuts(client, "</form>\n</div></div>\n");
  papplClientHTMLPrinterFooter(client);
  return true;
}

// --- The query resource -----------------------------------------------------------------

bool respond_text(pappl_client_t* client, http_status_t status, const char* text, size_t length) {
  if (!papplClientRespond(client, status, nullptr, "text/plain", 0, length)) return false;
  http_t* http = papplClientGetHTTP(client);
  if (length > 0) return httpWrite2(http, text, length) == static_cast<ssize_t>(length);
  // An empty body goes chunked: without its closing chunk the client waits out the keep-alive.
  return httpWrite2(http, "", 0) == 0;
}

// The printer's installed options into a new array of kShownOptions, with their count (-1 for
// a printer without accessories, or when memory runs out).
UniqueMalloc<InstalledOption[]> installed_options(pappl_printer_t* printer, int* count) {
  UniqueMalloc<InstalledOption[]> options = make_array<InstalledOption>(kShownOptions);
  int interval = 0;
  bool running = false;
  bool waiting = false;
  *count = options != nullptr ? copyInstalledOptions(printer, options.get(), kShownOptions,
                                                     &interval, &running, &waiting)
                              : -1;
  return options;
}

// After a query: the installed choices it changed, and what that asks of a CUPS queue of the
// printer. A queue made with "lpadmin -m everywhere" keeps the capabilities it was made with, so
// after the duplex unit is taken away it still offers two-sided printing and such a job is
// cancelled; made again, it takes the printer's new ones. Nothing when either copy is missing.
void write_changed_choices(FILE* out, const InstalledOption* before, int before_count,
                           const InstalledOption* after, int after_count) {
  if (before == nullptr || after == nullptr) return;
  bool changed = false;
  for (int i = 0; i < after_count; i++) {
    const InstalledOption* was = nullptr;
    for (int j = 0; j < before_count && was == nullptr; j++) {
      if (strcmp(before[j].keyword, after[i].keyword) == 0) was = &before[j];
    }
    if (was == nullptr || strcmp(effectiveChoice(*was), effectiveChoice(after[i])) == 0) continue;
    fprintf(out, "%s %s=%s (was %s)",
            changed ? "," : "# The installed choices changed:", ShownText(after[i].keyword).c_str(),
            ShownText(effectiveChoice(after[i])).c_str(), ShownText(effectiveChoice(*was)).c_str());
    changed = true;
  }
  if (!changed) return;
  fputs(
      "\n# A CUPS queue made with 'lpadmin -m everywhere' keeps the capabilities it was made "
      "with: run 'lpadmin -p QUEUE -m everywhere' again for each such queue of this printer.\n",
      out);
}

// A query runs on the device and rewrites what the server keeps of it: over TCP only an
// administrator's POST of a form of the server's own (its session token), so that no page
// in a local browser can make one; the local socket reaches administrators alone, and the
// query sub-command's GET goes there.
bool query_resource(pappl_client_t* client, void* data) {
  pappl_system_t* system = static_cast<pappl_system_t*>(data);
  const bool local = httpAddrFamily(httpGetAddress(papplClientGetHTTP(client))) == AF_LOCAL;
  const http_status_t authorized = papplClientIsAuthorized(client);
  if (authorized != HTTP_STATUS_CONTINUE) return respond_text(client, authorized, "", 0);
  if (!local && papplClientGetMethod(client) != HTTP_STATE_POST) {
    return respond_text(client, HTTP_STATUS_METHOD_NOT_ALLOWED, "", 0);
  }
  CupsOptions form;
  form.count = papplClientGetForm(client, &form.options);
  if (!local && !papplClientIsValidForm(client, form.count, form.options)) {
    return respond_text(client, HTTP_STATUS_FORBIDDEN, "", 0);
  }
  const char* name = form.get("printer");
  char resource[kPathSize];
  if (name == nullptr || strchr(name, '/') != nullptr ||
      !format_text(resource, sizeof(resource), "/ipp/print/%s", name)) {
    return respond_text(client, HTTP_STATUS_BAD_REQUEST, "", 0);
  }
  pappl_printer_t* printer = papplSystemFindPrinter(system, resource, 0, nullptr);
  if (printer == nullptr) return respond_text(client, HTTP_STATUS_NOT_FOUND, "", 0);
  char* text = nullptr;
  size_t length = 0;
  FILE* out = open_memstream(&text, &length);
  if (out == nullptr) return respond_text(client, HTTP_STATUS_SERVER_ERROR, "", 0);
  int before_count = 0;
  UniqueMalloc<InstalledOption[]> before = installed_options(printer, &before_count);
  const QueryResult result = queryNow(printer, out);
  int after_count = 0;
  UniqueMalloc<InstalledOption[]> after = installed_options(printer, &after_count);
  write_changed_choices(out, before.get(), before_count, after.get(), after_count);
  fclose(out);
  UniqueMalloc<char> owned(text);
  http_status_t status = HTTP_STATUS_SERVICE_UNAVAILABLE;
  switch (result.outcome) {
    case QueryOutcome::kAsked:
      status = static_cast<http_status_t>(result.answered > 0 ? kQueryAnswered : kQueryNoAnswer);
      break;
    case QueryOutcome::kBusy:
      status = static_cast<http_status_t>(kQueryBusy);
      break;
    case QueryOutcome::kGone:
      status = HTTP_STATUS_NOT_FOUND;
      break;
    case QueryOutcome::kCannotQuery:
      break;
  }
  return respond_text(client, status, owned.get() != nullptr ? owned.get() : "", length);
}

}  // namespace

bool printerPagePath(pappl_printer_t* printer, const char* page, char* path, size_t size) {
  char buffer[kPathSize];
  if (papplPrinterGetPath(printer, page, buffer, sizeof(buffer)) == nullptr) return false;
  return copy_text(path, size, buffer) < size;
}

void addPrinterPages(pappl_printer_t* printer) {
  addPrinterMainPage(printer);
  char path[kPathSize];
  if (printerPagePath(printer, kDriverPage, path, sizeof(path))) {
    papplSystemAddResourceCallback(papplPrinterGetSystem(printer), path, "text/html", driver_page,
                                   printer);
    papplPrinterAddLink(printer, kDriverPageLabel, path, PAPPL_LOPTIONS_STATUS);
  }
  if (printerPagePath(printer, kAccessoriesPage, path, sizeof(path))) {
    papplSystemAddResourceCallback(papplPrinterGetSystem(printer), path, "text/html",
                                   accessories_page, printer);
    papplPrinterAddLink(printer, kAccessoriesPageLabel, path, PAPPL_LOPTIONS_STATUS);
  }
}

void addSystemPages(pappl_system_t* system) {
  papplSystemAddResourceCallback(system, kQueryResource, "text/plain", query_resource, system);
}
