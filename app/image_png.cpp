// PNG documents decoded by libpng within the printer's limits, one line at a time.
#include <png.h>

#include <csetjmp>
#include <cstdlib>
#include <cstring>

#include "app/image_decode.h"
#include "log/text.h"

namespace {

constexpr double kInchesPerMetre = 0.0254;
// Memory libpng may give one ancillary chunk, and how many it keeps: the image needs none.
constexpr png_alloc_size_t kChunkMemory = png_alloc_size_t{1} << 20;
constexpr png_uint_32 kChunkCache = 64;
// Chunks whose contents the printer does not need, skipped unread (a compressed text or
// profile could otherwise cost memory and time).
constexpr png_byte kSkippedChunks[] = "iCCP\0" "iTXt\0" "tEXt\0" "zTXt\0" "sPLT\0" "eXIf\0" "tIME";

struct PngState {
  jmp_buf exit;
  ImageResult result;
  char* why;
  size_t why_size;
  FILE* file;
  unsigned char* image;  // an interlaced image, whole; freed by decodePng
  unsigned char* row;    // one line as libpng delivers it; freed by decodePng
  unsigned char* out;    // one line as the sink gets it; freed by decodePng
};

[[noreturn]] void png_fail(png_structp png, png_const_charp message) {
  PngState* state = static_cast<PngState*>(png_get_error_ptr(png));
  state->result = ImageResult::kBroken;
  if (feof(state->file) != 0) {
    copy_text(state->why, state->why_size, "the PNG data is cut short");
  } else {
    format_text(state->why, state->why_size, "the PNG data is damaged: %s", message);
  }
  longjmp(state->exit, 1);
}

void png_warn(png_structp, png_const_charp) {}

// A line of 1 to 4 samples a pixel (gray, gray and alpha, RGB, RGB and alpha) as gray or
// RGB, transparency laid on white paper.
void flatten(const unsigned char* in, unsigned char* out, unsigned width, unsigned channels) {
  const bool alpha = channels == 2 || channels == 4;
  const unsigned colors = alpha ? channels - 1 : channels;
  for (unsigned x = 0; x < width; x++, in += channels, out += colors) {
    const unsigned a = alpha ? in[colors] : 255u;
    for (unsigned c = 0; c < colors; c++) {
      out[c] = static_cast<unsigned char>((in[c] * a + 255u * (255u - a)) / 255u);
    }
  }
}

// The decoding itself, between setjmp and the library's cleanup: no object with a destructor
// lives here, since an error leaves by longjmp.
ImageResult decode(png_structp png, png_infop info, PngState* state, const JobLimits& limits,
                   const ImageSink& sink) {
  if (setjmp(state->exit) != 0) return state->result;
  png_set_user_limits(png, PNG_UINT_31_MAX, PNG_UINT_31_MAX);
  png_set_chunk_malloc_max(png, kChunkMemory);
  png_set_chunk_cache_max(png, kChunkCache);
  png_set_keep_unknown_chunks(png, PNG_HANDLE_CHUNK_NEVER, kSkippedChunks,
                              static_cast<int>(sizeof(kSkippedChunks) / 5));
  png_init_io(png, state->file);
  png_read_info(png, info);
  const png_uint_32 width = png_get_image_width(png, info);
  const png_uint_32 height = png_get_image_height(png, info);
  if (!withinImageLimits(limits, width, height, state->why, state->why_size)) {
    return ImageResult::kRefused;
  }
  png_set_expand(png);
  png_set_strip_16(png);
  const int passes = png_set_interlace_handling(png);
  png_read_update_info(png, info);
  const unsigned channels = png_get_channels(png, info);
  const size_t row_bytes = png_get_rowbytes(png, info);
  if (channels < 1 || channels > 4 || row_bytes != size_t{width} * channels) {
    copy_text(state->why, state->why_size, "the PNG image has a pixel layout it cannot have");
    return ImageResult::kBroken;
  }
  ImageInfo image;
  image.width = width;
  image.height = height;
  image.colors = channels >= 3 ? 3 : 1;
  png_uint_32 x_ppm = 0;
  png_uint_32 y_ppm = 0;
  int unit = 0;
  if (png_get_pHYs(png, info, &x_ppm, &y_ppm, &unit) != 0 && unit == PNG_RESOLUTION_METER) {
    image.x_ppi = x_ppm * kInchesPerMetre;
    image.y_ppi = y_ppm * kInchesPerMetre;
  }
  if (passes > 1 && row_bytes * height > kDecoderMemoryLimit) {
    format_text(state->why, state->why_size,
                "the interlaced PNG image needs more than %zu MiB to decode",
                kDecoderMemoryLimit >> 20);
    return ImageResult::kRefused;
  }
  state->out = static_cast<unsigned char*>(malloc(size_t{width} * image.colors));
  state->row = static_cast<unsigned char*>(malloc(row_bytes));
  if (passes > 1) state->image = static_cast<unsigned char*>(calloc(height, row_bytes));
  if (state->out == nullptr || state->row == nullptr || (passes > 1 && state->image == nullptr)) {
    copy_text(state->why, state->why_size, "out of memory");
    return ImageResult::kRefused;
  }
  if (!sink.begin(sink.context, image)) return ImageResult::kStopped;
  // An interlaced image comes whole after its last pass; each pass reads every row.
  for (int pass = 0; pass + 1 < passes; pass++) {
    for (png_uint_32 y = 0; y < height; y++) {
      png_read_row(png, state->image + y * row_bytes, nullptr);
      if (y % 64 == 0 && sink.going != nullptr && !sink.going(sink.context)) {
        return ImageResult::kStopped;
      }
    }
  }
  for (png_uint_32 y = 0; y < height; y++) {
    unsigned char* row = passes > 1 ? state->image + y * row_bytes : state->row;
    png_read_row(png, row, nullptr);
    flatten(row, state->out, width, channels);
    if (!sink.line(sink.context, state->out)) return ImageResult::kStopped;
  }
  png_read_end(png, nullptr);
  return ImageResult::kDone;
}

}  // namespace

ImageResult decodePng(FILE* file, const JobLimits& limits, const ImageSink& sink, char* why,
                      size_t why_size) {
  if (why_size > 0) why[0] = '\0';
  PngState state;
  memset(&state, 0, sizeof(state));
  state.why = why;
  state.why_size = why_size;
  state.file = file;
  png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &state, png_fail, png_warn);
  png_infop info = png != nullptr ? png_create_info_struct(png) : nullptr;
  if (info == nullptr) {
    png_destroy_read_struct(&png, nullptr, nullptr);
    copy_text(why, why_size, "out of memory");
    return ImageResult::kRefused;
  }
  const ImageResult result = decode(png, info, &state, limits, sink);
  png_destroy_read_struct(&png, &info, nullptr);
  free(state.image);
  free(state.row);
  free(state.out);
  return result;
}
