// The job callbacks of every zorv driver: PostScript through, raster to PostScript.
#include "app/print_job.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstring>

#include "app/handles.h"
#include "app/job_limits.h"
#include "app/job_output.h"
#include "app/ppd_driver.h"
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

bool write_text(pappl_device_t* device, const char* text) {
  return papplDeviceWrite(device, text, strlen(text)) >= 0;
}

bool send_text(JobOutput* output, const char* text) {
  return jobWrite(output, text, strlen(text));
}

bool insert_code(JobOutput* output, const char* code, bool wrapped) {
  return (!wrapped || send_text(output, kBeginSetup)) && send_text(output, code) &&
         (!wrapped || send_text(output, kEndSetup));
}

// The document with code inserted where findSetupPlace says, read in blocks; bytes that the
// scan must see again are kept at the front of the buffer. With pages, its page comments are
// counted into *pages (one for a document without them).
bool copy_document(JobOutput* output, int fd, const char* code, unsigned* pages) {
  UniqueMalloc<char[]> buffer = make_array<char>(kCopyBlock + kLongestMarker);
  if (buffer == nullptr) return false;
  SetupScan scan;
  PageScan counted;
  bool placed = false;
  size_t kept = 0;
  for (;;) {
    const ssize_t n = read(fd, buffer.get() + kept, kCopyBlock);
    if (n < 0) {
      papplJobSetMessage(output->job, "The document could not be read.");
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
        papplLogJob(output->job, PAPPL_LOGLEVEL_WARN,
                    "The document does not start with %%!: sent without the job's options.");
        placed = true;
      } else if (place != SetupPlace::kNotYet) {
        if (pages != nullptr) countPages(&counted, buffer.get(), offset);
        if (!jobWrite(output, buffer.get(), offset) ||
            !insert_code(output, code, place == SetupPlace::kWrapped)) {
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
    if (pages != nullptr) countPages(&counted, buffer.get(), done);
    if (!jobWrite(output, buffer.get(), done)) return false;
    if (kept > 0) memmove(buffer.get(), buffer.get() + done, kept);
    if (at_end) break;
  }
  if (!placed) {
    papplLogJob(output->job, PAPPL_LOGLEVEL_WARN,
                "The document has no page: the job's options were not sent.");
  }
  // A document without page comments is one page as far as anyone can tell.
  if (pages != nullptr) *pages = counted.pages > 0 ? counted.pages : 1;
  return true;
}

// The page count the document declares, in its header or its trailer; 0 when it declares
// none, and its page comments are counted as it goes.
unsigned declared_pages(int fd) {
  char block[kCopyBlock];
  ssize_t n = pread(fd, block, sizeof(block), 0);
  const unsigned head = n > 0 ? declaredPages(block, static_cast<size_t>(n)) : 0;
  if (head > 0) return head;
  const off_t end = lseek(fd, 0, SEEK_END);
  const off_t from = end > static_cast<off_t>(sizeof(block)) ? end - static_cast<off_t>(sizeof(block)) : 0;
  n = end > 0 ? pread(fd, block, sizeof(block), from) : 0;
  return n > 0 ? trailerPages(block, static_cast<size_t>(n)) : 0;
}

// Whether copies of a document of pages pages (0: not known) are made by sending it again: a
// document of more than one page on a printer whose PPD has no way to collate them. The
// printer's NumCopies would give each page its copies in a row.
bool repeat_document(pappl_job_t* job, unsigned pages, int copies) {
  if (copies <= 1 || pages == 1) return false;
  const PpdDriver* driver = ppdDriverOf(papplJobGetPrinter(job));
  return driver == nullptr || driver->collate_choice[0] == '\0';
}

bool print_postscript(pappl_job_t* job, pappl_device_t* device) {
  // A job whose document PAPPL has removed has no file name.
  const char* filename = papplJobGetFilename(job);
  if (filename == nullptr) {
    papplLogJob(job, PAPPL_LOGLEVEL_ERROR, "The job has no document: nothing is sent.");
    return false;
  }
  JobOutput output;
  openJobOutput(&output, job, device);
  UniqueFd fd(open(filename, O_RDONLY | O_CLOEXEC));
  UniquePrintOptions options(papplJobCreatePrintOptions(job, 0, true));
  bool printed = false;
  if (fd.get() < 0 || options == nullptr) {
    papplJobSetMessage(job, "The document could not be opened.");
  } else {
    printed = printPostScriptFile(&output, *options, fd.get());
  }
  closeJobOutput(&output);
  return printed;
}

// PAPPL's own path for a document in the printer's format, which the MIME filter of
// application/postscript takes first: kept because PAPPL wants a driver to have it.
bool print_file(pappl_job_t* job, pappl_pr_options_t*, pappl_device_t* device) {
  return print_postscript(job, device);
}

// The state of a raster job between PAPPL's callbacks, as the job's data.
struct RasterJob {
  JobOutput output;
  int copies;
  bool ended;  // the page or the job stopped: the page end has been sent
  PsWriter writer;
};

RasterJob* raster_of(pappl_job_t* job) {
  return static_cast<RasterJob*>(papplJobGetData(job));
}

bool raster_start_run(RasterJob* raster, pappl_pr_options_t* options) {
  // PAPPL does not repeat a raster's pages: the printer makes the copies.
  raster->copies = options->copies > 0 ? options->copies : 1;
  UniqueMalloc<char> code = jobOptionCode(raster->output.job, *options, raster->copies);
  return code != nullptr && sendProfileBlock(&raster->output, *options) &&
         psBeginDocument(&raster->writer, jobSink, &raster->output, code.get());
}

bool raster_start_job(pappl_job_t* job, pappl_pr_options_t* options, pappl_device_t* device) {
  UniqueMalloc<RasterJob[]> raster = make_array<RasterJob>(1);
  if (raster == nullptr) return false;
  openJobOutput(&raster[0].output, job, device);
  if (!raster_start_run(raster.get(), options)) {
    jobStopMessage(&raster[0].output);
    closeJobOutput(&raster[0].output);
    return false;
  }
  papplJobSetData(job, raster.release());
  return true;
}

bool raster_start_page(pappl_job_t* job, pappl_pr_options_t* options, pappl_device_t*,
                       unsigned number) {
  RasterJob* raster = raster_of(job);
  if (raster == nullptr) return false;
  if (jobStopped(&raster->output)) {
    jobStopMessage(&raster->output);
    return false;
  }
  const cups_page_header2_t& header = options->header;
  const PpdDriver* driver = ppdDriverOf(papplJobGetPrinter(job));
  char why[kMessageTextSize];
  if (number > kMaxDocumentPages) {
    refuseJob(job, false, "The document has more than %u pages.", kMaxDocumentPages);
    return false;
  }
  if (driver != nullptr &&
      !withinImageLimits(driver->limits, header.cupsWidth, header.cupsHeight, why, sizeof(why))) {
    refuseJob(job, false, "The raster page is too large: %s.", why);
    return false;
  }
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
      refuseJob(job, false, "The raster page (%ux%u, %u colours of %u bits) cannot be printed.",
                page.width, page.height, page.colors, page.bits_per_color);
    }
    return false;
  }
  raster->ended = false;
  return true;
}

