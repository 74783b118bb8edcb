// The capabilities a printer offers once its installed choices rule some out through the PPD's
// constraints.
#include "app/capabilities.h"

#include <cstdio>
#include <cstring>

#include "log/text.h"

namespace {

template <int N>
bool choice_allowed(ppd_file_t* ppd, const char* keyword, const ChoiceTable<N>& table, int i) {
  return table.choice[i][0] == '\0' || ppdInstallableConflict(ppd, keyword, table.choice[i]) == 0;
}

// Whether every "*Option Choice" pair of a finishing's code is free of conflicts.
bool finishing_allowed(ppd_file_t* ppd, const char* code) {
  return eachFinishingPair(
      code,
      [](const char* keyword, const char* choice, void* data) {
        return ppdInstallableConflict(static_cast<ppd_file_t*>(data), keyword, choice) == 0;
      },
      ppd);
}

void note_why(char* why, size_t why_size, const char* attribute) {
  const size_t used = strlen(why);
  snprintf(why + used, why_size - used,
           "%sthe installed options rule out every value of %s: it keeps the PPD's",
           used > 0 ? "; " : "", attribute);
}

bool same_media(const pappl_media_col_t& a, const pappl_media_col_t& b) {
  return memcmp(&a, &b, sizeof(a)) == 0;
}

}  // namespace

bool sameCapabilities(const pappl_pr_driver_data_t& a, const pappl_pr_driver_data_t& b) {
  if (a.num_source != b.num_source || a.num_bin != b.num_bin ||
      a.sides_supported != b.sides_supported || a.sides_default != b.sides_default ||
      a.finishings != b.finishings || a.bin_default != b.bin_default ||
      !same_media(a.media_default, b.media_default)) {
    return false;
  }
  for (int i = 0; i < a.num_source; i++) {
    if (strcmp(a.source[i], b.source[i]) != 0 || !same_media(a.media_ready[i], b.media_ready[i])) {
      return false;
    }
  }
  for (int i = 0; i < a.num_bin; i++) {
    if (strcmp(a.bin[i], b.bin[i]) != 0) return false;
  }
  return true;
}

void narrowCapabilities(ppd_file_t* ppd, const PpdDriver& driver, pappl_pr_driver_data_t* data,
                        char* why, size_t why_size) {
  if (why_size > 0) why[0] = '\0';
  // Sources, each with its ready media as it was, or the default media when it comes back.
  int sources[PAPPL_MAX_SOURCE];
  int num_sources = 0;
  for (int i = 0; i < driver.sources.count; i++) {
    if (choice_allowed(ppd, "InputSlot", driver.sources, i)) sources[num_sources++] = i;
  }
  if (num_sources == 0) {
    for (int i = 0; i < driver.sources.count; i++) sources[num_sources++] = i;
    note_why(why, why_size, "media-source");
  }
  pappl_media_col_t ready[PAPPL_MAX_SOURCE];
  for (int s = 0; s < num_sources; s++) {
    const char* keyword = driver.sources.keyword[sources[s]];
    ready[s] = data->media_default;
    for (int k = 0; k < data->num_source; k++) {
      if (strcmp(data->source[k], keyword) == 0) ready[s] = data->media_ready[k];
    }
    copy_text(ready[s].source, sizeof(ready[s].source), keyword);
  }
  bool default_offered = false;
  for (int s = 0; s < num_sources; s++) {
    default_offered |= strcmp(driver.sources.keyword[sources[s]], data->media_default.source) == 0;
  }
  if (!default_offered && num_sources > 0) {
    copy_text(data->media_default.source, sizeof(data->media_default.source),
              driver.sources.keyword[sources[0]]);
  }
  data->num_source = num_sources;
  for (int s = 0; s < num_sources; s++) {
    data->source[s] = driver.sources.keyword[sources[s]];
    data->media_ready[s] = ready[s];
  }

  // Output bins.
  const char* default_bin =
      data->bin_default < data->num_bin ? data->bin[data->bin_default] : nullptr;
  int num_bins = 0;
  for (int i = 0; i < driver.bins.count; i++) {
    if (choice_allowed(ppd, "OutputBin", driver.bins, i))
      data->bin[num_bins++] = driver.bins.keyword[i];
  }
  if (num_bins == 0 && driver.bins.count > 0) {
    for (int i = 0; i < driver.bins.count; i++) data->bin[num_bins++] = driver.bins.keyword[i];
    note_why(why, why_size, "output-bin");
  }
  data->num_bin = num_bins;
  data->bin_default = 0;
  for (int i = 0; i < num_bins; i++) {
    if (default_bin != nullptr && strcmp(data->bin[i], default_bin) == 0) data->bin_default = i;
  }

  // Sides: one-sided always, two-sided where the duplex choice is free of conflicts.
  pappl_sides_t sides = PAPPL_SIDES_ONE_SIDED;
  for (int i = 1; i < 3; i++) {
    const char* choice = driver.duplex_choice[i];
    if (choice[0] != '\0' && ppdInstallableConflict(ppd, "Duplex", choice) == 0) {
      sides |= static_cast<pappl_sides_t>(1u << i);
    }
  }
  data->sides_supported = sides;
  if ((data->sides_default & sides) == 0) data->sides_default = PAPPL_SIDES_ONE_SIDED;
  data->duplex = sides != PAPPL_SIDES_ONE_SIDED ? PAPPL_DUPLEX_NORMAL : PAPPL_DUPLEX_NONE;

  // Finishings.
  pappl_finishings_t finishings = PAPPL_FINISHINGS_NONE;
  for (int i = 0; i < kFinishCount; i++) {
    const char* code = driver.finishing_code[i];
    if (code[0] != '\0' && finishing_allowed(ppd, code)) finishings |= kFinishingBits[i];
  }
  data->finishings = finishings;
}
