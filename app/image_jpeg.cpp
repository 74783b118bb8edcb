// JPEG documents decoded by libjpeg within the printer's limits, one line at a time.
#include <csetjmp>
#include <cstdio>
#include <cstring>

// jpeglib.h needs FILE declared before it, and jerror.h jpeglib.h.
#include <jpeglib.h>
#include <jerror.h>

#include "app/image_decode.h"
#include "log/text.h"

namespace {

// More scans than any encoder writes (a progressive image has about ten): beyond this, an
// image is a decoder's loop, not a picture.
constexpr int kMaxScans = 256;
constexpr double kCmPerInch = 2.54;

// The decoder's state that libjpeg's callbacks reach through cinfo->err and cinfo->progress
// (each the first member, so the library's pointer is the state's).
struct JpegErrors {
  jpeg_error_mgr manager;
  jmp_buf exit;
  ImageResult result;
  char* why;
  size_t why_size;
};

struct JpegProgress {
  jpeg_progress_mgr manager;
  const ImageSink* sink;
  JpegErrors* errors;
};

[[noreturn]] void leave(j_common_ptr cinfo, ImageResult result, const char* text) {
  JpegErrors* errors = reinterpret_cast<JpegErrors*>(cinfo->err);
  errors->result = result;
  if (text != nullptr) copy_text(errors->why, errors->why_size, text);
  longjmp(errors->exit, 1);
}

// Every error of the library ends the decoding with its own words; nothing goes to stderr.
[[noreturn]] void error_exit(j_common_ptr cinfo) {
  char text[JMSG_LENGTH_MAX];
  (*cinfo->err->format_message)(cinfo, text);
  JpegErrors* errors = reinterpret_cast<JpegErrors*>(cinfo->err);
  const bool memory = cinfo->err->msg_code == JERR_NO_BACKING_STORE ||
                      cinfo->err->msg_code == JERR_OUT_OF_MEMORY;
  if (memory) {
    format_text(errors->why, errors->why_size,
                "the JPEG image needs more than %zu MiB to decode", kDecoderMemoryLimit >> 20);
    leave(cinfo, ImageResult::kRefused, nullptr);
  }
  format_text(errors->why, errors->why_size, "the JPEG data is damaged: %s", text);
  leave(cinfo, ImageResult::kBroken, nullptr);
}

// Warnings are dropped, but data cut short, which the library would fill with grey.
void emit_message(j_common_ptr cinfo, int level) {
  if (level < 0 && cinfo->err->msg_code == JWRN_JPEG_EOF) {
    leave(cinfo, ImageResult::kBroken, "the JPEG data is cut short");
  }
  if (level < 0) cinfo->err->num_warnings++;
}

void output_message(j_common_ptr) {}

void progress(j_common_ptr cinfo) {
  JpegProgress* state = reinterpret_cast<JpegProgress*>(cinfo->progress);
  j_decompress_ptr dinfo = reinterpret_cast<j_decompress_ptr>(cinfo);
  if (dinfo->input_scan_number > kMaxScans) {
    format_text(state->errors->why, state->errors->why_size,
                "the JPEG image has more than %d scans", kMaxScans);
    leave(cinfo, ImageResult::kRefused, nullptr);
  }
  if (state->sink->going != nullptr && !state->sink->going(state->sink->context)) {
    leave(cinfo, ImageResult::kStopped, nullptr);
  }
}

// CMYK as RGB: Adobe's JPEGs store the inks inverted.
void cmyk_to_rgb(const JSAMPLE* cmyk, JSAMPLE* rgb, unsigned width, bool inverted) {
  for (unsigned x = 0; x < width; x++, cmyk += 4, rgb += 3) {
    const unsigned k = inverted ? cmyk[3] : 255u - cmyk[3];
    for (int c = 0; c < 3; c++) {
      const unsigned ink = inverted ? cmyk[c] : 255u - cmyk[c];
      rgb[c] = static_cast<JSAMPLE>(ink * k / 255u);
    }
  }
}

// The decoding itself, between setjmp and the library's cleanup: no object with a destructor
// lives here, since an error leaves by longjmp.
ImageResult decode(jpeg_decompress_struct* dinfo, JpegErrors* errors, JpegProgress* state,
                   FILE* file, const JobLimits& limits, const ImageSink& sink) {
  if (setjmp(errors->exit) != 0) return errors->result;
  jpeg_create_decompress(dinfo);
  dinfo->mem->max_memory_to_use = static_cast<long>(kDecoderMemoryLimit);
  dinfo->progress = &state->manager;
  jpeg_stdio_src(dinfo, file);
  jpeg_read_header(dinfo, TRUE);
  if (!withinImageLimits(limits, dinfo->image_width, dinfo->image_height, errors->why,
                         errors->why_size)) {
    return ImageResult::kRefused;
  }
  const bool cmyk = dinfo->jpeg_color_space == JCS_CMYK || dinfo->jpeg_color_space == JCS_YCCK;
  if (dinfo->num_components == 1) {
    dinfo->out_color_space = JCS_GRAYSCALE;
  } else {
    dinfo->out_color_space = cmyk ? JCS_CMYK : JCS_RGB;
  }
  jpeg_start_decompress(dinfo);
  ImageInfo info;
  info.width = dinfo->output_width;
  info.height = dinfo->output_height;
  info.colors = dinfo->out_color_space == JCS_GRAYSCALE ? 1 : 3;
  if (dinfo->density_unit == 1 || dinfo->density_unit == 2) {
    const double scale = dinfo->density_unit == 2 ? kCmPerInch : 1.0;
    info.x_ppi = dinfo->X_density * scale;
    info.y_ppi = dinfo->Y_density * scale;
  }
  if (!sink.begin(sink.context, info)) return ImageResult::kStopped;
  JSAMPARRAY row = (*dinfo->mem->alloc_sarray)(reinterpret_cast<j_common_ptr>(dinfo), JPOOL_IMAGE,
                                               dinfo->output_width * dinfo->output_components, 1);
  JSAMPARRAY rgb = cmyk ? (*dinfo->mem->alloc_sarray)(reinterpret_cast<j_common_ptr>(dinfo),
                                                      JPOOL_IMAGE, dinfo->output_width * 3, 1)
                        : row;
  while (dinfo->output_scanline < dinfo->output_height) {
    if (jpeg_read_scanlines(dinfo, row, 1) != 1) {
      copy_text(errors->why, errors->why_size, "the JPEG data is cut short");
      return ImageResult::kBroken;
    }
    if (cmyk) cmyk_to_rgb(row[0], rgb[0], dinfo->output_width, dinfo->saw_Adobe_marker != 0);
    if (!sink.line(sink.context, rgb[0])) return ImageResult::kStopped;
  }
  jpeg_finish_decompress(dinfo);
  return ImageResult::kDone;
}

}  // namespace

ImageResult decodeJpeg(FILE* file, const JobLimits& limits, const ImageSink& sink, char* why,
                       size_t why_size) {
  jpeg_decompress_struct dinfo;
  memset(&dinfo, 0, sizeof(dinfo));
  JpegErrors errors;
  memset(&errors, 0, sizeof(errors));
  dinfo.err = jpeg_std_error(&errors.manager);
  errors.manager.error_exit = error_exit;
  errors.manager.emit_message = emit_message;
  errors.manager.output_message = output_message;
  errors.why = why;
  errors.why_size = why_size;
  JpegProgress state;
  memset(&state, 0, sizeof(state));
  state.manager.progress_monitor = progress;
  state.sink = &sink;
  state.errors = &errors;
  if (why_size > 0) why[0] = '\0';
  const ImageResult result = decode(&dinfo, &errors, &state, file, limits, sink);
  jpeg_destroy_decompress(&dinfo);
  return result;
}
