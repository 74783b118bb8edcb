// Fuzzes the log configuration reader: the input becomes /tmp/<base>.lcf for a base name of
// this process alone, log_init reads it and opens the log it describes, a few messages go
// through the level filter, and everything the run created under /tmp is removed again.
#include <glob.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "fuzz_support.h"
#include "log/log.h"

namespace {

const std::string& base_name() {
  static const std::string base = "zorvfuzz-log-" + std::to_string(getpid());
  return base;
}

// Every log name the configuration can ask for starts with /tmp/<base>: plain, with the
// process id, with a timestamp, or both.
void remove_logs() {
  glob_t found = {};
  std::string pattern = "/tmp/" + base_name() + "*.log";
  if (glob(pattern.c_str(), GLOB_NOSORT, nullptr, &found) == 0) {
    for (size_t i = 0; i < found.gl_pathc; i++) unlink(found.gl_pathv[i]);
  }
  globfree(&found);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string config = "/tmp/" + base_name() + ".lcf";
  if (!fuzz_write_file(config, data, size)) return 0;
  log_level = 0;
  log_flush_mode = 0;

  // A path with directories in front: only the part after the last slash names the files.
  log_init(("/usr/lib/cups/filter/" + base_name()).c_str());
  log_printf(1, "ERROR: severity one %s\n", "text");
  log_printf(0x13, "INFO: categorised %d\n", 19);
  log_printf(7, "INFO: env[%d]: %s\n", 0, "PATH=/bin");
  log_line("line %zu", size);
  log_hexdump(data, static_cast<int>(size < 64 ? size : 64), "config");
  log_close();

  unlink(config.c_str());
  remove_logs();
  return 0;
}
