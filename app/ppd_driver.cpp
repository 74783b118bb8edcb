// A printer's driver made from its PPD: capabilities, defaults, the choice behind each IPP
// value, and the zorv-ucs vendor attribute.
#include "app/ppd_driver.h"

#include <dirent.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "common/handles.h"
#include "log/text.h"

namespace {

// The PPD's resolution when it names none: what a PostScript printer renders images at.
constexpr int kFallbackResolution = 300;
constexpr int kFallbackPagesPerMinute = 1;
constexpr char kUcsExtension[] = ".ucs";

bool same(const char* a, const char* b) {
  return strcasecmp(a, b) == 0;
}

int points_to_pwg(float points) {
  return PWG_FROM_POINTS(points);
}

int margin_of(float points) {
  return points > 0 ? points_to_pwg(points) : 0;
}

ppd_choice_t* default_choice(ppd_file_t* ppd, const char* keyword) {
  ppd_option_t* option = ppdFindOption(ppd, keyword);
  return option != nullptr ? ppdFindChoice(option, option->defchoice) : nullptr;
}

// The page sizes, each with its PWG name and imageable area; the margins PAPPL applies to
// every size are the largest, so that nothing is placed where a size cannot print.
void load_sizes(ppd_file_t* ppd, PpdDriver* driver, pappl_pr_driver_data_t* data) {
  for (int i = 0; i < ppd->num_sizes && driver->sizes.count < PAPPL_MAX_MEDIA; i++) {
    const ppd_size_t& size = ppd->sizes[i];
    if (same(size.name, "Custom") || size.width <= 0 || size.length <= 0) continue;
    const int n = driver->sizes.count++;
    pwgNameOfSize(driver->sizes.keyword[n], kKeywordSize, size);
    copy_text(driver->sizes.choice[n], kChoiceSize, size.name);
    data->media[n] = driver->sizes.keyword[n];
    // An imageable area beyond the paper (a PPD's rounding) is no margin.
    const int left = margin_of(size.left);
    const int right = margin_of(size.width - size.right);
    const int bottom = margin_of(size.bottom);
    const int top = margin_of(size.length - size.top);
    if (left > data->left_right) data->left_right = left;
    if (right > data->left_right) data->left_right = right;
    if (bottom > data->bottom_top) data->bottom_top = bottom;
    if (top > data->bottom_top) data->bottom_top = top;
  }
  data->num_media = driver->sizes.count;
}

// One media-col of a size by its PPD name. Its margins are the printer's (the largest of any
// size): PAPPL publishes those for every size and refuses ready media with smaller ones, and a
// job placed within them prints on every size.
bool media_col_of(ppd_file_t* ppd, const PpdDriver& driver, const pappl_pr_driver_data_t& data,
                  const char* choice, const char* source, pappl_media_col_t* col) {
  ppd_size_t* size = ppdPageSize(ppd, choice);
  if (size == nullptr) return false;
  for (int i = 0; i < driver.sizes.count; i++) {
    if (strcmp(driver.sizes.choice[i], size->name) != 0) continue;
    memset(col, 0, sizeof(*col));
    copy_text(col->size_name, sizeof(col->size_name), driver.sizes.keyword[i]);
    copy_text(col->source, sizeof(col->source), source);
    // PAPPL checks ready media against the named size's own dimensions, which a PPD's whole
    // points only approach.
    pwg_media_t* pwg = pwgMediaForPWG(col->size_name);
    col->size_width = pwg != nullptr ? pwg->width : points_to_pwg(size->width);
    col->size_length = pwg != nullptr ? pwg->length : points_to_pwg(size->length);
    col->left_margin = col->right_margin = data.left_right;
    col->bottom_margin = col->top_margin = data.bottom_top;
    return true;
  }
  return false;
}

// The choices of a PickOne option as IPP keywords, up to N.
template <int N>
void load_choices(ppd_file_t* ppd, const char* keyword, ChoiceTable<N>* table) {
  ppd_option_t* option = ppdFindOption(ppd, keyword);
  if (option == nullptr) return;
  for (int i = 0; i < option->num_choices && table->count < N; i++) {
    const int n = table->count++;
    copy_text(table->choice[n], kChoiceSize, option->choices[i].choice);
    keywordFromChoice(table->keyword[n], kKeywordSize, option->choices[i].choice);
  }
}

template <int N>
int index_of_choice(const ChoiceTable<N>& table, const char* choice) {
  for (int i = 0; i < table.count; i++) {
    if (strcmp(table.choice[i], choice) == 0) return i;
  }
  return -1;
}

void load_sources_and_bins(ppd_file_t* ppd, PpdDriver* driver, pappl_pr_driver_data_t* data) {
  load_choices(ppd, "InputSlot", &driver->sources);
  // IPP clients expect a source for the ready media: a PPD without InputSlot has one, "auto",
  // with no choice to mark.
  if (driver->sources.count == 0) {
    driver->sources.count = 1;
    copy_text(driver->sources.keyword[0], kKeywordSize, "auto");
  }
  // The well-known names of automatic and manual feed, which clients show as such.
  for (int i = 0; i < driver->sources.count; i++) {
    if (same(driver->sources.choice[i], "AutoSelect")) {
      copy_text(driver->sources.keyword[i], kKeywordSize, "auto");
    } else if (same(driver->sources.choice[i], "ManualFeed")) {
      copy_text(driver->sources.keyword[i], kKeywordSize, "manual");
    }
    data->source[i] = driver->sources.keyword[i];
  }
  data->num_source = driver->sources.count;

  load_choices(ppd, "MediaType", &driver->types);
  // Every media-col names a type; plain paper when the PPD offers no choice.
  if (driver->types.count == 0) {
    driver->types.count = 1;
    copy_text(driver->types.keyword[0], kKeywordSize, "stationery");
  }
  for (int i = 0; i < driver->types.count; i++) data->type[i] = driver->types.keyword[i];
  data->num_type = driver->types.count;

  load_choices(ppd, "OutputBin", &driver->bins);
  for (int i = 0; i < driver->bins.count; i++) data->bin[i] = driver->bins.keyword[i];
  data->num_bin = driver->bins.count;
  ppd_choice_t* bin = default_choice(ppd, "OutputBin");
  const int bin_default = bin != nullptr ? index_of_choice(driver->bins, bin->choice) : -1;
  data->bin_default = bin_default >= 0 ? bin_default : 0;
}

// Media default and ready media: the default size in the default source, and the default
// size in every source.
void load_media_defaults(ppd_file_t* ppd, const PpdDriver& driver, pappl_pr_driver_data_t* data) {
  ppd_choice_t* size = default_choice(ppd, "PageSize");
  const char* size_name = size != nullptr ? size->choice : driver.sizes.choice[0];
  ppd_choice_t* slot = default_choice(ppd, "InputSlot");
  const int slot_index = slot != nullptr ? index_of_choice(driver.sources, slot->choice) : -1;
  const char* source = slot_index >= 0
                           ? driver.sources.keyword[slot_index]
                           : (driver.sources.count > 0 ? driver.sources.keyword[0] : "");
  if (!media_col_of(ppd, driver, *data, size_name, source, &data->media_default)) {
    media_col_of(ppd, driver, *data, driver.sizes.choice[0], source, &data->media_default);
  }
  ppd_choice_t* type = default_choice(ppd, "MediaType");
  const int type_index = type != nullptr ? index_of_choice(driver.types, type->choice) : -1;
  copy_text(data->media_default.type, sizeof(data->media_default.type),
            driver.types.keyword[type_index >= 0 ? type_index : 0]);
  for (int i = 0; i < driver.sources.count; i++) {
    data->media_ready[i] = data->media_default;
    copy_text(data->media_ready[i].source, sizeof(data->media_ready[i].source),
              driver.sources.keyword[i]);
  }
}

void load_duplex(ppd_file_t* ppd, PpdDriver* driver, pappl_pr_driver_data_t* data) {
  data->sides_supported = PAPPL_SIDES_ONE_SIDED;
  data->sides_default = PAPPL_SIDES_ONE_SIDED;
  ppd_option_t* duplex = ppdFindOption(ppd, "Duplex");
  if (duplex == nullptr) return;
  for (int i = 0; i < duplex->num_choices; i++) {
    const char* choice = duplex->choices[i].choice;
    int index = -1;
    if (same(choice, "None") || same(choice, "False") || same(choice, "Off")) index = 0;
    if (same(choice, "DuplexNoTumble") || same(choice, "LongEdge")) index = 1;
    if (same(choice, "DuplexTumble") || same(choice, "ShortEdge")) index = 2;
    if (index < 0 || driver->duplex_choice[index][0] != '\0') continue;
    copy_text(driver->duplex_choice[index], kChoiceSize, choice);
    data->sides_supported |= 1u << index;
    if (strcmp(choice, duplex->defchoice) == 0) data->sides_default = 1u << index;
  }
  if (data->sides_supported != PAPPL_SIDES_ONE_SIDED) data->duplex = PAPPL_DUPLEX_NORMAL;
}

// print-color-mode from ColorModel; a PPD without one prints as its device does.
void load_color(ppd_file_t* ppd, PpdDriver* driver, pappl_pr_driver_data_t* data) {
  static const char* const kMono[] = {"Gray", "Grayscale", "Black", "Mono", "Monochrome", "KGray"};
  static const char* const kColor[] = {"RGB", "CMYK", "Color", "CMY", "RGBA", "RGBW"};
  ppd_option_t* model = ppdFindOption(ppd, "ColorModel");
  for (int i = 0; model != nullptr && i < model->num_choices; i++) {
    const char* choice = model->choices[i].choice;
    for (const char* name : kMono) {
      if (same(choice, name) && driver->mono_choice[0] == '\0') {
        copy_text(driver->mono_choice, kChoiceSize, choice);
      }
    }
    for (const char* name : kColor) {
      if (same(choice, name) && driver->color_choice[0] == '\0') {
        copy_text(driver->color_choice, kChoiceSize, choice);
      }
    }
  }
  const bool color =
      driver->color_choice[0] != '\0' || (driver->mono_choice[0] == '\0' && ppd->color_device != 0);
  data->color_supported = 0;
  if (color) data->color_supported |= PAPPL_COLOR_MODE_COLOR;
  if (!color || driver->mono_choice[0] != '\0')
    data->color_supported |= PAPPL_COLOR_MODE_MONOCHROME;
  data->color_default = color ? PAPPL_COLOR_MODE_COLOR : PAPPL_COLOR_MODE_MONOCHROME;
  ppd_choice_t* marked = default_choice(ppd, "ColorModel");
  if (marked != nullptr && strcmp(marked->choice, driver->mono_choice) == 0) {
    data->color_default = PAPPL_COLOR_MODE_MONOCHROME;
  }
  // Raster documents become PostScript images in these colour spaces.
  data->raster_types = PAPPL_PWG_RASTER_TYPE_BLACK_1 | PAPPL_PWG_RASTER_TYPE_SGRAY_8;
  if (color) data->raster_types |= PAPPL_PWG_RASTER_TYPE_SRGB_8;
}

// The PPD's default resolution only: PAPPL renders raster documents at a resolution of its
// own choosing among those offered (the middle one for normal quality), and a raster page
// beyond the printer's usual resolution costs many times the bytes for nothing.
void load_resolutions(ppd_file_t* ppd, PpdDriver* driver, pappl_pr_driver_data_t* data) {
  int x = 0;
  int y = 0;
  ppd_choice_t* choice = default_choice(ppd, "Resolution");
  ppd_attr_t* attr = ppdFindAttr(ppd, "DefaultResolution", nullptr);
  if (choice != nullptr && parseResolution(choice->choice, &x, &y)) {
    copy_text(driver->resolution_choice[0], kChoiceSize, choice->choice);
  } else if (attr == nullptr || attr->value == nullptr || !parseResolution(attr->value, &x, &y)) {
    x = y = kFallbackResolution;
  }
  driver->num_resolutions = 1;
  driver->resolution_x[0] = x;
  driver->resolution_y[0] = y;
  data->num_resolution = 1;
  data->x_resolution[0] = data->x_default = x;
  data->y_resolution[0] = data->y_default = y;
}

// The finishings that the PPD maps to its options (*cupsIPPFinishings), folded into the three
// that PAPPL knows: the first code of each kind is the one marked.
void load_finishings(ppd_file_t* ppd, PpdDriver* driver, pappl_pr_driver_data_t* data) {
  for (ppd_attr_t* attr = ppdFindAttr(ppd, "cupsIPPFinishings", nullptr); attr != nullptr;
       attr = ppdFindNextAttr(ppd, "cupsIPPFinishings", nullptr)) {
    const int value = atoi(attr->spec);
    int index = -1;
    if (value == IPP_FINISHINGS_STAPLE ||
        (value >= IPP_FINISHINGS_STAPLE_TOP_LEFT && value <= IPP_FINISHINGS_STAPLE_TRIPLE_BOTTOM)) {
      index = kFinishStaple;
    } else if (value == IPP_FINISHINGS_PUNCH || (value >= IPP_FINISHINGS_PUNCH_TOP_LEFT &&
                                                 value <= IPP_FINISHINGS_PUNCH_MULTIPLE_BOTTOM)) {
      index = kFinishPunch;
    } else if (value == IPP_FINISHINGS_TRIM || (value >= IPP_FINISHINGS_TRIM_AFTER_PAGES &&
                                                value <= IPP_FINISHINGS_TRIM_AFTER_JOB)) {
      index = kFinishTrim;
    }
    if (index < 0 || attr->value == nullptr || driver->finishing_code[index][0] != '\0') continue;
    copy_text(driver->finishing_code[index], kFinishingCodeSize, attr->value);
    data->finishings |= kFinishingBits[index];
  }
}

// What the job callbacks need beyond the capabilities: how the printer collates copies, which
// PostScript it reads, and the largest image worth decoding for it.
void load_job_features(ppd_file_t* ppd, PpdDriver* driver) {
  static const char* const kCollating[] = {"True", "On", "Yes"};
  ppd_option_t* collate = ppdFindOption(ppd, "Collate");
  for (int i = 0; collate != nullptr && i < collate->num_choices; i++) {
    for (const char* name : kCollating) {
      if (same(collate->choices[i].choice, name) && driver->collate_choice[0] == '\0') {
        copy_text(driver->collate_choice, kChoiceSize, collate->choices[i].choice);
      }
    }
  }
  driver->language_level = ppd->language_level >= 3 ? 3 : 2;
  driver->limits = jobLimitsOf(ppd, kFallbackResolution);
}

// PAPPL publishes vendor attributes of keywords, not names.
bool keyword_name(const char* name) {
  for (const char* p = name; *p != '\0'; p++) {
    if (isalnum(static_cast<unsigned char>(*p)) == 0 && *p != '-' && *p != '_' && *p != '.') {
      return false;
    }
  }
  return name[0] != '\0';
}

bool has_name(char (*names)[kProfileNameSize], int count, const char* name) {
  for (int i = 0; i < count; i++) {
    if (strcmp(names[i], name) == 0) return true;
  }
  return false;
}

int compare_names(const void* a, const void* b) {
  return strcmp(static_cast<const char*>(a), static_cast<const char*>(b));
}

}  // namespace

