// RAII owners of the handles that the Printer Application gets from PAPPL and libcups: IPP
// messages, print options, option arrays and opened PPD files.
#ifndef ZORV_APP_HANDLES_H
#define ZORV_APP_HANDLES_H

#include <cups/ppd.h>
#include <pappl/pappl.h>

#include <memory>

struct IppDeleter {
  void operator()(ipp_t* ipp) const { ippDelete(ipp); }
};
using UniqueIpp = std::unique_ptr<ipp_t, IppDeleter>;

struct PrintOptionsDeleter {
  void operator()(pappl_pr_options_t* options) const {
    if (options != nullptr) papplJobDeletePrintOptions(options);
  }
};
using UniquePrintOptions = std::unique_ptr<pappl_pr_options_t, PrintOptionsDeleter>;

// The name/value pairs of cupsParseOptions or papplDeviceParseID with their count.
class CupsOptions {
 public:
  CupsOptions() = default;
  ~CupsOptions() { cupsFreeOptions(count, options); }
  CupsOptions(const CupsOptions&) = delete;
  CupsOptions& operator=(const CupsOptions&) = delete;
  const char* get(const char* name) const { return cupsGetOption(name, count, options); }

  int count = 0;
  cups_option_t* options = nullptr;
};

// The CUPS 2.4 headers mark the PPD interface deprecated; it is the interface the drivers are
// made from.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
struct AppPpdCloser {
  void operator()(ppd_file_t* ppd) const {
    if (ppd != nullptr) ppdClose(ppd);
  }
};
#pragma GCC diagnostic pop
using UniquePpdFile = std::unique_ptr<ppd_file_t, AppPpdCloser>;

#endif  // ZORV_APP_HANDLES_H
