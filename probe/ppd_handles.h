// RAII owner of an opened PPD file of the CUPS PPD library.
#ifndef ZORV_PROBE_PPD_HANDLES_H
#define ZORV_PROBE_PPD_HANDLES_H

#include <cups/ppd.h>

#include <memory>

// The CUPS 2.4 headers mark the PPD interface deprecated; it is the one the query needs.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
struct PpdCloser {
  void operator()(ppd_file_t* ppd) const {
    if (ppd != nullptr) ppdClose(ppd);
  }
};
#pragma GCC diagnostic pop
using UniquePpd = std::unique_ptr<ppd_file_t, PpdCloser>;

#endif  // ZORV_PROBE_PPD_HANDLES_H
