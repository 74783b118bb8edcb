// Raster pages as PostScript images: run-length encoded, in ASCII85, one output block.
#include "app/ps_raster.h"

#include <cstdio>
#include <cstring>

namespace {

constexpr size_t kLinePiece = 4096;  // raster bytes encoded at a time
constexpr size_t kMaxRun = 128;
constexpr unsigned char kEndOfData = 128;
constexpr unsigned kAscii85Columns = 76;
constexpr size_t kTextSize = 1024;
// The largest page the writer describes: a metre at 2400 dpi, in either direction.
constexpr unsigned kMaxPixels = 96000;

constexpr char kHeader[] =
    "%!PS-Adobe-3.0\n"
    "%%Creator: zorv-printer-app\n"
    "%%LanguageLevel: 2\n"
    "%%Pages: (atend)\n"
    "%%EndComments\n"
    "%%BeginProlog\n"
    "%%EndProlog\n"
    "%%BeginSetup\n";
constexpr char kEndSetup[] = "%%EndSetup\n";
// The image reads the run-length filter, which reads the ASCII85 filter; once the image has
// its samples, the ASCII85 filter is read to its end, so that the interpreter goes on after
// the data's "~>" whatever the image left unread.
constexpr char kPageFormat[] =
    "%%%%Page: %u %u\n"
    "save\n"
    "/zorvA85 currentfile /ASCII85Decode filter def\n"
    "/zorvRLE zorvA85 /RunLengthDecode filter def\n"
    "%s"
    "/Device%s setcolorspace\n"
    "{<< /ImageType 1 /Width %u /Height %u /BitsPerComponent %u /Decode [%s]\n"
    "/ImageMatrix [%u 0 0 -%u 0 %u] /DataSource zorvRLE >> image\n"
    "zorvA85 flushfile} exec\n";
constexpr char kEndPage[] = "~>\nrestore\nshowpage\n";
constexpr char kTrailerFormat[] = "%%%%Trailer\n%%%%Pages: %u\n%%%%EOF\n";

bool flush(PsWriter* w) {
  if (w->failed) return false;
  if (w->used > 0 && !w->sink(w->context, w->block, w->used)) w->failed = true;
  w->used = 0;
  return !w->failed;
}

bool put(PsWriter* w, const char* text, size_t count) {
  while (count > 0) {
    if (w->used == sizeof(w->block) && !flush(w)) return false;
    size_t n = sizeof(w->block) - w->used;
    if (n > count) n = count;
    memcpy(w->block + w->used, text, n);
    w->used += n;
    text += n;
    count -= n;
  }
  return !w->failed;
}

bool put_text(PsWriter* w, const char* text) {
  return put(w, text, strlen(text));
}

void put_char(PsWriter* w, char c) {
  if (w->used == sizeof(w->block) && !flush(w)) return;
  w->block[w->used++] = c;
}

// One ASCII85 group of 4 bytes (n of them real, the rest zero) as n + 1 characters, or "z".
void put_group(PsWriter* w, const unsigned char* bytes, unsigned n) {
  uint32_t value = (uint32_t{bytes[0]} << 24) | (uint32_t{bytes[1]} << 16) |
                   (uint32_t{bytes[2]} << 8) | uint32_t{bytes[3]};
  if (n == 4 && value == 0) {
    put_char(w, 'z');
    w->column++;
  } else {
    char digits[5];
    for (int i = 4; i >= 0; i--) {
      digits[i] = static_cast<char>('!' + value % 85);
      value /= 85;
    }
    for (unsigned i = 0; i <= n; i++) put_char(w, digits[i]);
    w->column += n + 1;
  }
  if (w->column >= kAscii85Columns) {
    put_char(w, '\n');
    w->column = 0;
  }
}

void put_ascii85(PsWriter* w, const unsigned char* data, size_t count) {
  for (size_t i = 0; i < count; i++) {
    w->tuple[w->tuple_count++] = data[i];
    if (w->tuple_count == 4) {
      put_group(w, w->tuple, 4);
      w->tuple_count = 0;
    }
  }
}

void finish_ascii85(PsWriter* w) {
  if (w->tuple_count > 0) {
    for (unsigned i = w->tuple_count; i < 4; i++) w->tuple[i] = 0;
    put_group(w, w->tuple, w->tuple_count);
  }
  w->tuple_count = 0;
  w->column = 0;
}

// count bytes of raster, run-length encoded, in ASCII85.
void put_raster(PsWriter* w, const unsigned char* data, size_t count) {
  unsigned char encoded[runLengthBound(kLinePiece)];
  for (size_t done = 0; done < count && !w->failed;) {
    const size_t n = count - done < kLinePiece ? count - done : kLinePiece;
    put_ascii85(w, encoded, runLengthEncode(data + done, n, encoded));
    done += n;
  }
}

// A line of no ink: white for additive colours, zero for ink.
void put_blank_line(PsWriter* w) {
  const unsigned char fill = w->page.additive ? 0xFF : 0x00;
  unsigned char run[2] = {static_cast<unsigned char>(257 - kMaxRun), fill};
  size_t left = w->row_bytes;
  for (; left >= kMaxRun; left -= kMaxRun) put_ascii85(w, run, 2);
  if (left == 1) {
    const unsigned char single[2] = {0, fill};
    put_ascii85(w, single, 2);
  } else if (left > 1) {
    run[0] = static_cast<unsigned char>(257 - left);
    put_ascii85(w, run, 2);
  }
}

const char* color_space(const PsPage& page) {
  return page.colors == 1 ? "Gray" : page.colors == 3 ? "RGB" : "CMYK";
}

const char* decode_array(const PsPage& page) {
  if (page.colors == 1) return page.additive ? "0 1" : "1 0";
  return page.colors == 3 ? "0 1 0 1 0 1" : "0 1 0 1 0 1 0 1";
}

}  // namespace