bool mediaColOfSize(ppd_file_t* ppd, const PpdDriver& driver, const pappl_pr_driver_data_t& data,
                    const char* choice, const char* source, pappl_media_col_t* col) {
  return media_col_of(ppd, driver, data, choice, source, col);
}

bool parseResolution(const char* text, int* x, int* y) {
  char unit[8] = "";
  if (sscanf(text, "%dx%d%7s", x, y, unit) == 3 && strcmp(unit, "dpi") == 0)
    return *x > 0 && *y > 0;
  if (sscanf(text, "%d%7s", x, unit) == 2 && strcmp(unit, "dpi") == 0) {
    *y = *x;
    return *x > 0;
  }
  return false;
}

void keywordFromChoice(char* keyword, size_t size, const char* choice) {
  if (size == 0) return;
  size_t n = 0;
  char previous = '\0';
  for (const char* p = choice; *p != '\0' && n + 1 < size; p++) {
    const char c = *p;
    const bool alnum = isalnum(static_cast<unsigned char>(c)) != 0;
    const bool boundary =
        (islower(static_cast<unsigned char>(previous)) && isupper(static_cast<unsigned char>(c))) ||
        (isalpha(static_cast<unsigned char>(previous)) && isdigit(static_cast<unsigned char>(c))) ||
        (isdigit(static_cast<unsigned char>(previous)) && isalpha(static_cast<unsigned char>(c)));
    if (n > 0 && keyword[n - 1] != '-' && (boundary || !alnum) && n + 2 < size) {
      keyword[n++] = '-';
    }
    if (alnum) keyword[n++] = static_cast<char>(tolower(static_cast<unsigned char>(c)));
    previous = c;
  }
  while (n > 0 && keyword[n - 1] == '-') n--;
  keyword[n] = '\0';
  // A keyword starts with a letter.
  if (n == 0 || !islower(static_cast<unsigned char>(keyword[0]))) {
    char copy[kKeywordSize];
    copy_text(copy, sizeof(copy), keyword);
    format_text(keyword, size, "x-%s", copy);
  }
}

