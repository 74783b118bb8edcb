// The Printer Application as a service that only administrators administer, tried as the
// unprivileged user nobody against a private server: every administrative route by the local
// socket and over loopback is refused with the status a client expects and changes nothing,
// printing stays open; no device URI writes a file or sends the SNMP credentials elsewhere, by
// any route; administrators are root, the local socket's clients and, over loopback, users of
// the administrators' group who give their password (checked by PAM).
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "support/app_server.h"
#include "support/cupsd.h"
#include "support/paths.h"
#include "support/listener.h"
#include "support/program.h"
#include "support/text.h"

namespace {

constexpr char kPrinter[] = "office";
constexpr char kAdmin[] = "zorvadmin:admin-secret";
constexpr char kUser[] = "zorvuser:user-secret";
constexpr char kUntouched[] = "root:x:0:0:root:/root:/bin/bash\n";

// One IPP request of ipptool: the operation, its target ("system-uri" or "printer-uri") and
// the rest of its attributes.
std::string ipp_test(const std::string& operation, const std::string& target,
                     const std::string& attributes) {
  return "{ NAME \"" + operation + "\" OPERATION " + operation +
         " GROUP operation-attributes-tag ATTR charset attributes-charset utf-8 "
         "ATTR naturalLanguage attributes-natural-language en ATTR uri " +
         target + " $uri " + attributes + " STATUS successful-ok }\n";
}

const std::string kCreateFilePrinter =
    "ATTR uri smi55357-device-uri file://$evil ATTR keyword smi55357-driver zorv-sample "
    "ATTR keyword printer-service-type print "
    "GROUP printer-attributes-tag ATTR name printer-name evil";

// text as a form's value: every byte but letters and digits escaped.
std::string form_value(const std::string& text) {
  std::string value;
  for (const unsigned char c : text) {
    char escaped[4];
    snprintf(escaped, sizeof(escaped), "%%%02X", c);
    value += isalnum(c) != 0 ? std::string(1, static_cast<char>(c)) : std::string(escaped);
  }
  return value;
}

class AppAdmin : public ::testing::Test {
 protected:
  void SetUp() override {
    REQUIRE_ROOT();
    nobody_ = static_cast<int>(getpwnam("nobody")->pw_uid);
    ASSERT_TRUE(printer_.start("127.0.0.81", 9100, false));
    ASSERT_TRUE(write_file(ppds_.file("zorv-sample.ppd"), fitted_sample_ppd()));
    ASSERT_TRUE(app_.start(ppds_.path(), {},
                           {{"zorvadmin", "admin-secret", true}, {"zorvuser", "user-secret", false}}))
        << app_.failure();
    ASSERT_TRUE(app_.add_printer(kPrinter, "zorv-sample", "socket://127.0.0.81:9100"))
        << app_.failure();
    // What the attack of a file: device went for: an existing file the server may write.
    evil_ = files_.file("evil");
    ASSERT_TRUE(write_file(evil_, kUntouched));
  }

  // What must not change: the printers, the printer's capabilities and location, the server.
  void expect_untouched() {
    EXPECT_TRUE(app_.running());
    EXPECT_EQ(app_.run({"printers"}).out, std::string(kPrinter) + "\n");
    EXPECT_EQ(attribute("sides-supported"), "one-sided,two-sided-long-edge,two-sided-short-edge");
    EXPECT_EQ(attribute("printer-location"), "");
    EXPECT_NE(attribute("printer-state"), "stopped");
    EXPECT_EQ(read_file(evil_), kUntouched);
  }

  std::string attribute(const std::string& name) {
    return ipp_printer_attribute(app_.printer_uri(kPrinter), name);
  }

  // ipptool's run of tests against uri as uid; its report, and whether every test passed.
  bool ipptool_as(int uid, const std::string& uri, const std::string& tests, std::string* report) {
    EXPECT_TRUE(write_file(files_.file("requests.test"), tests));
    EXPECT_TRUE(write_file(files_.file("page.ps"), "%!PS-Adobe-3.0\nshowpage\n"));
    chmod(files_.path().c_str(), 0755);
    ProgramRun run;
    run.path = system_program("ipptool");
    run.args = {"ipptool", "-t", "-d", "evil=" + evil_, "-d", "page=" + files_.file("page.ps"),
                uri, files_.file("requests.test")};
    run.env = filter_environment();
    run.uid = uid;
    ProgramResult r = run_program(run);
    *report = r.out + r.err;
    return r.exited && r.status == 0;
  }

