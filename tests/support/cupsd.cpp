// Private CUPS scheduler for the integration tests.
#include "support/cupsd.h"

#include <arpa/inet.h>
#include <dirent.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include <gtest/gtest.h>

namespace {

constexpr char kSystemServerBin[] = "/usr/lib/cups";
constexpr char kSystemDataDir[] = "/usr/share/cups";
constexpr int kStartAttempts = 3;
constexpr int kReadyTimeoutMs = 15000;
constexpr int kStopTimeoutMs = 10000;
constexpr int kPollMs = 50;

void sleep_ms(int ms) {
  struct timespec ts = {ms / 1000, (ms % 1000) * 1000000L};
  nanosleep(&ts, nullptr);
}

// One symbolic link in dir for every entry of system_dir except those named in skip.
bool link_entries(const std::string& system_dir, const std::string& dir, const char* skip) {
  DIR* d = opendir(system_dir.c_str());
  if (d == nullptr) return false;
  bool ok = true;
  while (struct dirent* entry = readdir(d)) {
    std::string name = entry->d_name;
    if (name == "." || name == ".." || (skip != nullptr && name == skip)) continue;
    std::string link = dir + "/" + name;
    if (symlink((system_dir + "/" + name).c_str(), link.c_str()) != 0 && errno != EEXIST) {
      ok = false;
    }
  }
  closedir(d);
  return ok;
}

std::string tail_of(const std::string& text, size_t max) {
  return text.size() <= max ? text : "..." + text.substr(text.size() - max);
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
  const std::string& base = dir_.path();
  if (base.empty()) {
    failure_ = "cannot create the scheduler's base directory";
    return;
  }
  // The scheduler's User (lp) runs the filters and must reach ServerBin and the PPDs.
  chmod(base.c_str(), 0755);
  for (const char* sub :
       {"root", "bin", "bin/filter", "cache", "state", "spool", "tmp", "share", "log"}) {
    mkdir((base + "/" + sub).c_str(), 0755);
  }
  // The filters (User lp) fetch the queue's PPD into TempDir; the scheduler leaves the mode of
  // an existing TempDir outside its spool directory alone.
  chmod((base + "/tmp").c_str(), 01777);
  // ServerBin and DataDir are mirrors of the system's, with a filter directory of our own so
  // tests can add filters without touching the system.
  bool linked = link_entries(kSystemServerBin, base + "/bin", "filter") &&
                link_entries(std::string(kSystemServerBin) + "/filter", filter_dir(), nullptr) &&
                link_entries(kSystemDataDir, base + "/share", nullptr);
  if (!linked) failure_ = "cannot mirror the system's CUPS directories";
}

Cupsd::~Cupsd() {
  stop();
  bool failed = ::testing::Test::HasFailure();
  const ::testing::TestSuite* suite = ::testing::UnitTest::GetInstance()->current_test_suite();
  if (suite != nullptr && suite->Failed()) failed = true;
  if (keep_ || failed || !failure_.empty()) {
    fprintf(stderr, "private cupsd: keeping %s (error log %s)\n", dir_.path().c_str(),
            error_log().c_str());
    dir_.keep();
  }
}

void Cupsd::note_failure(const std::string& what) {
  failure_ = what + "\nbase directory: " + dir_.path() + "\nerror log:\n" +
             tail_of(read_file(error_log()), 3000) + "\ncupsd output:\n" +
             tail_of(read_file(dir_.path() + "/log/cupsd.out"), 1000);
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

bool Cupsd::write_configuration() {
  const std::string& base = dir_.path();
  std::string files = "ServerRoot " + base + "/root\n" + "ServerBin " + base + "/bin\n" +
                      "CacheDir " + base + "/cache\n" + "StateDir " + base + "/state\n" +
                      "RequestRoot " + base + "/spool\n" + "TempDir " + base + "/tmp\n" +
                      "DataDir " + base + "/share\n" + "DocumentRoot " + base +
                      "/share/doc-root\n" + "AccessLog " + base + "/log/access_log\n" +
                      "ErrorLog " + base + "/log/error_log\n" + "PageLog " + base +
                      "/log/page_log\n" + "Printcap " + base + "/printcap\n" +
                      "User lp\n"
                      "Group lp\n"
                      "SystemGroup lpadmin root\n"
                      "FileDevice Yes\n";
  // No authentication at all: the clients are the tests themselves, on loopback only.
  std::string conf = "Listen 127.0.0.1:" + std::to_string(port_) + "\n" + "Listen " + base +
                     "/cups.sock\n"
                     "LogLevel debug\n"
                     "MaxLogSize 0\n"
                     "Browsing No\n"
                     "WebInterface No\n"
                     "DefaultAuthType None\n"
                     "<Policy default>\n"
                     "  <Limit All>\n"
                     "    Order allow,deny\n"
                     "    Allow all\n"
                     "  </Limit>\n"
                     "</Policy>\n";
  return write_file(base + "/root/cups-files.conf", files, 0644) &&
         write_file(base + "/root/cupsd.conf", conf, 0644);
}

bool Cupsd::start() {
  if (running()) return true;
  if (!failure_.empty()) return false;
  if (geteuid() != 0) {
    failure_ = "the private scheduler needs root";
    return false;
  }
  for (int attempt = 0; attempt < kStartAttempts; attempt++) {
    port_ = free_loopback_port();
    server_ = "127.0.0.1:" + std::to_string(port_);
    if (port_ == 0 || !write_configuration()) {
      note_failure("cannot choose a port or write the configuration");
      return false;
    }
    std::string conf = dir_.path() + "/root/cupsd.conf";
    std::string files = dir_.path() + "/root/cups-files.conf";
    std::string out = dir_.path() + "/log/cupsd.out";
    std::string program = system_program("cupsd");
    pid_t pid = fork();
    if (pid < 0) break;
    if (pid == 0) {
      // Dies with the test process, so a crashed test leaves no scheduler behind.
      prctl(PR_SET_PDEATHSIG, SIGTERM);
      setpgid(0, 0);
      int fd = open(out.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
      int null = open("/dev/null", O_RDONLY);
      if (fd >= 0) {
        dup2(fd, 1);
        dup2(fd, 2);
      }
      if (null >= 0) dup2(null, 0);
      for (int i = 3; i < 1024; i++) close(i);
      execl(program.c_str(), "cupsd", "-f", "-c", conf.c_str(), "-s", files.c_str(),
            static_cast<char*>(nullptr));
      _exit(127);
    }
    pid_ = pid;
    if (wait_ready(kReadyTimeoutMs)) {
      failure_.clear();
      return true;
    }
    stop();
  }
  note_failure("cupsd did not come up on " + server_);
  return false;
}

bool Cupsd::wait_ready(int timeout_ms) {
  for (int waited = 0; waited < timeout_ms; waited += kPollMs) {
    int status = 0;
    if (waitpid(pid_, &status, WNOHANG) == pid_) {
      pid_ = -1;
      return false;
    }
    ProgramResult r = run_client({"lpstat", "-r"});
    if (r.exited && r.status == 0 && r.out.find("scheduler is running") != std::string::npos) {
      return true;
    }
    sleep_ms(kPollMs);
  }
  return false;
}

void Cupsd::stop() {
  if (pid_ <= 0) return;
  kill(pid_, SIGTERM);
  int status = 0;
  for (int waited = 0; waited < kStopTimeoutMs; waited += kPollMs) {
    pid_t done = waitpid(pid_, &status, WNOHANG);
    if (done == pid_ || (done < 0 && errno == ECHILD)) {
      pid_ = -1;
      return;
    }
    sleep_ms(kPollMs);
  }
  kill(pid_, SIGKILL);
  while (waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
  }
  pid_ = -1;
}

std::vector<std::string> Cupsd::client_environment(const std::vector<std::string>& extra) const {
  std::vector<std::string> env = {"PATH=/usr/sbin:/usr/bin:/sbin:/bin", "HOME=" + dir_.path(),
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
