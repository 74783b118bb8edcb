// The colour-profile block ahead of every job's data.
#include "app/profile_block.h"

#include <unistd.h>

#include <cstring>

#include "app/job_output.h"
#include "app/ppd_driver.h"
#include "colour/hd_data.h"
#include "colour/profile.h"
#include "log/escape.h"
#include "log/text.h"

namespace {

constexpr int kProfileType = 1;

}  // namespace

void jobProfileName(char* name, size_t size, const pappl_pr_options_t& options,
                    const char* printer_name) {
  const char* ucs = cupsGetOption(kUcsAttribute, options.num_vendor, options.vendor);
  const bool by_printer = ucs == nullptr || strcmp(ucs, kUcsAuto) == 0;
  copy_text(name, size, by_printer ? printer_name : ucs);
}

bool sendProfileBlock(JobOutput* output, const pappl_pr_options_t& options) {
  pappl_job_t* job = output->job;
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
  // The block goes through PAPPL's device in pieces, as zorvpreload writes it to its output.
  const int written = writeHdBlockTo(jobSink, output, path, kProfileType);
  if (written == kHdWritten) {
    papplLogJob(job, PAPPL_LOGLEVEL_INFO, "Colour-profile block of '%s' sent.",
                ShownText(path).c_str());
    return true;
  }
  if (written == kHdNotBuilt) {
    papplJobSetMessage(job, "Colour-profile block of '%s' could not be built.", shown.c_str());
  } else if (!jobStopped(output)) {
    papplJobSetMessage(job, "Colour-profile block could not be sent to the printer.");
  }
  papplLogJob(job, PAPPL_LOGLEVEL_ERROR, "%s", papplJobGetMessage(job));
  return false;
}
