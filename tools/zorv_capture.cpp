// zorv_capture: the printer stand-in as a program, for scripts/demo.sh and the benchmark.
// Usage: zorv_capture ADDRESS PORT DIR [COUNT]
// Writes each connection's bytes to DIR/job-N.bin and a line "N LENGTH END_NS" to DIR/jobs
// when the connection ends (END_NS: CLOCK_REALTIME of the last byte); ends after COUNT
// connections, or on SIGTERM. With DIR "-", the bytes are only counted.
// ZORV_CAPTURE_PAUSE_US in the environment: a pause after each read, a printer that takes
// its time (so that a job can be cancelled while it is on its way).
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "support/listener.h"
#include "support/paths.h"
#include "tools/stop_signal.h"

int main(int argc, char* argv[]) {
  if (argc < 4 || argc > 5) {
    fprintf(stderr, "usage: zorv_capture ADDRESS PORT DIR [COUNT]\n");
    return 1;
  }
  const std::string dir = argv[3];
  const bool keep = dir != "-";
  const size_t count = argc == 5 ? strtoul(argv[4], nullptr, 10) : 0;
  stop_on_signals();

  Listener listener;
  if (const char* pause = getenv("ZORV_CAPTURE_PAUSE_US")) listener.set_read_pause_us(atoi(pause));
  if (!listener.start(argv[1], atoi(argv[2]), keep)) {
    fprintf(stderr, "zorv_capture: cannot listen on %s:%s\n", argv[1], argv[2]);
    return 1;
  }
  size_t written = 0;
  while (!stop_requested() && (count == 0 || written < count)) {
    if (!listener.wait_for_jobs(written + 1, 100)) continue;
    for (const ReceivedJob& job : listener.take_jobs(written)) {
      std::string index = std::to_string(written + 1);
      if (keep) write_file(dir + "/job-" + index + ".bin", job.bytes);
      std::string line = index + " " + std::to_string(job.length) + " " +
                         std::to_string(job.end_realtime_ns) + "\n";
      if (keep) {
        FILE* out = fopen((dir + "/jobs").c_str(), "a");
        if (out != nullptr) {
          fputs(line.c_str(), out);
          fclose(out);
        }
      } else {
        fputs(line.c_str(), stdout);
        fflush(stdout);
      }
      written++;
    }
  }
  listener.stop();
  return 0;
}
