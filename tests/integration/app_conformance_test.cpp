// CUPS's IPP test files (ipp-everywhere.test, which includes ipp-2.0.test, and ipp-2.0.test
// alone) run by ipptool against a printer of the Printer Application and against a minimal
// PAPPL printer of the same PAPPL: every test that fails for the application must fail for
// the minimal printer as well, so that what is left is PAPPL's own. The results of both are
// printed.
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "support/app_server.h"
#include "support/cupsd.h"
#include "support/listener.h"
#include "support/paths.h"
#include "support/program.h"
#include "support/text.h"

namespace {

constexpr int kPrinterPort = 9100;
constexpr char kTestDir[] = "/usr/share/cups/ipptool/";
const char* const kTestFiles[] = {"ipp-everywhere.test", "ipp-2.0.test", "ipp-1.1.test"};
// The raster samples that the printers can take (600 dpi, the application's resolution, in
// its three raster types) are real pages; the others only have to be there, since ipptool
// stops at a file it cannot read even in a test that it skips.
const char* const kRasterTypes[] = {"black-1", "sgray-8", "srgb-8"};
constexpr char kRasterDpi[] = "-600dpi.pwg";
// A one-page PDF: no printer here takes PDF, the tests that send it expect a refusal.
constexpr char kPdf[] =
    "%PDF-1.4\n1 0 obj<</Type/Catalog/Pages 2 0 R>>endobj\n"
    "2 0 obj<</Type/Pages/Kids[3 0 R]/Count 1>>endobj\n"
    "3 0 obj<</Type/Page/Parent 2 0 R/MediaBox[0 0 595 842]>>endobj\n"
    "trailer<</Root 1 0 R>>\n%%EOF\n";

struct Outcome {
  std::vector<std::string> names;             // in order, "NAME [n]" for the n-th of a name
  std::map<std::string, std::string> result;  // PASS, FAIL or SKIP
  std::map<std::string, std::string> detail;  // the EXPECTED lines of a failure
  int count(const std::string& what) const {
    int n = 0;
    for (const auto& entry : result) n += entry.second == what ? 1 : 0;
    return n;
  }
};

// ipptool's -t report: "    NAME    [PASS]" lines, each failure followed by its reasons.
Outcome parse(const std::string& report) {
  Outcome outcome;
  std::map<std::string, int> seen;
  std::string last;
  for (const std::string& line : split_lines(report)) {
    const size_t open = line.rfind('[');
    if (line.size() > 6 && open != std::string::npos && line.back() == ']' &&
        line.compare(0, 4, "    ") == 0 && line[4] != ' ') {
      std::string name = line.substr(4, open - 4);
      while (!name.empty() && name.back() == ' ') name.pop_back();
      // A test that the printer answered "busy" is repeated under the same name (REPEAT-MATCH):
      // the last attempt is the test's result.
      const std::string repeated = name + " [" + std::to_string(seen[name]) + "]";
      if (repeated == last) {
        name = repeated;
        outcome.detail.erase(name);
      } else {
        name += " [" + std::to_string(++seen[name]) + "]";
        outcome.names.push_back(name);
      }
      outcome.result[name] = line.substr(open + 1, line.size() - open - 2);
      last = name;
    } else if (!last.empty() && outcome.result[last] == "FAIL" &&
               (line.find("EXPECTED:") != std::string::npos ||
                line.find("status-code") != std::string::npos ||
                line.find("ipptool:") != std::string::npos)) {
      outcome.detail[last] += line + "\n";
    }
  }
  return outcome;
}

// ipptool stops a file at a document that it cannot read (ipp-everywhere.test names sample
// documents that CUPS does not ship): that line, for the report.
std::string stop_reason(const std::string& report) {
  for (const std::string& line : split_lines(report)) {
    if (line.find("cannot be read") != std::string::npos) return line;
  }
  return "";
}

// printer-up-time is 0 in the first second of a server, which IPP does not allow: the test
// files run once both servers are past it.
void wait_up(const std::string& uri) {
  for (int waited = 0;
       waited < 10000 && atoi(ipp_printer_attribute(uri, "printer-up-time").c_str()) <= 0;
       waited += 100) {
    sleep_ms(100);
  }
}

// The PWG media of a sample raster's name.
std::string sample_media(const std::string& name) {
  if (name.find("-a4-") != std::string::npos) return "iso_a4_210x297mm";
  if (name.find("-letter-") != std::string::npos) return "na_letter_8.5x11in";
  return "na_index-4x6_4x6in";
}

// Every document that the test files name, in dir beside copies of the test files.
void make_documents(const TempDir& dir, const std::string& page) {
  for (const char* test : kTestFiles) {
    const std::string text = read_file(kTestDir + std::string(test));
    ASSERT_TRUE(write_file(dir.file(test), text));
    for (const std::string& line : split_lines(text)) {
      const size_t at = line.find("FILE ");
      if (at == std::string::npos || line.find('$') != std::string::npos) continue;
      const std::string name = line.substr(at + 5);
      const std::string path = dir.file(name);
      if (path_exists(path)) continue;
      ASSERT_TRUE(make_dirs(path.substr(0, path.rfind('/'))));
      std::string bytes;
      if (name.size() > 4 && name.compare(name.size() - 3, 3, ".ps") == 0) {
        bytes = page;
      } else if (name.find(".jpg") != std::string::npos && name.find(".pwg") == std::string::npos) {
        bytes = read_file(TEST_DATA_DIR "/app/green.jpg");
      } else if (name.find(".pdf") != std::string::npos) {
        bytes = kPdf;
      } else {
        for (const char* type : kRasterTypes) {
          if (name.find(std::string("/") + type + "/") == std::string::npos ||
              name.find(kRasterDpi) == std::string::npos) {
            continue;
          }
          std::string pwg_type = type;
          pwg_type[pwg_type.find('-')] = '_';
          bytes = pwg_raster_page(sample_media(name), pwg_type, 600, 0);
        }
      }
      ASSERT_TRUE(write_file(path, bytes)) << path;
    }
  }
}

std::string run_ipptool(const std::string& uri, const std::string& document,
                        const std::string& test) {
  ProgramRun run;
  run.path = system_program("ipptool");
  run.args = {"ipptool", "-t", "-I", "-T", "30", "-f", document, uri, test};
  run.env = filter_environment();
  run.timeout_seconds = 300;
  ProgramResult r = run_program(run);
  return r.out + r.err;
}

class Conformance : public ::testing::Test {
 protected:
  void SetUp() override {
    REQUIRE_ROOT();
    if (!path_exists(std::string(kTestDir) + "ipp-everywhere.test")) {
      GTEST_SKIP() << "cups-ipp-utils is needed";
    }
    ASSERT_TRUE(write_file(ppds_.file("zorv-sample.ppd"),
                           read_file(SOURCE_DIR "/samples/zorv-sample.ppd")));
    const std::string page =
        "%!PS-Adobe-3.0\n%%Pages: 1\n%%EndComments\n%%Page: 1 1\n"
        "/Courier findfont 12 scalefont setfont 72 720 moveto (zorv) show\nshowpage\n%%EOF\n";
    ASSERT_TRUE(write_file(document_.file("page.ps"), page));
    make_documents(tests_, page);
    ASSERT_TRUE(app_listener_.start("127.0.0.51", kPrinterPort, false));
    ASSERT_TRUE(minimal_listener_.start("127.0.0.52", kPrinterPort, false));
    ASSERT_TRUE(app_.start(ppds_.path())) << app_.failure();
    ASSERT_TRUE(app_.add_printer("zorv", "zorv-sample", "socket://127.0.0.51:9100"))
        << app_.failure();
    ASSERT_TRUE(minimal_.start(ppds_.path(), {"listen-hostname=localhost"})) << minimal_.failure();
    ASSERT_TRUE(minimal_.add_printer("minimal", "minimal", "socket://127.0.0.52:9100"))
        << minimal_.failure();
  }