void pwgNameOfSize(char* name, size_t size, const ppd_size_t& ppd_size) {
  const int width = points_to_pwg(ppd_size.width);
  const int length = points_to_pwg(ppd_size.length);
  pwg_media_t* pwg = pwgMediaForPPD(ppd_size.name);
  // A PPD name that PAPPL maps to another size (a misnamed size) is not trusted.
  if (pwg != nullptr && (abs(pwg->width - width) > 100 || abs(pwg->length - length) > 100)) {
    pwg = nullptr;
  }
  if (pwg == nullptr) pwg = pwgMediaForSize(width, length);
  if (pwg != nullptr && pwg->pwg != nullptr) {
    copy_text(name, size, pwg->pwg);
    return;
  }
  char bare[kKeywordSize];
  keywordFromChoice(bare, sizeof(bare), ppd_size.name);
  if (!pwgFormatSizeName(name, size, "custom", bare, width, length, nullptr)) {
    pwgFormatSizeName(name, size, "custom", nullptr, width, length, nullptr);
  }
}

int findProfileNames(char (*names)[kProfileNameSize], int max_names) {
  int count = 0;
  for (int v = 0; kPreloadVendors[v] != nullptr && count < max_names; v++) {
    char dir_path[kProfilePathSize];
    if (!format_text(dir_path, sizeof(dir_path), "/opt/%s/mfp/ucs", kPreloadVendors[v])) continue;
    UniqueDir dir(opendir(dir_path));
    if (dir == nullptr) continue;
    const int first = count;
    while (dirent* entry = readdir(dir.get())) {
      const size_t length = strlen(entry->d_name);
      const size_t ext = sizeof(kUcsExtension) - 1;
      if (length <= ext || strcmp(entry->d_name + length - ext, kUcsExtension) != 0) continue;
      if (length - ext >= kProfileNameSize || count >= max_names) continue;
      char name[kProfileNameSize];
      copy_text(name, length - ext + 1, entry->d_name);
      // The name travels as an IPP name and back into the lookup: it must be one line, and
      // the lookup must find it the same way the filter would (the first vendor that has it).
      char path[kProfilePathSize];
      char bare[kBareNameSize];
      if (!keyword_name(name) || has_name(names, count, name) ||
          !format_text(bare, sizeof(bare), kUcsNameFormat, name) ||
          findVendorFile(path, sizeof(path), kUcsPathPattern, kPreloadVendors, bare, R_OK) != 0) {
        continue;
      }
      copy_text(names[count++], kProfileNameSize, name);
    }
    qsort(names + first, static_cast<size_t>(count - first), kProfileNameSize, compare_names);
  }
  return count;
}

