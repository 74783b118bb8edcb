// A printer's driver made from its PPD: the IPP capabilities and defaults that PAPPL
// publishes, the PPD choice behind each IPP value (for marking a job's options), and the
// vendor attribute zorv-ucs with the colour profiles that the vendor lookup finds.
#ifndef ZORV_APP_PPD_DRIVER_H
#define ZORV_APP_PPD_DRIVER_H

#include <cups/ppd.h>
#include <pappl/pappl.h>

#include <atomic>
#include <cstddef>

#include "app/handles.h"
#include "app/job_limits.h"
#include "colour/profile.h"
#include "probe/probe.h"

inline constexpr size_t kPpdPathSize = 1024;
inline constexpr size_t kDriverNameSize = 64;
// A PWG keyword of media, source or bin: the size of PAPPL's own fields for them.
inline constexpr size_t kKeywordSize = 64;
inline constexpr size_t kChoiceSize = PPD_MAX_NAME;
// "*Option Choice ..." pairs of one finishing, from *cupsIPPFinishings.
inline constexpr size_t kFinishingCodeSize = 256;
inline constexpr int kMaxProfiles = 64;
inline constexpr char kUcsAttribute[] = "zorv-ucs";
// The vendor attribute with the printer's installed choices, "Keyword=Choice" names: what a
// job takes the printer to have.
inline constexpr char kInstalledAttribute[] = "zorv-installed";
inline constexpr char kUcsDefault[] = "zorv-ucs-default";
inline constexpr char kUcsSupported[] = "zorv-ucs-supported";
// The zorv-ucs value that stands for the profile named like the printer, as a queue of the
// filters uses the queue's name when a job names no profile.
inline constexpr char kUcsAuto[] = "auto";

// IPP keywords paired with the PPD choices that stand for them.
template <int N>
struct ChoiceTable {
  int count = 0;
  char keyword[N][kKeywordSize] = {};
  char choice[N][kChoiceSize] = {};
};

// Indexes of the finishings that PAPPL knows, and their PAPPL bits.
enum FinishingIndex { kFinishStaple, kFinishPunch, kFinishTrim, kFinishCount };
inline constexpr pappl_finishings_t kFinishingBits[kFinishCount] = {
    PAPPL_FINISHINGS_STAPLE, PAPPL_FINISHINGS_PUNCH, PAPPL_FINISHINGS_TRIM};

struct PrinterAccessories;
struct AccessoryContext;
struct DeviceWatch;

// Everything of one printer that its driver data points into; PAPPL holds it as the driver
// data's extension and it is freed by the delete callback (freePpdDriver). Read-only once the
// printer exists, so that job threads may read it without a lock, but for the two atomics.
struct PpdDriver {
  char ppd_path[kPpdPathSize];
  char driver_name[kDriverNameSize];
  ChoiceTable<PAPPL_MAX_MEDIA> sizes;     // PWG media name -> PageSize
  ChoiceTable<PAPPL_MAX_SOURCE> sources;  // media-source -> InputSlot
  ChoiceTable<PAPPL_MAX_BIN> bins;        // output-bin -> OutputBin
  ChoiceTable<PAPPL_MAX_TYPE> types;      // media-type -> MediaType
  char duplex_choice[3][kChoiceSize];     // one-sided, long edge, short edge -> Duplex
  char color_choice[kChoiceSize];         // print-color-mode color -> ColorModel
  char mono_choice[kChoiceSize];          // print-color-mode monochrome -> ColorModel
  int num_resolutions;                    // the PPD's default resolution only
  int resolution_x[PAPPL_MAX_RESOLUTION];
  int resolution_y[PAPPL_MAX_RESOLUTION];
  char resolution_choice[PAPPL_MAX_RESOLUTION][kChoiceSize];  // "" without a Resolution option
  char finishing_code[kFinishCount][kFinishingCodeSize];
  char collate_choice[kChoiceSize];  // the Collate choice that collates, "" without one
  int language_level;                // *LanguageLevel, 2 when the PPD names none
  JobLimits limits;
  int num_profiles;
  char profiles[kMaxProfiles][kProfileNameSize];
  // The server's watch over the jobs writing to their printers (app/device_watch.h); null
  // where nothing watches (a driver made outside a server).
  DeviceWatch* watch;
  // The printer's accessories (app/accessories.h), once the printer exists, and what they are
  // registered with (null where nothing asks: a driver made outside a server).
  std::atomic<PrinterAccessories*> accessories;
  AccessoryContext* accessory_context;
};

// The PPD at path, open, when it can be a driver: null, with why (a PPD library message or
// "no page sizes"), when it does not open or has no page size.
UniquePpd openDriverPpd(const char* path, char* why, size_t why_size);

// Opens the PPD at path and fills data with its capabilities and defaults, the driver's
// callbacks left alone. data->extension gets a new PpdDriver (the caller owns it from then on:
// freePpdDriver); *attrs gets the vendor attributes (zorv-ucs-supported: "auto" and the
// profiles found; zorv-ucs-default: "auto"), owned by the caller. Returns false with why (a
// PPD library message) when the PPD does not open; nothing is then allocated.
bool loadPpdDriver(const char* path, const char* driver_name, pappl_pr_driver_data_t* data,
                   ipp_t** attrs, char* why, size_t why_size);
void freePpdDriver(PpdDriver* driver);
// The driver of a zorv printer (its driver data's extension); null for none.
PpdDriver* ppdDriverOf(pappl_printer_t* printer);

// The vendor attributes of a driver again (a new message, owned by the caller), for every
// later papplPrinterSetDriverData, which drops the vendor attributes it is not handed. The
// default is default_ucs when it is "auto" or one of the profiles, else "auto".
UniqueIpp ppdVendorAttributes(const PpdDriver& driver, const char* default_ucs);

// The profile names of every vendor installation (vendor order, then name order, each name
// once, at most kMaxProfiles) that can be IPP keywords (letters, digits, '-', '_', '.'): the
// values of zorv-ucs-supported besides "auto". Returns their count.
int findProfileNames(char (*names)[kProfileNameSize], int max_names);

// The media-col of the PPD page size choice, in source, with the printer-wide margins;
// false when the PPD has no such size among the driver's.
bool mediaColOfSize(ppd_file_t* ppd, const PpdDriver& driver, const pappl_pr_driver_data_t& data,
                    const char* choice, const char* source, pappl_media_col_t* col);

// "600dpi" or "600x1200dpi" into *x and *y; false for anything else.
bool parseResolution(const char* text, int* x, int* y);

// The IPP keyword for a PPD choice name: "Tray1" -> "tray-1", "FaceUp" -> "face-up",
// "PF500" -> "pf-500"; terminated, cut to size - 1.
void keywordFromChoice(char* keyword, size_t size, const char* choice);

// The PWG media name of a PPD page size: the standard name for a known size, else a custom
// name with the size's dimensions.
void pwgNameOfSize(char* name, size_t size, const ppd_size_t& ppd_size);

// Calls visit(keyword, choice, data) for each "*Option Choice" pair of a *cupsIPPFinishings
// code, the keyword without its '*', until visit returns false; false when it did.
bool eachFinishingPair(const char* code,
                       bool (*visit)(const char* keyword, const char* choice, void* data),
                       void* data);

#endif  // ZORV_APP_PPD_DRIVER_H
