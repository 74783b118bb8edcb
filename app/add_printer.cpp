// The web interface's add-printer page.
#include "app/add_printer.h"

#include <cerrno>
#include <cstring>

#include "app/devices.h"
#include "app/handles.h"
#include "log/escape.h"
#include "log/text.h"
#include "probe/probe.h"

namespace {

constexpr size_t kNameSize = 128;
constexpr size_t kUriSize = 1024;
constexpr size_t kPathSize = 256;
constexpr char kSocketChoice[] = "socket";
constexpr char kRawPort[] = "9100";

struct DeviceOptions {
  pappl_client_t* client;
  const char* chosen;
};

bool device_option(const char* info, const char* uri, const char* id, void* data) {
  const DeviceOptions* options = static_cast<const DeviceOptions*>(data);
  char value[kUriSize * 2];
  format_text(value, sizeof(value), "%s|%s", uri, id != nullptr ? id : "");
  papplClientHTMLPuts(options->client, "<option value=\"");
  papplClientHTMLEscape(options->client, value, 0);
  papplClientHTMLPrintf(options->client, "\"%s>", strcmp(uri, options->chosen) == 0 ? " selected" : "");
  papplClientHTMLEscape(options->client, info != nullptr ? info : uri, 0);
  papplClientHTMLPuts(options->client, "</option>");
  return false;
}

// The device URI of the form: a device found ("URI|DEVICE-ID"), or a network printer's host
// (with its port, else 9100).
void form_device(const CupsOptions& form, char* uri, size_t uri_size, char* id, size_t id_size) {
  copy_text(uri, uri_size, "");
  copy_text(id, id_size, "");
  const char* device = form.get("device_uri");
  if (device == nullptr) return;
  if (strcmp(device, kSocketChoice) == 0) {
    const char* host = form.get("hostname");
    if (host == nullptr || host[0] == '\0') return;
    const char* bracket = strrchr(host, ']');
    const char* colon = strrchr(host, ':');
    const bool has_port = colon != nullptr && (bracket == nullptr || colon > bracket) &&
                          (host[0] == '[' || strchr(host, ':') == colon);
    format_text(uri, uri_size, "socket://%s%s%s/", host, has_port ? "" : ":",
                has_port ? "" : kRawPort);
    return;
  }
  copy_text(uri, uri_size, device);
  char* bar = strchr(uri, '|');
  if (bar != nullptr) {
    *bar = '\0';
    copy_text(id, id_size, bar + 1);
  }
}

// Makes the printer of a posted form, or says why not into status. True when it was made and
// the client was sent to its page.
bool take_form(pappl_client_t* client, const DriverCatalog& catalog, char* name, char* driver,
               char* uri, char* status, size_t status_size) {
  CupsOptions form;
  form.count = papplClientGetForm(client, &form.options);
  if (!papplClientIsValidForm(client, form.count, form.options)) {
    copy_text(status, status_size, "Invalid form submission.");
    return false;
  }
  copy_text(name, kNameSize, form.get("printer_name") != nullptr ? form.get("printer_name") : "");
  copy_text(driver, kDriverNameSize,
            form.get("driver_name") != nullptr ? form.get("driver_name") : "");
  char id[kUriSize];
  form_device(form, uri, kUriSize, id, sizeof(id));
  char why[kDeviceWordsSize];
  if (name[0] == '\0') {
    copy_text(status, status_size, "Please enter a printer name.");
  } else if (uri[0] == '\0') {
    copy_text(status, status_size, "Please select a device, or enter a network printer's host.");
  } else if (driver[0] == '\0') {
    copy_text(status, status_size, "Please select a driver.");
  } else if (!deviceUriAllowed(uri, why, sizeof(why))) {
    papplLogClient(client, PAPPL_LOGLEVEL_ERROR, "Printer not added: %s.", why);
    format_text(status, status_size, "Not added: %s.", why);
  } else {
    // PAPPL asks a network printer for its device ID with the community "public" alone, and
    // waits 10 seconds for it: ours is asked first, with the manufacturers' settings.
    char source[kPpdPathSize];
    char tries[kTriesWordsSize];
    if (strcmp(driver, "auto") == 0 && id[0] == '\0' &&
        deviceIdOfPrinter(catalog, uri, id, sizeof(id), source, sizeof(source), tries,
                          sizeof(tries))) {
      papplLogClient(client, PAPPL_LOGLEVEL_INFO, "Device ID of %s, asked with %s: %s",
                     ShownText(uri).c_str(), ShownText(source).c_str(), ShownText(id).c_str());
    }
    pappl_printer_t* printer =
        papplPrinterCreate(papplClientGetSystem(client), 0, name, driver, id[0] != '\0' ? id : nullptr, uri);
    if (printer != nullptr) {
      char missing[kDeviceWordsSize];
      if (dnssdAvailable(missing, sizeof(missing))) {
        char dns_sd_name[kNameSize];
        papplPrinterSetDNSSDName(printer,
                                 papplPrinterGetDNSSDName(printer, dns_sd_name, sizeof(dns_sd_name)));
      }
      char path[kPathSize];
      papplClientRespondRedirect(client, HTTP_STATUS_FOUND,
                                 papplPrinterGetPath(printer, nullptr, path, sizeof(path)));
      return true;
    }
    switch (errno) {
      case EEXIST:
        copy_text(status, status_size, "A printer with that name already exists.");
        break;
      case EIO:
        copy_text(status, status_size, "That driver cannot be used with this printer.");
        break;
      case EINVAL:
        copy_text(status, status_size,
                  "Printer names must start with a letter or underscore and cannot contain "
                  "special characters.");
        break;
      default:
        copy_text(status, status_size, strerror(errno));
        break;
    }
  }
  return false;
}

bool add_printer_page(pappl_client_t* client, void* data) {
  const DriverCatalog& catalog = *static_cast<const DriverCatalog*>(data);
  if (!papplClientHTMLAuthorize(client)) return true;
  char name[kNameSize] = "";
  char driver[kDriverNameSize] = "";
  char uri[kUriSize] = "";
  char status[kDeviceWordsSize * 2] = "";
  if (papplClientGetMethod(client) == HTTP_STATE_POST &&
      take_form(client, catalog, name, driver, uri, status, sizeof(status))) {
    return true;
  }
  if (!papplClientRespond(client, HTTP_STATUS_OK, nullptr, "text/html", 0, 0)) return false;
  papplClientHTMLHeader(client, "Add Printer", 0);
  papplClientHTMLPuts(client, "<div class=\"content\"><div class=\"row\"><div class=\"col-12\">\n"
                              "<h1 class=\"title\">Add Printer</h1>\n");
  if (status[0] != '\0') {
    papplClientHTMLPuts(client, "<div class=\"banner\" id=\"add-status\">");
    papplClientHTMLEscape(client, status, 0);
    papplClientHTMLPuts(client, "</div>\n");
  }
  char missing[kDeviceWordsSize];
  const pappl_devtype_t types = listableDeviceTypes(PAPPL_DEVTYPE_ALL, missing, sizeof(missing));
  if (missing[0] != '\0') {
    papplClientHTMLPuts(client, "<p id=\"dnssd-missing\">");
    papplClientHTMLEscape(client, missing, 0);
    papplClientHTMLPuts(client, ".</p>\n");
  }
  papplClientHTMLStartForm(client, kAddPrinterPage, false);
  papplClientHTMLPuts(client,
                      "<table class=\"form\"><tbody>\n<tr><th><label for=\"printer_name\">Name:"
                      "</label></th><td><input type=\"text\" name=\"printer_name\" "
                      "id=\"printer_name\" required value=\"");
  papplClientHTMLEscape(client, name, 0);
  papplClientHTMLPuts(client,
                      "\"></td></tr>\n<tr><th><label for=\"device_uri\">Device:</label></th><td>"
                      "<select name=\"device_uri\" id=\"device_uri\"><option value=\"\">Select "
                      "Device</option>");
  DeviceOptions options = {client, uri};
  papplDeviceList(types, device_option, &options, papplLogDevice, papplClientGetSystem(client));
  papplClientHTMLPrintf(client,
                        "<option value=\"%s\">Network Printer</option></select></td></tr>\n"
                        "<tr><th><label for=\"hostname\">Hostname/IP Address:</label></th><td>"
                        "<input type=\"text\" name=\"hostname\" id=\"hostname\" "
                        "placeholder=\"printer.example.org, 192.0.2.10 or [2001:db8::10], "
                        "optionally :port\"></td></tr>\n"
                        "<tr><th><label for=\"driver_name\">Driver Name:</label></th><td><select "
                        "name=\"driver_name\" id=\"driver_name\"><option value=\"auto\">"
                        "Auto-Detect Driver</option>",
                        kSocketChoice);
  for (int i = 0; i < catalog.count; i++) {
    const DriverEntry& entry = catalog.entries[i];
    papplClientHTMLPrintf(client, "<option value=\"%s\"%s>", entry.name,
                          strcmp(entry.name, driver) == 0 ? " selected" : "");
    papplClientHTMLEscape(client, entry.description, 0);
    papplClientHTMLPuts(client, "</option>");
  }
  papplClientHTMLPuts(client,
                      "</select></td></tr>\n<tr><th></th><td><input type=\"submit\" "
                      "value=\"Add Printer\"></td></tr>\n</tbody></table>\n</form>\n"
                      "</div></div></div>\n");
  papplClientHTMLFooter(client);
  return true;
}

}  // namespace

void addAddPrinterPage(pappl_system_t* system, const DriverCatalog* catalog) {
  papplSystemAddResourceCallback(system, kAddPrinterPage, "text/html", add_printer_page,
                                 const_cast<DriverCatalog*>(catalog));
}
