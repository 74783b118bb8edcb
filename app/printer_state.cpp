// A printer's own state as the server keeps and publishes it.
#include "app/printer_state.h"

#include <cstdio>
#include <cstring>

#include "common/handles.h"
#include "log/text.h"

namespace {

constexpr size_t kValueSize = 512;
constexpr int kMaxStateValues = 64;

struct ColourName {
  const char* keyword;
  pappl_supply_color_t colour;
};
constexpr ColourName kColours[] = {
    {"black", PAPPL_SUPPLY_COLOR_BLACK},
    {"cyan", PAPPL_SUPPLY_COLOR_CYAN},
    {"gray", PAPPL_SUPPLY_COLOR_GRAY},
    {"green", PAPPL_SUPPLY_COLOR_GREEN},
    {"light-cyan", PAPPL_SUPPLY_COLOR_LIGHT_CYAN},
    {"light-gray", PAPPL_SUPPLY_COLOR_LIGHT_GRAY},
    {"light-magenta", PAPPL_SUPPLY_COLOR_LIGHT_MAGENTA},
    {"magenta", PAPPL_SUPPLY_COLOR_MAGENTA},
    {"orange", PAPPL_SUPPLY_COLOR_ORANGE},
    {"violet", PAPPL_SUPPLY_COLOR_VIOLET},
    {"yellow", PAPPL_SUPPLY_COLOR_YELLOW},
    {"multi-color", PAPPL_SUPPLY_COLOR_MULTIPLE},
};

// PAPPL's supply kinds in the order of the Printer MIB's prtMarkerSuppliesType, from toner (3).
constexpr pappl_supply_type_t kSupplyTypes[] = {
    PAPPL_SUPPLY_TYPE_TONER,
    PAPPL_SUPPLY_TYPE_WASTE_TONER,
    PAPPL_SUPPLY_TYPE_INK,
    PAPPL_SUPPLY_TYPE_INK_CARTRIDGE,
    PAPPL_SUPPLY_TYPE_INK_RIBBON,
    PAPPL_SUPPLY_TYPE_WASTE_INK,
    PAPPL_SUPPLY_TYPE_OPC,
    PAPPL_SUPPLY_TYPE_DEVELOPER,
    PAPPL_SUPPLY_TYPE_FUSER_OIL,
    PAPPL_SUPPLY_TYPE_SOLID_WAX,
    PAPPL_SUPPLY_TYPE_RIBBON_WAX,
    PAPPL_SUPPLY_TYPE_WASTE_WAX,
    PAPPL_SUPPLY_TYPE_FUSER,
    PAPPL_SUPPLY_TYPE_CORONA_WIRE,
    PAPPL_SUPPLY_TYPE_FUSER_OIL_WICK,
    PAPPL_SUPPLY_TYPE_CLEANER_UNIT,
    PAPPL_SUPPLY_TYPE_FUSER_CLEANING_PAD,
    PAPPL_SUPPLY_TYPE_TRANSFER_UNIT,
    PAPPL_SUPPLY_TYPE_TONER_CARTRIDGE,
    PAPPL_SUPPLY_TYPE_FUSER_OILER,
    PAPPL_SUPPLY_TYPE_WATER,
    PAPPL_SUPPLY_TYPE_WASTE_WATER,
    PAPPL_SUPPLY_TYPE_GLUE_WATER_ADDITIVE,
    PAPPL_SUPPLY_TYPE_WASTE_PAPER,
    PAPPL_SUPPLY_TYPE_BINDING_SUPPLY,
    PAPPL_SUPPLY_TYPE_BANDING_SUPPLY,
    PAPPL_SUPPLY_TYPE_STITCHING_WIRE,
    PAPPL_SUPPLY_TYPE_SHRINK_WRAP,
    PAPPL_SUPPLY_TYPE_PAPER_WRAP,
    PAPPL_SUPPLY_TYPE_STAPLES,
    PAPPL_SUPPLY_TYPE_INSERTS,
    PAPPL_SUPPLY_TYPE_COVERS,
};
constexpr int kFirstSupplyType = 3;

// PAPPL's bit of each of the state's reasons, in the order of StateReason's bits.
constexpr pappl_preason_t kPapplReasons[kStateReasonBits] = {
    PAPPL_PREASON_OTHER,
    PAPPL_PREASON_MEDIA_LOW,
    PAPPL_PREASON_MEDIA_EMPTY,
    PAPPL_PREASON_MEDIA_JAM,
    PAPPL_PREASON_TONER_LOW,
    PAPPL_PREASON_TONER_EMPTY,
    // PAPPL 1.3.1 publishes no reason after toner-low: an open door is published as what
    // clients tell people the same way, an open cover.
    PAPPL_PREASON_COVER_OPEN,
    PAPPL_PREASON_COVER_OPEN,
    PAPPL_PREASON_OFFLINE,
    PAPPL_PREASON_INPUT_TRAY_MISSING,
    PAPPL_PREASON_OTHER,  // output-tray-missing
    PAPPL_PREASON_MARKER_SUPPLY_LOW,
    PAPPL_PREASON_MARKER_SUPPLY_EMPTY,
    PAPPL_PREASON_MARKER_WASTE_ALMOST_FULL,
    PAPPL_PREASON_MARKER_WASTE_FULL,
    PAPPL_PREASON_OTHER,  // output-area-almost-full
    PAPPL_PREASON_OTHER,  // output-area-full
    PAPPL_PREASON_OTHER,  // marker-supply-missing
    PAPPL_PREASON_MEDIA_NEEDED,
};

// The alert codes of printer-alert's "code=" (prtAlertCode), the others "other".
constexpr struct {
  int code;
  const char* keyword;
} kAlertCodes[] = {
    {3, "coverOpen"},
    {5, "interlockOpen"},
    {8, "jam"},
    {9, "subunitMissing"},
    {12, "subunitAlmostEmpty"},
    {13, "subunitEmpty"},
    {14, "subunitAlmostFull"},
    {15, "subunitFull"},
    {501, "doorOpen"},
    {801, "inputMediaTrayMissing"},
    {807, "inputMediaSupplyLow"},
    {808, "inputMediaSupplyEmpty"},
    {809, "inputMediaChangeRequest"},
    {901, "outputMediaTrayMissing"},
    {902, "outputMediaTrayAlmostFull"},
    {903, "outputMediaTrayFull"},
    {1101, "markerTonerEmpty"},
    {1102, "markerInkEmpty"},
    {1104, "markerTonerAlmostEmpty"},
    {1105, "markerInkAlmostEmpty"},
    {1107, "markerWasteTonerReceptacleAlmostFull"},
    {1108, "markerWasteInkReceptacleAlmostFull"},
    {1109, "markerWasteTonerReceptacleFull"},
    {1110, "markerWasteInkReceptacleFull"},
    {1115, "markerTonerCartridgeMissing"},
};

const char* severity_keyword(int severity) {
  switch (severity) {
    case 3:
      return "critical";
    case 4:
      return "warning";
    case 5:
      return "warningBinaryChangeEvent";
    default:
      return "other";
  }
}

const char* alert_keyword(int code) {
  for (const auto& alert : kAlertCodes) {
    if (alert.code == code) return alert.keyword;
  }
  return "other";
}

// A kept text as a value of the PWG's "key=value;" lists: a ';' would end the value early and
// an '=' start another, so both become blanks.
void list_value(const char* text, char* value, size_t size) {
  copy_text(value, size, text);
  for (char* p = value; *p != '\0'; ++p) {
    if (*p == ';' || *p == '=') *p = ' ';
  }
}

// The state's attributes, as values per attribute name, into strings owned by the caller.
struct StateValues {
  int input_count = 0;
  int output_count = 0;
  int alert_count = 0;
  char input[kMaxStateValues][kValueSize];
  char output[kMaxStateValues][kValueSize];
  char alert[kMaxStateValues][kValueSize];
  const char* descriptions[kMaxStateValues];
};

void make_values(const PrinterState& state, StateValues& values) {
  char name[kStateTextSize];
  for (size_t i = 0; i < state.tray_count && values.input_count < kMaxStateValues; ++i) {
    const StateTray& tray = state.trays[i];
    list_value(tray.name, name, sizeof(name));
    int width = 0;
    int length = 0;
    if (!trayMediaSize(tray, &width, &length)) width = length = -2;
    format_text(values.input[values.input_count++], kValueSize,
                "type=%s;mediafeed=%d;mediaxfeed=%d;maxcapacity=%d;level=%d;status=%d;name=%s;",
                trayTypeKeyword(tray.type), length, width,
                tray.capacity != kNotGiven ? tray.capacity : kLevelUnknown,
                tray.level != kNotGiven ? tray.level : kLevelUnknown,
                tray.status != kNotGiven ? tray.status : 0, name);
  }
  for (size_t i = 0; i < state.bin_count && values.output_count < kMaxStateValues; ++i) {
    const StateBin& bin = state.bins[i];
    list_value(bin.name, name, sizeof(name));
    format_text(values.output[values.output_count++], kValueSize,
                "type=%s;maxcapacity=%d;remaining=%d;status=%d;name=%s;", binTypeKeyword(bin.type),
                bin.capacity != kNotGiven ? bin.capacity : kLevelUnknown,
                bin.remaining != kNotGiven ? bin.remaining : kLevelUnknown,
                bin.status != kNotGiven ? bin.status : 0, name);
  }
  for (size_t i = 0; i < state.alert_count && values.alert_count < kMaxStateValues; ++i) {
    const StateAlert& alert = state.alerts[i];
    values.descriptions[values.alert_count] = alert.description;
    format_text(values.alert[values.alert_count++], kValueSize,
                "code=%s;index=%lu;severity=%s;group=%d;groupindex=%d;", alert_keyword(alert.code),
                alert.index, severity_keyword(alert.severity),
                alert.group != kNotGiven ? alert.group : 1,
                alert.group_index != kNotGiven ? alert.group_index : 0);
  }
}

void add_octets(ipp_t* attrs, const char* name, char (*values)[kValueSize], int count) {
  ipp_attribute_t* attr = nullptr;
  for (int i = 0; i < count; ++i) {
    const auto length = static_cast<int>(strlen(values[i]));
    if (attr == nullptr) {
      attr = ippAddOctetString(attrs, IPP_TAG_PRINTER, name, values[i], length);
    } else {
      ippSetOctetString(attrs, &attr, ippGetCount(attr), values[i], length);
    }
  }
}

// Whether current's attribute name holds exactly these octet-string values.
bool same_octets(ipp_t* current, const char* name, char (*values)[kValueSize], int count) {
  ipp_attribute_t* attr = ippFindAttribute(current, name, IPP_TAG_ZERO);
  if (attr == nullptr) return count == 0;
  if (ippGetCount(attr) != count) return false;
  for (int i = 0; i < count; ++i) {
    int length = 0;
    const void* data = ippGetOctetString(attr, i, &length);
    if (data == nullptr || static_cast<size_t>(length) != strlen(values[i]) ||
        memcmp(data, values[i], static_cast<size_t>(length)) != 0) {
      return false;
    }
  }
  return true;
}

// The PWG media of a tray: by the name it gives, else by its dimensions; null for none.
pwg_media_t* tray_media(const StateTray& tray) {
  pwg_media_t* media = nullptr;
  if (tray.media[0] != '\0') {
    media = pwgMediaForPWG(tray.media);
    if (media == nullptr) media = pwgMediaForLegacy(tray.media);
    if (media == nullptr) media = pwgMediaForPPD(tray.media);
  }
  int width = 0;
  int length = 0;
  if (media == nullptr && trayMediaSize(tray, &width, &length)) {
    media = pwgMediaForSize(width, length);
  }
  return media;
}

// The tray whose name stands for the source of keyword (PPD choice and text given).
const StateTray* tray_of_source(const PrinterState& state, const char* keyword, const char* choice,
                                const char* text) {
  char tray_keyword[kKeywordSize];
  char choice_keyword[kKeywordSize];
  char text_keyword[kKeywordSize];
  keywordFromChoice(choice_keyword, sizeof(choice_keyword), choice);
  keywordFromChoice(text_keyword, sizeof(text_keyword), text);
  for (size_t i = 0; i < state.tray_count; ++i) {
    if (state.trays[i].name[0] == '\0') continue;
    keywordFromChoice(tray_keyword, sizeof(tray_keyword), state.trays[i].name);
    if (strcmp(tray_keyword, keyword) == 0 || strcmp(tray_keyword, choice_keyword) == 0 ||
        (text[0] != '\0' && strcmp(tray_keyword, text_keyword) == 0)) {
      return &state.trays[i];
    }
  }
  return nullptr;
}

}  // namespace

