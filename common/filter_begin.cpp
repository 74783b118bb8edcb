// Opening shared by both filters: log, begin line, streams, signals, command line, environment.
#include "common/filter_begin.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "common/copy.h"
#include "common/credentials.h"
#include "common/handles.h"
#include "common/signals.h"
#include "log/escape.h"
#include "log/log.h"

extern char** environ;

namespace {

constexpr int kMinArgs = 6;
constexpr int kMaxArgs = 7;

}  // namespace

// Logs the environment at level 7 without credentials, and with control characters escaped so
// that no value can write a line of its own into the log.
static void log_environment() {
  for (int i = 0; environ != nullptr && environ[i] != nullptr; i++) {
    size_t size = masked_entry_size(environ[i]);
    UniqueMalloc<char> masked(static_cast<char*>(malloc(size)));
    if (masked == nullptr) continue;
    mask_environment_entry(environ[i], masked.get(), size);
    log_printf(7, "INFO: env[%d]: %s\n", i, ShownText(masked.get()).c_str());
  }
}

int filter_begin(const char* program, int argc, char* argv[]) {
  atexit(log_close);
  log_init(program);
  log_printf(2, "INFO: Program begin   %s\n", log_timestamp());
  setbuf(stderr, nullptr);
  setbuf(stdout, nullptr);
  install_filter_signals();
  log_args(4, argc, argv);
  log_environment();
  if (argc < kMinArgs || argc > kMaxArgs) {
    fprintf(stderr, "INFO: Usage: %s job-id user title copies options [file]\n", program);
    fprintf(stderr, "ERROR: Wrong number of arguments\n");
    return 1;
  }
  return 0;
}
