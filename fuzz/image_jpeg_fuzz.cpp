// Fuzzes the JPEG decoder of the Printer Application's image documents (fuzz/image_check.h
// says what each input is checked for).
#include <cstdint>

#include "image_check.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  check_image_decoder(decodeJpeg, data, size);
  return 0;
}
