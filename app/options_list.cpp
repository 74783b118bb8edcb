// The "options" sub-command: every capability of a printer.
#include "app/options_list.h"

#include <cstring>
#include <memory>

#include "app/handles.h"
#include "app/ppd_driver.h"
#include "app/service.h"
#include "app/system.h"
#include "log/escape.h"
#include "log/text.h"

namespace {

constexpr size_t kValueSize = 256;
constexpr int kConnectTimeoutMs = 30000;
constexpr size_t kResourceSize = 1024;

// The job options, in the order they are listed; "media-col-default/NAME" holds the default
// of a media-col member.
constexpr const char* kJobOptions[] = {
    "media",           "media-source",      "media-type",           "sides",
    "output-bin",      "finishings",        "print-color-mode",     "print-quality",
    "print-scaling",   "printer-resolution", "orientation-requested", "print-content-optimize",
    kUcsAttribute};
constexpr const char* kRequested[] = {"all", "media-col-database", kUcsSupported, kUcsDefault,
                                      kInstalledAttribute};

struct HttpCloser {
  void operator()(http_t* http) const { httpClose(http); }
};
using HttpOwner = std::unique_ptr<http_t, HttpCloser>;

// Value i of attr as the command line writes it.
const char* value_of(ipp_attribute_t* attr, const char* name, int i, char* text, size_t size) {
  text[0] = '\0';
  if (attr == nullptr || i >= ippGetCount(attr)) return text;
  switch (ippGetValueTag(attr)) {
    case IPP_TAG_ENUM:
      copy_text(text, size, ippEnumString(name, ippGetInteger(attr, i)));
      break;
    case IPP_TAG_INTEGER:
      format_text(text, size, "%d", ippGetInteger(attr, i));
      break;
    case IPP_TAG_RESOLUTION: {
      ipp_res_t units;
      int y = 0;
      const int x = ippGetResolution(attr, i, &y, &units);
      format_text(text, size, x == y ? "%ddpi" : "%dx%ddpi", x, y);
      break;
    }
    default:
      copy_text(text, size, ippGetString(attr, i, nullptr));
      break;
  }
  return text;
}

void print_option(ipp_t* response, const char* name, FILE* out) {
  char supported[kValueSize];
  char default_name[kValueSize];
  format_text(supported, sizeof(supported), "%s-supported", name);
  ipp_attribute_t* values = ippFindAttribute(response, supported, IPP_TAG_ZERO);
  if (values == nullptr) return;
  format_text(default_name, sizeof(default_name),
              strncmp(name, "media-", 6) == 0 ? "media-col-default/%s" : "%s-default", name);
  char chosen[kValueSize];
  value_of(ippFindAttribute(response, default_name, IPP_TAG_ZERO), name, 0, chosen,
           sizeof(chosen));
  if (chosen[0] != '\0') fprintf(out, "  -o %s=%s (default)\n", name, ShownText(chosen).c_str());
  for (int i = 0; i < ippGetCount(values); i++) {
    char value[kValueSize];
    if (strcmp(value_of(values, name, i, value, sizeof(value)), chosen) != 0 && value[0] != '\0') {
      fprintf(out, "  -o %s=%s\n", name, ShownText(value).c_str());
    }
  }
}

void print_list(ipp_t* response, const char* title, const char* name, FILE* out) {
  ipp_attribute_t* attr = ippFindAttribute(response, name, IPP_TAG_ZERO);
  if (attr == nullptr) return;
  fprintf(out, "%s:", title);
  for (int i = 0; i < ippGetCount(attr); i++) {
    char value[kValueSize];
    fprintf(out, " %s", ShownText(value_of(attr, name, i, value, sizeof(value))).c_str());
  }
  fputc('\n', out);
}

// The value of "-d NAME" or "-u URI" (either form: "-d NAME", "-dNAME"); null for none.
const char* argument(int argc, char* argv[], const char* flag) {
  const char* found = nullptr;
  for (int i = 2; i < argc; i++) {
    if (strcmp(argv[i], flag) == 0 && i + 1 < argc) {
      found = argv[++i];
    } else if (strncmp(argv[i], flag, 2) == 0 && argv[i][2] != '\0') {
      found = argv[i] + 2;
    }
  }
  return found;
}

}  // namespace

void printOptions(ipp_t* response, FILE* out) {
  ipp_attribute_t* copies = ippFindAttribute(response, "copies-supported", IPP_TAG_RANGE);
  int most = 1;
  fprintf(out, "Print job options:\n");
  if (copies != nullptr) {
    fprintf(out, "  -c COPIES (%d to %d)\n", ippGetRange(copies, 0, &most), most);
  }
  for (const char* name : kJobOptions) print_option(response, name, out);
  fprintf(out, "\n");
  print_list(response, "Document formats", "document-format-supported", out);
  print_list(response, "Installed accessories", kInstalledAttribute, out);
}

int listOptionsSubcommand(int argc, char* argv[]) {
  const char* printer = argument(argc, argv, "-d");
  const char* uri = argument(argc, argv, "-u");
  char where[kResourceSize] = "";
  char resource[kResourceSize] = "/ipp/print";
  HttpOwner http;
  UniqueIpp request(ippNewRequest(IPP_OP_GET_PRINTER_ATTRIBUTES));
  if (uri != nullptr) {
    char scheme[32], user[256], host[256];
    int port = 0;
    if (httpSeparateURI(HTTP_URI_CODING_ALL, uri, scheme, sizeof(scheme), user, sizeof(user), host,
                        sizeof(host), &port, resource, sizeof(resource)) < HTTP_URI_STATUS_OK) {
      fprintf(stderr, "%s: bad printer URI '%s'\n", kAppName, ShownText(uri).c_str());
      return 1;
    }
    copy_text(where, sizeof(where), uri);
    http.reset(httpConnect2(host, port, nullptr, AF_UNSPEC, HTTP_ENCRYPTION_NEVER, 1,
                            kConnectTimeoutMs, nullptr));
    ippAddString(request.get(), IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr, uri);
  } else {
    http.reset(connectLocalServer(where, sizeof(where)));
    char local[kResourceSize];
    if (printer == nullptr) {
      format_text(local, sizeof(local), "ipp://localhost/ipp/print");
    } else {
      httpAssembleURIf(HTTP_URI_CODING_ALL, local, sizeof(local), "ipp", nullptr, "localhost", 0,
                       "/ipp/print/%s", printer);
    }
    ippAddString(request.get(), IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr, local);
  }
  if (http == nullptr) {
    fprintf(stderr, "%s: no server at %s: %s\n", kAppName, ShownText(where).c_str(),
            cupsLastErrorString());
    return 1;
  }
  ippAddString(request.get(), IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", nullptr,
               cupsUser());
  ippAddStrings(request.get(), IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes",
                static_cast<int>(sizeof(kRequested) / sizeof(kRequested[0])), nullptr, kRequested);
  UniqueIpp response(cupsDoRequest(http.get(), request.release(), resource));
  if (response == nullptr || cupsLastError() > IPP_STATUS_OK_EVENTS_COMPLETE) {
    fprintf(stderr, "%s: no options of '%s': %s\n", kAppName,
            ShownText(printer != nullptr ? printer : where).c_str(), cupsLastErrorString());
    return 1;
  }
  printOptions(response.get(), stdout);
  return 0;
}