  TempDir ppds_;
  TempDir document_;
  TempDir tests_;
  Listener app_listener_;
  Listener minimal_listener_;
  AppServer app_;
  AppServer minimal_{PAPPL_MINIMAL_PATH};
};

TEST_F(Conformance, EveryFailureIsOneThatAMinimalPapplPrinterHasToo) {
  wait_up(app_.printer_uri("zorv"));
  wait_up(minimal_.printer_uri("minimal"));
  for (const std::string test : {"ipp-everywhere.test", "ipp-2.0.test"}) {
    SCOPED_TRACE(test);
    const std::string report =
        run_ipptool(app_.printer_uri("zorv"), document_.file("page.ps"), tests_.file(test));
    const Outcome app = parse(report);
    const Outcome minimal = parse(
        run_ipptool(minimal_.printer_uri("minimal"), document_.file("page.ps"), tests_.file(test)));
    ASSERT_FALSE(app.names.empty());
    printf(
        "%s: zorv-printer-app %d passed, %d failed, %d skipped; minimal PAPPL printer %d "
        "passed, %d failed, %d skipped\n",
        test.c_str(), app.count("PASS"), app.count("FAIL"), app.count("SKIP"),
        minimal.count("PASS"), minimal.count("FAIL"), minimal.count("SKIP"));
    for (const std::string& name : app.names) {
      if (app.result.at(name) != "FAIL") continue;
      const auto other = minimal.result.find(name);
      const bool shared = other != minimal.result.end() && other->second == "FAIL";
      printf("  FAIL %s%s\n%s", name.c_str(), shared ? " (the minimal printer fails it too)" : "",
             app.detail.count(name) ? app.detail.at(name).c_str() : "");
      EXPECT_TRUE(shared) << name << " fails for the application alone:\n"
                          << (app.detail.count(name) ? app.detail.at(name) : "");
    }
    for (const std::string& name : minimal.names) {
      if (minimal.result.at(name) == "FAIL" && app.result.count(name) &&
          app.result.at(name) != "FAIL") {
        printf("  the minimal printer alone fails %s\n%s", name.c_str(),
               minimal.detail.count(name) ? minimal.detail.at(name).c_str() : "");
      }
    }
    if (!stop_reason(report).empty()) printf("  stopped: %s\n", stop_reason(report).c_str());
  }
}

}  // namespace
