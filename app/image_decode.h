// The image documents a printer takes, decoded by our own code within the printer's limits:
// JPEG through libjpeg, PNG through libpng, one line at a time into a sink, as 8-bit gray or
// RGB. A decoder never prints, logs or spins: every error of the data, every limit and every
// stop by the sink ends it with a result and, but for a stop, a reason.
#ifndef ZORV_APP_IMAGE_DECODE_H
#define ZORV_APP_IMAGE_DECODE_H

#include <cstddef>
#include <cstdio>

#include "app/job_limits.h"

// What a decoder found, before the first line.
struct ImageInfo {
  unsigned width = 0;
  unsigned height = 0;
  unsigned colors = 0;  // 1 (gray) or 3 (RGB): the bytes of a pixel in each line
  double x_ppi = 0;     // the image's own resolution; 0 when it names none
  double y_ppi = 0;
};

// Where the lines go. begin is called once, before any line: false stops the decoder (the
// sink has its reason). line gets width * colors bytes, once per line from the top: false
// stops the decoder (a cancelled or failed job). going, when set, is asked during long steps
// that deliver no line (a progressive JPEG's scans): false stops the decoder.
struct ImageSink {
  void* context = nullptr;
  bool (*begin)(void* context, const ImageInfo& info) = nullptr;
  bool (*line)(void* context, const unsigned char* pixels) = nullptr;
  bool (*going)(void* context) = nullptr;
};

enum class ImageResult {
  kDone,     // every line went to the sink
  kStopped,  // the sink stopped it
  kRefused,  // beyond the limits (why says which)
  kBroken,   // not an image of the format, or its data is damaged or cut short (why)
};

inline constexpr size_t kImageWhySize = 200;

// Decodes the JPEG of file (read from its current position) into sink. The decoder holds at
// most kDecoderMemoryLimit besides one line, refuses images beyond limits and progressive
// images of more scans than any encoder writes, and takes data cut short for broken.
ImageResult decodeJpeg(FILE* file, const JobLimits& limits, const ImageSink& sink, char* why,
                       size_t why_size);

// Decodes the PNG of file the same way: colours expanded to 8-bit gray or RGB, transparency
// laid on white, 16-bit samples cut to 8; an interlaced image is read whole, within
// kDecoderMemoryLimit; ancillary chunks are bounded and otherwise ignored.
ImageResult decodePng(FILE* file, const JobLimits& limits, const ImageSink& sink, char* why,
                      size_t why_size);

#endif  // ZORV_APP_IMAGE_DECODE_H
