// The Printer Application as a server for a test, and an IPP client of its printers. The
// server gets a port on 127.0.0.1, and its socket, state, spool and log in a directory of its
// own that every user may enter, as /run (SNAP_COMMON moves PAPPL's socket and state there);
// it is started and stopped by pid.
// Another program of the same command line (the minimal PAPPL printer of the conformance
// test) runs the same way.
#ifndef ZORV_TESTS_SUPPORT_APP_SERVER_H
#define ZORV_TESTS_SUPPORT_APP_SERVER_H

#include <cups/cups.h>

#include <cstdint>

#include <string>
#include <vector>

#include "support/background.h"
#include "support/paths.h"
#include "support/program.h"

// A user of a test's own, whose HTTP Basic credentials the server checks through PAM.
struct TestUser {
  std::string name;
  std::string password;
  bool admin;  // in kTestAdminGroup
};
inline constexpr char kTestAdminGroup[] = "zorvtestadmins";

class AppServer {
 public:
  static constexpr int kReadyTimeoutMs = 20000;

  explicit AppServer(std::string program = ZORV_PRINTER_APP_PATH);
  ~AppServer();
  AppServer(const AppServer&) = delete;
  AppServer& operator=(const AppServer&) = delete;

  // Starts "PROGRAM server" with the PPDs of ppd_dir and waits until it answers on its port.
  // With users, the server runs in a mount namespace of its own over copies of /etc/passwd,
  // /etc/group and /etc/shadow that have them added (the machine's are never touched), and
  // kTestAdminGroup is its administrators' group. False, with failure() and the log's tail,
  // when it does not.
  bool start(const std::string& ppd_dir, const std::vector<std::string>& options = {},
             const std::vector<TestUser>& users = {});
  // Stops it by pid and starts it again with the same state file.
  bool restart();
  // Variables ("NAME=value") the server gets in its environment from its next start on, as
  // the fault shim's (support/fault_shim.cpp).
  void set_extra_environment(const std::vector<std::string>& extra) { extra_environment_ = extra; }
  void stop(int timeout_ms = BackgroundProcess::kStopTimeoutMs) { process_.stop(timeout_ms); }
  bool running() { return process_.running(); }

  int port() const { return port_; }
  // ipp://127.0.0.1:PORT/ipp/print/NAME
  std::string printer_uri(const std::string& printer) const;
  std::string web_url(const std::string& path) const;
  // The server's local socket, which only root and the administrators may reach.
  std::string socket_path() const;
  // A page of the web interface as an administrator gets it, through the local socket: GET
  // path, or POST the form; the body, and the HTTP status into *status.
  std::string admin_page(const std::string& path, int* status, const std::string& form = "") const;
  std::string log_text() const { return read_file(dir_.file("log")); }
  // The server's state file (-o state-file=).
  std::string state_file() const { return dir_.file("state"); }
  const std::string& failure() const { return failure_; }

  // A sub-command of the program against this server (through its socket), killed after
  // timeout_seconds; as user uid (with the temporary directory a user has) when given.
  ProgramResult run(const std::vector<std::string>& args, int timeout_seconds = 60,
                    int uid = -1) const;
  // "add -d name -m driver -v device_uri"; false with failure() set.
  bool add_printer(const std::string& name, const std::string& driver,
                   const std::string& device_uri);

 private:
  bool launch();
  std::vector<std::string> environment() const;

  std::string program_;
  TempDir dir_;
  BackgroundProcess process_;
  std::string ppd_dir_;
  std::vector<std::string> options_;
  std::vector<std::string> extra_environment_;
  std::vector<std::string> launcher_;  // the command that runs the server, before its own
  std::string failure_;
  int port_ = 0;
};

// The sample PPD with its duplex unit, paper feeder and stapler installed by default: the
// capabilities of a fully fitted printer before it was asked anything.
std::string fitted_sample_ppd();

// One IPP attribute of a job request: "name=value"; copies goes as an integer,
// ipp-attribute-fidelity as a boolean, media-source as the one member of a media-col,
// everything else as a keyword.
using JobAttributes = std::vector<std::string>;

struct IppAnswer {
  ipp_status_t status = IPP_STATUS_ERROR_INTERNAL;
  int job_id = 0;
  std::string message;
};

// Print-Job of document (format document-format) with attributes to printer_uri.
IppAnswer ipp_print_job(const std::string& printer_uri, const std::string& format,
                        const std::string& document, const JobAttributes& attributes = {});
IppAnswer ipp_cancel_job(const std::string& printer_uri, int job_id);

struct JobStatus {
  ipp_jstate_t state = static_cast<ipp_jstate_t>(0);
  std::string reasons;  // job-state-reasons, comma-separated
  std::string message;  // job-state-message
  int impressions_completed = -1;  // job-impressions-completed
};
JobStatus ipp_job_status(const std::string& printer_uri, int job_id);
// Polls until the job has ended (canceled, aborted or completed), at most timeout_ms.
JobStatus ipp_wait_job_end(const std::string& printer_uri, int job_id, int timeout_ms = 60000);
// The values of a printer attribute, comma-separated; "" when it is not there.
std::string ipp_printer_attribute(const std::string& printer_uri, const std::string& name);

// A page of the server's web interface: GET url, or, with a form ("name=value&..."), POST it,
// with HTTP Basic credentials ("user:password") when given; the body, and the HTTP status into
// *status.
std::string http_page(const std::string& url, int* status, const std::string& form = "",
                      const std::string& credentials = "");

// The field of a page's form that proves it the server's own ("session=TOKEN"), or "session="
// when the page has no form.
std::string session_field(const std::string& page);

// A PWG raster document of one page of media (a PWG media name) in type ("sgray_8",
// "srgb_8", "black_1", ...) at dpi: every line the same pseudo-random bytes of seed, or white
// for seed 0.
std::string pwg_raster_page(const std::string& media, const std::string& type, int dpi,
                            uint32_t seed);
// The same page with a header that claims width x height pixels instead (when width > 0), and
// only lines of its lines (all when lines < 0).
std::string pwg_raster_claiming(const std::string& media, const std::string& type, int dpi,
                                uint32_t seed, unsigned width, unsigned height, int lines);

// What Ghostscript says of a document that a printer received, interpreted to no output: ""
// when it ran to its end without an error, else its messages.
std::string ghostscript_errors(const std::string& document);

#endif  // ZORV_TESTS_SUPPORT_APP_SERVER_H