void keepStateResult(KeptState& kept, const PrinterStateResult& result, time_t now) {
  if (result.outcome == StateOutcome::kNotAsked && strcmp(result.detail, "cancelled") == 0) return;
  kept.asked = now;
  if (result.outcome == StateOutcome::kAnswered) {
    kept.last = result;
    kept.answered = now;
    kept.stale = false;
    kept.failure[0] = '\0';
    return;
  }
  kept.stale = true;
  stateFailureWords(result, kept.failure, sizeof(kept.failure));
  if (kept.failure[0] == '\0' || strcmp(kept.failure, "not asked") == 0) {
    format_text(kept.failure, sizeof(kept.failure), "not asked%s%s",
                result.detail[0] != '\0' ? ": " : "", result.detail);
  }
}

int papplSuppliesOf(const PrinterState& state, pappl_supply_t* supplies, int max) {
  int count = 0;
  for (size_t i = 0; i < state.supply_count && count < max; ++i) {
    const StateSupply& supply = state.supplies[i];
    pappl_supply_t& out = supplies[count++];
    memset(&out, 0, sizeof(out));
    copy_text(out.description, sizeof(out.description), supply.description);
    out.is_consumed = supply.supply_class != kSupplyReceptacle;
    const int percent = supplyPercent(supply);
    out.level = percent >= 0 || percent == kLevelSomeRemaining ? percent : -1;
    out.color = PAPPL_SUPPLY_COLOR_NO_COLOR;
    const char* colour = supplyColour(supply);
    for (const ColourName& name : kColours) {
      if (strcmp(name.keyword, colour) == 0) out.color = name.colour;
    }
    const int index = supply.type - kFirstSupplyType;
    const int types = static_cast<int>(sizeof(kSupplyTypes) / sizeof(kSupplyTypes[0]));
    if (index >= 0 && index < types) {
      out.type = kSupplyTypes[index];
    } else {
      out.type = supply.type == 1 ? PAPPL_SUPPLY_TYPE_OTHER : PAPPL_SUPPLY_TYPE_UNKNOWN;
    }
  }
  return count;
}

