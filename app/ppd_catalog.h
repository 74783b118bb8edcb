// The drivers of the Printer Application: one per PPD file in the PPD directories, named for
// the file, described by its *NickName and matched to devices by its *1284DeviceID.
#ifndef ZORV_APP_PPD_CATALOG_H
#define ZORV_APP_PPD_CATALOG_H

#include <pappl/pappl.h>

#include <cstddef>

#include "app/ppd_driver.h"

inline constexpr int kMaxDrivers = 256;
inline constexpr int kMaxPpdDirectories = 8;
inline constexpr int kMaxSkipped = 32;
inline constexpr size_t kDescriptionSize = 128;
inline constexpr size_t kDeviceIdSize = 1024;
inline constexpr size_t kSkipReasonSize = kPpdPathSize + 256;

// The package's PPDs, then the administrator's: a driver name found twice keeps the first.
inline constexpr char kPackagePpdDirectory[] = "/usr/share/ppd/zorv";
inline constexpr char kLocalPpdDirectory[] = "/etc/zorv-printer-app/ppd";

struct DriverEntry {
  char name[kDriverNameSize];
  char description[kDescriptionSize];
  char device_id[kDeviceIdSize];
  char ppd_path[kPpdPathSize];
};

// Filled once before the server starts and read-only from then on. drivers[] points into
// entries[], in the form papplMainloop takes.
struct DriverCatalog {
  int count;
  DriverEntry entries[kMaxDrivers];
  pappl_pr_driver_t drivers[kMaxDrivers];
  // The PPDs left out, each with why: logged once the server's log exists.
  int num_skipped;
  char skipped[kMaxSkipped][kSkipReasonSize];
};

// Adds the PPD files (*.ppd, *.ppd.gz) of each directory of the colon-separated list to the
// catalog, sorted by driver name. A PPD that does not open, or whose name is taken, is left
// out and noted in skipped. A missing directory is no error.
void scanPpdDirectories(DriverCatalog* catalog, const char* directories);

// The driver name for a PPD file name: the base name without ".ppd" or ".ppd.gz", lowercase,
// anything but letters, digits, '-' and '_' made '_'.
void driverNameOfFile(char* name, size_t size, const char* file_name);

// The entry of a driver name, or null.
const DriverEntry* findDriver(const DriverCatalog& catalog, const char* name);

// The driver whose *1284DeviceID names the same maker and model as device_id, or null: the
// auto-add callback's answer. The result lives as long as the catalog.
const char* matchDeviceId(const DriverCatalog& catalog, const char* device_id);

#endif  // ZORV_APP_PPD_CATALOG_H
