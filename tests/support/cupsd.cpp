// Private CUPS scheduler for the integration tests.
#include "support/cupsd.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>

#include <gtest/gtest.h>

namespace {

constexpr int kStartAttempts = 3;
constexpr int kReadyTimeoutMs = 15000;
constexpr int kPollMs = 50;
constexpr int kEverywhereTimeoutMs = 30000;

std::string tail_of(const std::string& text, size_t max) {
  return text.size() <= max ? text : "..." + text.substr(text.size() - max);
}

// The build directory, where both filters are.
std::string build_dir() {
  const std::string program = ZORVAUTOCONF_PATH;
  return program.substr(0, program.rfind('/'));
}

}  // namespace

int free_loopback_port() {
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return 0;
  struct sockaddr_in addr = {};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  addr.sin_port = 0;
  socklen_t length = sizeof(addr);
  int port = 0;
  if (bind(fd, reinterpret_cast<struct sockaddr*>(&addr), sizeof(addr)) == 0 &&
      getsockname(fd, reinterpret_cast<struct sockaddr*>(&addr), &length) == 0) {
    port = ntohs(addr.sin_port);
  }
  close(fd);
  return port;
}

std::string system_program(const std::string& name) {
  for (const char* dir : {"/usr/sbin", "/usr/bin", "/sbin", "/bin"}) {
    std::string path = std::string(dir) + "/" + name;
    if (access(path.c_str(), X_OK) == 0) return path;
  }
  return name;
}

Cupsd::Cupsd() {
  if (base_.path().empty()) {
    failure_ = "cannot create the scheduler's base directory";
  } else if (geteuid() != 0) {
    failure_ = "the private scheduler needs root";
  } else {
    configure();
  }
}

Cupsd::~Cupsd() {
  stop();
  bool failed = ::testing::Test::HasFailure();
  const ::testing::TestSuite* suite = ::testing::UnitTest::GetInstance()->current_test_suite();
  if (suite != nullptr && suite->Failed()) failed = true;
  if (keep_ || failed || (!failure_.empty() && geteuid() == 0)) {
    fprintf(stderr, "private cupsd: keeping %s (error log %s)\n", base_.path().c_str(),
            error_log().c_str());
    base_.keep();
  }
}

void Cupsd::note_failure(const std::string& what) {
  failure_ = what + "\nbase directory: " + base_.path() + "\nerror log:\n" +
             tail_of(read_file(error_log()), 3000) + "\ncupsd output:\n" +
             tail_of(read_file(dir() + "/log/cupsd.out"), 1000);
}

bool Cupsd::configure() {
  port_ = free_loopback_port();
  server_ = "127.0.0.1:" + std::to_string(port_);
  if (port_ == 0) {
    note_failure("no free loopback port");
    return false;
  }
  const ProgramResult r = run_print_path_function(
      "zorv_cupsd_configure", {base_.path(), build_dir(), server_, dir() + "/sock"});
  if (r.exited && r.status == 0) return true;
  note_failure("zorv_cupsd_configure failed (" + r.describe() + "): " + r.err);
  return false;
}

bool Cupsd::add_server_root_file(const std::string& name, const std::string& content) {
  return write_file(server_root() + "/" + name, content, 0644);
}

bool Cupsd::install_filter(const std::string& name, const std::string& program) {
  std::string bytes = read_file(program);
  if (bytes.empty()) return false;
  std::string target = filter_dir() + "/" + name;
  unlink(target.c_str());
  if (!write_file(target, bytes, 0755)) return false;
  return chown(target.c_str(), 0, 0) == 0;
}

bool Cupsd::add_system_filters() {
  ProgramResult r = run_print_path_function("zorv_cupsd_system_filters", {base_.path()});
  if (r.exited && r.status == 0) return true;
  note_failure("zorv_cupsd_system_filters failed (" + r.describe() + "): " + r.err);
  return false;
}

bool Cupsd::start() {
  if (running()) return true;
  if (!failure_.empty()) return false;
  for (int attempt = 0; attempt < kStartAttempts; attempt++) {
    // Another test may have taken the port since it was chosen: the next attempt takes another.
    if (attempt > 0 && !configure()) return false;
    const std::string root = server_root();
    if (!process_.start(
            system_program("cupsd"),
            {"cupsd", "-f", "-c", root + "/cupsd.conf", "-s", root + "/cups-files.conf"}, {},
            dir() + "/log/cupsd.out")) {
      note_failure(process_.error());
      return false;
    }
    if (wait_ready(kReadyTimeoutMs)) return true;
    stop();
  }
  note_failure("cupsd did not come up on " + server_);
  return false;
}

bool Cupsd::wait_ready(int timeout_ms) {
  for (int waited = 0; waited < timeout_ms; waited += kPollMs) {
    if (!running()) return false;
    ProgramResult r = run_client({"lpstat", "-r"});
    if (r.exited && r.status == 0 && r.out.find("scheduler is running") != std::string::npos) {
      return true;
    }
    sleep_ms(kPollMs);
  }
  return false;
}

std::vector<std::string> Cupsd::client_environment(const std::vector<std::string>& extra) const {
  std::vector<std::string> env = {"PATH=/usr/sbin:/usr/bin:/sbin:/bin", "HOME=" + base_.path(),
                                  "LANG=C", "CUPS_SERVER=" + server_};
  env.insert(env.end(), extra.begin(), extra.end());
  return env;
}

ProgramResult Cupsd::run_client(const std::vector<std::string>& args) const {
  ProgramRun run;
  run.path = system_program(args.empty() ? std::string() : args[0]);
  run.args = args;
  run.env = client_environment();
  run.timeout_seconds = 30;
  return run_program(run);
}

bool Cupsd::add_everywhere_queue(const std::string& name, const std::string& printer_uri) {
  ProgramResult r =
      run_client({"lpadmin", "-p", name, "-E", "-v", printer_uri, "-m", "everywhere"});
  if (!r.exited || r.status != 0) {
    note_failure("lpadmin -p " + name + " -m everywhere failed (" + r.describe() + "): " + r.err);
    return false;
  }
  // The scheduler writes the PPD beside its place and renames it there whole.
  for (int waited = 0; waited < kEverywhereTimeoutMs; waited += kPollMs) {
    if (access(queue_ppd(name).c_str(), F_OK) == 0) return true;
    sleep_ms(kPollMs);
  }
  note_failure("the scheduler made no PPD for " + name + " from " + printer_uri);
  return false;
}

bool Cupsd::add_queue(const std::string& name, const std::string& ppd_path,
                      const std::string& device_uri) {
  ProgramResult r = run_client({"lpadmin", "-p", name, "-E", "-v", device_uri, "-P", ppd_path});
  if (r.exited && r.status == 0) return true;
  note_failure("lpadmin -p " + name + " failed (" + r.describe() + "): " + r.err);
  return false;
}

bool Cupsd::wait_idle(int timeout_ms) const {
  for (int waited = 0; waited < timeout_ms; waited += kPollMs) {
    ProgramResult r = run_client({"lpstat", "-o"});
    if (r.exited && r.status == 0 && r.out.empty()) return true;
    sleep_ms(kPollMs);
  }
  return false;
}
