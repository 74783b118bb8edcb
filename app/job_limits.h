// What one job may cost the server: the largest image worth decoding for a printer (its PPD's
// largest medium at its highest resolution, with a margin), and the caps every job shares
// (pages of a document, memory of a decoder, time without progress at the printer).
#ifndef ZORV_APP_JOB_LIMITS_H
#define ZORV_APP_JOB_LIMITS_H

#include <cups/ppd.h>

#include <cstddef>
#include <cstdint>

// Pages of one document (before copies); a document with more is aborted at the next one.
inline constexpr unsigned kMaxDocumentPages = 1000;
// Memory a decoder may hold for one job (a progressive JPEG's coefficients, an interlaced
// PNG's rows), beyond its line buffers.
inline constexpr size_t kDecoderMemoryLimit = size_t{128} << 20;
// How much larger than the printer's largest page, in each direction, an image may be.
inline constexpr unsigned kImageMarginFactor = 2;

// The image limits of one printer, made once from its PPD.
struct JobLimits {
  unsigned max_side = 0;    // pixels of either side of an image or raster page
  uint64_t max_pixels = 0;  // pixels of one image or raster page
  unsigned resolution = 0;  // the PPD's highest resolution, in dpi
};

// The limits of a printer whose PPD is ppd: its largest page size (by area, and its longest
// side) at the highest resolution that its Resolution choices or *DefaultResolution name
// (fallback_dpi when none), times kImageMarginFactor in each direction.
JobLimits jobLimitsOf(ppd_file_t* ppd, int fallback_dpi);

// True when an image or page of width x height pixels is within limits; else false with the
// reason in why ("12000x9000 pixels, more than the printer's largest page at 600 dpi allows
// (9917x14033 at most)").
bool withinImageLimits(const JobLimits& limits, uint64_t width, uint64_t height, char* why,
                       size_t why_size);

#endif  // ZORV_APP_JOB_LIMITS_H
