// Background servers of the tests, started and stopped by pid.
#include "support/background.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "support/program.h"

extern char** environ;

namespace {

constexpr int kPollMs = 50;
constexpr int kHighestInheritedFd = 1024;

// The environment of this process with the given settings over it.
std::vector<std::string> environment_with(const std::vector<std::string>& settings) {
  std::vector<std::string> env;
  for (char** entry = environ; *entry != nullptr; ++entry) env.emplace_back(*entry);
  return with_settings(env, settings);
}

std::vector<char*> pointers(std::vector<std::string>& strings) {
  std::vector<char*> list;
  for (std::string& s : strings) list.push_back(s.data());
  list.push_back(nullptr);
  return list;
}

}  // namespace

bool BackgroundProcess::start(const std::string& path, const std::vector<std::string>& args,
                              const std::vector<std::string>& env, const std::string& output_path) {
  stop();
  error_.clear();
  // Everything the child needs is made before the fork: it only makes system calls.
  std::vector<std::string> arg_strings = args;
  std::vector<std::string> env_strings = environment_with(env);
  std::vector<char*> argv = pointers(arg_strings);
  std::vector<char*> envp = pointers(env_strings);
  const pid_t parent = getpid();

  const pid_t pid = fork();
  if (pid < 0) {
    error_ = std::string("cannot fork: ") + strerror(errno);
    return false;
  }
  if (pid == 0) {
    // Its own group keeps a terminal's signals for the test away from it; the parent-death
    // signal ends it with the test, also when the test dies before it could stop it.
    setpgid(0, 0);
    prctl(PR_SET_PDEATHSIG, SIGTERM);
    if (getppid() != parent) _exit(127);
    const int out = open(output_path.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    const int null = open("/dev/null", O_RDONLY);
    if (out < 0 || null < 0) _exit(127);
    dup2(null, 0);
    dup2(out, 1);
    dup2(out, 2);
    for (int fd = 3; fd < kHighestInheritedFd; fd++) close(fd);
    execve(path.c_str(), argv.data(), envp.data());
    _exit(127);
  }
  pid_ = pid;
  return true;
}

void sleep_ms(int ms) {
  struct timespec pause = {ms / 1000, (ms % 1000) * 1000000L};
  nanosleep(&pause, nullptr);
}

bool BackgroundProcess::running() {
  if (pid_ <= 0) return false;
  const pid_t done = waitpid(pid_, nullptr, WNOHANG);
  if (done == pid_ || (done < 0 && errno == ECHILD)) {
    pid_ = -1;
    return false;
  }
  return true;
}

void BackgroundProcess::stop(int timeout_ms) {
  if (!running()) return;
  kill(pid_, SIGTERM);
  for (int waited = 0; waited < timeout_ms; waited += kPollMs) {
    if (!running()) return;
    sleep_ms(kPollMs);
  }
  if (!running()) return;
  kill(pid_, SIGKILL);
  while (waitpid(pid_, nullptr, 0) < 0 && errno == EINTR) {
  }
  pid_ = -1;
}
