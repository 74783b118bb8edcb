// JPEG and PNG documents as PostScript pages, decoded by our own code.
#include "app/image_job.h"

#include <cstdio>

#include "app/handles.h"
#include "app/image_decode.h"
#include "app/job_output.h"
#include "app/ppd_driver.h"
#include "app/profile_block.h"
#include "common/handles.h"

namespace {

constexpr unsigned kCheckLines = 64;
constexpr double kPointsPerPwg = 72.0 / 2540.0;  // PWG sizes are in hundredths of millimetres

using Decoder = ImageResult (*)(FILE*, const JobLimits&, const ImageSink&, char*, size_t);

// One image job's state between the decoder's calls.
struct ImageJob {
  JobOutput output;
  const pappl_pr_options_t* options;
  unsigned lines;
  bool page_begun;
  PsWriter writer;
};

bool image_begin(void* context, const ImageInfo& info) {
  ImageJob* image = static_cast<ImageJob*>(context);
  PsPage page;
  page.width = info.width;
  page.height = info.height;
  page.colors = info.colors;
  page.bits_per_color = 8;
  page.bytes_per_line = info.width * info.colors;
  page.x_dpi = page.y_dpi = 72;
  placeImage(*image->options, info.width, info.height, info.x_ppi, info.y_ppi, &page);
  image->page_begun = psBeginPage(&image->writer, page);
  return image->page_begun;
}

bool image_going(void* context) {
  return !jobStopped(&static_cast<ImageJob*>(context)->output);
}

bool image_line(void* context, const unsigned char* pixels) {
  ImageJob* image = static_cast<ImageJob*>(context);
  if (image->lines++ % kCheckLines == 0 && !image_going(context)) return false;
  return psWriteLine(&image->writer, pixels);
}

bool print_image(pappl_job_t* job, pappl_device_t* device, Decoder decode, const char* format) {
  // A job whose document PAPPL has removed has no file name.
  const char* filename = papplJobGetFilename(job);
  if (filename == nullptr) {
    papplLogJob(job, PAPPL_LOGLEVEL_ERROR, "The job has no document: nothing is sent.");
    return false;
  }
  UniqueMalloc<ImageJob[]> state = make_array<ImageJob>(1);
  if (state == nullptr) return false;
  ImageJob* image = state.get();
  openJobOutput(&image->output, job, device);
  UniqueFile file(fopen(filename, "rbe"));
  UniquePrintOptions options(papplJobCreatePrintOptions(job, 1, true));
  const PpdDriver* driver = ppdDriverOf(papplJobGetPrinter(job));
  if (file == nullptr || options == nullptr || driver == nullptr) {
    refuseJob(job, false, "The document could not be opened.");
    closeJobOutput(&image->output);
    return false;
  }
  image->options = options.get();
  // One page: the printer makes its copies.
  const int copies = options->copies > 0 ? options->copies : 1;
  UniqueMalloc<char> code = jobOptionCode(job, *options, copies);
  bool printed = code != nullptr && sendProfileBlock(&image->output, *options) &&
                 psBeginDocument(&image->writer, jobSink, &image->output, code.get());
  if (printed) {
    papplJobSetImpressions(job, copies);
    char why[kImageWhySize];
    const ImageSink sink{image, image_begin, image_line, image_going};
    const ImageResult result = decode(file.get(), driver->limits, sink, why, sizeof(why));
    // Whatever stopped the image, its page and the document are ended.
    image->output.closing = result != ImageResult::kDone;
    if (image->page_begun) {
      if (result == ImageResult::kDone) {
        psEndPage(&image->writer);
      } else {
        psEndPageNow(&image->writer);
      }
    }
    image->output.closing = true;
    psEndDocument(&image->writer);
    printed = result == ImageResult::kDone && !image->writer.failed;
    if (result == ImageResult::kRefused || result == ImageResult::kBroken) {
      refuseJob(job, result == ImageResult::kBroken, "The %s image cannot be printed: %s.", format,
                why);
    } else if (!printed) {
      jobStopMessage(&image->output);
    } else {
      papplJobSetImpressionsCompleted(job, copies);
    }
  } else {
    jobStopMessage(&image->output);
  }
  closeJobOutput(&image->output);
  return printed;
}

}  // namespace

void placeImage(const pappl_pr_options_t& options, unsigned width, unsigned height, double x_ppi,
                double y_ppi, PsPage* page) {
  const pappl_media_col_t& media = options.media;
  const double page_width = media.size_width * kPointsPerPwg;
  const double page_length = media.size_length * kPointsPerPwg;
  const double image_width = width * 72.0 / (x_ppi > 0 ? x_ppi : kDefaultImagePpi);
  const double image_height = height * 72.0 / (y_ppi > 0 ? y_ppi : kDefaultImagePpi);
  // The printable area, or the whole page for fill, which crops at the page's edges.
  const bool fill = options.print_scaling == PAPPL_SCALING_FILL;
  const double left = fill ? 0 : media.left_margin * kPointsPerPwg;
  const double bottom = fill ? 0 : media.bottom_margin * kPointsPerPwg;
  double area_width = page_width - (fill ? 0 : (media.left_margin + media.right_margin) * kPointsPerPwg);
  double area_height =
      page_length - (fill ? 0 : (media.top_margin + media.bottom_margin) * kPointsPerPwg);
  if (area_width <= 0 || area_height <= 0) {
    area_width = page_width;
    area_height = page_length;
  }
  page->rotated = (image_width > image_height) != (area_width > area_height) &&
                  image_width != image_height;
  const double extent_width = page->rotated ? image_height : image_width;
  const double extent_height = page->rotated ? image_width : image_height;
  const double fit_scale = area_width / extent_width < area_height / extent_height
                               ? area_width / extent_width
                               : area_height / extent_height;
  const double fill_scale = area_width / extent_width > area_height / extent_height
                                ? area_width / extent_width
                                : area_height / extent_height;
  double scale = 1.0;
  if (options.print_scaling == PAPPL_SCALING_FIT) {
    scale = fit_scale;
  } else if (fill) {
    scale = fill_scale;
  } else if (options.print_scaling != PAPPL_SCALING_NONE && fit_scale < 1.0) {
    scale = fit_scale;  // auto and auto-fit: only what is too large shrinks
  }
  page->place_width = extent_width * scale;
  page->place_height = extent_height * scale;
  page->place_x = left + (area_width - page->place_width) / 2;
  page->place_y = bottom + (area_height - page->place_height) / 2;
}

bool printJpegDocument(pappl_job_t* job, pappl_device_t* device, void*) {
  return print_image(job, device, decodeJpeg, "JPEG");
}

bool printPngDocument(pappl_job_t* job, pappl_device_t* device, void*) {
  return print_image(job, device, decodePng, "PNG");
}