pappl_preason_t papplReasonsOf(const PrinterState& state) {
  const uint32_t reasons = stateReasons(state);
  pappl_preason_t pappl = PAPPL_PREASON_NONE;
  for (int bit = 0; bit < kStateReasonBits; ++bit) {
    if ((reasons & (1u << bit)) != 0) pappl |= kPapplReasons[bit];
  }
  return pappl;
}

pappl_preason_t papplStateReasons() {
  pappl_preason_t all = PAPPL_PREASON_NONE;
  for (pappl_preason_t reason : kPapplReasons) all |= reason;
  return all;
}

void addStateAttributes(const KeptState& kept, ipp_t* attrs) {
  if (kept.answered == 0) return;
  UniqueMalloc<StateValues[]> values = make_array<StateValues>(1);
  if (values == nullptr) return;
  make_values(kept.last.state, values[0]);
  add_octets(attrs, kInputTrayAttribute, values[0].input, values[0].input_count);
  add_octets(attrs, kOutputTrayAttribute, values[0].output, values[0].output_count);
  add_octets(attrs, "printer-alert", values[0].alert, values[0].alert_count);
  if (values[0].alert_count > 0) {
    ippAddStrings(attrs, IPP_TAG_PRINTER, IPP_TAG_TEXT, "printer-alert-description",
                  values[0].alert_count, nullptr, values[0].descriptions);
  }
  if (kept.stale) {
    ippAddBoolean(attrs, IPP_TAG_PRINTER, kStaleAttribute, 1);
    ippAddDate(attrs, IPP_TAG_PRINTER, kAnsweredAttribute, ippTimeToDate(kept.answered));
  }
}

