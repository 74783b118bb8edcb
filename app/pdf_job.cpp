// PDF documents converted to PostScript by a confined pdftops, then printed as PostScript.
#include "app/pdf_job.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

#include "app/converter.h"
#include "app/handles.h"
#include "app/job_limits.h"
#include "app/job_output.h"
#include "app/ppd_driver.h"
#include "app/print_job.h"
#include "app/ps_document.h"
#include "common/handles.h"
#include "log/text.h"

namespace {

constexpr size_t kBlock = 65536;
constexpr int kLookMs = 200;  // how often a conversion looks at its job
constexpr double kPointsPerPwg = 72.0 / 2540.0;
constexpr size_t kNumberSize = 16;

// An anonymous file beside the job's document for the converted PostScript, gone when closed;
// a named one, removed at once, where the file system has no anonymous files.
int scratch_file(const char* document) {
  char dir[kConverterPathSize];
  copy_text(dir, sizeof(dir), document);
  char* slash = strrchr(dir, '/');
  if (slash != nullptr) *slash = '\0';
  int fd = open(slash != nullptr ? dir : ".", O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
  if (fd >= 0) return fd;
  char path[kConverterPathSize + 8];
  format_text(path, sizeof(path), "%s.ps", document);
  fd = open(path, O_CREAT | O_EXCL | O_RDWR | O_CLOEXEC, 0600);
  if (fd >= 0) unlink(path);
  return fd;
}

bool write_all_to(int fd, const char* data, size_t count) {
  while (count > 0) {
    const ssize_t n = write(fd, data, count);
    if (n < 0) return false;
    data += n;
    count -= static_cast<size_t>(n);
  }
  return true;
}

// Runs the converter on the PDF of pdf_fd into out_fd. False with the job's message set.
bool convert(JobOutput* output, const PdfSettings& settings, const pappl_pr_options_t& options,
             int pdf_fd, int out_fd) {
  pappl_job_t* job = output->job;
  const PpdDriver* driver = ppdDriverOf(papplJobGetPrinter(job));
  char width[kNumberSize], height[kNumberSize], resolution[kNumberSize], last[kNumberSize];
  format_text(width, sizeof(width), "%d",
              static_cast<int>(options.media.size_width * kPointsPerPwg + 0.5));
  format_text(height, sizeof(height), "%d",
              static_cast<int>(options.media.size_length * kPointsPerPwg + 0.5));
  format_text(resolution, sizeof(resolution), "%d",
              options.printer_resolution[0] > 0 ? options.printer_resolution[0] : 300);
  // One page beyond the cap, so that a longer document is known as such.
  format_text(last, sizeof(last), "%u", kMaxDocumentPages + 1);
  const bool level3 = driver == nullptr || driver->language_level >= 3;
  const char* argv[] = {settings.converter, level3 ? "-level3" : "-level2",
                        "-paperw",          width,
                        "-paperh",          height,
                        "-r",               resolution,
                        "-l",               last,
                        "/dev/stdin",       "-",
                        nullptr};
  struct stat info;
  ConverterLimits limits;
  limits.seconds = settings.seconds;
  limits.memory = kConverterMemory;
  limits.output = kConverterOutputBase +
                  kConverterOutputFactor * (fstat(pdf_fd, &info) == 0 ? info.st_size : 0);
  Converter converter;
  char why[kConverterMessageSize];
  if (!startConverter(&converter, argv, pdf_fd, limits, why, sizeof(why))) {
    refuseJob(job, false, "The PDF converter could not be started: %s.", why);
    return false;
  }
  UniqueMalloc<char[]> buffer = make_array<char>(kBlock);
  PageScan pages;
  ConverterRead result = ConverterRead::kData;
  bool ok = buffer != nullptr;
  while (ok) {
    size_t count = 0;
    result = readConverter(&converter, buffer.get(), kBlock, kLookMs, &count);
    if (result != ConverterRead::kData) break;
    countPages(&pages, buffer.get(), count);
    if (jobStopped(output) || pages.pages > kMaxDocumentPages) break;
    ok = write_all_to(out_fd, buffer.get(), count);
  }
  const bool ended = result == ConverterRead::kEnd;
  const int status = endConverter(&converter, !ended);
  if (pages.pages > kMaxDocumentPages) {
    refuseJob(job, false, "The document has more than %u pages.", kMaxDocumentPages);
  } else if (jobStopped(output)) {
    jobStopMessage(output);
  } else if (!ok || result == ConverterRead::kFailed) {
    refuseJob(job, false, "The converted document could not be kept.");
  } else if (result == ConverterRead::kTimedOut) {
    refuseJob(job, false, "The PDF converter took more than %d seconds: the job was stopped.",
              settings.seconds);
  } else if (result == ConverterRead::kTooLarge) {
    refuseJob(job, false, "The PDF converter wrote more than %llu MiB: the job was stopped.",
              static_cast<unsigned long long>(limits.output >> 20));
  } else if (status < 0) {
    refuseJob(job, false, "The PDF converter ended by signal %d.", -status);
  } else if (status > 0) {
    refuseJob(job, true, "The PDF document cannot be converted: %s.",
              converter.message[0] != '\0' ? converter.message : "no reason given");
  } else {
    return true;
  }
  return false;
}

}  // namespace

bool pdfConverterFound(const PdfSettings& settings) {
  return settings.converter[0] == '/' && access(settings.converter, X_OK) == 0;
}

bool printPdfDocument(pappl_job_t* job, pappl_device_t* device, void* data) {
  const PdfSettings* settings = static_cast<const PdfSettings*>(data);
  // A job whose document PAPPL has removed has no file name.
  const char* filename = papplJobGetFilename(job);
  if (filename == nullptr || settings == nullptr) {
    papplLogJob(job, PAPPL_LOGLEVEL_ERROR, "The job has no document: nothing is sent.");
    return false;
  }
  JobOutput output;
  openJobOutput(&output, job, device);
  UniqueFd pdf(open(filename, O_RDONLY | O_CLOEXEC));
  UniqueFd converted(scratch_file(filename));
  UniquePrintOptions options(papplJobCreatePrintOptions(job, 0, true));
  bool printed = false;
  if (pdf.get() < 0 || converted.get() < 0 || options == nullptr) {
    refuseJob(job, false, "The document could not be opened.");
  } else if (convert(&output, *settings, *options, pdf.get(), converted.get())) {
    printed = printPostScriptFile(&output, *options, converted.get());
  }
  closeJobOutput(&output);
  return printed;
}
