// A private CUPS scheduler for integration tests, set up by scripts/private-cups.sh (the one
// definition that the scripts and benchmarks use as well): its own base directory, a loopback
// port and a socket of its own, no authentication, file: devices allowed, both built filters.
// Started and stopped by pid.
#ifndef ZORV_TESTS_SUPPORT_CUPSD_H
#define ZORV_TESTS_SUPPORT_CUPSD_H

#include <string>
#include <vector>

#include "support/background.h"
#include "support/paths.h"
#include "support/program.h"

// Typical use:
//   Cupsd cupsd;
//   cupsd.add_server_root_file("zorvtest.types", "application/x-zorv-test zorvjob\n");
//   ASSERT_TRUE(cupsd.start()) << cupsd.failure();
//   ASSERT_TRUE(cupsd.add_queue("q", TEST_DATA_DIR "/ppd/x.ppd", "file:/dev/null"));
//   ... run clients with cupsd.client_environment() (CUPS_SERVER=cupsd.server()) ...
// The scheduler runs as root with User/Group lp, so tests using it need REQUIRE_ROOT().
// The base directory is removed at destruction, or kept (and its path printed) when the
// current test or test suite failed, when start() failed, or after keep().
class Cupsd {
 public:
  Cupsd();
  ~Cupsd();
  Cupsd(const Cupsd&) = delete;
  Cupsd& operator=(const Cupsd&) = delete;

  // Before start(): puts a file into ServerRoot, e.g. a .types and .convs pair for a MIME type
  // of the tests' own (the scheduler prints application/octet-stream raw, without filters).
  // The shared set-up already writes zorv.types (application/vnd.zorv-job) and snmp.conf.
  bool add_server_root_file(const std::string& name, const std::string& content);
  // Copies program into ServerBin's filter directory, owned by root with mode 0755: the
  // scheduler refuses filters that others could replace. Before or after start().
  bool install_filter(const std::string& name, const std::string& program);

  // Before start(): the machine's own filters beside the built ones (zorv_cupsd_system_filters),
  // for queues that convert documents, such as a driverless queue.
  bool add_system_filters();

  // Starts cupsd -f and polls `lpstat -r` until it answers (bounded). False with failure() set
  // when it does not come up.
  bool start();
  // SIGTERM, a bounded wait, then SIGKILL. Safe to call twice.
  void stop() { process_.stop(); }
  bool running() { return process_.running(); }

  // "127.0.0.1:PORT", for CUPS_SERVER.
  const std::string& server() const { return server_; }
  int port() const { return port_; }
  // The scheduler's directory: root (ServerRoot), bin/filter, tmp (TempDir), log, ...
  std::string dir() const { return base_.path() + "/cups"; }
  std::string server_root() const { return dir() + "/root"; }
  std::string filter_dir() const { return dir() + "/bin/filter"; }
  std::string error_log() const { return dir() + "/log/error_log"; }
  // The scheduler's copy of a queue's PPD: what clients fetch. A test may overwrite it after
  // add_queue to serve text that lpadmin itself would refuse (a broken or binary PPD).
  std::string queue_ppd(const std::string& queue) const {
    return server_root() + "/ppd/" + queue + ".ppd";
  }
  // Why start() or add_queue() failed, with the tail of the error log.
  const std::string& failure() const { return failure_; }

  // PATH, HOME (the base directory, so no user client.conf applies), LANG and CUPS_SERVER.
  std::vector<std::string> client_environment(const std::vector<std::string>& extra = {}) const;
  // Runs a CUPS client program (args[0] looked up in the system directories) against this
  // scheduler.
  ProgramResult run_client(const std::vector<std::string>& args) const;
  // lpadmin -p name -E -v device_uri -P ppd_path; false with failure() set.
  bool add_queue(const std::string& name, const std::string& ppd_path,
                 const std::string& device_uri);
  // lpadmin -p name -E -v printer_uri -m everywhere, then waits until the queue's PPD is in
  // place: the scheduler makes it from the printer's attributes in a thread of its own after
  // lpadmin has returned, and until then a client of the queue finds no PPD ("Not Found").
  // False with failure() set.
  bool add_everywhere_queue(const std::string& name, const std::string& printer_uri);
  // Polls `lpstat -o` until no job is left, at most timeout_ms; true when idle.
  bool wait_idle(int timeout_ms = 30000) const;

  void keep() { keep_ = true; }

 private:
  // Writes the set-up for a port that was free a moment ago.
  bool configure();
  bool wait_ready(int timeout_ms);
  void note_failure(const std::string& what);

  TempDir base_;
  BackgroundProcess process_;
  std::string server_;
  std::string failure_;
  int port_ = 0;
  bool keep_ = false;
};

// A TCP port on 127.0.0.1 that was free a moment ago (bound to port 0 and released), or 0.
int free_loopback_port();
// The first of /usr/sbin, /usr/bin, /sbin, /bin that holds name, or name itself.
std::string system_program(const std::string& name);

#endif  // ZORV_TESTS_SUPPORT_CUPSD_H
