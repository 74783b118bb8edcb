// pappl_minimal: a PAPPL printer with nothing of the zorv Printer Application, for the
// conformance test and the benchmark: what PAPPL itself answers and how fast it prints, so that
// a failure of the application's printer that this printer shares is known to be PAPPL's, and
// the application's time has a floor. One driver: PostScript jobs (PAPPL types a document
// that starts with %! as PostScript) copied to the device as they are, raster jobs taken and
// dropped; the command line of papplMainloop.
#include <pappl/pappl.h>

#include <cstring>

namespace {

constexpr int kResolution = 300;
constexpr char kMedia[] = "iso_a4_210x297mm";

bool raw_print(pappl_job_t* job, pappl_pr_options_t*, pappl_device_t* device) {
  FILE* file = fopen(papplJobGetFilename(job), "rb");
  if (file == nullptr) return false;
  char buffer[65536];
  size_t n = 0;
  bool ok = true;
  while (ok && (n = fread(buffer, 1, sizeof(buffer), file)) > 0) {
    ok = papplDeviceWrite(device, buffer, n) >= 0;
  }
  fclose(file);
  return ok;
}

bool start_job(pappl_job_t*, pappl_pr_options_t*, pappl_device_t*) { return true; }
bool page(pappl_job_t*, pappl_pr_options_t*, pappl_device_t*, unsigned) { return true; }
// Raster lines are taken and dropped: the printer's output is not what the comparison is about.
bool line(pappl_job_t*, pappl_pr_options_t*, pappl_device_t*, unsigned, const unsigned char*) {
  return true;
}

bool make_driver(pappl_system_t*, const char*, const char*, const char*,
                 pappl_pr_driver_data_t* data, ipp_t**, void*) {
  strncpy(data->make_and_model, "Minimal PAPPL printer", sizeof(data->make_and_model) - 1);
  data->printfile_cb = raw_print;
  data->rstartjob_cb = start_job;
  data->rstartpage_cb = page;
  data->rwriteline_cb = line;
  data->rendpage_cb = page;
  data->rendjob_cb = start_job;
  data->format = "application/postscript";
  data->ppm = 1;
  data->num_resolution = 1;
  data->x_resolution[0] = data->y_resolution[0] = kResolution;
  data->x_default = data->y_default = kResolution;
  data->raster_types = PAPPL_PWG_RASTER_TYPE_SGRAY_8;
  data->color_supported = data->color_default = PAPPL_COLOR_MODE_MONOCHROME;
  data->content_default = PAPPL_CONTENT_AUTO;
  data->quality_default = IPP_QUALITY_NORMAL;
  data->scaling_default = PAPPL_SCALING_AUTO;
  data->sides_supported = data->sides_default = PAPPL_SIDES_ONE_SIDED;
  data->num_media = 1;
  data->media[0] = kMedia;
  data->num_source = 1;
  data->source[0] = "auto";
  data->num_type = 1;
  data->type[0] = "stationery";
  data->num_bin = 1;
  data->bin[0] = "face-down";
  strncpy(data->media_ready[0].size_name, kMedia, sizeof(data->media_ready[0].size_name) - 1);
  strncpy(data->media_ready[0].source, "auto", sizeof(data->media_ready[0].source) - 1);
  strncpy(data->media_ready[0].type, "stationery", sizeof(data->media_ready[0].type) - 1);
  data->media_ready[0].size_width = 21000;
  data->media_ready[0].size_length = 29700;
  data->media_default = data->media_ready[0];
  return true;
}

pappl_pr_driver_t g_drivers[] = {{"minimal", "Minimal PAPPL printer", nullptr, nullptr}};

}  // namespace

int main(int argc, char* argv[]) {
  return papplMainloop(argc, argv, "1.0", nullptr, 1, g_drivers, nullptr, make_driver, nullptr,
                       nullptr, nullptr, nullptr, nullptr);
}