// A job that stops in a page ends the page at once (only its end goes through): the printer
// is not left inside an image.
void end_page_now(RasterJob* raster) {
  if (raster->ended || raster->writer.page.height == 0) return;
  raster->ended = true;
  raster->output.closing = true;
  psEndPageNow(&raster->writer);
  raster->output.closing = false;
}

bool raster_write_line(pappl_job_t* job, pappl_pr_options_t*, pappl_device_t*, unsigned y,
                       const unsigned char* line) {
  RasterJob* raster = raster_of(job);
  if (raster == nullptr || raster->ended) return false;
  if (y % kCancelCheckLines == 0 && jobStopped(&raster->output)) {
    end_page_now(raster);
    return false;
  }
  return psWriteLine(&raster->writer, line);
}

// A page whose raster ended early is still ended as PostScript, so that the printer is not
// left inside an image, and then fails the job: PAPPL takes a short raster for a whole one.
bool raster_end_page(pappl_job_t* job, pappl_pr_options_t*, pappl_device_t*, unsigned) {
  RasterJob* raster = raster_of(job);
  if (raster == nullptr) return false;
  if (raster->ended || jobStopped(&raster->output)) {
    end_page_now(raster);
    jobStopMessage(&raster->output);
    return false;
  }
  const unsigned lines = raster->writer.lines;
  const unsigned height = raster->writer.page.height;
  raster->ended = true;
  if (!psEndPage(&raster->writer)) return false;
  // The printer makes the page's copies.
  papplJobSetImpressionsCompleted(job, raster->copies - 1);
  if (lines < height) {
    refuseJob(job, true, "The raster page ended after %u of its %u lines.", lines, height);
    return false;
  }
  return true;
}

bool raster_end_job(pappl_job_t* job, pappl_pr_options_t*, pappl_device_t*) {
  UniqueMalloc<RasterJob[]> raster(raster_of(job));
  if (raster == nullptr) return false;
  papplJobSetData(job, nullptr);
  // The trailer goes even after a stop: the document is ended where its last page ended.
  raster[0].output.closing = true;
  const bool ended = psEndDocument(&raster[0].writer) && !jobStopped(&raster[0].output);
  closeJobOutput(&raster[0].output);
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

bool printPostScriptFile(JobOutput* output, const pappl_pr_options_t& options, int fd) {
  pappl_job_t* job = output->job;
  const int copies = options.copies > 0 ? options.copies : 1;
  // A document that declares its pages is not scanned for them.
  const unsigned declared = declared_pages(fd);
  const bool repeat = repeat_document(job, declared, copies);
  UniqueMalloc<char> code = jobOptionCode(job, options, repeat ? 1 : copies);
  if (code == nullptr || !sendProfileBlock(output, options)) return false;
  unsigned pages = declared;
  for (int copy = 0; copy < (repeat ? copies : 1); copy++) {
    if (lseek(fd, 0, SEEK_SET) != 0 ||
        !copy_document(output, fd, code.get(), declared > 0 ? nullptr : &pages)) {
      jobStopMessage(output);
      return false;
    }
  }
  papplJobSetImpressions(job, static_cast<int>(pages) * copies);
  papplJobSetImpressionsCompleted(job, static_cast<int>(pages) * copies);
  return true;
}

bool printPostScriptDocument(pappl_job_t* job, pappl_device_t* device, void*) {
  return print_postscript(job, device);
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
  data->printfile_cb = print_file;
  data->rstartjob_cb = raster_start_job;
  data->rstartpage_cb = raster_start_page;
  data->rwriteline_cb = raster_write_line;
  data->rendpage_cb = raster_end_page;
  data->rendjob_cb = raster_end_job;
  data->identify_cb = identify;
  data->identify_supported = PAPPL_IDENTIFY_ACTIONS_DISPLAY;
  data->identify_default = PAPPL_IDENTIFY_ACTIONS_DISPLAY;
}