  TempDir ppds_;
  TempDir files_;
  Listener printer_;
  AppServer app_;
  std::string evil_;
  int nobody_ = -1;
};

TEST_F(AppAdmin, NobodyAdministersNothingByTheLocalSocket) {
  const std::vector<std::vector<std::string>> commands = {
      {"add", "-d", "evil", "-m", "zorv-sample", "-v", "file://" + evil_},
      {"delete", "-d", kPrinter},
      {"modify", "-d", kPrinter, "-o", "printer-location=Evil"},
      {"query", "-d", kPrinter},
      {"shutdown"},
  };
  for (const auto& command : commands) {
    SCOPED_TRACE(command[0]);
    ProgramResult r = app_.run(command, 30, nobody_);
    EXPECT_TRUE(r.exited && r.status != 0) << r.describe() << r.out << r.err;
    expect_untouched();
  }
}

TEST_F(AppAdmin, NobodyAdministersNothingOverLoopbackButPrints) {
  const std::string system_uri = "ipp://127.0.0.1:" + std::to_string(app_.port()) + "/ipp/system";
  const struct {
    const char* operation;
    bool system;
    std::string attributes;
    const char* answer;
  } operations[] = {
      {"Create-Printer", true, kCreateFilePrinter, "client-error-not-authenticated"},
      {"Delete-Printer", true, "ATTR integer printer-id 1", "client-error-not-authenticated"},
      {"Shutdown-All-Printers", true, "", "client-error-not-authenticated"},
      {"Set-Printer-Attributes", false,
       "GROUP printer-attributes-tag ATTR text printer-location Evil",
       "client-error-not-authenticated"},
      {"Pause-Printer", false, "", "client-error-not-authenticated"},
      {"Print-Job", false, "ATTR mimeMediaType document-format application/postscript FILE $page",
       "[PASS]"},
  };
  for (const auto& operation : operations) {
    SCOPED_TRACE(operation.operation);
    std::string report;
    ipptool_as(nobody_, operation.system ? system_uri : app_.printer_uri(kPrinter),
               ipp_test(operation.operation, operation.system ? "system-uri" : "printer-uri",
                        operation.attributes),
               &report);
    EXPECT_NE(report.find(operation.answer), std::string::npos) << report;
    expect_untouched();
  }

  const std::string accessories = std::string("/") + kPrinter + "/accessories";
  const std::string query = std::string("/zorv-query?printer=") + kPrinter;
  const struct {
    std::string path;
    std::string form;
    std::string credentials;
    int status;
  } requests[] = {
      {accessories, "", "", 401},
      {accessories, "hand-Duplexer=False&save=Save", "", 401},
      {accessories, "hand-Duplexer=False&save=Save", kUser, 403},
      {accessories, "", "zorvadmin:wrong", 401},
      {"/addprinter", "", "", 401},
      {query, "", "", 401},
      // An administrator's query over TCP is a form of the server's own, never a GET.
      {query, "", kAdmin, 405},
      {"/zorv-query", std::string("printer=") + kPrinter, kAdmin, 403},
  };
  for (const auto& request : requests) {
    SCOPED_TRACE(request.path + " " + request.form + " " + request.credentials);
    int status = 0;
    http_page(app_.web_url(request.path), &status, request.form, request.credentials);
    EXPECT_EQ(status, request.status);
    expect_untouched();
  }
}

TEST_F(AppAdmin, AdministratorsOverLoopbackGiveTheirPassword) {
  const std::string accessories = std::string("/") + kPrinter + "/accessories";
  int status = 0;
  const std::string page = http_page(app_.web_url(accessories), &status, "", kAdmin);
  ASSERT_EQ(status, 200) << app_.log_text();
  const std::string token = session_field(page);
  http_page(app_.web_url(accessories), &status, token + "&hand-Duplexer=False&save=Save", kAdmin);
  EXPECT_EQ(status, 200);
  EXPECT_EQ(attribute("sides-supported"), "one-sided");
  // The printer does not answer: the query ran, and nothing came back.
  http_page(app_.web_url("/zorv-query"), &status, token + "&printer=" + kPrinter, kAdmin);
  EXPECT_EQ(status, 202);
}

TEST_F(AppAdmin, NoRouteMakesAPrinterThatWritesFilesOrSendsCredentialsElsewhere) {
  const struct {
    std::string uri;
    const char* refusal;  // "" when the printer is made
  } table[] = {
      {"file://" + evil_, "a file: device would write the server's files"},
      {"socket://%5B%3A%3A1%5D%3A1161:9100", "its host is neither an IPv4 address"},
      {"socket://user@:9100", "its host is empty"},
      {"socket://[::1]:9100", ""},
      {"socket://[fe80::1%25lo]:9100", ""},
  };
  int made = 0;
  for (const auto& row : table) {
    SCOPED_TRACE(row.uri);
    const std::string name = "p" + std::to_string(made);
    ProgramResult r = app_.run({"add", "-d", name, "-m", "zorv-sample", "-v", row.uri});
    EXPECT_EQ(r.status, row.refusal[0] == '\0' ? 0 : 1) << r.err;
    EXPECT_NE(r.err.find(row.refusal), std::string::npos) << r.err;
    if (row.refusal[0] == '\0') ++made;
    // The web form, as an administrator through the local socket, says the same.
    int status = 0;
    const std::string answer = app_.admin_page(
        "/addprinter", &status,
        session_field(app_.admin_page("/addprinter", &status)) + "&printer_name=w" + name +
            "&driver_name=zorv-sample&device_uri=" + form_value(row.uri));
    if (row.refusal[0] != '\0') {
      EXPECT_NE(answer.find("Not added: "), std::string::npos) << answer;
      EXPECT_NE(answer.find(row.refusal), std::string::npos) << answer;
    }
  }
  std::string socket_uri = "ipp://";
  for (const char c : app_.socket_path()) socket_uri += c == '/' ? std::string("%2F") : std::string(1, c);
  std::string report;
  ipptool_as(0, socket_uri + "/ipp/system",
             ipp_test("Create-Printer", "system-uri", kCreateFilePrinter), &report);
  EXPECT_NE(report.find("client-error-attributes-or-values-not-supported"), std::string::npos)
      << report;
  EXPECT_NE(app_.log_text().find("Printer not made on 'file://" + evil_ + "'"), std::string::npos) << report;
  EXPECT_EQ(read_file(evil_), kUntouched);
  EXPECT_EQ(split_lines(app_.run({"printers"}).out).size(), 1u + 2u * static_cast<unsigned>(made));
}

}  // namespace

