// main() of zorvquery: the auto-configuration filter's device queries for PPD authors and
// administrators, without a job and without writing any file.
//   zorvquery DEVICE-URI PPD-FILE    one line per installable option: query, reply, choice
//   zorvquery --check PPD-FILE       what in the PPD would make the auto-configuration fail
//   zorvquery --state DEVICE-URI [PPD-FILE]   the printer's trays, supplies and status
#include <cups/ppd.h>
#include <sys/stat.h>

#include <cstdio>
#include <cstring>

#include "probe/probe.h"
#include "common/handles.h"
#include "common/signals.h"
#include "log/escape.h"
#include "query/device_report.h"
#include "query/ppd_check.h"

namespace {

void usage() {
  fputs("Usage: zorvquery DEVICE-URI PPD-FILE\n       zorvquery --check PPD-FILE\n"
        "       zorvquery --state DEVICE-URI [PPD-FILE]\n",
        stderr);
}

// The PPD, or null after saying why not.
ppd_file_t* open_ppd(const char* path) {
  struct stat st;
  if (stat(path, &st) != 0 || !S_ISREG(st.st_mode)) {
    fprintf(stderr, "zorvquery: %s: no such PPD file\n", ShownText(path).c_str());
    return nullptr;
  }
  ppd_file_t* ppd = ppdOpenFile(path);
  if (ppd == nullptr) {
    int line = 0;
    ppd_status_t status = ppdLastError(&line);
    fprintf(stderr, "zorvquery: %s: not a PPD file (%s on line %d)\n", ShownText(path).c_str(),
            ppdErrorString(status), line);
  }
  return ppd;
}

// "--state DEVICE-URI [PPD-FILE]": the PPD names the manufacturer whose settings are used.
int state_mode(int argc, char* argv[]) {
  if (argc < 3 || argc > 4 || argv[2][0] == '-') {
    usage();
    return kQueryUsage;
  }
  UniquePpd ppd;
  if (argc == 4) {
    ppd.reset(open_ppd(argv[3]));
    if (ppd == nullptr) return kQueryUsage;
  }
  install_filter_signals();
  const int status = queryState(argv[2], ppd.get(), stdout);
  if (job_cancelled()) {
    fputs("zorvquery: stopped by SIGTERM\n", stderr);
    return kQueryNoAnswer;
  }
  return status;
}

}  // namespace

int main(int argc, char* argv[]) {
  setbuf(stdout, nullptr);
  if (argc >= 2 && strcmp(argv[1], "--state") == 0) return state_mode(argc, argv);
  const bool check = argc == 3 && strcmp(argv[1], "--check") == 0;
  if (argc != 3 || (!check && argv[1][0] == '-')) {
    usage();
    return kQueryUsage;
  }
  UniquePpd ppd(open_ppd(argv[2]));
  if (ppd == nullptr) return kQueryUsage;
  if (check) return checkPpd(ppd.get(), argv[2], stdout) == 0 ? kQueryAnswered : kQueryProblems;
  // SIGTERM ends the queries' wait at once, as it does a cancelled job's; anywhere else it
  // ends the tool as usual.
  install_filter_signals();
  const int status = queryDevice(argv[1], ppd.get(), stdout);
  if (job_cancelled()) {
    fputs("zorvquery: stopped by SIGTERM\n", stderr);
    return kQueryNoAnswer;
  }
  return status;
}
