// The Printer Application's image documents in process: the decoders' lines (colours,
// transparency, CMYK, a sink that stops), the limits made from a PPD, and where an image goes
// on the page for each print-scaling.
#include <cstdio>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "app/image_decode.h"
#include "app/image_job.h"
#include "app/job_limits.h"
#include "probe/ppd_handles.h"
#include "support/bytes.h"
#include "support/images.h"

namespace {

struct Lines {
  ImageInfo info;
  std::vector<std::string> rows;
  size_t stop_after = SIZE_MAX;
};

bool begin(void* context, const ImageInfo& info) {
  static_cast<Lines*>(context)->info = info;
  return true;
}

bool line(void* context, const unsigned char* pixels) {
  Lines* lines = static_cast<Lines*>(context);
  lines->rows.emplace_back(reinterpret_cast<const char*>(pixels),
                           size_t{lines->info.width} * lines->info.colors);
  return lines->rows.size() < lines->stop_after;
}

JobLimits roomy() {
  JobLimits limits;
  limits.max_side = 4096;
  limits.max_pixels = 1 << 22;
  limits.resolution = 600;
  return limits;
}

ImageResult decode(ImageResult (*decoder)(FILE*, const JobLimits&, const ImageSink&, char*, size_t),
                   std::string data, Lines* lines, std::string* why) {
  FILE* file = fmemopen(data.data(), data.size(), "rb");
  char text[kImageWhySize] = "";
  const ImageResult result = decoder(file, roomy(), {lines, begin, line, nullptr}, text,
                                     sizeof(text));
  fclose(file);
  *why = text;
  return result;
}

TEST(ImageDecode, PngTransparencyLiesOnWhitePaper) {
  // Gray and alpha, 8 bits: each pixel's gray over white by its alpha.
  const PngShape shape{5, 2, 4, 8, false, 3937, 3937};
  Lines lines;
  std::string why;
  ASSERT_EQ(decode(decodePng, png_document(shape, 8), &lines, &why), ImageResult::kDone) << why;
  EXPECT_EQ(lines.info.colors, 1u);
  EXPECT_NEAR(lines.info.x_ppi, 100.0, 0.01);
  ASSERT_EQ(lines.rows.size(), 2u);
  const std::string noise = pseudo_random_bytes(5 * 2 * 2 + 1, 8);
  for (unsigned y = 0; y < 2; y++) {
    for (unsigned x = 0; x < 5; x++) {
      const unsigned gray = static_cast<unsigned char>(noise[y % 2 + 2 * x]);
      const unsigned alpha = static_cast<unsigned char>(noise[y % 2 + 2 * x + 1]);
      EXPECT_EQ(static_cast<unsigned char>(lines.rows[y][x]),
                (gray * alpha + 255 * (255 - alpha)) / 255);
    }
  }
}

TEST(ImageDecode, EveryPngShapeBecomesGrayOrRgbLines) {
  const struct {
    PngShape shape;
    unsigned colors;
  } cases[] = {
      {{7, 3, 0, 1, false, 0, 0}, 1},  {{7, 3, 0, 16, true, 0, 0}, 1},
      {{7, 3, 3, 2, false, 0, 0}, 3},  {{7, 3, 6, 16, true, 0, 0}, 3},
      {{7, 3, 2, 8, true, 1, 2}, 3},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.shape.color_type) + "/" + std::to_string(c.shape.bit_depth));
    Lines lines;
    std::string why;
    ASSERT_EQ(decode(decodePng, png_document(c.shape), &lines, &why), ImageResult::kDone) << why;
    EXPECT_EQ(lines.info.colors, c.colors);
    EXPECT_EQ(lines.rows.size(), 3u);
  }
}

TEST(ImageDecode, CmykJpegIsRgbAndAStoppingSinkStopsTheDecoder) {
  JpegShape white{8, 8, 4, false, 0, 1, 1, false, 255};
  Lines lines;
  std::string why;
  ASSERT_EQ(decode(decodeJpeg, jpeg_document(white), &lines, &why), ImageResult::kDone) << why;
  EXPECT_EQ(lines.info.colors, 3u);
  EXPECT_GE(static_cast<unsigned char>(lines.rows[3][4]), 250);
  JpegShape inked = white;
  inked.fill = 0;
  Lines black;
  ASSERT_EQ(decode(decodeJpeg, jpeg_document(inked), &black, &why), ImageResult::kDone) << why;
  EXPECT_LE(static_cast<unsigned char>(black.rows[3][4]), 5);

  Lines stopped;
  stopped.stop_after = 2;
  EXPECT_EQ(decode(decodeJpeg, jpeg_document({16, 16, 3, true, 0, 1, 1, false}), &stopped, &why),
            ImageResult::kStopped);
  EXPECT_EQ(stopped.rows.size(), 2u);
}

TEST(JobLimits, TheSamplePpdsLargestPageAtItsHighestResolutionTwice) {
  UniquePpd ppd(ppdOpenFile(SOURCE_DIR "/samples/zorv-sample.ppd"));
  ASSERT_NE(ppd, nullptr);
  const JobLimits limits = jobLimitsOf(ppd.get(), 300);
  // A4 (595 x 842 points) and 1200 dpi.
  EXPECT_EQ(limits.resolution, 1200u);
  EXPECT_EQ(limits.max_side, 28067u);
  char why[200];
  EXPECT_TRUE(withinImageLimits(limits, 19000, 14000, why, sizeof(why)));
  EXPECT_FALSE(withinImageLimits(limits, 28068, 10, why, sizeof(why)));
  EXPECT_FALSE(withinImageLimits(limits, 20000, 28000, why, sizeof(why)));
  EXPECT_STREQ(why,
               "20000x28000 pixels, more than the printer's largest page at 1200 dpi allows "
               "(28067 on a side, 556655555 in all)");
}

TEST(ImagePlacement, EachScalingPutsTheImageWhereItAsks) {
  pappl_pr_options_t options = {};
  options.media.size_width = 21000;  // A4, 5 mm margins
  options.media.size_length = 29700;
  options.media.left_margin = options.media.right_margin = 500;
  options.media.top_margin = options.media.bottom_margin = 500;
  // Images of half as wide as high, once placed: the area's height limits them.
  const double half_area_height = (29700 - 1000) * 72.0 / 2540 / 2;
  const struct {
    const char* name;
    pappl_scaling_t scaling;
    unsigned width, height;
    double ppi;
    bool rotated;
    double placed_width;  // on the page
  } cases[] = {
      {"small image, auto: its own size", PAPPL_SCALING_AUTO, 144, 72, 72, true, 72},
      {"small image, fit", PAPPL_SCALING_FIT, 100, 200, 72, false, half_area_height},
      {"large image, auto: fitted", PAPPL_SCALING_AUTO, 7200, 3600, 72, true, half_area_height},
      {"large image, none: its own size", PAPPL_SCALING_NONE, 7200, 3600, 72, true, 3600},
      {"fill: the whole page", PAPPL_SCALING_FILL, 100, 100, 72, false, 29700 * 72.0 / 2540},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    options.print_scaling = c.scaling;
    PsPage page;
    placeImage(options, c.width, c.height, c.ppi, c.ppi, &page);
    EXPECT_EQ(page.rotated, c.rotated);
    EXPECT_NEAR(page.place_width, c.placed_width, 0.01);
    // Centred on the area it is placed in.
    if (c.scaling != PAPPL_SCALING_FILL) {
      EXPECT_NEAR(page.place_x + page.place_width / 2, 21000 * 72.0 / 2540 / 2, 0.01);
    }
  }
}

}  // namespace
