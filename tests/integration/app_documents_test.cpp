// Documents as clients send them, against a private server with the sample PPD: one good
// document of each format and the bad ones (cut short, oversized, zero-sized, wrongly typed,
// decompression bombs), each printed or aborted with its reason and every page it began ended
// at the printer; copies given once and pages counted; a printer that stops reading.
#include <sys/stat.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "support/app_server.h"
#include "support/bytes.h"
#include "support/images.h"
#include "support/listener.h"
#include "support/paths.h"
#include "support/text.h"

namespace {

constexpr char kPrinterAddress[] = "127.0.0.44";
constexpr int kPrinterPort = 9100;
constexpr int kJobTimeoutMs = 120000;

constexpr char kTextPages[] =
    "%!PS\n/Helvetica findfont 24 scalefont setfont\n"
    "72 700 moveto (zorv vector text) show showpage\n"
    "72 700 moveto (second page) show 72 72 moveto 500 500 lineto stroke showpage\n";

// A PostScript document of 16 MiB, more than a socket's buffers hold.
std::string big_postscript(uint32_t seed) {
  return "%!PS-Adobe-3.0\n%%Pages: 1\n%%EndComments\n%%Page: 1 1\n%" +
         pseudo_random_bytes(16 << 20, seed) + "\nshowpage\n%%EOF\n";
}

std::string pages_of_postscript(int pages) {
  std::string document = "%!PS-Adobe-3.0\n%%Pages: " + std::to_string(pages) + "\n%%EndComments\n";
  for (int page = 1; page <= pages; page++) {
    document += "%%Page: " + std::to_string(page) + " " + std::to_string(page) +
                "\n72 72 moveto (page) show showpage\n";
  }
  return document + "%%EOF\n";
}

class AppDocuments : public ::testing::Test {
 protected:
  void start(const std::vector<std::string>& options = {}) {
    REQUIRE_ROOT();
    ASSERT_TRUE(write_file(ppds_.file("zorv-sample.ppd"), fitted_sample_ppd()));
    ASSERT_TRUE(listener_.start(kPrinterAddress, kPrinterPort));
    ASSERT_TRUE(server_.start(ppds_.path(), options)) << server_.failure();
    ASSERT_TRUE(server_.add_printer(
        "office", "zorv-sample",
        std::string("socket://") + kPrinterAddress + ":" + std::to_string(kPrinterPort)))
        << server_.failure();
    uri_ = server_.printer_uri("office");
  }

  // Prints document; the job's end and what the printer received ("" when nothing).
  JobStatus print(const std::string& format, const std::string& document,
                  const JobAttributes& attributes, std::string* received) {
    const size_t before = listener_.jobs().size();
    IppAnswer answer = ipp_print_job(uri_, format, document, attributes);
    EXPECT_EQ(answer.status, IPP_STATUS_OK) << answer.message;
    JobStatus status = ipp_wait_job_end(uri_, answer.job_id, kJobTimeoutMs);
    received->clear();
    if (listener_.wait_for_jobs(before + 1, kJobTimeoutMs)) *received = listener_.jobs()[before].bytes;
    return status;
  }

  // Prints a large document to the printer, which reads nothing, and waits until the job has
  // been writing for a second: its write is blocked then. Returns the job's id.
  int start_blocked_job(uint32_t seed) {
    IppAnswer answer = ipp_print_job(uri_, "application/postscript", big_postscript(seed));
    EXPECT_EQ(answer.status, IPP_STATUS_OK) << answer.message;
    for (int waited = 0; waited < kJobTimeoutMs &&
                         ipp_job_status(uri_, answer.job_id).state != IPP_JSTATE_PROCESSING;
         waited += 100) {
      sleep_ms(100);
    }
    sleep_ms(1000);
    return answer.job_id;
  }