// The state of a server that ran as root, under a server that does not: it stops and says what
// to do, rather than start without its printers and then write over them.
TEST(AppService, StateFileOfAnotherUserStopsTheServerWithWhatToDo) {
  REQUIRE_ROOT();
  const int nobody = static_cast<int>(getpwnam("nobody")->pw_uid);
  TempDir dir;
  TempDir runtime;
  ASSERT_EQ(chmod(dir.path().c_str(), 0755), 0);
  ASSERT_EQ(chown(runtime.path().c_str(), static_cast<uid_t>(nobody), 0), 0);
  ASSERT_TRUE(write_file(dir.file("state"), "[Printer 1 office]\n"));
  ProgramRun run;
  run.path = ZORV_PRINTER_APP_PATH;
  run.args = {"zorv-printer-app", "server", "-o", "state-file=" + dir.file("state")};
  run.env = filter_environment({"TMPDIR=" + runtime.path()});
  run.uid = nobody;
  ProgramResult r = run_program(run);
  EXPECT_TRUE(r.exited && r.status == 1) << r.describe();
  EXPECT_NE(r.err.find("the state file " + dir.file("state") +
                       " cannot be read and written by this user (uid " + std::to_string(nobody) +
                       "; the file belongs to uid 0): give it to the server's user (chown)"),
            std::string::npos)
      << r.err;
  EXPECT_EQ(read_file(dir.file("state")), "[Printer 1 office]\n");
}

// A server started by hand by root on the service's state: what it wrote goes back to the
// service's user (the owner of the state's directory) when it ends, so that the service starts
// again on it.
TEST(AppService, RootsServerOnTheServicesStateGivesItsFilesBack) {
  REQUIRE_ROOT();
  const uid_t nobody = getpwnam("nobody")->pw_uid;
  TempDir ppds;
  TempDir state;
  ASSERT_TRUE(write_file(ppds.file("zorv-sample.ppd"), fitted_sample_ppd()));
  ASSERT_EQ(chown(state.path().c_str(), nobody, nobody), 0);
  ASSERT_EQ(chmod(state.path().c_str(), 0700), 0);
  AppServer app;
  ASSERT_TRUE(app.start(ppds.path(), {"state-file=" + state.file("state")})) << app.failure();
  ASSERT_TRUE(app.add_printer(kPrinter, "zorv-sample", "socket://127.0.0.48")) << app.failure();
  // A query that gets no answer still writes the accessories file.
  app.run({"query", "-d", kPrinter});
  app.stop();
  for (const std::string& file : {state.file("state"), state.file("state.accessories")}) {
    SCOPED_TRACE(file);
    struct stat info;
    ASSERT_EQ(stat(file.c_str(), &info), 0);
    EXPECT_EQ(info.st_uid, nobody);
  }
}
