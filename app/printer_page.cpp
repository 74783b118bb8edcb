// The printer's main page in place of PAPPL's, which has no room for a driver's own content:
// its state, its pages, pausing and resuming, and the summary of its accessories, trays and
// supplies.
#include "app/printer_page.h"

#include <cstring>

#include "app/handles.h"
#include "app/state_page.h"
#include "app/web.h"
#include "log/text.h"

namespace {

constexpr size_t kPathSize = 256;

// PAPPL's printer-state-reasons bits and their keywords.
constexpr struct {
  pappl_preason_t bit;
  const char* keyword;
} kReasons[] = {
    {PAPPL_PREASON_OTHER, "other"},
    {PAPPL_PREASON_COVER_OPEN, "cover-open"},
    {PAPPL_PREASON_INPUT_TRAY_MISSING, "input-tray-missing"},
    {PAPPL_PREASON_MARKER_SUPPLY_EMPTY, "marker-supply-empty"},
    {PAPPL_PREASON_MARKER_SUPPLY_LOW, "marker-supply-low"},
    {PAPPL_PREASON_MARKER_WASTE_ALMOST_FULL, "marker-waste-almost-full"},
    {PAPPL_PREASON_MARKER_WASTE_FULL, "marker-waste-full"},
    {PAPPL_PREASON_MEDIA_EMPTY, "media-empty"},
    {PAPPL_PREASON_MEDIA_JAM, "media-jam"},
    {PAPPL_PREASON_MEDIA_LOW, "media-low"},
    {PAPPL_PREASON_MEDIA_NEEDED, "media-needed"},
    {PAPPL_PREASON_OFFLINE, "offline"},
    {PAPPL_PREASON_SPOOL_AREA_FULL, "spool-area-full"},
    {PAPPL_PREASON_TONER_EMPTY, "toner-empty"},
    {PAPPL_PREASON_TONER_LOW, "toner-low"},
    {PAPPL_PREASON_DOOR_OPEN, "door-open"},
};

// A link to one of the printer's pages, or to PAPPL's.
void page_link(pappl_client_t* client, pappl_printer_t* printer, const char* subpath,
               const char* label) {
  char path[kPathSize];
  if (!printerPagePath(printer, subpath, path, sizeof(path))) return;
  papplClientHTMLPrintf(client, "<a class=\"btn\" href=\"%s\">%s</a>\n", path, label);
}

void action_button(pappl_client_t* client, const char* path, const char* action,
                   const char* label) {
  papplClientHTMLStartForm(client, path, false);
  papplClientHTMLPrintf(client,
                        "<input type=\"hidden\" name=\"action\" value=\"%s\"><input "
                        "type=\"submit\" value=\"%s\"></form>\n",
                        action, label);
}

// An administrator's action of the page's own form; the words of what was done, or null.
const char* take_action(pappl_client_t* client, pappl_printer_t* printer) {
  CupsOptions form;
  form.count = papplClientGetForm(client, &form.options);
  if (!papplClientIsValidForm(client, form.count, form.options)) return "Invalid form submission.";
  const char* action = form.get("action");
  if (action == nullptr) return "Missing action.";
  if (strcmp(action, "pause-printer") == 0) {
    papplPrinterPause(printer);
    return "Printer pausing.";
  }
  if (strcmp(action, "resume-printer") == 0) {
    papplPrinterResume(printer);
    return "Printer resuming.";
  }
  if (strcmp(action, "set-as-default") == 0) {
    papplSystemSetDefaultPrinterID(papplPrinterGetSystem(printer), papplPrinterGetID(printer));
    return "Default printer set.";
  }
  return "Unknown action.";
}

bool main_page(pappl_client_t* client, void* data) {
  pappl_printer_t* printer = static_cast<pappl_printer_t*>(data);
  const char* status = nullptr;
  if (papplClientGetMethod(client) == HTTP_STATE_POST) {
    // Changing the printer is for administrators; seeing it is not.
    if (!papplClientHTMLAuthorize(client)) return true;
    status = take_action(client, printer);
  }
  const ipp_pstate_t state = papplPrinterGetState(printer);
  papplClientHTMLPrinterHeader(client, printer, nullptr, state == IPP_PSTATE_PROCESSING ? 10 : 0,
                               nullptr, nullptr);
  char path[kPathSize];
  papplPrinterGetPath(printer, "", path, sizeof(path));
  const int jobs = papplPrinterGetNumberOfActiveJobs(printer);
  static const char* const kStates[] = {"idle", "processing", "stopped"};
  papplClientHTMLPrintf(client,
                        "<div class=\"row\"><div class=\"col-12\">\n<h1 class=\"title\">Status"
                        "</h1>\n<p id=\"printer-status\">%s, %d job%s",
                        kStates[state - IPP_PSTATE_IDLE], jobs, jobs == 1 ? "" : "s");
  const pappl_preason_t reasons = papplPrinterGetReasons(printer);
  for (const auto& reason : kReasons) {
    if ((reasons & reason.bit) != 0) papplClientHTMLPrintf(client, ", %s", reason.keyword);
  }
  pappl_pr_driver_data_t driver_data;
  papplPrinterGetDriverData(printer, &driver_data);
  papplClientHTMLPrintf(client, ".<br>%s</p>\n", driver_data.make_and_model);
  if (status != nullptr) papplClientHTMLPrintf(client, "<div class=\"banner\">%s</div>\n", status);
  papplClientHTMLPuts(client, "<div class=\"btn\">");
  page_link(client, printer, kDriverPage, kDriverPageLabel);
  page_link(client, printer, kAccessoriesPage, kAccessoriesPageLabel);
  if (driver_data.has_supplies) page_link(client, printer, "supplies", "Supplies");
  page_link(client, printer, "media", "Media");
  page_link(client, printer, "printing", "Printing Defaults");
  page_link(client, printer, "jobs", "Jobs");
  page_link(client, printer, "config", "Configuration");
  action_button(client, path, state == IPP_PSTATE_STOPPED ? "resume-printer" : "pause-printer",
                state == IPP_PSTATE_STOPPED ? "Resume Printing" : "Pause Printing");
  if (papplSystemGetDefaultPrinterID(papplPrinterGetSystem(printer)) !=
      papplPrinterGetID(printer)) {
    action_button(client, path, "set-as-default", "Set as Default");
  }
  papplClientHTMLPuts(client, "</div>\n");
  stateSummary(client, printer);
  papplClientHTMLPuts(client, "</div></div>\n");
  papplClientHTMLPrinterFooter(client);
  return true;
}

}  // namespace

void addPrinterMainPage(pappl_printer_t* printer) {
  char path[kPathSize];
  if (papplPrinterGetPath(printer, "", path, sizeof(path)) == nullptr) return;
  papplSystemAddResourceCallback(papplPrinterGetSystem(printer), path, "text/html", main_page,
                                 printer);
}
