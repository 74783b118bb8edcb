// PNG and JPEG documents for the tests, made by libpng and libjpeg.
#include "support/images.h"

#include <png.h>
#include <zlib.h>

#include <csetjmp>
#include <cstdio>
#include <vector>

#include <jpeglib.h>

#include "support/bytes.h"
#include "support/cupsd.h"
#include "support/paths.h"
#include "support/program.h"

namespace {

void append_to(png_structp png, png_bytep data, png_size_t length) {
  static_cast<std::string*>(png_get_io_ptr(png))->append(reinterpret_cast<char*>(data), length);
}

void flush_nothing(png_structp) {}

unsigned channels_of(int color_type) {
  switch (color_type) {
    case PNG_COLOR_TYPE_RGB:
      return 3;
    case PNG_COLOR_TYPE_GRAY_ALPHA:
      return 2;
    case PNG_COLOR_TYPE_RGB_ALPHA:
      return 4;
    default:
      return 1;
  }
}

// One chunk: length, type, data, CRC of type and data.
std::string chunk(const char* type, const std::string& data) {
  std::string out;
  const uint32_t length = static_cast<uint32_t>(data.size());
  for (int shift = 24; shift >= 0; shift -= 8) out += static_cast<char>((length >> shift) & 0xff);
  const std::string body = std::string(type, 4) + data;
  out += body;
  const uint32_t crc = crc32(0, reinterpret_cast<const Bytef*>(body.data()),
                             static_cast<uInt>(body.size()));
  for (int shift = 24; shift >= 0; shift -= 8) out += static_cast<char>((crc >> shift) & 0xff);
  return out;
}

std::string big_endian(uint32_t value) {
  std::string out;
  for (int shift = 24; shift >= 0; shift -= 8) out += static_cast<char>((value >> shift) & 0xff);
  return out;
}

}  // namespace