  TempDir ppds_;
  Listener listener_;
  AppServer server_;
  std::string uri_;
};

TEST_F(AppDocuments, EachDocumentPrintsOrIsAbortedWithItsReasonAndItsPagesEnded) {
  start();
  const std::string jpeg = jpeg_document({300, 200, 3, false, 1, 150, 150, false});
  const std::string png = png_document({40, 30, 6, 8, true, 5906, 2953});
  const std::string raster = pwg_raster_page("iso_a4_210x297mm", "sgray_8", 100, 9);
  const std::string pdf = pdf_document(kTextPages);
  ASSERT_NE(pdf, "");
  std::string broken_xref = pdf;
  broken_xref.replace(broken_xref.rfind("startxref\n") + 10, 1, "9");
  const struct {
    const char* name;
    const char* format;
    std::string document;
    ipp_jstate_t end;
    const char* message;  // a piece of job-state-message; "" for a job that completes
  } cases[] = {
      {"PostScript", "application/postscript", pages_of_postscript(3), IPP_JSTATE_COMPLETED, ""},
      {"PWG raster", "image/pwg-raster", raster, IPP_JSTATE_COMPLETED, ""},
      {"JPEG", "image/jpeg", jpeg, IPP_JSTATE_COMPLETED, ""},
      {"progressive gray JPEG", "image/jpeg", jpeg_document({64, 48, 1, true, 0, 1, 1, false}),
       IPP_JSTATE_COMPLETED, ""},
      {"interlaced PNG with alpha", "image/png", png, IPP_JSTATE_COMPLETED, ""},
      // The shape that makes PAPPL 1.3.1's own filter loop for ever: wider than 16384 pixels,
      // a resolution that is not square.
      {"PNG 16385 pixels wide, not square", "image/png",
       png_document({16385, 2, 0, 8, false, 3000, 1000}), IPP_JSTATE_COMPLETED, ""},
      {"palette PNG of 4 bits", "image/png", png_document({33, 7, 3, 4, false, 0, 0}),
       IPP_JSTATE_COMPLETED, ""},
      {"PNG cut short", "image/png", png.substr(0, png.size() / 2), IPP_JSTATE_ABORTED,
       "The PNG image cannot be printed: the PNG data is cut short."},
      {"PNG claiming 60000x60000", "image/png", png_header_claiming(60000, 60000),
       IPP_JSTATE_ABORTED, "60000x60000 pixels, more than the printer's largest page"},
      {"PNG of no pixels", "image/png", png_header_claiming(0, 0), IPP_JSTATE_ABORTED,
       "the PNG data is damaged"},
      {"JPEG sent as PNG", "image/png", jpeg, IPP_JSTATE_ABORTED, "the PNG data is damaged"},
      {"JPEG cut short", "image/jpeg", jpeg.substr(0, jpeg.size() / 2), IPP_JSTATE_ABORTED,
       "The JPEG image cannot be printed: the JPEG data is cut short."},
      {"JPEG claiming 60000x60000", "image/jpeg", jpeg_claiming(jpeg, 60000, 60000),
       IPP_JSTATE_ABORTED, "60000x60000 pixels"},
      // Within the pixels a page may have, but its coefficients alone would take 392 MB.
      {"progressive JPEG bomb", "image/jpeg",
       jpeg_claiming(jpeg_document({64, 64, 1, true, 0, 1, 1, false}), 14000, 14000),
       IPP_JSTATE_ABORTED, "the JPEG image needs more than 128 MiB to decode"},
      {"JPEG of 316 scans", "image/jpeg", jpeg_document({64, 64, 1, true, 0, 1, 1, true}),
       IPP_JSTATE_ABORTED, "the JPEG image has more than 256 scans"},
      {"JPEG of no pixels", "image/jpeg", jpeg_claiming(jpeg, 0, 0), IPP_JSTATE_ABORTED,
       "the JPEG data is damaged"},
      {"PNG sent as JPEG", "image/jpeg", png, IPP_JSTATE_ABORTED, "the JPEG data is damaged"},
      {"PDF", "application/pdf", pdf, IPP_JSTATE_COMPLETED, ""},
      {"PDF with a broken cross-reference", "application/pdf", broken_xref, IPP_JSTATE_COMPLETED,
       ""},
      // Shrunk to the medium, as print-scaling auto has it.
      {"PDF page of 200 x 200 inches", "application/pdf",
       pdf_document(kTextPages, {"-dDEVICEWIDTHPOINTS=14400", "-dDEVICEHEIGHTPOINTS=14400",
                                 "-dFIXEDMEDIA"}),
       IPP_JSTATE_COMPLETED, ""},
      {"encrypted PDF", "application/pdf",
       pdf_document(kTextPages, {"-sOwnerPassword=owner", "-sUserPassword=user"}),
       IPP_JSTATE_ABORTED, "The PDF document cannot be converted: "},
      {"PDF cut short", "application/pdf", pdf.substr(0, pdf.size() / 3), IPP_JSTATE_ABORTED,
       "The PDF document cannot be converted: "},
      {"PDF of ten thousand pages", "application/pdf",
       pdf_document("%!PS\n1 1 10000 { pop showpage } for\n"), IPP_JSTATE_ABORTED,
       "The document has more than 1000 pages."},
      {"JPEG sent as PDF", "application/pdf", jpeg, IPP_JSTATE_ABORTED,
       "The PDF document cannot be converted: "},
      {"PWG raster cut short", "image/pwg-raster", raster.substr(0, raster.size() / 2),
       IPP_JSTATE_ABORTED, "The raster page ended after"},
      {"PWG raster page of 96000x96000", "image/pwg-raster",
       pwg_raster_claiming("iso_a4_210x297mm", "sgray_8", 100, 3, 96000, 96000, 3),
       IPP_JSTATE_ABORTED, "The raster page is too large: 96000x96000 pixels"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::string received;
    const JobStatus status = print(c.format, c.document, {}, &received);
    EXPECT_EQ(status.state, c.end) << status.reasons << ": " << status.message;
    if (c.message[0] != '\0') {
      EXPECT_NE(status.message.find(c.message), std::string::npos) << status.message;
    }
    // Whatever stopped it, the printer got a whole PostScript document: every page it began
    // has ended.
    if (received.rfind("%!PS", 0) == 0) {
      EXPECT_EQ(ghostscript_errors(received), "");
      EXPECT_EQ(received.substr(received.size() - 6), "%%EOF\n");
    }
  }
  std::string received;
  EXPECT_EQ(print("application/postscript", pages_of_postscript(1), {}, &received).state,
            IPP_JSTATE_COMPLETED);
}

TEST_F(AppDocuments, CopiesAreMadeOnceAndEveryPageIsCounted) {
  start();
  const struct {
    const char* name;
    const char* format;
    std::string document;
    int copies;
    size_t num_copies;  // "<</NumCopies N>>" requests in what the printer got
    size_t documents;   // documents in what the printer got
    size_t pages;       // pages in what the printer got
    int impressions;
  } cases[] = {
      {"PostScript of one page", "application/postscript", pages_of_postscript(1), 2, 1, 1, 1, 2},
      // The sample PPD cannot collate: the document goes once per copy.
      {"PostScript of three pages", "application/postscript", pages_of_postscript(3), 2, 0, 2, 6,
       6},
      {"PostScript of three pages, once", "application/postscript", pages_of_postscript(3), 1, 0, 1,
       3, 3},
      {"PWG raster", "image/pwg-raster", pwg_raster_page("iso_a4_210x297mm", "sgray_8", 100, 5), 2,
       1, 1, 1, 2},
      {"JPEG", "image/jpeg", jpeg_document({20, 10, 3, false, 0, 1, 1, false}), 2, 1, 1, 1, 2},
      {"PNG", "image/png", png_document({20, 10, 2, 8, false, 0, 0}), 3, 1, 1, 1, 3},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::string received;
    const JobStatus status =
        print(c.format, c.document, {"copies=" + std::to_string(c.copies)}, &received);
    EXPECT_EQ(status.state, IPP_JSTATE_COMPLETED) << status.message;
    EXPECT_EQ(status.impressions_completed, c.impressions);
    const std::string copies = "<</NumCopies " + std::to_string(c.copies) + ">>setpagedevice";
    EXPECT_EQ(occurrences(received, copies), c.num_copies);
    EXPECT_EQ(occurrences(received, "NumCopies"), 2 * c.num_copies) << received.substr(0, 2000);
    EXPECT_EQ(occurrences(received, "%%EOF"), c.documents);
    EXPECT_EQ(occurrences(received, "showpage\n"), c.pages);
  }
}

// A converter that hangs is stopped after the converter's time, one that dies is reported by
// its signal; the server goes on.
TEST_F(AppDocuments, ConverterThatHangsOrDiesAbortsTheJobWithTheReason) {
  TempDir bin;
  chmod(bin.path().c_str(), 0755);
  const std::string converter = bin.file("converter");
  ASSERT_TRUE(write_file(converter,
                         "#!/bin/sh\nif [ -e " + bin.file("die") +
                             " ]; then kill -SEGV $$; fi\nexec sleep 600\n",
                         0755));
  start({"pdf-converter=" + converter, "converter-timeout=2"});
  const std::string pdf = pdf_document(kTextPages);
  std::string received;
  JobStatus status = print("application/pdf", pdf, {}, &received);
  EXPECT_EQ(status.state, IPP_JSTATE_ABORTED);
  EXPECT_EQ(status.message, "The PDF converter took more than 2 seconds: the job was stopped.");
  ASSERT_TRUE(write_file(bin.file("die"), ""));
  status = print("application/pdf", pdf, {}, &received);
  EXPECT_EQ(status.state, IPP_JSTATE_ABORTED);
  EXPECT_EQ(status.message, "The PDF converter ended by signal 11.");
  EXPECT_EQ(print("application/postscript", pages_of_postscript(1), {}, &received).state,
            IPP_JSTATE_COMPLETED);
}

// A printer that takes the connection and then reads nothing: after the stall time the job
// fails with the reason, and the server and the printer go on once it reads again.
TEST_F(AppDocuments, PrinterThatStopsReadingFailsTheJobAfterTheStallTime) {
  start({"stall-timeout=2"});
  listener_.set_stalled(true);
  IppAnswer answer = ipp_print_job(uri_, "application/postscript", big_postscript(3));
  ASSERT_EQ(answer.status, IPP_STATUS_OK) << answer.message;
  const JobStatus status = ipp_wait_job_end(uri_, answer.job_id, kJobTimeoutMs);
  EXPECT_EQ(status.state, IPP_JSTATE_ABORTED);
  EXPECT_EQ(status.message, "The printer read nothing for 2 seconds: the job was stopped.");
  listener_.set_stalled(false);
  std::string received;
  EXPECT_EQ(print("application/postscript", pages_of_postscript(1), {}, &received).state,
            IPP_JSTATE_COMPLETED);
}

// The same printer with no stall time to speak of: Cancel-Job ends the blocked job, and
// SIGTERM ends the server with a job blocked, instead of PAPPL's minute of waiting.
TEST_F(AppDocuments, CancelAndTermEndAJobWhosePrinterReadsNothing) {
  start();
  listener_.set_stalled(true);
  const int first = start_blocked_job(4);
  EXPECT_EQ(ipp_cancel_job(uri_, first).status, IPP_STATUS_OK);
  EXPECT_EQ(ipp_wait_job_end(uri_, first, 10000).state, IPP_JSTATE_CANCELED);

  start_blocked_job(5);
  // Within the stop's time PAPPL ends its loop, else it is killed and says nothing more.
  server_.stop(5000);
  const std::string log = server_.log_text();
  EXPECT_NE(log.find("The server is stopping: the job was stopped."), std::string::npos);
  EXPECT_NE(log.find("Shutting down system."), std::string::npos);
}

}  // namespace
