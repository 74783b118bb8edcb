// The Printer Application serving the sample PPD: a printer added by the command line prints
// PostScript and raster documents to the printer stand-in after the colour-profile block, and
// bad input (broken documents, a printer that refuses connections, a cancelled job, values
// the PPD lacks, a PPD that does not open) leaves the server serving.
#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "support/app_server.h"
#include "support/bytes.h"
#include "support/hd_block.h"
#include "support/listener.h"
#include "support/paths.h"
#include "support/program.h"
#include "support/text.h"

namespace {

constexpr char kPrinterAddress[] = "127.0.0.41";
constexpr char kSecondAddress[] = "127.0.0.42";
constexpr char kSilentAddress[] = "127.0.0.43";
constexpr int kPrinterPort = 9100;
constexpr char kDriver[] = "zorv-sample";
constexpr int kJobTimeoutMs = 120000;

std::string socket_uri(const char* address) {
  return std::string("socket://") + address + ":" + std::to_string(kPrinterPort);
}

// A DSC document whose setup the job's options end.
std::string postscript(const std::string& body) {
  return "%!PS-Adobe-3.0\n%%Pages: 1\n%%EndComments\n%%BeginSetup\n/zorv 1 def\n%%EndSetup\n"
         "%%Page: 1 1\n" +
         body + "\nshowpage\n%%EOF\n";
}

std::string pwg_raster() {
  return pwg_raster_page("iso_a4_210x297mm", "sgray_8", 100, 9);
}

class AppPrinting : public ::testing::Test {
 protected:
  void SetUp() override {
    REQUIRE_ROOT();
    profile_ = pseudo_random_bytes(5000, 1);
    installed_ = std::make_unique<InstalledProfile>("Orvane", "office.ucs", profile_);
    ASSERT_TRUE(write_file(ppds_.file("zorv-sample.ppd"),
                           fitted_sample_ppd()));
    ASSERT_TRUE(write_file(ppds_.file("broken.ppd"), "*PPD-Adobe: \"4.3\"\ngarbage\n"));
    ASSERT_TRUE(listener_.start(kPrinterAddress, kPrinterPort));
    ASSERT_TRUE(server_.start(ppds_.path())) << server_.failure();
    ASSERT_TRUE(server_.add_printer("office", kDriver, socket_uri(kPrinterAddress)))
        << server_.failure();
  }

  // Prints and returns what the printer received, after checking that the job completed.
  std::string print(const std::string& format, const std::string& document,
                    const JobAttributes& attributes = {}) {
    const size_t before = listener_.jobs().size();
    IppAnswer answer = ipp_print_job(server_.printer_uri("office"), format, document, attributes);
    EXPECT_EQ(answer.status, IPP_STATUS_OK) << answer.message;
    JobStatus status =
        ipp_wait_job_end(server_.printer_uri("office"), answer.job_id, kJobTimeoutMs);
    EXPECT_EQ(status.state, IPP_JSTATE_COMPLETED) << status.reasons << ": " << status.message;
    if (!listener_.wait_for_jobs(before + 1, kJobTimeoutMs)) return "";
    return listener_.jobs()[before].bytes;
  }

  // The received bytes after the block of the printer's profile, which must lead them.
  std::string after_block(const std::string& received) {
    EXPECT_EQ(hd_block_mismatch(received, profile_), "");
    return received.substr(std::min(received.size(), hd_block_size(profile_.size())));
  }

