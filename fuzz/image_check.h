// What the image decoders' fuzz targets check of one input: read from a stream in memory
// within small limits, the decoder calls begin once before any line, hands lines of
// width * colors bytes (each byte read, so that the sanitizers see a short buffer) and no more
// lines than the image has, delivers every line when it says done, and says why when it
// refuses or finds the data broken.
#ifndef ZORV_FUZZ_IMAGE_CHECK_H
#define ZORV_FUZZ_IMAGE_CHECK_H

#include <cstdint>
#include <cstdio>

#include "app/image_decode.h"
#include "fuzz_support.h"

struct ImageCheck {
  bool begun = false;
  ImageInfo info;
  unsigned lines = 0;
  unsigned sum = 0;
};

inline bool image_check_begin(void* context, const ImageInfo& info) {
  ImageCheck* check = static_cast<ImageCheck*>(context);
  if (check->begun) fuzz_fail("begun twice");
  if (info.width == 0 || info.height == 0 || (info.colors != 1 && info.colors != 3)) {
    fuzz_fail("an image of no pixels or colours");
  }
  check->begun = true;
  check->info = info;
  return true;
}

inline bool image_check_line(void* context, const unsigned char* pixels) {
  ImageCheck* check = static_cast<ImageCheck*>(context);
  if (!check->begun) fuzz_fail("a line before the image began");
  if (++check->lines > check->info.height) fuzz_fail("more lines than the image has");
  for (size_t i = 0; i < size_t{check->info.width} * check->info.colors; i++) check->sum += pixels[i];
  return true;
}

inline void check_image_decoder(ImageResult (*decode)(FILE*, const JobLimits&, const ImageSink&,
                                                      char*, size_t),
                                const uint8_t* data, size_t size) {
  FILE* file = fmemopen(const_cast<uint8_t*>(data), size, "rb");
  if (file == nullptr) return;
  JobLimits limits;
  limits.max_side = 2048;
  limits.max_pixels = 1 << 20;
  limits.resolution = 300;
  ImageCheck check;
  const ImageSink sink{&check, image_check_begin, image_check_line, nullptr};
  char why[kImageWhySize] = "x";
  const ImageResult result = decode(file, limits, sink, why, sizeof(why));
  fclose(file);
  if (result == ImageResult::kDone && (!check.begun || check.lines != check.info.height)) {
    fuzz_fail("done without every line");
  }
  if ((result == ImageResult::kRefused || result == ImageResult::kBroken) && why[0] == '\0') {
    fuzz_fail("no reason");
  }
  if (result == ImageResult::kStopped) fuzz_fail("stopped by a sink that never stops");
}

#endif  // ZORV_FUZZ_IMAGE_CHECK_H
