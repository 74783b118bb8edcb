// The image limits of a printer, from its PPD.
#include "app/job_limits.h"

#include <strings.h>

#include "app/ppd_driver.h"
#include "log/text.h"

namespace {

constexpr double kPointsPerInch = 72.0;

unsigned highest_resolution(ppd_file_t* ppd, int fallback_dpi) {
  int best = 0;
  int x = 0;
  int y = 0;
  ppd_option_t* option = ppdFindOption(ppd, "Resolution");
  for (int i = 0; option != nullptr && i < option->num_choices; i++) {
    if (parseResolution(option->choices[i].choice, &x, &y)) {
      if (x > best) best = x;
      if (y > best) best = y;
    }
  }
  ppd_attr_t* attr = ppdFindAttr(ppd, "DefaultResolution", nullptr);
  if (attr != nullptr && attr->value != nullptr && parseResolution(attr->value, &x, &y)) {
    if (x > best) best = x;
    if (y > best) best = y;
  }
  return static_cast<unsigned>(best > 0 ? best : fallback_dpi);
}

}  // namespace

JobLimits jobLimitsOf(ppd_file_t* ppd, int fallback_dpi) {
  JobLimits limits;
  limits.resolution = highest_resolution(ppd, fallback_dpi);
  double longest = 0;
  double largest_area = 0;
  for (int i = 0; i < ppd->num_sizes; i++) {
    const ppd_size_t& size = ppd->sizes[i];
    if (strcasecmp(size.name, "Custom") == 0 || size.width <= 0 || size.length <= 0) continue;
    if (size.width > longest) longest = size.width;
    if (size.length > longest) longest = size.length;
    if (double{size.width} * size.length > largest_area) largest_area = double{size.width} * size.length;
  }
  const double dots = limits.resolution / kPointsPerInch;
  limits.max_side = static_cast<unsigned>(longest * dots * kImageMarginFactor + 0.5);
  limits.max_pixels = static_cast<uint64_t>(largest_area * dots * dots * kImageMarginFactor *
                                            kImageMarginFactor);
  return limits;
}

bool withinImageLimits(const JobLimits& limits, uint64_t width, uint64_t height, char* why,
                       size_t why_size) {
  if (width <= limits.max_side && height <= limits.max_side &&
      width * height <= limits.max_pixels) {
    return true;
  }
  format_text(why, why_size,
              "%llux%llu pixels, more than the printer's largest page at %u dpi allows "
              "(%u on a side, %llu in all)",
              static_cast<unsigned long long>(width), static_cast<unsigned long long>(height),
              limits.resolution, limits.max_side, static_cast<unsigned long long>(limits.max_pixels));
  return false;
}
