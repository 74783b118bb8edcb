// The Printer Application's server and command line: papplMainloop with one driver per PPD,
// a server on loopback at its own port, and the printers' per-printer state.
#ifndef ZORV_APP_SYSTEM_H
#define ZORV_APP_SYSTEM_H

#include <cstddef>

#include "app/access.h"
#include "app/accessories.h"
#include "app/device_watch.h"
#include "app/pdf_job.h"
#include "app/ppd_catalog.h"
#include "app/service.h"

inline constexpr char kAppName[] = "zorv-printer-app";
inline constexpr char kAppVersion[] = "1.0.0";
inline constexpr int kDefaultPort = 8640;
inline constexpr char kDefaultListen[] = "localhost";
inline constexpr char kDefaultSpoolDirectory[] = "/var/spool/zorv-printer-app";
inline constexpr size_t kOptionTextSize = kPpdPathSize * kMaxPpdDirectories;

// What the callbacks of the main loop share; made once by runPrinterApp and read-only while
// the server runs.
struct AppContext {
  DriverCatalog catalog;
  ServerPlaces places;            // the state file (-o state-file=PATH, or empty: PAPPL's own
                                  // place) and the socket's fixed name
  AccessSettings access;          // the administrators' group and the PAM service
  AccessoryContext* accessories;  // what the printers' accessories share
  DeviceWatch* watch;             // the watch over the jobs' printers (server only, else null)
  PdfSettings pdf;                // how PDF documents are converted
};

// The sub-command that asks a printer now and prints what it answered, through the server's
// local socket: "zorv-printer-app query -d NAME".
inline constexpr char kQuerySubcommand[] = "query";
// How often the server looks for printers whose query is due, in seconds.
inline constexpr int kQueryTickSeconds = 1;

// The value of "-o NAME=VALUE" (or "-oNAME=VALUE") on the command line, the last one given,
// into value; false when there is none.
bool commandLineOption(int argc, char* argv[], const char* name, char* value, size_t size);

// Reads the PPD directories (-o ppd-directories=DIR:DIR, by default the package's and the
// administrator's) and runs papplMainloop; returns the program's exit status.
int runPrinterApp(int argc, char* argv[]);

#endif  // ZORV_APP_SYSTEM_H
