// Runs a built filter the way the scheduler does: fork and exec with argv[0] as the queue
// name, a controlled environment, standard input from bytes or a file, standard output and
// standard error captured apart; and the shell functions of the private print path.
#ifndef ZORV_TESTS_SUPPORT_PROGRAM_H
#define ZORV_TESTS_SUPPORT_PROGRAM_H

#include <functional>
#include <string>
#include <vector>

enum class Output {
  kCapture,     // a pipe read by the runner
  kClosedPipe,  // a pipe whose read end is closed before the program starts
  kDevFull,     // /dev/full: every write fails with ENOSPC
};

struct ProgramRun {
  std::string path;               // executable
  std::vector<std::string> args;  // argv, argv[0] included
  std::vector<std::string> env;   // the whole environment; nothing is inherited
  std::string input;              // standard input bytes, unless input_path is set
  std::string input_path;         // file opened as standard input
  Output output = Output::kCapture;
  int timeout_seconds = 60;  // killed with SIGKILL after this
  int term_after_ms = -1;    // when >= 0, SIGTERM is sent after this many milliseconds
  // When set, SIGTERM is sent as soon as it returns true (asked about every 50 ms): the moment
  // of a cancel tied to what the program is doing, however slowly it runs (under valgrind).
  std::function<bool()> term_when;
  // When >= 0, the program runs as this user (and its primary group), as the scheduler runs
  // filters as lp; the runner must be root for it.
  int uid = -1;
};

struct ProgramResult {
  bool started = false;  // false: err says why nothing ran
  bool exited = false;   // exited normally: status is valid
  int status = -1;
  int signal = 0;  // the signal that ended it, when !exited
  bool timed_out = false;
  std::string out;
  std::string err;
  // "exited N", "killed by signal N", "timed out" or "not started", for assertion messages.
  std::string describe() const;
};

ProgramResult run_program(const ProgramRun& run);

// env with each NAME=value of settings in place of the entry of its NAME, or added.
std::vector<std::string> with_settings(std::vector<std::string> env,
                                       const std::vector<std::string>& settings);
// A minimal scheduler-like environment: PATH, TMPDIR, LANG, and the given entries, each in
// place of a default of the same name.
std::vector<std::string> filter_environment(const std::vector<std::string>& extra = {});

// The six CUPS filter arguments after the queue name: job-id user title copies options.
std::vector<std::string> filter_args(const std::string& queue, const std::string& options = "",
                                     const std::string& file = "");

// A filter's run as the scheduler starts it: args from filter_args (argv[0] the queue), the job
// on standard input, filter_environment() with env.
ProgramRun filter_run(const std::string& program, const std::vector<std::string>& args,
                      const std::string& input = "", const std::vector<std::string>& env = {});

inline constexpr int kAnyStatus = -1;
// Runs a filter and expects it to end by itself, neither timed out nor killed by a signal,
// with status (any status for kAnyStatus). Standard error is shown when it does not.
ProgramResult run_filter(const ProgramRun& run, int status = 0);

// Runs a function of scripts/private-cups.sh, the definition of the private print path that
// the scripts, the benchmarks and the fixtures share, with args.
ProgramResult run_print_path_function(const std::string& function,
                                      const std::vector<std::string>& args);

#endif  // ZORV_TESTS_SUPPORT_PROGRAM_H
