// The colour-profile block ahead of every job's data.
#include "app/profile_block.h"

#include <pthread.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

#include "app/ppd_driver.h"
#include "common/handles.h"
#include "log/escape.h"
#include "log/text.h"
#include "preload/hd_data.h"
#include "preload/profile.h"

namespace {

constexpr int kProfileType = 1;
constexpr size_t kCopyBlock = 65536;

// THE PLACE WHERE THE BLOCK IS WRITTEN. The block writer of this tree writes to a stream's
// descriptor and builds the block in process-wide templates, so it runs one job at a time and
// into a temporary file, which is then copied to the device.
pthread_mutex_t g_block_lock = PTHREAD_MUTEX_INITIALIZER;

int write_block(pappl_device_t* device, const char* path) {
  UniqueFile spool(tmpfile());
  if (spool == nullptr) return kHdWriteFailed;
  pthread_mutex_lock(&g_block_lock);
  const int built = writeHdData(spool.get(), path, kProfileType);
  pthread_mutex_unlock(&g_block_lock);
  if (built != kHdWritten) return built;
  if (lseek(fileno(spool.get()), 0, SEEK_SET) != 0) return kHdWriteFailed;
  UniqueMalloc<char[]> buffer = make_array<char>(kCopyBlock);
  if (buffer == nullptr) return kHdWriteFailed;
  ssize_t n = 0;
  while ((n = read(fileno(spool.get()), buffer.get(), kCopyBlock)) > 0) {
    if (papplDeviceWrite(device, buffer.get(), static_cast<size_t>(n)) < 0) return kHdWriteFailed;
  }
  return n == 0 ? kHdWritten : kHdWriteFailed;
}

}  // namespace

void jobProfileName(char* name, size_t size, const pappl_pr_options_t& options,
                    const char* printer_name) {
  const char* ucs = cupsGetOption(kUcsAttribute, options.num_vendor, options.vendor);
  const bool by_printer = ucs == nullptr || strcmp(ucs, kUcsAuto) == 0;
  copy_text(name, size, by_printer ? printer_name : ucs);
}

bool sendProfileBlock(pappl_job_t* job, pappl_device_t* device, const pappl_pr_options_t& options) {
  char name[kProfileNameSize];
  jobProfileName(name, sizeof(name), options, papplPrinterGetName(papplJobGetPrinter(job)));
  ShownText shown(name);
  char bare[kBareNameSize];
  char path[kProfilePathSize];
  if (name[0] == '\0') {
    papplLogJob(job, PAPPL_LOGLEVEL_INFO, "No colour profile, no colour-profile block.");
    return true;
  }
  if (!format_text(bare, sizeof(bare), kUcsNameFormat, name) ||
      findVendorFile(path, sizeof(path), kUcsPathPattern, kPreloadVendors, bare, R_OK) != 0) {
    papplLogJob(job, PAPPL_LOGLEVEL_INFO, "Colour profile '%s' not found, no colour-profile block.",
                shown.c_str());
    return true;
  }
  const int written = write_block(device, path);
  if (written == kHdWritten) {
    papplLogJob(job, PAPPL_LOGLEVEL_INFO, "Colour-profile block of '%s' sent.",
                ShownText(path).c_str());
    return true;
  }
  if (written == kHdNotBuilt) {
    papplJobSetMessage(job, "Colour-profile block of '%s' could not be built.", shown.c_str());
  } else {
    papplJobSetMessage(job, "Colour-profile block could not be sent to the printer.");
  }
  papplLogJob(job, PAPPL_LOGLEVEL_ERROR, "%s", papplJobGetMessage(job));
  return false;
}
