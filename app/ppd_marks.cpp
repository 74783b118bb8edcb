// A job's IPP options marked in the PPD and emitted as its option code.
#include "app/ppd_marks.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "app/handles.h"
#include "log/text.h"

namespace {

// Sizes within a millimetre are the same size (PPD sizes are whole points).
constexpr int kSizeTolerance = 100;
constexpr ppd_section_t kSetupSections[] = {PPD_ORDER_PROLOG, PPD_ORDER_DOCUMENT, PPD_ORDER_ANY,
                                            PPD_ORDER_PAGE};
constexpr char kCopiesFormat[] =
    "%%%%BeginNonPPDFeature: NumCopies %d\n<</NumCopies %d>>setpagedevice\n"
    "%%%%EndNonPPDFeature\n";
constexpr size_t kCopiesSize = 128;

template <int N>
const char* choice_for(const ChoiceTable<N>& table, const char* keyword) {
  for (int i = 0; i < table.count; i++) {
    if (strcmp(table.keyword[i], keyword) == 0) return table.choice[i];
  }
  return nullptr;
}

// The marks of one job: with the printer's installed choices marked, a choice they rule out
// is left at its default, since the printer could not honour it.
struct JobMarks {
  ppd_file_t* ppd;
  bool installed;

  void operator()(const char* keyword, const char* choice) const {
    if (choice == nullptr || choice[0] == '\0') return;
    if (installed && ppdInstallableConflict(ppd, keyword, choice) != 0) return;
    ppdMarkOption(ppd, keyword, choice);
  }
};

// The page size by name; a media-col that gives only dimensions, by dimensions.
const char* size_choice(ppd_file_t* ppd, const PpdDriver& driver, const pappl_media_col_t& media) {
  const char* by_name = choice_for(driver.sizes, media.size_name);
  if (by_name != nullptr) return by_name;
  for (int i = 0; i < driver.sizes.count; i++) {
    ppd_size_t* size = ppdPageSize(ppd, driver.sizes.choice[i]);
    if (size != nullptr && abs(PWG_FROM_POINTS(size->width) - media.size_width) <= kSizeTolerance &&
        abs(PWG_FROM_POINTS(size->length) - media.size_length) <= kSizeTolerance) {
      return driver.sizes.choice[i];
    }
  }
  return nullptr;
}

// Marks the "*Option Choice" pairs of a *cupsIPPFinishings value.
void mark_finishing(const JobMarks& mark, const char* code) {
  eachFinishingPair(
      code,
      [](const char* keyword, const char* choice, void* data) {
        (*static_cast<const JobMarks*>(data))(keyword, choice);
        return true;
      },
      const_cast<JobMarks*>(&mark));
}

// Appends text to a heap text of length *length; false when memory runs out.
bool append(UniqueMalloc<char>* code, size_t* length, const char* text) {
  const size_t n = strlen(text);
  char* grown = static_cast<char*>(realloc(code->get(), *length + n + 1));
  if (grown == nullptr) return false;
  (void)code->release();
  code->reset(grown);
  memcpy(grown + *length, text, n + 1);
  *length += n;
  return true;
}

// Marks the printer's installed choices in ppd as its driver data has them (zorv-installed,
// "Keyword=Choice"): what a job sees is what the printer's capabilities were narrowed by.
void mark_installed(pappl_printer_t* printer, ppd_file_t* ppd) {
  UniqueIpp attrs(papplPrinterGetDriverAttributes(printer));
  ipp_attribute_t* installed = ippFindAttribute(attrs.get(), kInstalledAttribute, IPP_TAG_ZERO);
  for (int i = 0; i < ippGetCount(installed); i++) {
    const char* value = ippGetString(installed, i, nullptr);
    const char* equals = value != nullptr ? strchr(value, '=') : nullptr;
    char keyword[kChoiceSize];
    if (equals == nullptr || static_cast<size_t>(equals - value) >= sizeof(keyword)) continue;
    copy_text(keyword, static_cast<size_t>(equals - value) + 1, value);
    ppdMarkOption(ppd, keyword, equals + 1);
  }
}

}  // namespace

void markJobOptions(ppd_file_t* ppd, const PpdDriver& driver, const pappl_pr_options_t& options,
                    pappl_printer_t* printer) {
  ppdMarkDefaults(ppd);
  if (printer != nullptr) mark_installed(printer, ppd);
  const JobMarks mark{ppd, printer != nullptr};
  mark("PageSize", size_choice(ppd, driver, options.media));
  mark("InputSlot", choice_for(driver.sources, options.media.source));
  mark("MediaType", choice_for(driver.types, options.media.type));
  mark("OutputBin", choice_for(driver.bins, options.output_bin));
  if (options.sides == PAPPL_SIDES_ONE_SIDED) mark("Duplex", driver.duplex_choice[0]);
  if (options.sides == PAPPL_SIDES_TWO_SIDED_LONG_EDGE) mark("Duplex", driver.duplex_choice[1]);
  if (options.sides == PAPPL_SIDES_TWO_SIDED_SHORT_EDGE) mark("Duplex", driver.duplex_choice[2]);
  if (options.print_color_mode == PAPPL_COLOR_MODE_COLOR) {
    mark("ColorModel", driver.color_choice);
  } else if (options.print_color_mode != PAPPL_COLOR_MODE_AUTO) {
    mark("ColorModel", driver.mono_choice);
  }
  for (int i = 0; i < driver.num_resolutions; i++) {
    if (driver.resolution_x[i] == options.printer_resolution[0] &&
        driver.resolution_y[i] == options.printer_resolution[1]) {
      mark("Resolution", driver.resolution_choice[i]);
    }
  }
  for (int i = 0; i < kFinishCount; i++) {
    if ((options.finishings & kFinishingBits[i]) != 0)
      mark_finishing(mark, driver.finishing_code[i]);
  }
}

UniqueMalloc<char> setupCode(ppd_file_t* ppd, int copies) {
  UniqueMalloc<char> code(static_cast<char*>(calloc(1, 1)));
  size_t length = 0;
  if (code == nullptr) return nullptr;
  for (ppd_section_t section : kSetupSections) {
    UniqueMalloc<char> part(ppdEmitString(ppd, section, 0.0f));
    if (part != nullptr && !append(&code, &length, part.get())) return nullptr;
  }
  if (copies > 1) {
    char text[kCopiesSize];
    format_text(text, sizeof(text), kCopiesFormat, copies, copies);
    if (!append(&code, &length, text)) return nullptr;
  }
  return code;
}

UniqueMalloc<char> jobSetupCode(const PpdDriver& driver, const pappl_pr_options_t& options,
                                pappl_printer_t* printer) {
  UniquePpd ppd(ppdOpenFile(driver.ppd_path));
  if (ppd == nullptr) return nullptr;
  markJobOptions(ppd.get(), driver, options, printer);
  return setupCode(ppd.get(), options.copies);
}
