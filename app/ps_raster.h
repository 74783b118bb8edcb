// Raster pages as PostScript: each page one LanguageLevel 2 image of the raster's lines,
// run-length encoded and in ASCII85, so that the document is 7-bit text that any PostScript
// printer and channel takes. Memory is one output block, whatever the page size.
#ifndef ZORV_APP_PS_RASTER_H
#define ZORV_APP_PS_RASTER_H

#include <cstddef>
#include <cstdint>

// Where the writer's bytes go; false stops the writer (a failed or cancelled job).
using PsSink = bool (*)(void* context, const void* bytes, size_t count);

inline constexpr size_t kPsBlockSize = 65536;

// The image of one page: what the raster header says of it.
struct PsPage {
  unsigned width = 0;           // pixels of a line
  unsigned height = 0;          // lines
  unsigned bytes_per_line = 0;  // as delivered to psWriteLine
  unsigned bits_per_color = 0;  // 1 or 8
  unsigned colors = 0;          // 1 (gray or black), 3 (RGB) or 4 (CMYK)
  bool additive = true;         // false: 0 is no ink (black and CMYK rasters)
  unsigned x_dpi = 0;
  unsigned y_dpi = 0;
  // Where an image goes on the page, in points from the lower left corner; a page without
  // (place_width 0) is a raster page: it fills the page from that corner at x_dpi by y_dpi.
  double place_x = 0;
  double place_y = 0;
  double place_width = 0;
  double place_height = 0;
  bool rotated = false;  // the image turned a quarter turn to the left in its place
};

// The writer of one document. The caller owns it (on the stack or in the job's data); it holds
// no other resource.
struct PsWriter {
  PsSink sink = nullptr;
  void* context = nullptr;
  bool failed = false;
  unsigned pages = 0;
  PsPage page;
  unsigned row_bytes = 0;       // bytes of image data in a line
  unsigned lines = 0;           // lines written on the current page
  unsigned char tuple[4] = {};  // ASCII85 bytes waiting for a whole group
  unsigned tuple_count = 0;
  unsigned column = 0;  // ASCII85 characters on the current output line
  size_t used = 0;
  char block[kPsBlockSize] = {};
};

// Starts a document: the header comments, then setup_code (the job's option code, may be
// empty) as the document setup. Every call returns false once the sink has refused bytes.
bool psBeginDocument(PsWriter* writer, PsSink sink, void* context, const char* setup_code);
// Starts a page: false (nothing written) for a page the writer cannot describe: no lines, no
// columns, a colour count or depth other than those above, or fewer bytes per line than the
// pixels need.
bool psBeginPage(PsWriter* writer, const PsPage& page);
// One line of bytes_per_line bytes; lines beyond the page's height are dropped.
bool psWriteLine(PsWriter* writer, const unsigned char* line);
// Ends the page: lines the raster did not deliver are blank, then the page is shown.
bool psEndPage(PsWriter* writer);
// Ends the page at once, for a job that stops: the image's data ends where it is, so that the
// interpreter paints no more of it and leaves the image, then the page is shown.
bool psEndPageNow(PsWriter* writer);
// Ends the document and hands the last bytes to the sink.
bool psEndDocument(PsWriter* writer);

// Run-length encodes count bytes of data into out (at most runLengthBound(count) bytes, no
// end-of-data mark) and returns the encoded length.
size_t runLengthEncode(const unsigned char* data, size_t count, unsigned char* out);
constexpr size_t runLengthBound(size_t count) {
  return count + (count + 127) / 128;
}

#endif  // ZORV_APP_PS_RASTER_H