UniqueIpp ppdVendorAttributes(const PpdDriver& driver, const char* default_ucs) {
  UniqueIpp attrs(ippNew());
  const char* values[kMaxProfiles + 1] = {kUcsAuto};
  const char* chosen = kUcsAuto;
  for (int i = 0; i < driver.num_profiles; i++) {
    values[i + 1] = driver.profiles[i];
    if (default_ucs != nullptr && strcmp(driver.profiles[i], default_ucs) == 0) {
      chosen = driver.profiles[i];
    }
  }
  ippAddStrings(attrs.get(), IPP_TAG_PRINTER, IPP_TAG_KEYWORD, kUcsSupported,
                driver.num_profiles + 1, nullptr, values);
  ippAddString(attrs.get(), IPP_TAG_PRINTER, IPP_TAG_KEYWORD, kUcsDefault, nullptr, chosen);
  return attrs;
}

UniquePpd openDriverPpd(const char* path, char* why, size_t why_size) {
  UniquePpd ppd(ppdOpenFile(path));
  if (ppd == nullptr) {
    int line = 0;
    ppd_status_t status = ppdLastError(&line);
    format_text(why, why_size, "%s on line %d", ppdErrorString(status), line);
  } else if (ppd->num_sizes <= 0) {
    copy_text(why, why_size, "no page sizes");
    ppd.reset();
  }
  return ppd;
}

