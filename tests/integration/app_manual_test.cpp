// The manual page's examples, run as written against a private server and scheduler: only the
// addresses change (the server's port, the printer stand-in, the document's place), and the
// server is the test's rather than the service's. Also what "options" lists, and whether the
// printer tells the truth about spooling.
#include <sys/stat.h>

#include <sstream>
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

constexpr char kPrinterAddress[] = "127.0.0.47";

// The lines of the manual page's section name (".SH name"), without the heading.
std::vector<std::string> manual_section(const std::string& name) {
  std::vector<std::string> lines;
  bool inside = false;
  for (const std::string& line : split_lines(read_file(SOURCE_DIR "/docs/zorv-printer-app.8"))) {
    if (line.rfind(".SH", 0) == 0) {
      inside = line == ".SH " + name;
    } else if (inside) {
      lines.push_back(line);
    }
  }
  return lines;
}

// The command lines of the manual page's EXAMPLES section, "\-" read as "-".
std::vector<std::string> example_commands() {
  std::vector<std::string> commands;
  bool in_block = false;
  for (std::string line : manual_section("EXAMPLES")) {
    if (line == ".nf") {
      in_block = true;
    } else if (line == ".fi") {
      in_block = false;
    } else if (in_block) {
      for (size_t at = line.find("\\-"); at != std::string::npos; at = line.find("\\-", at)) {
        line.erase(at, 1);
      }
      commands.push_back(line);
    }
  }
  return commands;
}

std::vector<std::string> words_of(const std::string& text) {
  std::istringstream in(text);
  std::vector<std::string> words;
  for (std::string word; in >> word;) words.push_back(word);
  return words;
}

// The sub-commands that the manual page's SUB-COMMANDS section names at the head of an entry
// (the line after ".TP": "server", "autoadd, devices, ...", "add -d ...").
std::vector<std::string> manual_subcommands() {
  std::vector<std::string> names;
  bool head = false;
  for (const std::string& line : manual_section("SUB-COMMANDS")) {
    const bool this_head = head;
    head = line == ".TP";
    if (!this_head) continue;
    std::string plain;
    for (char c : line.substr(line.find(' ') + 1)) {
      if (c != '"') plain += c;
    }
    for (const std::string& word : words_of(plain)) {
      if (word == ",") continue;
      if (word.find_first_not_of("abcdefghijklmnopqrstuvwxyz") != std::string::npos) break;
      names.push_back(word);
    }
  }
  return names;
}

void replace_all(std::string* text, const std::string& from, const std::string& to) {
  for (size_t at = text->find(from); at != std::string::npos; at = text->find(from, at + to.size())) {
    text->replace(at, from.size(), to);
  }
}

// --help names every sub-command of the manual page, PAPPL's and ours, and the forms that are
// ours alone.
TEST(AppManual, HelpListsEverySubCommand) {
  ProgramRun run;
  run.path = ZORV_PRINTER_APP_PATH;
  run.args = {"zorv-printer-app", "--help"};
  run.env = filter_environment();
  const ProgramResult help = run_program(run);
  EXPECT_TRUE(help.exited && help.status == 0) << help.describe();
  std::vector<std::string> lines = {"  devices -v DEVICE-URI", "  options -d PRINTER | -u URI",
                                    "  query -d PRINTER "};
  const std::vector<std::string> names = manual_subcommands();
  EXPECT_GE(names.size(), 17u);
  for (const std::string& name : names) lines.push_back("\n  " + name + " ");
  for (const std::string& line : lines) {
    SCOPED_TRACE(line);
    EXPECT_NE(help.out.find(line), std::string::npos) << help.out;
  }
}

TEST(AppManual, ExamplesWorkAsWritten) {
  REQUIRE_ROOT();
  TempDir files;
  chmod(files.path().c_str(), 0755);
  ASSERT_TRUE(write_file(files.file("zorv-sample.ppd"), fitted_sample_ppd()));
  ASSERT_TRUE(write_file(files.file("report.ps"),
                         "%!PS-Adobe-3.0\n%%Pages: 1\n%%EndComments\n%%Page: 1 1\nshowpage\n"));
  Listener printer;
  ASSERT_TRUE(printer.start(kPrinterAddress, 9100));
  AppServer app;
  ASSERT_TRUE(app.start(files.path())) << app.failure();
  Cupsd cupsd;
  ASSERT_TRUE(cupsd.start()) << cupsd.failure();

  const std::vector<std::string> commands = example_commands();
  ASSERT_GE(commands.size(), 6u);
  for (std::string command : commands) {
    SCOPED_TRACE(command);
    // The test's server stands for the service.
    if (command.find("systemctl") != std::string::npos) continue;
    if (command.rfind("sudo ", 0) == 0) command.erase(0, 5);
    replace_all(&command, "localhost:8640", "127.0.0.1:" + std::to_string(app.port()));
    replace_all(&command, "192.0.2.10", kPrinterAddress);
    replace_all(&command, " report.ps", " " + files.file("report.ps"));
    std::string wanted;
    const size_t pipe = command.find(" | grep ");
    if (pipe != std::string::npos) {
      wanted = command.substr(pipe + 8);
      command.erase(pipe);
    }
    std::vector<std::string> words = words_of(command);
    ProgramResult result;
    if (words[0] == "zorv-printer-app") {
      words.erase(words.begin());
      // The drivers of the test's PPD directory, as the server has them.
      if (words[0] == "drivers") words.insert(words.end(), {"-o", "ppd-directories=" + files.path()});
      result = app.run(words);
    } else if (words[0] == "lpadmin") {
      result = cupsd.run_client(words);
    } else {
      ProgramRun run;
      run.path = system_program(words[0]);
      run.args = words;
      run.env = filter_environment();
      result = run_program(run);
    }
    // query's status 2 is its answer for a printer that answers no query, as the stand-in.
    const bool query = words.size() > 0 && words[0] == "query";
    EXPECT_TRUE(result.exited && (result.status == 0 || (query && result.status == 2)))
        << result.describe() << ": " << result.err;
    if (query) {
      EXPECT_NE(result.out, "");
    }
    if (!wanted.empty()) {
      EXPECT_NE(result.out.find(wanted), std::string::npos) << result.out;
    }
  }
  EXPECT_TRUE(printer.wait_for_jobs(1, 60000));

  // Every capability, those PAPPL's own listing leaves out included.
  const ProgramResult options = app.run({"options", "-d", "office"});
  for (const char* line : {"  -o sides=two-sided-long-edge\n", "  -o output-bin=", "  -o finishings=",
                           "  -o zorv-ucs=auto (default)\n", "  -o print-scaling=",
                           "Document formats: ", "application/pdf", "image/jpeg", "image/png",
                           "Installed accessories: "}) {
    EXPECT_NE(options.out.find(line), std::string::npos) << line << " in:\n" << options.out;
  }
  // Every document but a raster one is spooled whole before it prints, as PAPPL publishes.
  EXPECT_EQ(ipp_printer_attribute(app.printer_uri("office"), "job-spooling-supported"), "spool");
}

}  // namespace