  TempDir ppds_;
  std::string profile_;
  std::unique_ptr<InstalledProfile> installed_;
  Listener listener_;
  AppServer server_;
};

TEST_F(AppPrinting, PostScriptArrivesAfterTheBlockWithTheJobsOptionsInItsSetup) {
  const std::string document = postscript("(zorv) show");
  const std::string received =
      after_block(print("application/postscript", document,
                        {"sides=two-sided-long-edge", "media=na_letter_8.5x11in", "copies=2"}));
  const size_t setup_end = document.find("%%EndSetup");
  ASSERT_EQ(received.substr(0, setup_end), document.substr(0, setup_end));
  const std::string code = received.substr(setup_end, received.size() - document.size());
  EXPECT_NE(code.find("%%BeginFeature: *Duplex DuplexNoTumble\n"), std::string::npos) << code;
  EXPECT_NE(code.find("%%BeginFeature: *PageSize Letter\n"), std::string::npos) << code;
  EXPECT_NE(code.find("<</NumCopies 2>>setpagedevice"), std::string::npos) << code;
  EXPECT_EQ(received.substr(received.size() - (document.size() - setup_end)),
            document.substr(setup_end));

  // A job that names another installed profile carries that one's block instead.
  const std::string photo = pseudo_random_bytes(300, 4);
  InstalledProfile photo_profile("Kestrel", "Photo.ucs", photo);
  ASSERT_TRUE(server_.restart()) << server_.failure();
  const std::string named = print("application/postscript", document, {"zorv-ucs=Photo"});
  EXPECT_EQ(hd_block_mismatch(named, photo), "");
  EXPECT_NE(
      ipp_printer_attribute(server_.printer_uri("office"), "zorv-ucs-supported").find("Photo"),
      std::string::npos);
}

TEST_F(AppPrinting, RasterDocumentsBecomePostScriptPages) {
  const std::string received = after_block(print("image/pwg-raster", pwg_raster()));
  EXPECT_EQ(received.find("%!PS-Adobe-3.0\n"), 0u);
  EXPECT_NE(received.find("%%BeginFeature: *PageSize A4\n"), std::string::npos);
  EXPECT_NE(received.find("/DeviceGray setcolorspace"), std::string::npos);
  EXPECT_NE(received.find("%%Pages: 1\n%%EOF\n"), std::string::npos);
}

// Each bad input, then a good job on the same printer: the server goes on.
TEST_F(AppPrinting, BadInputLeavesTheServerServing) {
  const std::string raster = pwg_raster();
  const std::string jpeg = read_file(TEST_DATA_DIR "/app/green.jpg");
  const std::string uri = server_.printer_uri("office");
  const struct {
    const char* name;
    const char* format;
    std::string document;
    JobAttributes attributes;
    ipp_status_t status;  // of Print-Job
    ipp_jstate_t end;     // of the job, when it was taken
  } cases[] = {
      {"truncated PWG raster",
       "image/pwg-raster",
       raster.substr(0, raster.size() / 2),
       {},
       IPP_STATUS_OK,
       IPP_JSTATE_ABORTED},
      {"PWG raster without a page",
       "image/pwg-raster",
       raster.substr(0, 100),
       {},
       IPP_STATUS_OK,
       IPP_JSTATE_ABORTED},
      {"corrupt JPEG",
       "image/jpeg",
       jpeg.substr(0, 20) + std::string(200, '\x55'),
       {},
       IPP_STATUS_OK,
       IPP_JSTATE_ABORTED},
      // PAPPL 1.3.1 checks the values of media and sides against the printer's: outside them
      // it substitutes the default and answers so, as IPP has it for a request without
      // fidelity (it does not look at ipp-attribute-fidelity). It does not check output-bin:
      // a bin the PPD lacks leaves the PPD's default bin marked.
      {"a size the PPD lacks",
       "application/postscript",
       postscript(""),
       {"media=na_legal_8.5x14in", "ipp-attribute-fidelity=true"},
       IPP_STATUS_OK_IGNORED_OR_SUBSTITUTED,
       IPP_JSTATE_COMPLETED},
      {"sides out of the keywords",
       "application/postscript",
       postscript(""),
       {"sides=three-sided"},
       IPP_STATUS_OK_IGNORED_OR_SUBSTITUTED,
       IPP_JSTATE_COMPLETED},
      {"a bin the PPD lacks",
       "application/postscript",
       postscript(""),
       {"output-bin=stacker-9"},
       IPP_STATUS_OK,
       IPP_JSTATE_COMPLETED},
      {"copies out of range",
       "application/postscript",
       postscript(""),
       {"copies=0"},
       IPP_STATUS_ERROR_ATTRIBUTES_OR_VALUES,
       IPP_JSTATE_PENDING},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const size_t before = listener_.jobs().size();
    IppAnswer answer = ipp_print_job(uri, c.format, c.document, c.attributes);
    EXPECT_EQ(answer.status, c.status) << answer.message;
    if (answer.job_id > 0) {
      JobStatus status = ipp_wait_job_end(uri, answer.job_id, kJobTimeoutMs);
      EXPECT_EQ(status.state, c.end) << status.reasons;
      EXPECT_NE(status.message, "") << status.reasons;
      // The device was opened for the job, whatever came of it.
      EXPECT_TRUE(listener_.wait_for_jobs(before + 1, kJobTimeoutMs));
    }
    const std::string good = postscript("(after) show");
    EXPECT_NE(after_block(print("application/postscript", good)).find("(after) show"),
              std::string::npos);
  }
}

TEST_F(AppPrinting, CancelledJobSendsNothingMoreAndTheNextJobPrints) {
  listener_.set_read_pause_us(2000);
  const std::string big = postscript("%" + pseudo_random_bytes(32 << 20, 6));
  const std::string uri = server_.printer_uri("office");
  const size_t before = listener_.jobs().size();
  IppAnswer answer = ipp_print_job(uri, "application/postscript", big);
  ASSERT_EQ(answer.status, IPP_STATUS_OK) << answer.message;
  ASSERT_TRUE(listener_.wait_for_bytes(1 << 20, kJobTimeoutMs));
  EXPECT_EQ(ipp_cancel_job(uri, answer.job_id).status, IPP_STATUS_OK);
  listener_.set_read_pause_us(0);
  EXPECT_EQ(ipp_wait_job_end(uri, answer.job_id, kJobTimeoutMs).state, IPP_JSTATE_CANCELED);
  ASSERT_TRUE(listener_.wait_for_jobs(before + 1, kJobTimeoutMs));
  EXPECT_LT(listener_.jobs()[before].length, big.size() / 2);
  EXPECT_NE(after_block(print("application/postscript", postscript("(next) show"))).find("(next)"),
            std::string::npos);
}

TEST_F(AppPrinting, TwoPrintersPrintAtOnce) {
  Listener second;
  ASSERT_TRUE(second.start(kSecondAddress, kPrinterPort));
  ASSERT_TRUE(server_.add_printer("second", kDriver, socket_uri(kSecondAddress)))
      << server_.failure();
  const std::string one = postscript("%" + pseudo_random_bytes(8 << 20, 11));
  const std::string two = postscript("%" + pseudo_random_bytes(8 << 20, 12));
  IppAnswer a = ipp_print_job(server_.printer_uri("office"), "application/postscript", one);
  IppAnswer b = ipp_print_job(server_.printer_uri("second"), "application/postscript", two);
  ASSERT_TRUE(listener_.wait_for_jobs(1, kJobTimeoutMs));
  ASSERT_TRUE(second.wait_for_jobs(1, kJobTimeoutMs));
  EXPECT_EQ(ipp_wait_job_end(server_.printer_uri("office"), a.job_id).state, IPP_JSTATE_COMPLETED);
  EXPECT_EQ(ipp_wait_job_end(server_.printer_uri("second"), b.job_id).state, IPP_JSTATE_COMPLETED);
  // The second printer's name has no profile: no block, the document with its options.
  const std::string at_second = second.jobs()[0].bytes;
  EXPECT_EQ(at_second.substr(0, 15), "%!PS-Adobe-3.0\n");
  EXPECT_EQ(at_second.substr(at_second.size() - 1000), two.substr(two.size() - 1000));
  const std::string at_office = after_block(listener_.jobs()[0].bytes);
  EXPECT_EQ(at_office.substr(at_office.size() - 1000), one.substr(one.size() - 1000));
}

// Jobs that arrive while others end: PAPPL 1.3.1 could start a job a second time (two threads
// wrote it to one connection, and the one that ended first closed the device under the other).
TEST_F(AppPrinting, JobsSentAtOnceEachPrintOnce) {
  constexpr int kClients = 4;
  constexpr int kJobs = 48;  // job k is sent by client k % kClients and shows "(job-k)"
  const std::string uri = server_.printer_uri("office");
  std::vector<int> ids(kJobs);
  std::vector<std::thread> clients;
  for (int c = 0; c < kClients; ++c) {
    clients.emplace_back([&, c] {
      for (int k = c; k < kJobs; k += kClients) {
        const std::string mark = "(job-" + std::to_string(k) + ")";
        ids[k] = ipp_print_job(uri, "application/postscript", postscript(mark)).job_id;
      }
    });
  }
  for (std::thread& client : clients) client.join();
  for (int id : ids) {
    ASSERT_GT(id, 0);
    const JobStatus status = ipp_wait_job_end(uri, id, kJobTimeoutMs);
    EXPECT_EQ(status.state, IPP_JSTATE_COMPLETED) << id << ": " << status.message;
  }
  ASSERT_TRUE(server_.running()) << server_.log_text();
  // PAPPL keeps the connection open while jobs wait, and closes it after the last job has
  // ended: count marks, not connections, once the printer has them all.
  std::string received;
  for (int waited_ms = 0; waited_ms < kJobTimeoutMs; waited_ms += 50) {
    received.clear();
    for (const ReceivedJob& job : listener_.jobs()) received += job.bytes;
    if (occurrences(received, "(job-") >= kJobs) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  for (int k = 0; k < kJobs; ++k) {
    const std::string mark = "(job-" + std::to_string(k) + ")";
    EXPECT_EQ(occurrences(received, mark), 1U) << mark;
  }
}

TEST_F(AppPrinting, PrinterThatRefusesConnectionsKeepsTheJobAndTheServerAnswers) {
  ASSERT_TRUE(server_.add_printer("silent", kDriver, socket_uri(kSilentAddress)))
      << server_.failure();
  const std::string uri = server_.printer_uri("silent");
  IppAnswer answer = ipp_print_job(uri, "application/postscript", postscript(""));
  ASSERT_EQ(answer.status, IPP_STATUS_OK) << answer.message;
  // PAPPL retries the device: the job is not lost, the printer says why, others go on.
  JobStatus status = ipp_wait_job_end(uri, answer.job_id, 5000);
  EXPECT_LT(status.state, IPP_JSTATE_CANCELED) << status.reasons;
  EXPECT_NE(ipp_printer_attribute(uri, "printer-state-message"), "");
  EXPECT_NE(
      after_block(print("application/postscript", postscript("(other) show"))).find("(other)"),
      std::string::npos);
  EXPECT_EQ(ipp_cancel_job(uri, answer.job_id).status, IPP_STATUS_OK);
}

TEST_F(AppPrinting, PpdThatDoesNotOpenIsLeftOutAndPrintersSurviveARestart) {
  // Also with the port of the running server, as on a machine whose service runs: the listing
  // needs no server of its own. The PPD left out is named.
  for (const std::string& port : {std::string(), "server-port=" + std::to_string(server_.port())}) {
    SCOPED_TRACE(port);
    std::vector<std::string> args = {"drivers", "-o", "ppd-directories=" + ppds_.path()};
    if (!port.empty()) args.insert(args.end(), {"-o", port});
    ProgramResult drivers = server_.run(args);
    EXPECT_EQ(drivers.status, 0);
    EXPECT_EQ(drivers.err.find("Address already in use"), std::string::npos) << drivers.err;
    EXPECT_NE(drivers.err.find("PPD left out: " + ppds_.file("broken.ppd")), std::string::npos)
        << drivers.err;
    EXPECT_EQ(drivers.out,
              "zorv-sample \"Orvane Laser 5100, zorv filters\" "
              "\"MFG:Orvane;MDL:Laser 5100;CMD:PJL,POSTSCRIPT;CLS:PRINTER;\"\n");
  }
  EXPECT_NE(server_.log_text().find("PPD left out: " + ppds_.file("broken.ppd") +
                                    ": Missing asterisk in column 1 on line 2."),
            std::string::npos);
  ASSERT_TRUE(server_.restart()) << server_.failure();
  EXPECT_EQ(server_.run({"printers"}).out, "office\n");
  EXPECT_NE(
      after_block(print("application/postscript", postscript("(again) show"))).find("(again)"),
      std::string::npos);
}

}  // namespace
