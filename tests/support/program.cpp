// Program runner for the filter tests.
#include "support/program.h"

#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <pwd.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include <gtest/gtest.h>

namespace {

long long monotonic_ms() {
  struct timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<long long>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

void set_nonblocking(int fd) {
  fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
}

// What is executed: the program itself, or, for the two filters of this project, the wrapper
// named by ZORV_TEST_WRAPPER (for example "valgrind -q --error-exitcode=97") with the filter
// behind it; system programs (lpadmin, unshare) always run as they are. A wrapper runs the
// program under the name it is given, so the filter keeps its argv[0] (the queue name) through
// a link of that name in a private directory put first in PATH.
struct Launch {
  std::string path;
  std::vector<std::string> args;
  std::vector<std::string> env;
  std::string link_dir;  // removed after the run
  bool wrapped = false;
  int uid = -1;
};

Launch make_launch(const ProgramRun& run) {
  Launch launch{run.path, run.args, run.env, "", false, run.uid};
  const char* wrapper = getenv("ZORV_TEST_WRAPPER");
  if (wrapper == nullptr || wrapper[0] == '\0' || run.args.empty()) return launch;
  if (run.path != ZORVPRELOAD_PATH && run.path != ZORVAUTOCONF_PATH) return launch;
  std::vector<std::string> words;
  for (const char* p = wrapper; *p != '\0';) {
    size_t n = strcspn(p, " ");
    if (n > 0) words.emplace_back(p, n);
    p += n + strspn(p + n, " ");
  }
  std::string program = run.path;
  char dir[] = "/tmp/zorv-wrap-XXXXXX";
  if (run.args[0].find('/') == std::string::npos && !run.args[0].empty() &&
      mkdtemp(dir) != nullptr) {
    launch.link_dir = dir;
    // A run as another user (run.uid) must find the link too.
    chmod(dir, 0755);
    if (symlink(run.path.c_str(), (launch.link_dir + "/" + run.args[0]).c_str()) == 0) {
      program = run.args[0];
      bool has_path = false;
      for (auto& e : launch.env) {
        if (e.compare(0, 5, "PATH=") == 0) {
          e.insert(5, launch.link_dir + ":");
          has_path = true;
        }
      }
      if (!has_path) launch.env.push_back("PATH=" + launch.link_dir);
    }
  }
  launch.wrapped = true;
  launch.path = words[0];
  launch.args = words;
  launch.args.push_back(program);
  launch.args.insert(launch.args.end(), run.args.begin() + 1, run.args.end());
  return launch;
}

void remove_launch_links(const Launch& launch, const ProgramRun& run) {
  if (launch.link_dir.empty()) return;
  unlink((launch.link_dir + "/" + run.args[0]).c_str());
  rmdir(launch.link_dir.c_str());
}

[[noreturn]] void exec_child(const Launch& run, int in_fd, int out_fd, int err_fd) {
  dup2(in_fd, 0);
  dup2(out_fd, 1);
  dup2(err_fd, 2);
  for (int fd = 3; fd < 1024; fd++) close(fd);
  signal(SIGPIPE, SIG_DFL);
  if (run.uid >= 0) {
    const struct passwd* user = getpwuid(static_cast<uid_t>(run.uid));
    const gid_t group = user != nullptr ? user->pw_gid : static_cast<gid_t>(run.uid);
    if (setgroups(0, nullptr) != 0 || setgid(group) != 0 ||
        setuid(static_cast<uid_t>(run.uid)) != 0) {
      _exit(126);
    }
  }
  std::vector<char*> argv;
  for (const auto& a : run.args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  std::vector<char*> envp;
  for (const auto& e : run.env) envp.push_back(const_cast<char*>(e.c_str()));
  envp.push_back(nullptr);
  // A wrapper is looked up in the runner's PATH; the program's path is used as it stands.
  if (run.wrapped) {
    execvpe(run.path.c_str(), argv.data(), envp.data());
  } else {
    execve(run.path.c_str(), argv.data(), envp.data());
  }
  _exit(127);
}

}  // namespace

std::string ProgramResult::describe() const {
  if (!started) return "not started: " + err;
  if (timed_out) return "timed out";
  if (exited) return "exited " + std::to_string(status);
  return "killed by signal " + std::to_string(signal);
}

ProgramResult run_program(const ProgramRun& run) {
  ProgramResult result;
  int in_pipe[2] = {-1, -1};
  int in_fd = -1;
  if (!run.input_path.empty()) {
    in_fd = open(run.input_path.c_str(), O_RDONLY | O_CLOEXEC);
  } else if (pipe2(in_pipe, O_CLOEXEC) == 0) {
    in_fd = in_pipe[0];
  }
  int out_pipe[2] = {-1, -1};
  int out_fd = -1;
  if (run.output == Output::kDevFull) {
    out_fd = open("/dev/full", O_WRONLY | O_CLOEXEC);
  } else if (pipe2(out_pipe, O_CLOEXEC) == 0) {
    out_fd = out_pipe[1];
    if (run.output == Output::kClosedPipe) {
      close(out_pipe[0]);
      out_pipe[0] = -1;
    }
  }
  int err_pipe[2] = {-1, -1};
  const bool streams = pipe2(err_pipe, O_CLOEXEC) == 0 && in_fd >= 0 && out_fd >= 0;
  // The runner itself must survive a write to the program's closed standard input.
  signal(SIGPIPE, SIG_IGN);
  const Launch launch = make_launch(run);
  const pid_t pid = streams ? fork() : -1;
  if (pid == 0) exec_child(launch, in_fd, out_fd, err_pipe[1]);
  const int fork_errno = errno;
  for (int fd : {in_fd, out_fd, err_pipe[1]}) {
    if (fd >= 0) close(fd);
  }
  if (pid < 0) {
    // Nothing runs: no pid to signal or wait for.
    for (int fd : {in_pipe[1], out_pipe[0], err_pipe[0]}) {
      if (fd >= 0) close(fd);
    }
    remove_launch_links(launch, run);
    result.err = streams ? std::string("runner: cannot fork: ") + strerror(fork_errno)
                         : "runner: cannot set up standard streams";
    return result;
  }
  result.started = true;

  int stdin_w = in_pipe[1];
  size_t written = 0;
  if (stdin_w >= 0) {
    set_nonblocking(stdin_w);
    if (run.input.empty()) {
      close(stdin_w);
      stdin_w = -1;
    }
  }
  if (out_pipe[0] >= 0) set_nonblocking(out_pipe[0]);
  set_nonblocking(err_pipe[0]);

  long long start = monotonic_ms();
  bool term_sent = false;
  int open_reads = (out_pipe[0] >= 0 ? 1 : 0) + 1;
  char buffer[65536];
  while (open_reads > 0 || stdin_w >= 0) {
    long long elapsed = monotonic_ms() - start;
    if (elapsed > run.timeout_seconds * 1000LL) {
      kill(pid, SIGKILL);
      result.timed_out = true;
      break;
    }
    if (!term_sent && ((run.term_after_ms >= 0 && elapsed >= run.term_after_ms) ||
                       (run.term_when && run.term_when()))) {
      kill(pid, SIGTERM);
      term_sent = true;
    }
    struct pollfd fds[3];
    int n = 0;
    int out_index = -1, err_index = -1, in_index = -1;
    if (out_pipe[0] >= 0) fds[out_index = n++] = {out_pipe[0], POLLIN, 0};
    if (err_pipe[0] >= 0) fds[err_index = n++] = {err_pipe[0], POLLIN, 0};
    if (stdin_w >= 0) fds[in_index = n++] = {stdin_w, POLLOUT, 0};
    poll(fds, n, 50);
    auto drain = [&](int index, int& fd, std::string& into) {
      if (index < 0 || fds[index].revents == 0) return;
      ssize_t got = read(fd, buffer, sizeof(buffer));
      if (got > 0) {
        into.append(buffer, static_cast<size_t>(got));
      } else if (got == 0 || (errno != EAGAIN && errno != EINTR)) {
        close(fd);
        fd = -1;
        open_reads--;
      }
    };
    drain(out_index, out_pipe[0], result.out);
    drain(err_index, err_pipe[0], result.err);
    if (in_index >= 0 && fds[in_index].revents != 0) {
      ssize_t put = write(stdin_w, run.input.data() + written, run.input.size() - written);
      if (put > 0) written += static_cast<size_t>(put);
      if ((put < 0 && errno != EAGAIN) || written == run.input.size()) {
        close(stdin_w);
        stdin_w = -1;
      }
    }
  }
  if (stdin_w >= 0) close(stdin_w);
  if (out_pipe[0] >= 0) close(out_pipe[0]);
  if (err_pipe[0] >= 0) close(err_pipe[0]);

  int wstatus = 0;
  while (waitpid(pid, &wstatus, 0) < 0 && errno == EINTR) {
  }
  remove_launch_links(launch, run);
  if (WIFEXITED(wstatus)) {
    result.exited = true;
    result.status = WEXITSTATUS(wstatus);
  } else if (WIFSIGNALED(wstatus)) {
    result.signal = WTERMSIG(wstatus);
  }
  return result;
}

std::vector<std::string> with_settings(std::vector<std::string> env,
                                       const std::vector<std::string>& settings) {
  for (const std::string& setting : settings) {
    const std::string name = setting.substr(0, setting.find('=') + 1);
    bool replaced = false;
    for (std::string& entry : env) {
      if (entry.compare(0, name.size(), name) == 0) {
        entry = setting;
        replaced = true;
      }
    }
    if (!replaced) env.push_back(setting);
  }
  return env;
}

std::vector<std::string> filter_environment(const std::vector<std::string>& extra) {
  return with_settings({"PATH=/usr/sbin:/usr/bin:/sbin:/bin", "TMPDIR=/tmp", "LANG=C"}, extra);
}

std::vector<std::string> filter_args(const std::string& queue, const std::string& options,
                                     const std::string& file) {
  std::vector<std::string> args = {queue, "42", "tester", "title", "1", options};
  if (!file.empty()) args.push_back(file);
  return args;
}

ProgramRun filter_run(const std::string& program, const std::vector<std::string>& args,
                      const std::string& input, const std::vector<std::string>& env) {
  ProgramRun run;
  run.path = program;
  run.args = args;
  run.env = filter_environment(env);
  run.input = input;
  return run;
}

ProgramResult run_filter(const ProgramRun& run, int status) {
  ProgramResult result = run_program(run);
  EXPECT_TRUE(result.exited && (status == kAnyStatus || result.status == status))
      << result.describe() << ", wanted exited " << status << "; standard error:\n"
      << result.err;
  return result;
}

ProgramResult run_print_path_function(const std::string& function,
                                      const std::vector<std::string>& args) {
  ProgramRun run;
  run.path = "/bin/bash";
  run.args = {"bash", "-c", "source \"$0\" && " + function + " \"$@\"",
              SOURCE_DIR "/scripts/private-cups.sh"};
  run.args.insert(run.args.end(), args.begin(), args.end());
  run.env = filter_environment();
  return run_program(run);
}
