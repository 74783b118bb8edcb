// Image and PDF documents for the tests of the Printer Application: PNG and JPEG files made by
// libpng and libjpeg with the shapes a client sends (gray, colour, alpha, interlaced,
// progressive, a resolution of their own), and the damaged and hostile ones a client may send
// (a header that claims any size, more scans than any encoder writes); PDF made by
// Ghostscript from PostScript.
#ifndef ZORV_TESTS_SUPPORT_IMAGES_H
#define ZORV_TESTS_SUPPORT_IMAGES_H

#include <cstdint>
#include <string>
#include <vector>

struct PngShape {
  unsigned width = 16;
  unsigned height = 16;
  int color_type = 2;  // PNG_COLOR_TYPE_*: 0 gray, 2 RGB, 3 palette, 4 gray+alpha, 6 RGB+alpha
  int bit_depth = 8;
  bool interlaced = false;
  uint32_t x_ppm = 0;  // pixels per metre; 0: no pHYs chunk
  uint32_t y_ppm = 0;
};

// A PNG of shape, its samples pseudo-random from seed; "" when libpng refuses the shape.
std::string png_document(const PngShape& shape, uint32_t seed = 1);

// A PNG whose header claims width x height, with a few bytes of image data: what a
// decompression bomb or a lying file looks like before its data is read.
std::string png_header_claiming(uint32_t width, uint32_t height);

struct JpegShape {
  unsigned width = 16;
  unsigned height = 16;
  int components = 3;  // 1 gray, 3 colour, 4 CMYK (stored as Adobe's programs do: 255 no ink)
  bool progressive = false;
  int density_unit = 0;  // 0 none, 1 per inch, 2 per centimetre
  int x_density = 1;
  int y_density = 1;
  bool many_scans = false;  // a progressive image of 316 scans (each AC band refined 4 times)
  int fill = -1;            // every sample this value; pseudo-random when negative
};

// A JPEG of shape, its samples pseudo-random from seed.
std::string jpeg_document(const JpegShape& shape, uint32_t seed = 1);

// The JPEG with the size in its frame header replaced by width x height.
std::string jpeg_claiming(const std::string& jpeg, uint16_t width, uint16_t height);

// The PDF that Ghostscript's pdfwrite makes of postscript, with its further arguments
// (-sUserPassword=..., for one); "" when it fails.
std::string pdf_document(const std::string& postscript,
                         const std::vector<std::string>& arguments = {});

#endif  // ZORV_TESTS_SUPPORT_IMAGES_H