std::string png_document(const PngShape& shape, uint32_t seed) {
  std::string out;
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png != nullptr ? png_create_info_struct(png) : nullptr;
  if (info == nullptr || setjmp(png_jmpbuf(png)) != 0) {
    png_destroy_write_struct(&png, &info);
    return "";
  }
  png_set_write_fn(png, &out, append_to, flush_nothing);
  png_set_IHDR(png, info, shape.width, shape.height, shape.bit_depth, shape.color_type,
               shape.interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE,
               PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  if (shape.color_type == PNG_COLOR_TYPE_PALETTE) {
    png_color palette[256];
    for (int i = 0; i < 256; i++) {
      palette[i].red = static_cast<png_byte>(i);
      palette[i].green = static_cast<png_byte>(255 - i);
      palette[i].blue = static_cast<png_byte>(i * 7);
    }
    png_set_PLTE(png, info, palette, 1 << (shape.bit_depth < 8 ? shape.bit_depth : 8));
  }
  if (shape.x_ppm > 0) {
    png_set_pHYs(png, info, shape.x_ppm, shape.y_ppm, PNG_RESOLUTION_METER);
  }
  png_write_info(png, info);
  const size_t row_bytes =
      (size_t{shape.width} * channels_of(shape.color_type) * shape.bit_depth + 7) / 8;
  const std::string noise = pseudo_random_bytes(row_bytes * 2 + 1, seed);
  std::vector<std::string> rows(shape.height);
  std::vector<png_bytep> pointers(shape.height);
  for (unsigned y = 0; y < shape.height; y++) {
    rows[y] = noise.substr(y % 2, row_bytes);
    pointers[y] = reinterpret_cast<png_bytep>(rows[y].data());
  }
  png_write_image(png, pointers.data());
  png_write_end(png, nullptr);
  png_destroy_write_struct(&png, &info);
  return out;
}

std::string png_header_claiming(uint32_t width, uint32_t height) {
  std::string ihdr = big_endian(width) + big_endian(height);
  ihdr += std::string("\x08\x00\x00\x00\x00", 5);  // 8-bit gray, not interlaced
  const std::string row(64, '\0');
  uLongf size = compressBound(row.size());
  std::string compressed(size, '\0');
  compress(reinterpret_cast<Bytef*>(compressed.data()), &size,
           reinterpret_cast<const Bytef*>(row.data()), row.size());
  compressed.resize(size);
  return std::string("\x89PNG\r\n\x1a\n", 8) + chunk("IHDR", ihdr) + chunk("IDAT", compressed) +
         chunk("IEND", "");
}

std::string jpeg_document(const JpegShape& shape, uint32_t seed) {
  jpeg_compress_struct cinfo;
  jpeg_error_mgr errors;
  cinfo.err = jpeg_std_error(&errors);
  jpeg_create_compress(&cinfo);
  unsigned char* buffer = nullptr;
  unsigned long size = 0;
  jpeg_mem_dest(&cinfo, &buffer, &size);
  cinfo.image_width = shape.width;
  cinfo.image_height = shape.height;
  cinfo.input_components = shape.components;
  cinfo.in_color_space =
      shape.components == 1 ? JCS_GRAYSCALE : (shape.components == 4 ? JCS_CMYK : JCS_RGB);
  jpeg_set_defaults(&cinfo);
  cinfo.density_unit = static_cast<UINT8>(shape.density_unit);
  cinfo.X_density = static_cast<UINT16>(shape.x_density);
  cinfo.Y_density = static_cast<UINT16>(shape.y_density);
  std::vector<jpeg_scan_info> scans;
  if (shape.many_scans) {
    // One component: its DC, then every AC coefficient alone, refined bit by bit.
    jpeg_set_colorspace(&cinfo, JCS_GRAYSCALE);
    scans.push_back({1, {0, 0, 0, 0}, 0, 0, 0, 0});
    for (int k = 1; k < 64; k++) {
      scans.push_back({1, {0, 0, 0, 0}, k, k, 0, 4});
      for (int al = 3; al >= 0; al--) scans.push_back({1, {0, 0, 0, 0}, k, k, al + 1, al});
    }
    cinfo.scan_info = scans.data();
    cinfo.num_scans = static_cast<int>(scans.size());
  } else if (shape.progressive) {
    jpeg_simple_progression(&cinfo);
  }
  jpeg_start_compress(&cinfo, TRUE);
  const size_t row_bytes = size_t{shape.width} * static_cast<size_t>(shape.components);
  const std::string noise = shape.fill >= 0
                                ? std::string(row_bytes * 2 + 1, static_cast<char>(shape.fill))
                                : pseudo_random_bytes(row_bytes * 2 + 1, seed);
  while (cinfo.next_scanline < cinfo.image_height) {
    std::string row = noise.substr(cinfo.next_scanline % 2, row_bytes);
    JSAMPROW pointer = reinterpret_cast<JSAMPROW>(row.data());
    jpeg_write_scanlines(&cinfo, &pointer, 1);
  }
  jpeg_finish_compress(&cinfo);
  jpeg_destroy_compress(&cinfo);
  std::string out(reinterpret_cast<char*>(buffer), size);
  free(buffer);
  return out;
}

std::string jpeg_claiming(const std::string& jpeg, uint16_t width, uint16_t height) {
  std::string out = jpeg;
  // The frame header (SOF0 or SOF2): marker, length, precision, height, width.
  for (size_t i = 2; i + 9 < out.size(); i++) {
    if (out[i] == '\xff' && (out[i + 1] == '\xc0' || out[i + 1] == '\xc2')) {
      out[i + 5] = static_cast<char>(height >> 8);
      out[i + 6] = static_cast<char>(height & 0xff);
      out[i + 7] = static_cast<char>(width >> 8);
      out[i + 8] = static_cast<char>(width & 0xff);
      break;
    }
  }
  return out;
}

std::string pdf_document(const std::string& postscript, const std::vector<std::string>& arguments) {
  TempDir dir;
  ProgramRun gs;
  gs.path = system_program("gs");
  gs.args = {"gs", "-q", "-dSAFER", "-dBATCH", "-dNOPAUSE", "-sDEVICE=pdfwrite",
             "-sOutputFile=" + dir.file("out.pdf")};
  gs.args.insert(gs.args.end(), arguments.begin(), arguments.end());
  gs.args.push_back("-");
  gs.env = filter_environment();
  gs.input = postscript;
  const ProgramResult result = run_program(gs);
  return result.exited && result.status == 0 ? read_file(dir.file("out.pdf")) : "";
}
