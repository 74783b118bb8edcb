// main() of zorvautoconf: configure the queue from what the printer reports, then pass the
// job through unchanged. Nothing the configuration does changes the exit status.
#include <fcntl.h>

#include "autoconf/clock.h"
#include "autoconf/printer_config.h"
#include "common/copy.h"
#include "common/filter_begin.h"
#include "common/handles.h"
#include "log/escape.h"
#include "log/log.h"

int main(int argc, char* argv[]) {
  int64_t start = now_ms();
  // Exit handler, log, begin line, unbuffered streams, command line, environment, usage check.
  if (filter_begin("zorvautoconf", argc, argv) != 0) return 1;
  log_printf(2, "INFO: Printer: \"%s\"\n", ShownText(argv[0]).c_str());
  log_printf(2, "INFO: Options: \"%s\"\n", ShownText(argv[5]).c_str());

  updatePrinterConfiguration(argv[0]);

  // The job file is opened only after the configuration update; failing to open it is status 1
  // without a message.
  UniqueFd input(0);
  if (argc == 7) {
    input.reset(open(argv[6], O_RDONLY | O_CLOEXEC));
    if (input.get() < 0) return 1;
  }
  int status = copy_job(input.get(), 1);
  if (status != kCopyDone) {
    // A failed copy ends at once: the input stays open and no exit line is logged.
    input.release();
    return status;
  }
  input.reset();

  log_printf(2, "INFO: Program exit(%d) %s\n", 0, log_timestamp());
  log_printf(2, "INFO: Run time %ss\n", elapsed_seconds_text(start));
  return 0;
}
