// The job callbacks of every zorv driver: PostScript through, raster to PostScript.
#include "app/print_job.h"

#include <fcntl.h>
#include <pthread.h>
#include <unistd.h>

#include <cstring>

#include "app/handles.h"
#include "app/ppd_driver.h"
#include "app/ppd_marks.h"
#include "app/profile_block.h"
#include "app/ps_document.h"
#include "app/ps_raster.h"
#include "common/handles.h"
#include "log/text.h"

namespace {

constexpr size_t kCopyBlock = 65536;
constexpr char kBeginSetup[] = "%%BeginSetup\n";
constexpr char kEndSetup[] = "%%EndSetup\n";
// PJL around the ready message of Identify-Printer.
constexpr char kPjlEnter[] = "\x1b%-12345X@PJL\r\n@PJL RDYMSG DISPLAY = \"";
constexpr char kPjlLeave[] = "\"\r\n\x1b%-12345X";
constexpr unsigned kCancelCheckLines = 64;

// Takes the printer for the job's run; false for a second run of a job whose first run is
// still going (PAPPL's race), which then stops before touching anything.
bool begin_run(pappl_job_t* job) {
  PpdDriver* driver = ppdDriverOf(papplJobGetPrinter(job));
  if (driver == nullptr) return true;
  int idle = 0;
  const int id = papplJobGetID(job);
  if (driver->active_job.compare_exchange_strong(idle, id) || idle != id) return true;
  papplLogJob(job, PAPPL_LOGLEVEL_ERROR,
              "Job %d was started a second time while it prints; "
              "the second run stops.",
              id);
  return false;
}

void end_run(pappl_job_t* job) {
  PpdDriver* driver = ppdDriverOf(papplJobGetPrinter(job));
  int id = papplJobGetID(job);
  if (driver != nullptr) driver->active_job.compare_exchange_strong(id, 0);
}

bool write_text(pappl_device_t* device, const char* text) {
  return papplDeviceWrite(device, text, strlen(text)) >= 0;
}

// The job's option code; null (with the job's message set) when the PPD does not open.
UniqueMalloc<char> job_code(pappl_job_t* job, const pappl_pr_options_t& options) {
  const PpdDriver* driver = ppdDriverOf(papplJobGetPrinter(job));
  UniqueMalloc<char> code =
      driver != nullptr ? jobSetupCode(*driver, options, papplJobGetPrinter(job)) : nullptr;
  if (code == nullptr) {
    papplJobSetMessage(job, "The printer's PPD could not be read.");
    papplLogJob(job, PAPPL_LOGLEVEL_ERROR, "The printer's PPD could not be read.");
  }
  return code;
}

// Writes bytes to the device unless the job has been cancelled: a cancelled job sends nothing
// more.
bool send(pappl_job_t* job, pappl_device_t* device, const char* bytes, size_t count) {
  if (papplJobIsCanceled(job)) return false;
  if (count > 0 && papplDeviceWrite(device, bytes, count) < 0) {
    papplJobSetMessage(job, "The document could not be sent to the printer.");
    return false;
  }
  return true;
}

bool insert_code(pappl_device_t* device, const char* code, bool wrapped) {
  return (!wrapped || write_text(device, kBeginSetup)) && write_text(device, code) &&
         (!wrapped || write_text(device, kEndSetup));
}

// The document with code inserted where findSetupPlace says, read in blocks; bytes that the
// scan must see again are kept at the front of the buffer.
bool copy_document(pappl_job_t* job, pappl_device_t* device, int fd, const char* code) {
  UniqueMalloc<char[]> buffer = make_array<char>(kCopyBlock + kLongestMarker);
  if (buffer == nullptr) return false;
  SetupScan scan;
  bool placed = false;
  size_t kept = 0;
  for (;;) {
    const ssize_t n = read(fd, buffer.get() + kept, kCopyBlock);
    if (n < 0) {
      papplJobSetMessage(job, "The document could not be read.");
      return false;
    }
    const size_t count = kept + static_cast<size_t>(n);
    const bool at_end = n == 0;
    size_t done = count;
    kept = 0;
    if (!placed) {
      size_t offset = 0;
      const SetupPlace place = findSetupPlace(&scan, buffer.get(), count, at_end, &offset);
      if (place == SetupPlace::kNotPostScript) {
        papplLogJob(job, PAPPL_LOGLEVEL_WARN,
                    "The document does not start with %%!: sent without the job's options.");
        placed = true;
      } else if (place != SetupPlace::kNotYet) {
        if (!send(job, device, buffer.get(), offset) ||
            !insert_code(device, code, place == SetupPlace::kWrapped)) {
          return false;
        }
        memmove(buffer.get(), buffer.get() + offset, count - offset);
        done = count - offset;
        placed = true;
      } else if (!at_end) {
        done = offset;
        kept = count - offset;
      }
    }
    if (!send(job, device, buffer.get(), done)) return false;
    if (kept > 0) memmove(buffer.get(), buffer.get() + done, kept);
    if (at_end) break;
  }
  if (!placed) {
    papplLogJob(job, PAPPL_LOGLEVEL_WARN,
                "The document has no page: the job's options were not sent.");
  }
  return true;
}

bool print_document(pappl_job_t* job, pappl_pr_options_t* options, pappl_device_t* device) {
  // A job that PAPPL has already finished (a second run of it) has no document any more.
  const char* filename = papplJobGetFilename(job);
  if (filename == nullptr) {
    papplLogJob(job, PAPPL_LOGLEVEL_ERROR, "The job has no document: nothing is sent.");
    return false;
  }
  UniqueFd fd(open(filename, O_RDONLY | O_CLOEXEC));
  if (fd.get() < 0) {
    papplJobSetMessage(job, "The document could not be opened.");
    return false;
  }
  UniqueMalloc<char> code = job_code(job, *options);
  if (code == nullptr || !sendProfileBlock(job, device, *options)) return false;
  papplJobSetImpressions(job, 1);
  if (!copy_document(job, device, fd.get(), code.get())) return false;
  papplJobSetImpressionsCompleted(job, 1);
  return true;
}

bool print_postscript(pappl_job_t* job, pappl_pr_options_t* options, pappl_device_t* device) {
  if (!begin_run(job)) return false;
  const bool printed = print_document(job, options, device);
  end_run(job);
  return printed;
}

// The state of a raster job between PAPPL's callbacks, as the job's data.
struct RasterJob {
  pappl_job_t* job;
  pappl_device_t* device;
  pthread_t owner;  // the thread of the job's run (see begin_run)
  PsWriter writer;
};

bool device_sink(void* context, const void* bytes, size_t count) {
  RasterJob* raster = static_cast<RasterJob*>(context);
  return send(raster->job, raster->device, static_cast<const char*>(bytes), count);
}

// The job's raster state, for the thread that runs the job only.
RasterJob* raster_of(pappl_job_t* job) {
  RasterJob* raster = static_cast<RasterJob*>(papplJobGetData(job));
  return raster != nullptr && pthread_equal(raster->owner, pthread_self()) != 0 ? raster : nullptr;
}

bool raster_start_run(pappl_job_t* job, pappl_pr_options_t* options, pappl_device_t* device) {
  // The raster holds the copies PAPPL makes; only the PPD's options go into the setup.
  pappl_pr_options_t one = *options;
  one.copies = 1;
  UniqueMalloc<char> code = job_code(job, one);
  if (code == nullptr || !sendProfileBlock(job, device, *options)) return false;
  UniqueMalloc<RasterJob[]> raster = make_array<RasterJob>(1);
  if (raster == nullptr) return false;
  raster[0].job = job;
  raster[0].device = device;
  raster[0].owner = pthread_self();
  if (!psBeginDocument(&raster[0].writer, device_sink, raster.get(), code.get())) return false;
  papplJobSetData(job, raster.release());
  return true;
}

bool raster_start_job(pappl_job_t* job, pappl_pr_options_t* options, pappl_device_t* device) {
  if (!begin_run(job)) return false;
  if (raster_start_run(job, options, device)) return true;
  end_run(job);
  return false;
}

bool raster_start_page(pappl_job_t* job, pappl_pr_options_t* options, pappl_device_t*, unsigned) {
  RasterJob* raster = raster_of(job);
  if (raster == nullptr) return false;
  const cups_page_header2_t& header = options->header;
  PsPage page;
  page.width = header.cupsWidth;
  page.height = header.cupsHeight;
  page.bytes_per_line = header.cupsBytesPerLine;
  page.bits_per_color = header.cupsBitsPerColor;
  page.colors = header.cupsNumColors;
  page.additive = header.cupsColorSpace != CUPS_CSPACE_K &&
                  header.cupsColorSpace != CUPS_CSPACE_CMYK &&
                  header.cupsColorSpace != CUPS_CSPACE_KCMY;
  page.x_dpi = header.HWResolution[0];
  page.y_dpi = header.HWResolution[1];
  if (!psBeginPage(&raster->writer, page)) {
    if (!raster->writer.failed) {
      papplJobSetMessage(job, "The raster page (%ux%u, %u colours of %u bits) cannot be printed.",
                         page.width, page.height, page.colors, page.bits_per_color);
    }
    return false;
  }
  return true;
}

bool raster_write_line(pappl_job_t* job, pappl_pr_options_t*, pappl_device_t*, unsigned y,
                       const unsigned char* line) {
  RasterJob* raster = raster_of(job);
  if (raster == nullptr) return false;
  if (y % kCancelCheckLines == 0 && papplJobIsCanceled(job)) return false;
  return psWriteLine(&raster->writer, line);
}

// A page whose raster ended early is still ended as PostScript, so that the printer is not
// left inside an image, and then fails the job: PAPPL takes a short raster for a whole one.
bool raster_end_page(pappl_job_t* job, pappl_pr_options_t*, pappl_device_t*, unsigned) {
  RasterJob* raster = raster_of(job);
  if (raster == nullptr) return false;
  const unsigned lines = raster->writer.lines;
  const unsigned height = raster->writer.page.height;
  if (!psEndPage(&raster->writer)) return false;
  if (lines < height && !papplJobIsCanceled(job)) {
    papplJobSetMessage(job, "The raster page ended after %u of its %u lines.", lines, height);
    papplLogJob(job, PAPPL_LOGLEVEL_ERROR, "The raster page ended after %u of its %u lines.", lines,
                height);
    papplJobSetReasons(job, PAPPL_JREASON_DOCUMENT_FORMAT_ERROR, PAPPL_JREASON_NONE);
    return false;
  }
  return true;
}

bool raster_end_job(pappl_job_t* job, pappl_pr_options_t*, pappl_device_t*) {
  UniqueMalloc<RasterJob[]> raster(raster_of(job));
  if (raster == nullptr) return false;
  papplJobSetData(job, nullptr);
  const bool ended = psEndDocument(&raster[0].writer);
  end_run(job);
  return ended;
}

void identify(pappl_printer_t* printer, pappl_identify_actions_t, const char* message) {
  char text[kPanelMessageSize];
  panelMessage(text, sizeof(text), message, papplPrinterGetName(printer));
  // Busy with a job: the job's pages show where the printer is.
  pappl_device_t* device = papplPrinterOpenDevice(printer);
  if (device == nullptr) return;
  if (!write_text(device, kPjlEnter) || !write_text(device, text) ||
      !write_text(device, kPjlLeave)) {
    papplLogPrinter(printer, PAPPL_LOGLEVEL_WARN, "The identify message could not be sent.");
  }
  papplPrinterCloseDevice(printer);
}

}  // namespace