bool loadPpdDriver(const char* path, const char* driver_name, pappl_pr_driver_data_t* data,
                   ipp_t** attrs, char* why, size_t why_size) {
  UniquePpd ppd = openDriverPpd(path, why, why_size);
  if (ppd == nullptr) return false;
  UniqueMalloc<PpdDriver[]> owned = make_array<PpdDriver>(1);
  if (owned == nullptr) {
    copy_text(why, why_size, "out of memory");
    return false;
  }
  PpdDriver* driver = owned.get();
  copy_text(driver->ppd_path, sizeof(driver->ppd_path), path);
  copy_text(driver->driver_name, sizeof(driver->driver_name), driver_name);
  ppdMarkDefaults(ppd.get());

  copy_text(data->make_and_model, sizeof(data->make_and_model),
            ppd->nickname != nullptr ? ppd->nickname : driver_name);
  data->format = "application/postscript";
  data->kind = PAPPL_KIND_DOCUMENT;
  data->ppm = ppd->throughput > 0 ? ppd->throughput : kFallbackPagesPerMinute;
  if (ppd->color_device != 0) data->ppm_color = data->ppm;
  data->orient_default = IPP_ORIENT_PORTRAIT;
  data->quality_default = IPP_QUALITY_NORMAL;
  data->content_default = PAPPL_CONTENT_AUTO;
  data->scaling_default = PAPPL_SCALING_AUTO;

  load_sizes(ppd.get(), driver, data);
  if (data->num_media == 0) {
    copy_text(why, why_size, "no page sizes");
    return false;
  }
  load_sources_and_bins(ppd.get(), driver, data);
  load_media_defaults(ppd.get(), *driver, data);
  load_duplex(ppd.get(), driver, data);
  load_color(ppd.get(), driver, data);
  load_resolutions(ppd.get(), driver, data);
  load_finishings(ppd.get(), driver, data);
  load_job_features(ppd.get(), driver);

  driver->num_profiles = findProfileNames(driver->profiles, kMaxProfiles);
  data->num_vendor = 1;
  data->vendor[0] = kUcsAttribute;
  *attrs = ppdVendorAttributes(*driver, nullptr).release();
  data->extension = owned.release();
  return true;
}

void freePpdDriver(PpdDriver* driver) {
  free(driver);
}

PpdDriver* ppdDriverOf(pappl_printer_t* printer) {
  pappl_pr_driver_data_t data;
  papplPrinterGetDriverData(printer, &data);
  return static_cast<PpdDriver*>(data.extension);
}

bool eachFinishingPair(const char* code,
                       bool (*visit)(const char* keyword, const char* choice, void* data),
                       void* data) {
  char text[kFinishingCodeSize];
  copy_text(text, sizeof(text), code);
  char* save = nullptr;
  for (char* keyword = strtok_r(text, " \t", &save); keyword != nullptr;
       keyword = strtok_r(nullptr, " \t", &save)) {
    char* choice = strtok_r(nullptr, " \t", &save);
    if (choice == nullptr) break;
    if (keyword[0] == '*') keyword++;
    if (!visit(keyword, choice, data)) return false;
  }
  return true;
}
