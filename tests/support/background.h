// A server started in the background for a test (the private scheduler, the private agent) and
// stopped by its pid: nothing else on the machine is ever signalled or waited for.
#ifndef ZORV_TESTS_SUPPORT_BACKGROUND_H
#define ZORV_TESTS_SUPPORT_BACKGROUND_H

#include <sys/types.h>

#include <string>
#include <vector>

class BackgroundProcess {
 public:
  static constexpr int kStopTimeoutMs = 10000;

  BackgroundProcess() = default;
  ~BackgroundProcess() { stop(); }
  BackgroundProcess(const BackgroundProcess&) = delete;
  BackgroundProcess& operator=(const BackgroundProcess&) = delete;

  // Starts path with args (argv[0] included) in the test's environment with the NAME=value
  // entries of env set over it; standard input is /dev/null, standard output and error are
  // appended to output_path. The process gets a group of its own and SIGTERM when the test
  // process ends, so that a crashed test leaves no server holding a port. False, with error()
  // set, when it could not be started.
  bool start(const std::string& path, const std::vector<std::string>& args,
             const std::vector<std::string>& env, const std::string& output_path);
  // True while the process runs; an ended process is reaped here.
  bool running();
  // SIGTERM, up to timeout_ms for the process to end, then SIGKILL. Nothing when none runs.
  void stop(int timeout_ms = kStopTimeoutMs);
  const std::string& error() const { return error_; }

 private:
  pid_t pid_ = -1;
  std::string error_;
};

// Sleeps ms milliseconds, between the polls of a bounded wait.
void sleep_ms(int ms);

#endif  // ZORV_TESTS_SUPPORT_BACKGROUND_H
