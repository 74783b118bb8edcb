// JPEG and PNG documents, decoded by our own code (app/image_decode.h) within the printer's
// limits and sent as one PostScript page each: the image placed on the job's medium as
// print-scaling asks (fit, fill, none; auto fits an image larger than the printable area and
// centres a smaller one at its own resolution), turned a quarter when its shape is the other
// way round from the page's, after the colour-profile block and with the job's option code.
// Registered as MIME filters to application/postscript, which PAPPL picks before its own
// image filters.
#ifndef ZORV_APP_IMAGE_JOB_H
#define ZORV_APP_IMAGE_JOB_H

#include <pappl/pappl.h>

#include "app/ps_raster.h"

// The MIME filters; data is unused.
bool printJpegDocument(pappl_job_t* job, pappl_device_t* device, void* data);
bool printPngDocument(pappl_job_t* job, pappl_device_t* device, void* data);

// An image's resolution when it names none, in pixels per inch.
inline constexpr double kDefaultImagePpi = 150.0;

// Where an image of width x height pixels at x_ppi by y_ppi (0: kDefaultImagePpi) goes on the
// medium of options (its size and margins) for its print-scaling: sets the placement fields
// of page (place_x, place_y, place_width, place_height, rotated).
void placeImage(const pappl_pr_options_t& options, unsigned width, unsigned height, double x_ppi,
                double y_ppi, PsPage* page);

#endif  // ZORV_APP_IMAGE_JOB_H
