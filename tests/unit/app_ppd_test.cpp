// The Printer Application's drivers from PPDs: the catalog of PPD directories, the
// capabilities of the sample PPD, and a job's IPP options as the PPD's option code.
#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "app/capabilities.h"
#include "app/handles.h"
#include "app/ppd_catalog.h"
#include "app/ppd_driver.h"
#include "app/ppd_marks.h"
#include "common/handles.h"
#include "probe/ppd_handles.h"
#include "support/paths.h"
#include "support/text.h"

namespace {

const std::string kSamplePpd = SOURCE_DIR "/samples/zorv-sample.ppd";

struct LoadedDriver {
  pappl_pr_driver_data_t data = {};
  ipp_t* attrs = nullptr;
  PpdDriver* driver = nullptr;
  ~LoadedDriver() {
    ippDelete(attrs);
    freePpdDriver(driver);
  }
};

void load(LoadedDriver* loaded, const std::string& path) {
  char why[256] = "";
  ASSERT_TRUE(
      loadPpdDriver(path.c_str(), "zorv-sample", &loaded->data, &loaded->attrs, why, sizeof(why)))
      << why;
  loaded->driver = static_cast<PpdDriver*>(loaded->data.extension);
}

std::vector<std::string> strings_of(const char* const* values, int count) {
  return std::vector<std::string>(values, values + count);
}

// The options PAPPL hands a job of the sample printer that asks for nothing.
pappl_pr_options_t default_options(const pappl_pr_driver_data_t& data) {
  pappl_pr_options_t options;
  memset(&options, 0, sizeof(options));
  options.media = data.media_default;
  options.sides = data.sides_default;
  options.print_color_mode = data.color_default;
  options.printer_resolution[0] = data.x_default;
  options.printer_resolution[1] = data.y_default;
  options.copies = 1;
  copy_text(options.output_bin, sizeof(options.output_bin), data.bin[data.bin_default]);
  return options;
}

std::string code_for(const PpdDriver& driver, const pappl_pr_options_t& options) {
  UniqueMalloc<char> code = jobSetupCode(driver, options);
  return code != nullptr ? code.get() : "(null)";
}

std::string feature(const std::string& option, const std::string& choice) {
  return "%%BeginFeature: *" + option + " " + choice + "\n";
}

TEST(PpdDriver, SamplePpdGivesItsCapabilitiesAndDefaults) {
  LoadedDriver loaded;
  load(&loaded, kSamplePpd);
  const pappl_pr_driver_data_t& data = loaded.data;
  EXPECT_STREQ(data.make_and_model, "Orvane Laser 5100, zorv filters");
  EXPECT_STREQ(data.format, "application/postscript");
  EXPECT_EQ(strings_of(data.media, data.num_media),
            (std::vector<std::string>{"iso_a4_210x297mm", "na_letter_8.5x11in"}));
  EXPECT_EQ(strings_of(data.source, data.num_source),
            (std::vector<std::string>{"tray-1", "tray-2", "manual"}));
  EXPECT_EQ(strings_of(data.bin, data.num_bin), (std::vector<std::string>{"face-down", "face-up"}));
  EXPECT_EQ(data.sides_supported, PAPPL_SIDES_ONE_SIDED | PAPPL_SIDES_TWO_SIDED_LONG_EDGE |
                                      PAPPL_SIDES_TWO_SIDED_SHORT_EDGE);
  EXPECT_EQ(data.sides_default, PAPPL_SIDES_ONE_SIDED);
  EXPECT_EQ(data.color_supported, PAPPL_COLOR_MODE_COLOR | PAPPL_COLOR_MODE_MONOCHROME);
  EXPECT_EQ(data.color_default, PAPPL_COLOR_MODE_COLOR);
  EXPECT_EQ(data.num_resolution, 1);
  EXPECT_EQ(data.x_default, 600);
  EXPECT_EQ(data.finishings, PAPPL_FINISHINGS_STAPLE);
  EXPECT_EQ(data.ppm, 30);
  // The default size in the default tray, with the PPD's imageable area (12 points).
  EXPECT_STREQ(data.media_default.size_name, "iso_a4_210x297mm");
  EXPECT_STREQ(data.media_default.source, "tray-1");
  EXPECT_EQ(data.media_default.left_margin, 423);
  EXPECT_EQ(data.media_default.top_margin, 423);
  EXPECT_EQ(data.left_right, 423);
  EXPECT_STREQ(data.media_ready[1].source, "tray-2");
  // "auto" first, the profile named like the printer (the profiles that other tests install
  // under /opt may follow), and the default.
  ipp_attribute_t* supported = ippFindAttribute(loaded.attrs, kUcsSupported, IPP_TAG_KEYWORD);
  ASSERT_NE(supported, nullptr);
  EXPECT_STREQ(ippGetString(supported, 0, nullptr), kUcsAuto);
  ipp_attribute_t* ucs_default = ippFindAttribute(loaded.attrs, kUcsDefault, IPP_TAG_KEYWORD);
  ASSERT_NE(ucs_default, nullptr);
  EXPECT_STREQ(ippGetString(ucs_default, 0, nullptr), kUcsAuto);
  EXPECT_STREQ(data.vendor[0], kUcsAttribute);
}

TEST(PpdDriver, JobOptionsBecomeThePpdsOptionCode) {
  LoadedDriver loaded;
  load(&loaded, kSamplePpd);
  struct Case {
    const char* name;
    void (*change)(pappl_pr_options_t*);
    std::vector<std::string> present;
    std::vector<std::string> absent;
  };
  const Case cases[] = {
      {"defaults",
       [](pappl_pr_options_t*) {},
       {feature("PageSize", "A4"), feature("InputSlot", "Tray1"), feature("Duplex", "None"),
        feature("OutputBin", "FaceDown"), feature("ColorModel", "CMYK"),
        feature("Resolution", "600dpi")},
       {"NumCopies"}},
      {"sides long edge",
       [](pappl_pr_options_t* o) { o->sides = PAPPL_SIDES_TWO_SIDED_LONG_EDGE; },
       {feature("Duplex", "DuplexNoTumble") + "<</Duplex true /Tumble false>>setpagedevice\n"},
       {}},
      {"sides short edge",
       [](pappl_pr_options_t* o) { o->sides = PAPPL_SIDES_TWO_SIDED_SHORT_EDGE; },
       {feature("Duplex", "DuplexTumble")},
       {}},
      {"letter from the manual feed",
       [](pappl_pr_options_t* o) {
         copy_text(o->media.size_name, sizeof(o->media.size_name), "na_letter_8.5x11in");
         copy_text(o->media.source, sizeof(o->media.source), "manual");
       },
       {feature("PageSize", "Letter") + "<</PageSize[612 792]>>setpagedevice\n",
        feature("InputSlot", "Manual")},
       {feature("PageSize", "A4")}},
      {"letter by its dimensions only",
       [](pappl_pr_options_t* o) {
         o->media.size_name[0] = '\0';
         o->media.size_width = 21590;
         o->media.size_length = 27940;
       },
       {feature("PageSize", "Letter")},
       {}},
      {"rear output tray",
       [](pappl_pr_options_t* o) { copy_text(o->output_bin, sizeof(o->output_bin), "face-up"); },
       {feature("OutputBin", "FaceUp")},
       {}},
      {"monochrome",
       [](pappl_pr_options_t* o) { o->print_color_mode = PAPPL_COLOR_MODE_MONOCHROME; },
       {feature("ColorModel", "Gray")},
       {feature("ColorModel", "CMYK")}},
      {"staple",
       [](pappl_pr_options_t* o) { o->finishings = PAPPL_FINISHINGS_STAPLE; },
       {feature("StapleLocation", "SinglePortrait")},
       {}},
      {"three copies",
       [](pappl_pr_options_t* o) { o->copies = 3; },
       {"%%BeginNonPPDFeature: NumCopies 3\n<</NumCopies 3>>setpagedevice\n%%EndNonPPDFeature\n"},
       {}},
      {"a source the PPD lacks keeps the default",
       [](pappl_pr_options_t* o) { copy_text(o->media.source, sizeof(o->media.source), "top"); },
       {feature("InputSlot", "Tray1")},
       {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    pappl_pr_options_t options = default_options(loaded.data);
    c.change(&options);
    const std::string code = code_for(*loaded.driver, options);
    for (const std::string& text : c.present)
      EXPECT_NE(code.find(text), std::string::npos) << text << code;
    for (const std::string& text : c.absent) EXPECT_EQ(code.find(text), std::string::npos) << text;
  }
}

// The capabilities that remain once installed choices are marked: each row marks the sample
// PPD's installable options, and a PPD whose constraints rule out every tray keeps them all,
// with a line saying why.
TEST(PpdDriver, InstalledChoicesNarrowTheCapabilitiesThroughTheConstraints) {
  TempDir dir;
  std::string every_tray = read_file(kSamplePpd);
  replace_text(every_tray, "*UIConstraints: *OptionalTray None *InputSlot Tray2\n",
               "*UIConstraints: *OptionalTray None *InputSlot Tray2\n"
               "*UIConstraints: *OptionalTray None *InputSlot Tray1\n"
               "*UIConstraints: *OptionalTray None *InputSlot Manual\n");
  ASSERT_TRUE(write_file(dir.file("every-tray.ppd"), every_tray));
  const struct Case {
    const char* ppd;
    std::vector<std::pair<const char*, const char*>> installed;
    std::vector<std::string> sources;
    pappl_sides_t sides;
    pappl_finishings_t finishings;
    bool why;
  } cases[] = {
      {"sample",
       {{"Duplexer", "True"}, {"OptionalTray", "PF500"}, {"Stapler", "True"}},
       {"tray-1", "tray-2", "manual"},
       PAPPL_SIDES_ONE_SIDED | PAPPL_SIDES_TWO_SIDED_LONG_EDGE | PAPPL_SIDES_TWO_SIDED_SHORT_EDGE,
       PAPPL_FINISHINGS_STAPLE,
       false},
      {"sample", {}, {"tray-1", "manual"}, PAPPL_SIDES_ONE_SIDED, PAPPL_FINISHINGS_NONE, false},
      {"sample",
       {{"Duplexer", "True"}, {"OptionalTray", "PF1000"}},
       {"tray-1", "tray-2", "manual"},
       PAPPL_SIDES_ONE_SIDED | PAPPL_SIDES_TWO_SIDED_LONG_EDGE | PAPPL_SIDES_TWO_SIDED_SHORT_EDGE,
       PAPPL_FINISHINGS_NONE,
       false},
      {"every-tray",
       {},
       {"tray-1", "tray-2", "manual"},
       PAPPL_SIDES_ONE_SIDED,
       PAPPL_FINISHINGS_NONE,
       true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.ppd) + " with " + std::to_string(c.installed.size()) + " set");
    LoadedDriver loaded;
    const std::string path = strcmp(c.ppd, "sample") == 0 ? kSamplePpd : dir.file("every-tray.ppd");
    load(&loaded, path);
    UniquePpd ppd(ppdOpenFile(path.c_str()));
    ASSERT_NE(ppd, nullptr);
    ppdMarkDefaults(ppd.get());
    for (const auto& [keyword, choice] : c.installed) ppdMarkOption(ppd.get(), keyword, choice);
    pappl_pr_driver_data_t data = loaded.data;
    data.sides_default = PAPPL_SIDES_TWO_SIDED_LONG_EDGE;
    copy_text(data.media_default.source, sizeof(data.media_default.source), "tray-2");
    char why[256] = "";
    narrowCapabilities(ppd.get(), *loaded.driver, &data, why, sizeof(why));
    EXPECT_EQ(strings_of(data.source, data.num_source), c.sources);
    for (int i = 0; i < data.num_source; i++)
      EXPECT_STREQ(data.media_ready[i].source, data.source[i]);
    EXPECT_EQ(data.sides_supported, c.sides);
    // A default the printer lost moves to one it has.
    EXPECT_EQ(data.sides_default, (c.sides & PAPPL_SIDES_TWO_SIDED_LONG_EDGE) != 0
                                      ? PAPPL_SIDES_TWO_SIDED_LONG_EDGE
                                      : PAPPL_SIDES_ONE_SIDED);
    const bool tray_2 = std::find(c.sources.begin(), c.sources.end(), "tray-2") != c.sources.end();
    EXPECT_STREQ(data.media_default.source, tray_2 ? "tray-2" : "tray-1");
    EXPECT_EQ(data.finishings, c.finishings);
    EXPECT_EQ(why[0] != '\0', c.why) << why;
  }
}

TEST(PpdDriver, ChoiceNamesBecomeIppKeywords) {
  const struct {
    const char* choice;
    const char* keyword;
  } cases[] = {{"Tray1", "tray-1"},
               {"FaceUp", "face-up"},
               {"PF500", "pf-500"},
               {"Manual", "manual"},
               {"Large Capacity", "large-capacity"},
               {"500Sheet", "x-500-sheet"},
               {"A4.Rotated", "a-4-rotated"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.choice);
    char keyword[kKeywordSize];
    keywordFromChoice(keyword, sizeof(keyword), c.choice);
    EXPECT_STREQ(keyword, c.keyword);
  }
}

TEST(PpdCatalog, OneDriverPerPpdTheBrokenOneLeftOutWithWhy) {
  TempDir dir;
  ASSERT_TRUE(write_file(dir.file("Zorv Office.ppd"), read_file(kSamplePpd)));
  ASSERT_TRUE(write_file(dir.file("broken.ppd"), "*PPD-Adobe: \"4.3\"\ngarbage\n"));
  ASSERT_TRUE(write_file(dir.file("notes.txt"), "not a PPD\n"));
  TempDir second;
  ASSERT_TRUE(write_file(second.file("zorv office.ppd"), read_file(kSamplePpd)));
  UniqueMalloc<DriverCatalog[]> catalog = make_array<DriverCatalog>(1);
  ASSERT_NE(catalog, nullptr);
  scanPpdDirectories(catalog.get(), (dir.path() + ":" + second.path() + ":/nonexistent").c_str());

  ASSERT_EQ(catalog[0].count, 1);
  EXPECT_STREQ(catalog[0].drivers[0].name, "zorv_office");
  EXPECT_STREQ(catalog[0].drivers[0].description, "Orvane Laser 5100, zorv filters");
  ASSERT_EQ(catalog[0].num_skipped, 2);
  const std::string skipped = joined_lines({catalog[0].skipped[0], catalog[0].skipped[1]});
  EXPECT_NE(skipped.find("broken.ppd: Missing asterisk in column 1 on line 2"), std::string::npos)
      << skipped;
  EXPECT_NE(skipped.find("a driver of the same name comes first"), std::string::npos);

  const struct {
    const char* device_id;
    const char* driver;
  } cases[] = {{"MFG:Orvane;MDL:Laser 5100;CMD:POSTSCRIPT;", "zorv_office"},
               {"MANUFACTURER:orvane;MODEL:LASER 5100;", "zorv_office"},
               {"MFG:Orvane;MDL:Laser 5200;", nullptr},
               {"MDL:Laser 5100;", nullptr},
               {"", nullptr}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.device_id);
    const char* driver = matchDeviceId(catalog[0], c.device_id);
    EXPECT_STREQ(driver, c.driver);
  }

  // One PPD more than the catalog holds: the last one found is left out, and says why.
  TempDir many;
  for (int i = 0; i <= kMaxDrivers; i++) {
    ASSERT_TRUE(write_file(many.file("p" + std::to_string(i) + ".ppd"), read_file(kSamplePpd)));
  }
  UniqueMalloc<DriverCatalog[]> full = make_array<DriverCatalog>(1);
  ASSERT_NE(full, nullptr);
  scanPpdDirectories(full.get(), many.path().c_str());
  EXPECT_EQ(full[0].count, kMaxDrivers);
  ASSERT_EQ(full[0].num_skipped, 1);
  EXPECT_NE(std::string(full[0].skipped[0]).find(": too many drivers"), std::string::npos)
      << full[0].skipped[0];
}

}  // namespace
