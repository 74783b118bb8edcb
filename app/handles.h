// RAII owners of the handles that the Printer Application gets from PAPPL and libcups: IPP
// messages, print options and option arrays (opened PPD files: probe/ppd_handles.h).
#ifndef ZORV_APP_HANDLES_H
#define ZORV_APP_HANDLES_H

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

#endif  // ZORV_APP_HANDLES_H
