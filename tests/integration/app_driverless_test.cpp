// The Printer Application behind a driverless queue of a private scheduler: lpadmin makes the
// queue from the printer's IPP attributes (-m everywhere), a PDF printed on it with lp goes to
// the application as PDF, and the printer stand-in receives it as PostScript, its text still
// text, after the colour-profile block.
#include <memory>
#include <string>

#include <gtest/gtest.h>

#include "support/app_server.h"
#include "support/bytes.h"
#include "support/cupsd.h"
#include "support/hd_block.h"
#include "support/listener.h"
#include "support/paths.h"
#include "support/program.h"

namespace {

constexpr char kPrinterAddress[] = "127.0.0.61";
constexpr int kPrinterPort = 9100;
constexpr int kJobTimeoutMs = 120000;

TEST(AppDriverless, PdfOnADriverlessQueueReachesThePrinterAsPostScriptAfterTheBlock) {
  REQUIRE_ROOT();
  if (!path_exists("/usr/lib/cups/filter/pdftops") &&
      !path_exists("/usr/lib/cups/filter/gstoraster")) {
    GTEST_SKIP() << "cups-filters is needed";
  }
  const std::string profile = pseudo_random_bytes(3000, 21);
  InstalledProfile installed("Orvane", "office.ucs", profile);
  TempDir files;
  ASSERT_TRUE(
      write_file(files.file("zorv-sample.ppd"), read_file(SOURCE_DIR "/samples/zorv-sample.ppd")));
  Listener printer;
  ASSERT_TRUE(printer.start(kPrinterAddress, kPrinterPort));
  AppServer app;
  ASSERT_TRUE(app.start(files.path())) << app.failure();
  ASSERT_TRUE(app.add_printer("office", "zorv-sample",
                              std::string("socket://") + kPrinterAddress + ":9100"))
      << app.failure();

  // The document: one page of text as PDF, made by Ghostscript.
  ASSERT_TRUE(write_file(files.file("page.ps"),
                         "%!PS\n/Helvetica findfont 24 scalefont setfont 72 700 moveto "
                         "(driverless zorv) show showpage\n"));
  ProgramRun gs;
  gs.path = system_program("gs");
  gs.args = {"gs",
             "-q",
             "-dSAFER",
             "-dBATCH",
             "-dNOPAUSE",
             "-sDEVICE=pdfwrite",
             "-sOutputFile=" + files.file("page.pdf"),
             files.file("page.ps")};
  gs.env = filter_environment();
  ASSERT_EQ(run_filter(gs).status, 0);

  Cupsd cupsd;
  ASSERT_TRUE(cupsd.add_system_filters()) << cupsd.failure();
  ASSERT_TRUE(cupsd.start()) << cupsd.failure();
  ASSERT_TRUE(cupsd.add_everywhere_queue("driverless", app.printer_uri("office")))
      << cupsd.failure();
  ProgramResult printed = cupsd.run_client({"lp", "-d", "driverless", files.file("page.pdf")});
  ASSERT_TRUE(printed.exited && printed.status == 0) << printed.describe() << ": " << printed.err;

  ASSERT_TRUE(printer.wait_for_jobs(1, kJobTimeoutMs)) << read_file(cupsd.error_log());
  EXPECT_TRUE(cupsd.wait_idle(kJobTimeoutMs));
  const std::string received = printer.jobs()[0].bytes;
  EXPECT_EQ(hd_block_mismatch(received, profile), "");
  const std::string document =
      received.substr(std::min(received.size(), hd_block_size(profile.size())));
  EXPECT_EQ(document.substr(0, 11), "%!PS-Adobe-") << document.substr(0, 200);
  EXPECT_NE(document.find("%%BeginFeature: *PageSize"), std::string::npos);
  EXPECT_NE(document.find("%%EOF"), std::string::npos);
  // The scheduler sent the PDF as it is, and the text stayed text: not a page image, which
  // would be hundreds of times the PDF's size.
  const std::string pdf = read_file(files.file("page.pdf"));
  EXPECT_LT(document.size(), 30 * pdf.size());
  EXPECT_NE(document.find("(driverless zorv)"), std::string::npos);
  EXPECT_NE(app.log_text().find("application/pdf"), std::string::npos);
}

}  // namespace