bool sameStateAttributes(ipp_t* current, const KeptState& kept) {
  UniqueMalloc<StateValues[]> values = make_array<StateValues>(1);
  if (values == nullptr) return false;
  if (kept.answered != 0) make_values(kept.last.state, values[0]);
  const bool stale = kept.answered != 0 && kept.stale;
  ipp_attribute_t* answered = ippFindAttribute(current, kAnsweredAttribute, IPP_TAG_ZERO);
  return same_octets(current, kInputTrayAttribute, values[0].input, values[0].input_count) &&
         same_octets(current, kOutputTrayAttribute, values[0].output, values[0].output_count) &&
         same_octets(current, "printer-alert", values[0].alert, values[0].alert_count) &&
         (ippFindAttribute(current, kStaleAttribute, IPP_TAG_ZERO) != nullptr) == stale &&
         (answered != nullptr) == stale &&
         (answered == nullptr || ippDateToTime(ippGetDate(answered, 0)) == kept.answered);
}

void applyTrayMedia(const PrinterState& state, ppd_file_t* ppd, const PpdDriver& driver,
                    pappl_pr_driver_data_t* data) {
  ppd_option_t* slots = ppdFindOption(ppd, "InputSlot");
  for (int s = 0; s < data->num_source; ++s) {
    const char* keyword = data->source[s];
    const char* choice = "";
    const char* text = "";
    for (int i = 0; i < driver.sources.count; ++i) {
      if (strcmp(driver.sources.keyword[i], keyword) != 0) continue;
      choice = driver.sources.choice[i];
      ppd_choice_t* ppd_choice = slots != nullptr ? ppdFindChoice(slots, choice) : nullptr;
      if (ppd_choice != nullptr) text = ppd_choice->text;
    }
    const StateTray* tray = tray_of_source(state, keyword, choice, text);
    pwg_media_t* media = tray != nullptr ? tray_media(*tray) : nullptr;
    if (media == nullptr || media->pwg == nullptr) continue;
    for (int i = 0; i < driver.sizes.count; ++i) {
      if (strcmp(driver.sizes.keyword[i], media->pwg) != 0) continue;
      pappl_media_col_t col;
      if (mediaColOfSize(ppd, driver, *data, driver.sizes.choice[i], keyword, &col)) {
        copy_text(col.type, sizeof(col.type), data->media_ready[s].type);
        data->media_ready[s] = col;
      }
    }
  }
}

void stateTimeText(time_t when, char* text, size_t size) {
  if (when == 0) {
    copy_text(text, size, "never");
    return;
  }
  struct tm local;
  if (localtime_r(&when, &local) == nullptr ||
      strftime(text, size, "%Y-%m-%d %H:%M:%S %Z", &local) == 0) {
    copy_text(text, size, "?");
  }
}