size_t runLengthEncode(const unsigned char* data, size_t count, unsigned char* out) {
  size_t o = 0;
  size_t i = 0;
  while (i < count) {
    size_t run = 1;
    while (i + run < count && run < kMaxRun && data[i + run] == data[i]) run++;
    // Runs of three or more; a pair stays inside a literal, which keeps the output within
    // runLengthBound.
    if (run >= 3) {
      out[o++] = static_cast<unsigned char>(257 - run);
      out[o++] = data[i];
      i += run;
      continue;
    }
    size_t end = i;
    while (end < count && end - i < kMaxRun &&
           !(end + 2 < count && data[end] == data[end + 1] && data[end] == data[end + 2])) {
      end++;
    }
    const size_t literal = end - i;
    out[o++] = static_cast<unsigned char>(literal - 1);
    memcpy(out + o, data + i, literal);
    o += literal;
    i = end;
  }
  return o;
}

bool psBeginDocument(PsWriter* writer, PsSink sink, void* context, const char* setup_code) {
  writer->sink = sink;
  writer->context = context;
  writer->failed = false;
  writer->pages = 0;
  writer->used = 0;
  put_text(writer, kHeader);
  if (setup_code != nullptr) put_text(writer, setup_code);
  return put_text(writer, kEndSetup);
}

bool psBeginPage(PsWriter* writer, const PsPage& page) {
  if (writer->failed) return false;
  const bool depth_ok = page.bits_per_color == 8 || (page.bits_per_color == 1 && page.colors == 1);
  const bool colors_ok = page.colors == 1 || page.colors == 3 || page.colors == 4;
  if (!depth_ok || !colors_ok || page.width == 0 || page.height == 0 || page.x_dpi == 0 ||
      page.y_dpi == 0 || page.width > kMaxPixels || page.height > kMaxPixels) {
    return false;
  }
  const uint64_t bits = uint64_t{page.width} * page.colors * page.bits_per_color;
  if (uint64_t{page.bytes_per_line} * 8 < bits) return false;

  writer->page = page;
  // Bytes beyond the row's samples (padding of the raster) are not image data.
  writer->row_bytes = static_cast<unsigned>((bits + 7) / 8);
  writer->lines = 0;
  writer->tuple_count = 0;
  writer->column = 0;
  writer->pages++;
  char place[kTextSize / 2];
  if (page.place_width <= 0 || page.place_height <= 0) {
    snprintf(place, sizeof(place), "%.4f %.4f scale\n", page.width * 72.0 / page.x_dpi,
             page.height * 72.0 / page.y_dpi);
  } else if (page.rotated) {
    // Turned left, the image's width runs up the page and its top faces left.
    snprintf(place, sizeof(place), "%.4f %.4f translate 90 rotate %.4f %.4f scale\n",
             page.place_x + page.place_width, page.place_y, page.place_height, page.place_width);
  } else {
    snprintf(place, sizeof(place), "%.4f %.4f translate %.4f %.4f scale\n", page.place_x,
             page.place_y, page.place_width, page.place_height);
  }
  char text[kTextSize];
  snprintf(text, sizeof(text), kPageFormat, writer->pages, writer->pages, place, color_space(page),
           page.width, page.height, page.bits_per_color, decode_array(page), page.width,
           page.height, page.height);
  return put_text(writer, text);
}

bool psWriteLine(PsWriter* writer, const unsigned char* line) {
  if (writer->failed || writer->lines >= writer->page.height) return !writer->failed;
  writer->lines++;
  put_raster(writer, line, writer->row_bytes);
  return !writer->failed;
}

bool psEndPage(PsWriter* writer) {
  for (; writer->lines < writer->page.height && !writer->failed; writer->lines++) {
    put_blank_line(writer);
  }
  put_ascii85(writer, &kEndOfData, 1);
  finish_ascii85(writer);
  return put_text(writer, kEndPage);
}

bool psEndPageNow(PsWriter* writer) {
  writer->lines = writer->page.height;
  return psEndPage(writer);
}

bool psEndDocument(PsWriter* writer) {
  char text[kTextSize];
  snprintf(text, sizeof(text), kTrailerFormat, writer->pages);
  put_text(writer, text);
  return flush(writer);
}
