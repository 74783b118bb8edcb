// A converter run as a confined child process.
#include "app/converter.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <initializer_list>

#include "log/text.h"

namespace {

constexpr int kMaxFiles = 64;
// The only environment the child gets: no variable of the server's reaches it.
const char* const kEnvironment[] = {"PATH=/usr/bin:/bin", "LANG=C", nullptr};

int64_t now_ms() {
  timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return int64_t{now.tv_sec} * 1000 + now.tv_nsec / 1000000;
}

void set_limit(int resource, rlim_t value) {
  struct rlimit limit = {value, value};
  setrlimit(resource, &limit);
}

// In the child, between fork and exec: only calls that are safe there.
[[noreturn]] void run_child(const char* const* argv, int input_fd, int out_fd, int err_fd,
                            const ConverterLimits& limits) {
  setsid();
  prctl(PR_SET_PDEATHSIG, SIGKILL);
  prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0);
  prctl(PR_SET_DUMPABLE, 0, 0, 0, 0);
  set_limit(RLIMIT_AS, limits.memory);
  set_limit(RLIMIT_CPU, static_cast<rlim_t>(limits.seconds) + 1);
  set_limit(RLIMIT_FSIZE, 0);
  set_limit(RLIMIT_CORE, 0);
  set_limit(RLIMIT_NOFILE, kMaxFiles);
  signal(SIGPIPE, SIG_DFL);
  const int in = input_fd >= 0 ? input_fd : open("/dev/null", O_RDONLY);
  if (in < 0 || dup2(in, 0) < 0 || dup2(out_fd, 1) < 0 || dup2(err_fd, 2) < 0) _exit(127);
  closefrom(3);
  execve(argv[0], const_cast<char* const*>(argv), const_cast<char* const*>(kEnvironment));
  _exit(127);
}

// Keeps the first line of the child's standard error, each byte shown safely; the rest is
// read and dropped, so that a child that writes much is never blocked by it.
void drain_errors(Converter* converter) {
  char buffer[4096];
  for (;;) {
    const ssize_t n = read(converter->err_fd, buffer, sizeof(buffer));
    if (n <= 0) return;
    for (ssize_t i = 0; i < n && !converter->message_done; i++) {
      const unsigned char c = static_cast<unsigned char>(buffer[i]);
      if (c == '\n' || converter->message_length + 5 >= sizeof(converter->message)) {
        converter->message_done = converter->message_length > 0 || c != '\n';
        continue;
      }
      char* at = converter->message + converter->message_length;
      const size_t left = sizeof(converter->message) - converter->message_length;
      const int written = c >= 0x20 && c < 0x7f ? snprintf(at, left, "%c", c)
                                                 : snprintf(at, left, "\\x%02x", c);
      converter->message_length += static_cast<size_t>(written);
    }
  }
}

}  // namespace

bool startConverter(Converter* converter, const char* const* argv, int input_fd,
                    const ConverterLimits& limits, char* why, size_t why_size) {
  if (argv == nullptr || argv[0] == nullptr) {
    copy_text(why, why_size, "no program");
    return false;
  }
  int out[2];
  int err[2];
  if (pipe2(out, O_CLOEXEC) != 0) {
    format_text(why, why_size, "no pipe: %s", strerror(errno));
    return false;
  }
  if (pipe2(err, O_CLOEXEC) != 0) {
    format_text(why, why_size, "no pipe: %s", strerror(errno));
    close(out[0]);
    close(out[1]);
    return false;
  }
  const pid_t pid = fork();
  if (pid == 0) run_child(argv, input_fd, out[1], err[1], limits);
  close(out[1]);
  close(err[1]);
  if (pid < 0) {
    format_text(why, why_size, "no process: %s", strerror(errno));
    close(out[0]);
    close(err[0]);
    return false;
  }
  fcntl(err[0], F_SETFL, O_NONBLOCK);
  converter->pid = pid;
  converter->out_fd = out[0];
  converter->err_fd = err[0];
  converter->deadline_ms = now_ms() + int64_t{limits.seconds} * 1000;
  converter->output = 0;
  converter->max_output = limits.output;
  return true;
}

ConverterRead readConverter(Converter* converter, char* buffer, size_t size, int wait_ms,
                            size_t* count) {
  *count = 0;
  const int64_t left = converter->deadline_ms - now_ms();
  if (left <= 0) return ConverterRead::kTimedOut;
  pollfd fds[2] = {{converter->out_fd, POLLIN, 0}, {converter->err_fd, POLLIN, 0}};
  const int timeout = left < wait_ms ? static_cast<int>(left) : wait_ms;
  const int ready = poll(fds, 2, timeout);
  if (ready < 0) return errno == EINTR ? ConverterRead::kData : ConverterRead::kFailed;
  if (fds[1].revents != 0) drain_errors(converter);
  if (fds[0].revents == 0) return ConverterRead::kData;
  const ssize_t n = read(converter->out_fd, buffer, size);
  if (n < 0) return errno == EINTR ? ConverterRead::kData : ConverterRead::kFailed;
  if (n == 0) {
    drain_errors(converter);
    return ConverterRead::kEnd;
  }
  converter->output += static_cast<uint64_t>(n);
  if (converter->output > converter->max_output) return ConverterRead::kTooLarge;
  *count = static_cast<size_t>(n);
  return ConverterRead::kData;
}

int endConverter(Converter* converter, bool stop) {
  if (converter->pid <= 0) return -1;
  // The whole session, so that nothing it started outlives it.
  if (stop) kill(-converter->pid, SIGKILL);
  int status = 0;
  while (waitpid(converter->pid, &status, 0) < 0 && errno == EINTR) {
  }
  drain_errors(converter);
  for (int* fd : {&converter->out_fd, &converter->err_fd}) {
    if (*fd >= 0) close(*fd);
    *fd = -1;
  }
  converter->pid = -1;
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  return WIFSIGNALED(status) ? -WTERMSIG(status) : -1;
}
