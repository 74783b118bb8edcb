// The printer's driver page in a real browser: headless Chromium renders it from the running
// Printer Application, the test reads what it shows (driver, colour profile, media) and keeps
// a screenshot as a test artefact (build/test-artifacts/app-driver-page.png).
#include <unistd.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "support/app_server.h"
#include "support/cupsd.h"
#include "support/listener.h"
#include "support/paths.h"
#include "support/program.h"

namespace {

constexpr int kBrowserTimeoutSeconds = 120;

ProgramResult chromium(const TempDir& profile, const std::vector<std::string>& what,
                       const std::string& url) {
  ProgramRun run;
  run.path = system_program("chromium");
  run.args = {"chromium",
              "--headless=new",
              "--no-sandbox",
              "--disable-gpu",
              "--no-first-run",
              "--user-data-dir=" + profile.path(),
              "--window-size=1100,1300"};
  run.args.insert(run.args.end(), what.begin(), what.end());
  run.args.push_back(url);
  run.env = filter_environment({"HOME=" + profile.path()});
  run.timeout_seconds = kBrowserTimeoutSeconds;
  return run_program(run);
}

TEST(AppWeb, DriverPageShowsTheDriverTheColourProfileAndTheMedia) {
  REQUIRE_ROOT();
  if (!path_exists(system_program("chromium"))) GTEST_SKIP() << "chromium is needed";
  InstalledProfile profile("Orvane", "office.ucs", "profile bytes");
  TempDir ppds;
  ASSERT_TRUE(
      write_file(ppds.file("zorv-sample.ppd"), fitted_sample_ppd()));
  AppServer app;
  ASSERT_TRUE(app.start(ppds.path())) << app.failure();
  ASSERT_TRUE(app.add_printer("office", "zorv-sample", "socket://127.0.0.71:9100"))
      << app.failure();

  TempDir browser;
  const std::string url = app.web_url("/office/driver");
  ProgramResult dom = chromium(browser, {"--dump-dom"}, url);
  ASSERT_TRUE(dom.exited && dom.status == 0) << dom.describe() << ": " << dom.err;
  const std::vector<std::string> shown_texts = {
      "<td>zorv-sample</td>",
      "<td>Orvane Laser 5100, zorv filters</td>",
      "<td id=\"zorv-ucs\">auto: the profile named like the printer, office</td>",
      "<td>iso_a4_210x297mm</td><td>A4</td><td>209.9 x 297.0</td>",
      "<td>na_letter_8.5x11in</td><td>Letter</td>",
      "tray-1, tray-2, manual"};
  for (const std::string& shown : shown_texts) {
    EXPECT_NE(dom.out.find(shown), std::string::npos) << shown << "\n" << dom.out;
  }

  const std::string artefacts = ARTEFACT_DIR;
  ASSERT_TRUE(make_dirs(artefacts));
  const std::string shot = artefacts + "/app-driver-page.png";
  unlink(shot.c_str());
  ProgramResult screenshot = chromium(browser, {"--screenshot=" + shot}, url);
  EXPECT_TRUE(screenshot.exited && screenshot.status == 0) << screenshot.err;
  EXPECT_EQ(read_file(shot).substr(0, 8), "\x89PNG\r\n\x1a\n");
}

}  // namespace
