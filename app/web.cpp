// The printer's driver page beside PAPPL's own.
#include "app/web.h"

#include <cstdio>
#include <cstring>

#include "app/handles.h"
#include "app/ppd_driver.h"
#include "log/text.h"

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

}  // namespace

bool driverPagePath(pappl_printer_t* printer, char* path, size_t size) {
  char buffer[kPathSize];
  if (papplPrinterGetPath(printer, kDriverPage, buffer, sizeof(buffer)) == nullptr) return false;
  return copy_text(path, size, buffer) < size;
}

void addPrinterPages(pappl_printer_t* printer) {
  char path[kPathSize];
  if (!driverPagePath(printer, path, sizeof(path))) return;
  papplSystemAddResourceCallback(papplPrinterGetSystem(printer), path, "text/html", driver_page,
                                 printer);
  papplPrinterAddLink(printer, kDriverPageLabel, path, PAPPL_LOPTIONS_STATUS);
}

void removePrinterPages(pappl_printer_t* printer) {
  char path[kPathSize];
  if (!driverPagePath(printer, path, sizeof(path))) return;
  papplPrinterRemoveLink(printer, kDriverPageLabel);
  papplSystemRemoveResource(papplPrinterGetSystem(printer), path);
}
