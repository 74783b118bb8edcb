// One run of a job at its printer: its option code and its writes.
#include "app/job_output.h"

#include <cstdarg>
#include <cstdio>

#include "app/device_watch.h"
#include "app/ppd_driver.h"
#include "app/ppd_marks.h"
#include "log/text.h"

namespace {

constexpr size_t kMessageSize = kMessageTextSize;
constexpr size_t kDeviceUriSize = 1024;

}  // namespace

void openJobOutput(JobOutput* output, pappl_job_t* job, pappl_device_t* device) {
  output->job = job;
  output->device = device;
  const PpdDriver* driver = ppdDriverOf(papplJobGetPrinter(job));
  if (driver != nullptr) output->watch = driver->watch;
  // The device URI changes only with papplPrinterSetDeviceURI, which waits for no job: a copy.
  char uri[kDeviceUriSize];
  copy_text(uri, sizeof(uri), papplPrinterGetDeviceURI(papplJobGetPrinter(job)));
  output->watched = watchDevice(output->watch, job, uri);
}

void closeJobOutput(JobOutput* output) {
  if (output->job == nullptr) return;
  unwatchDevice(output->watch, output->watched);
  output->watched = nullptr;
  output->job = nullptr;
}

bool jobStopped(JobOutput* output) {
  return serverStopping() || papplJobIsCanceled(output->job) ||
         (output->watched != nullptr && output->watched->end != WatchEnd::kNone);
}

void jobStopMessage(JobOutput* output) {
  const WatchEnd end = output->watched != nullptr ? output->watched->end.load() : WatchEnd::kNone;
  if (end == WatchEnd::kStalled) {
    papplJobSetMessage(output->job, "The printer read nothing for %d seconds: the job was stopped.",
                       stallSeconds(output->watch));
  } else if (end == WatchEnd::kServerStopping || (end == WatchEnd::kNone && serverStopping())) {
    papplJobSetMessage(output->job, "The server is stopping: the job was stopped.");
  } else {
    return;
  }
  papplLogJob(output->job, PAPPL_LOGLEVEL_ERROR, "%s", papplJobGetMessage(output->job));
}

bool jobWrite(JobOutput* output, const void* bytes, size_t count) {
  if (output->failed || (!output->closing && jobStopped(output))) return false;
  if (count == 0) return true;
  writeBegins(output->watched);
  const bool written = papplDeviceWrite(output->device, bytes, count) >= 0;
  writeEnds(output->watched);
  if (!written) {
    output->failed = true;
    if (jobStopped(output)) {
      jobStopMessage(output);
    } else {
      papplJobSetMessage(output->job, "The document could not be sent to the printer.");
    }
  }
  return written;
}

bool jobSink(void* context, const void* bytes, size_t count) {
  return jobWrite(static_cast<JobOutput*>(context), bytes, count);
}

UniqueMalloc<char> jobOptionCode(pappl_job_t* job, const pappl_pr_options_t& options, int copies) {
  const PpdDriver* driver = ppdDriverOf(papplJobGetPrinter(job));
  pappl_pr_options_t counted = options;
  counted.copies = copies;
  UniqueMalloc<char> code =
      driver != nullptr ? jobSetupCode(*driver, counted, papplJobGetPrinter(job)) : nullptr;
  if (code == nullptr) refuseJob(job, false, "The printer's PPD could not be read.");
  return code;
}

void refuseJob(pappl_job_t* job, bool format_error, const char* message, ...) {
  char text[kMessageSize];
  va_list args;
  va_start(args, message);
  vsnprintf(text, sizeof(text), message, args);
  va_end(args);
  papplJobSetMessage(job, "%s", text);
  papplLogJob(job, PAPPL_LOGLEVEL_ERROR, "%s", text);
  if (format_error) {
    papplJobSetReasons(job, PAPPL_JREASON_DOCUMENT_FORMAT_ERROR, PAPPL_JREASON_NONE);
  }
}