bool printRawDocument(pappl_job_t* job, pappl_device_t* device, void*) {
  UniquePrintOptions options(papplJobCreatePrintOptions(job, 1, true));
  return options != nullptr && print_postscript(job, options.get(), device);
}

void panelMessage(char* out, size_t size, const char* message, const char* fallback) {
  const char* text = message != nullptr && message[0] != '\0' ? message : fallback;
  size_t n = 0;
  for (const char* p = text != nullptr ? text : ""; *p != '\0' && n + 1 < size; p++) {
    const unsigned char c = static_cast<unsigned char>(*p);
    if (c >= 0x20 && c < 0x7f && c != '"') out[n++] = static_cast<char>(c);
  }
  if (size > 0) out[n] = '\0';
}

void setJobCallbacks(pappl_pr_driver_data_t* data) {
  data->printfile_cb = print_postscript;
  data->rstartjob_cb = raster_start_job;
  data->rstartpage_cb = raster_start_page;
  data->rwriteline_cb = raster_write_line;
  data->rendpage_cb = raster_end_page;
  data->rendjob_cb = raster_end_job;
  data->identify_cb = identify;
  data->identify_supported = PAPPL_IDENTIFY_ACTIONS_DISPLAY;
  data->identify_default = PAPPL_IDENTIFY_ACTIONS_DISPLAY;
}
