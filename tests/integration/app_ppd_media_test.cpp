// Media from any PPD: the project's PPDs, the sample PPD with sizes of different imageable
// areas, and a few dozen makers' PostScript PPDs of Debian's openprinting-ppds package (listed
// in tests/data/ppd/makers-ppds.txt) each give a printer whose ready media, media and margins
// PAPPL publishes.
#include <sys/stat.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "support/app_server.h"
#include "support/cupsd.h"
#include "support/paths.h"
#include "support/program.h"
#include "support/text.h"

namespace {

constexpr char kMakersDriver[] = "/usr/lib/cups/driver/openprinting-ppds";
constexpr char kDevice[] = "socket://127.0.0.46:9100";

// The driver name the server gives a PPD file: lowercase, and characters other than letters,
// digits, '-' and '_' made '_'.
std::string driver_of(const std::string& file) {
  std::string name = file.substr(0, file.rfind(".ppd"));
  for (char& c : name) {
    c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
    if (!isalnum(static_cast<unsigned char>(c)) && c != '-' && c != '_') c = '_';
  }
  return name;
}

TEST(AppPpdMedia, EveryPpdGivesAPrinterWithMedia) {
  REQUIRE_ROOT();
  TempDir ppds;
  chmod(ppds.path().c_str(), 0755);
  std::vector<std::string> files = {"zorv-sample.ppd", "worked-example.ppd", "letter-area.ppd"};
  ASSERT_TRUE(write_file(ppds.file(files[0]), read_file(SOURCE_DIR "/samples/zorv-sample.ppd")));
  ASSERT_TRUE(write_file(ppds.file(files[1]),
                         read_file(SOURCE_DIR "/docs/examples/worked-example.ppd")));
  // A common shape of makers' PPDs: one size with an imageable area of its own.
  std::string letter = read_file(SOURCE_DIR "/samples/zorv-sample.ppd");
  replace_text(letter, "*ImageableArea Letter/US Letter: \"12 12 600 780\"",
               "*ImageableArea Letter/US Letter: \"30 24 582 768\"");
  ASSERT_TRUE(write_file(ppds.file(files[2]), letter));

  const std::vector<std::string> makers = split_lines(read_file(TEST_DATA_DIR "/ppd/makers-ppds.txt"));
  std::string names;
  for (const std::string& line : makers) {
    if (line.empty() || line[0] == '#') continue;
    names += line + "\n";
    files.push_back(line.substr(line.rfind('/') + 1));
  }
  if (!path_exists(kMakersDriver)) {
    GTEST_SKIP() << "openprinting-ppds is needed (scripts/install-deps.sh installs it)";
  }
  ProgramRun extract;
  extract.path = system_program("python3");
  extract.args = {"python3", TEST_DATA_DIR "/app/extract-ppds.py", kMakersDriver, ppds.path()};
  extract.env = filter_environment();
  extract.input = names;
  ASSERT_EQ(run_filter(extract).status, 0);

  AppServer server;
  ASSERT_TRUE(server.start(ppds.path())) << server.failure();
  int number = 0;
  for (const std::string& file : files) {
    SCOPED_TRACE(file);
    const std::string printer = "p" + std::to_string(++number);
    ASSERT_TRUE(server.add_printer(printer, driver_of(file), kDevice)) << server.failure();
    const std::string uri = server.printer_uri(printer);
    EXPECT_NE(ipp_printer_attribute(uri, "media-ready"), "");
    EXPECT_NE(ipp_printer_attribute(uri, "media-col-ready"), "");
    EXPECT_NE(ipp_printer_attribute(uri, "media-supported"), "");
    EXPECT_NE(ipp_printer_attribute(uri, "media-left-margin-supported"), "");
  }
  EXPECT_EQ(server.log_text().find("Unsupported media-ready"), std::string::npos);
}

}  // namespace
