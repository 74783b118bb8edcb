// main() of zorvpreload: the colour-profile block ahead of the job, then the job unchanged.
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

#include "colour/hd_data.h"
#include "colour/profile.h"
#include "common/copy.h"
#include "common/filter_begin.h"
#include "common/handles.h"
#include "log/escape.h"
#include "log/log.h"

namespace {

constexpr int kStatusOk = 0;
constexpr int kStatusInput = 1;
constexpr int kStatusHdData = 3;
constexpr int kProfileType = 1;

// Writes the block of the named profile to standard output when a vendor installation has
// the profile; a missing profile is no error. Returns kStatusOk; kStatusHdData when the
// profile was found but no block could be built from it (nothing written); or the status of a
// failed copy when writing the block failed or the job was cancelled while it was written.
int preload_profile(const char* name) {
  if (name[0] == '\0') {
    log_printf(2, "INFO: Color profile NONE, HD data creation skipped\n");
    return kStatusOk;
  }
  char bare[kBareNameSize];
  snprintf(bare, sizeof(bare), kUcsNameFormat, name);
  ShownText shown_bare(bare);
  log_printf(5, "INFO: ucs bare file name is <%s>\n", shown_bare.c_str());

  char path[kProfilePathSize];
  if (findVendorFile(path, sizeof(path), kUcsPathPattern, kPreloadVendors, bare, R_OK) != 0) {
    log_printf(2, "INFO: file %s not found,  HD data creation skipped\n", shown_bare.c_str());
    return kStatusOk;
  }
  log_printf(3, "INFO: using ucs file %s\n", ShownText(path).c_str());
  const int written = writeHdData(stdout, path, kProfileType);
  if (written == kHdNotBuilt) {
    log_printf(1, "ERROR: HD data creation failed, execution aborted\n");
    fprintf(stderr, "ERROR: HD data creation failed, execution aborted\n");
    return kStatusHdData;
  }
  // The writer has logged why (a failed write, a cancellation, or a profile that changed while
  // its block was written); the job cannot follow a broken block.
  if (written != kHdWritten) return kCopyFailed;
  return kStatusOk;
}

}  // namespace

int main(int argc, char* argv[]) {
  if (filter_begin("zorvpreload", argc, argv) != 0) return kStatusInput;

  char name[kProfileNameSize];
  resolveProfileName(name, sizeof(name), argv[0], argv[5], getenv("PPD"));
  // The name and the options come from the job: escaped, so that they cannot forge log lines.
  log_printf(2, "INFO: Printer: \"%s\"\n", ShownText(name).c_str());
  log_printf(2, "INFO: Options: \"%s\"\n", ShownText(argv[5]).c_str());

  UniqueFd input(0);
  if (argc == 7) {
    input.reset(open(argv[6], O_RDONLY | O_CLOEXEC));
    if (input.get() < 0) {
      ShownText file(argv[6]);
      log_printf(1, "ERROR: can not open file %s for reading, execution aborted\n", file.c_str());
      fprintf(stderr, "ERROR: can not open file %s for reading, execution aborted\n", file.c_str());
      return kStatusInput;
    }
  }

  // The block leaves through the unbuffered, flushed stdout before any job byte is copied.
  int status = preload_profile(name);
  if (status != kStatusOk) return status;
  status = copy_job(input.get(), 1);
  if (status != kCopyDone) return status;
  input.reset();

  log_printf(2, "INFO: Program exit(%d) %s\n", kStatusOk, log_timestamp());
  return kStatusOk;
}
