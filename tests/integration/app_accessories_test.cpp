// The printer's accessories in the Printer Application, against a private agent: what the
// device answers becomes the printer's installed choices (zorv-installed) and its capabilities
// follow them; a silent agent keeps the last known choices without making IPP wait; a choice
// set by hand on the web page wins over the device; a restart keeps it all; and a driverless
// queue made afterwards offers duplex only when the unit is fitted.
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "support/app_server.h"
#include "support/cupsd.h"
#include "support/listener.h"
#include "support/paths.h"
#include "support/program.h"
#include "support/snmpd.h"
#include "support/text.h"

namespace {

constexpr char kAgent[] = "127.0.0.44";  // the printer's SNMP agent and its raw port
constexpr int kPrinterPort = 9100;
constexpr int kJobTimeoutMs = 60000;
constexpr char kPrinter[] = "office";

// The agent's answers to the sample PPD's queries: the paper feeder, the duplex unit, the
// memory and the finisher.
std::string agent_values(const std::string& feeder, int duplexer) {
  return "override .1.3.6.1.4.1.64991.1.1.0 octet_str \"" + feeder +
         "\"\noverride .1.3.6.1.4.1.64991.1.2.0 integer " + std::to_string(duplexer) +
         "\noverride .1.3.6.1.4.1.64991.1.3.0 integer 512\n"
         "override .1.3.6.1.4.1.64991.1.4.0 unsigned 1\n";
}

class Accessories : public ::testing::Test {
 protected:
  void SetUp() override {
    REQUIRE_ROOT();
    if (!snmpd_available()) GTEST_SKIP() << "snmpd is not installed";
    ASSERT_TRUE(write_file(files_.file("zorv-sample.ppd"),
                           read_file(SOURCE_DIR "/samples/zorv-sample.ppd")));
    ASSERT_TRUE(app_.start(files_.path())) << app_.failure();
    ASSERT_TRUE(app_.add_printer(kPrinter, "zorv-sample", std::string("socket://") + kAgent))
        << app_.failure();
  }

  // The agent, answering the feeder and the duplex unit as given; v3_only: to the tests'
  // SNMPv3 users alone.
  void agent(const std::string& feeder, int duplexer, bool v3_only = false) {
    agent_.stop();
    ASSERT_TRUE(write_file(files_.file("values.conf"), agent_values(feeder, duplexer)));
    SnmpdConfig config;
    config.address = kAgent;
    config.values_files = {files_.file("values.conf")};
    if (v3_only) {
      config.users = kTestV3Users;
      config.v3_only = true;
    }
    ASSERT_TRUE(agent_.start(config)) << agent_.error();
  }

  std::string page() {
    int status = 0;
    return app_.admin_page(std::string("/") + kPrinter + "/accessories", &status);
  }

  // "zorv-printer-app query -d office" against the server; a hang shows as timed out.
  ProgramResult query(int timeout_seconds = 60) {
    return app_.run({"query", "-d", kPrinter}, timeout_seconds);
  }

  std::string attribute(const std::string& name) {
    return ipp_printer_attribute(app_.printer_uri(kPrinter), name);
  }

  // Posts the accessories page's form with the page's own session token; the page it answers
  // into *answer when given.
  int post_accessories(const std::string& fields, std::string* answer = nullptr) {
    const std::string url = std::string("/") + kPrinter + "/accessories";
    int status = 0;
    const std::string body =
        app_.admin_page(url, &status, session_field(app_.admin_page(url, &status)) + "&" + fields);
    if (answer != nullptr) *answer = body;
    return status;
  }

  // How many queries of the printer's options the log tells of.
  size_t queries_logged() {
    return occurrences(app_.log_text(), "Asked the printer at");
  }

  TempDir files_;
  AppServer app_;
  Snmpd agent_;
};

TEST_F(Accessories, AnswersBecomeTheInstalledChoicesAndTheCapabilitiesFollow) {
  Listener printer;
  ASSERT_TRUE(printer.start(kAgent, kPrinterPort));
  const struct Case {
    const char* what;
    const char* feeder;
    int duplexer;
    const char* installed;
    const char* sides;
    const char* sources;
    // What the sub-command says changed, with the advice for a CUPS queue; "" when nothing
    // did; null: not looked at (the query of the add may have got the answers already).
    const char* changed;
  } cases[] = {
      {"feeder and duplex unit", "PF-500-EU", 1,
       "OptionalTray=PF500,Duplexer=True,InstalledMemory=512MB,Finisher=True,Stapler=False",
       "one-sided,two-sided-long-edge,two-sided-short-edge", "tray-1,tray-2,manual,auto", nullptr},
      // The agent changed, and asked again by the sub-command.
      {"neither", "", 0,
       "OptionalTray=None,Duplexer=False,InstalledMemory=512MB,Finisher=True,Stapler=False",
       "one-sided", "tray-1,manual,auto",
       "# The installed choices changed: OptionalTray=None (was PF500), Duplexer=False (was "
       "True)\n"},
      {"duplex unit only", "", 1,
       "OptionalTray=None,Duplexer=True,InstalledMemory=512MB,Finisher=True,Stapler=False",
       "one-sided,two-sided-long-edge,two-sided-short-edge", "tray-1,manual,auto",
       "# The installed choices changed: Duplexer=True (was False)\n"},
      {"the same answers again", "", 1,
       "OptionalTray=None,Duplexer=True,InstalledMemory=512MB,Finisher=True,Stapler=False",
       "one-sided,two-sided-long-edge,two-sided-short-edge", "tray-1,manual,auto", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    agent(c.feeder, c.duplexer);
    ProgramResult r = query();
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("Duplexer: ?SnmpDuplexer \".1.3.6.1.4.1.64991.1.2.0\" -> \"" +
                         std::to_string(c.duplexer) + "\""),
              std::string::npos)
        << r.out;
    if (c.changed != nullptr) {
      const size_t at = r.out.find("# The installed choices changed: ");
      EXPECT_EQ(at == std::string::npos ? "" : r.out.substr(at, strlen(c.changed)), c.changed)
          << r.out;
      EXPECT_EQ(r.out.find("run 'lpadmin -p QUEUE -m everywhere' again") != std::string::npos,
                c.changed[0] != '\0')
          << r.out;
    }
    EXPECT_EQ(attribute("zorv-installed"), c.installed);
    EXPECT_EQ(attribute("sides-supported"), c.sides);
    EXPECT_EQ(attribute("media-source-supported"), c.sources);
    // A tray that is not fitted holds no ready media either.
    EXPECT_EQ(attribute("media-ready").find("tray-2") != std::string::npos ||
                  attribute("media-col-ready").find("tray-2") != std::string::npos,
              std::string(c.sources).find("tray-2") != std::string::npos);
    // The vendor attributes of the driver survive.
    EXPECT_NE(attribute("zorv-ucs-supported"), "");
    // A job that asks for a tray the printer lacks gets the default tray's code.
    const bool tray_2 = std::string(c.sources).find("tray-2") != std::string::npos;
    const size_t jobs = printer.jobs().size();
    const IppAnswer job = ipp_print_job(app_.printer_uri(kPrinter), "application/postscript",
                                        "%!PS\nshowpage\n", {"media-source=tray-2"});
    ASSERT_EQ(job.status, IPP_STATUS_OK) << job.message;
    EXPECT_EQ(ipp_wait_job_end(app_.printer_uri(kPrinter), job.job_id).state, IPP_JSTATE_COMPLETED);
    ASSERT_TRUE(printer.wait_for_jobs(jobs + 1, kJobTimeoutMs));
    const std::string received = printer.jobs()[jobs].bytes;
    EXPECT_NE(received.find(tray_2 ? "*InputSlot Tray2" : "*InputSlot Tray1"), std::string::npos)
        << received.substr(0, 3000);
  }
  // The stapler is never asked (no query attribute): its PPD default rules out stapling.
  EXPECT_EQ(attribute("finishings-supported").find("staple"), std::string::npos);
}

TEST_F(Accessories, SilentAgentKeepsTheLastKnownChoicesAndIppDoesNotWait) {
  agent("PF-500-EU", 1);
  ASSERT_EQ(query().status, 0);
  const std::string known = attribute("zorv-installed");
  const std::string config_time = attribute("printer-config-change-time");
  agent_.stop();

  std::atomic<bool> asked{false};
  ProgramResult silent;
  std::thread asking([&] {
    silent = query();
    asked = true;
  });
  // While the query waits out its time-out, Get-Printer-Attributes answers from what is known.
  sleep_ms(500);
  const auto start = std::chrono::steady_clock::now();
  const std::string during = attribute("zorv-installed");
  const auto took = std::chrono::steady_clock::now() - start;
  const bool query_still_waiting = !asked;
  asking.join();
  EXPECT_TRUE(query_still_waiting);
  EXPECT_EQ(during, known);
  std::cout << "Get-Printer-Attributes during a silent query: "
            << std::chrono::duration_cast<std::chrono::milliseconds>(took).count() << " ms\n";
  EXPECT_EQ(silent.status, 2) << silent.out;
  EXPECT_NE(silent.out.find("no answer: Timeout"), std::string::npos) << silent.out;
  EXPECT_EQ(attribute("zorv-installed"), known);
  EXPECT_EQ(attribute("printer-config-change-time"), config_time);
}

// A printer deleted while its query waits for a silent device: the query stops, the pages go
// with the printer, and the server goes on answering. Seen broken: the next connection waited
// for ever (a lock of PAPPL's taken twice), and an answer without a body kept its client
// waiting out the keep-alive (30 s).
TEST_F(Accessories, DeletedWhileItsQueryWaitsTheServerGoesOn) {
  // PAPPL 1.3.1 reports printer-id 0 for a printer made since the start, which its delete
  // sub-command refuses: the printer is deleted as the restarted server knows it.
  ASSERT_TRUE(app_.restart()) << app_.failure();
  ProgramResult stopped;
  std::thread asking([&] { stopped = query(10); });
  sleep_ms(500);
  ProgramResult deleted = app_.run({"delete", "-d", kPrinter}, 10);
  asking.join();
  EXPECT_EQ(deleted.status, 0) << deleted.describe() << deleted.err;
  // Stopped while it ran (2, no answer) or while it waited for the start-up query's turn (1).
  EXPECT_TRUE(stopped.exited && stopped.status != 0) << stopped.describe() << stopped.err;

  ProgramResult listed = app_.run({"printers"}, 10);
  EXPECT_EQ(listed.status, 0) << listed.describe();
  EXPECT_EQ(listed.out, "");
  ProgramResult gone = query(10);
  EXPECT_EQ(gone.status, 1) << gone.describe();
  EXPECT_EQ(gone.err, "zorv-printer-app: no printer 'office'\n");
  int status = 0;
  app_.admin_page(std::string("/") + kPrinter + "/accessories", &status);
  EXPECT_EQ(status, 404);
}

// A printer deleted while its query publishes new answers: every open of its PPD is made
// slow, so that the delete comes while the publish reads it. The delete holds PAPPL's system
// lock and waits for the query's turn to end. Seen broken: the publish, still in its turn,
// then waited for that lock for ever, and with it the delete and the whole server.
TEST_F(Accessories, DeletedWhileItsQueryPublishesTheServerGoesOn) {
#if defined(__has_feature)
#if __has_feature(thread_sanitizer)
  GTEST_SKIP() << "a ThreadSanitizer build hangs as it starts with the fault shim preloaded";
#endif
#endif
  agent("PF-500-EU", 1);
  const std::string marker = files_.file("slow");
  const char* asan = getenv("ASAN_OPTIONS");
  app_.set_extra_environment(
      {"LD_PRELOAD=" FAULT_SHIM_PATH, "ZORV_FAULT_SLOW_OPEN=" + files_.file("zorv-sample.ppd"),
       "ZORV_FAULT_SLOW_WHILE=" + marker,
       std::string("ASAN_OPTIONS=") + (asan != nullptr ? asan : "") +
           ":verify_asan_link_order=0"});
  // PAPPL 1.3.1's delete sub-command needs a printer the restarted server knows (see above).
  ASSERT_TRUE(app_.restart()) << app_.failure();
  ASSERT_EQ(query().status, 0);  // after the start-up query
  // The answers change, so that the publish sets the capabilities again.
  agent("", 0);
  const size_t before = queries_logged();
  ASSERT_TRUE(write_file(marker, ""));
  ProgramResult asked;
  std::thread asking([&] { asked = query(30); });
  for (int waited = 0; waited < 20000 && queries_logged() == before; waited += 20) sleep_ms(20);
  ProgramResult deleted = app_.run({"delete", "-d", kPrinter}, 15);
  unlink(marker.c_str());
  asking.join();
  EXPECT_GT(queries_logged(), before);
  EXPECT_TRUE(deleted.exited && deleted.status == 0) << deleted.describe() << deleted.err;
  EXPECT_TRUE(asked.exited) << asked.describe();
  ProgramResult listed = app_.run({"printers"}, 10);
  EXPECT_EQ(listed.status, 0) << listed.describe();
  EXPECT_EQ(listed.out, "");
}

// A setting whose save fails is in force all the same, and the page and the log say that it
// was not saved and why.
TEST_F(Accessories, FailedSaveIsShownOnThePageAndLogged) {
  agent("PF-500-EU", 1);
  ASSERT_EQ(query().status, 0);
  const std::string kept = app_.state_file() + ".accessories";
  const struct Case {
    const char* what;
    std::string taken;  // a directory in the way
    const char* fields;
    const char* sides;
    std::string why;
  } cases[] = {
      {"the new file's name is taken", kept + ".new", "hand-Duplexer=False&save=Save", "one-sided",
       "cannot make " + kept + ".new: File exists"},
      {"the file's own name is taken", kept, "hand-Duplexer=&save=Save",
       "one-sided,two-sided-long-edge,two-sided-short-edge",
       "cannot rename " + kept + ".new to " + kept + ": Is a directory"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    unlink(c.taken.c_str());
    ASSERT_EQ(mkdir(c.taken.c_str(), 0700), 0);
    std::string answer;
    EXPECT_EQ(post_accessories(c.fields, &answer), 200);
    EXPECT_NE(answer.find("<p id=\"save-problem\">Set, but not saved: " + c.why + "</p>"),
              std::string::npos)
        << answer;
    EXPECT_NE(app_.log_text().find("The printers' accessories were not saved: " + c.why + "."),
              std::string::npos)
        << app_.log_text();
    EXPECT_EQ(attribute("sides-supported"), c.sides);
    rmdir(c.taken.c_str());
  }
  // Saved again, the page says nothing of it.
  std::string answer;
  EXPECT_EQ(post_accessories("hand-Duplexer=&save=Save", &answer), 200);
  EXPECT_EQ(answer.find("save-problem"), std::string::npos) << answer;
}

TEST_F(Accessories, HandSetChoiceWinsOverTheDeviceUntilClearedAndARestartKeepsIt) {
  agent("PF-500-EU", 1);
  ASSERT_EQ(query().status, 0);
  const std::string config_time = attribute("printer-config-change-time");
  // The administrator says the duplex unit is gone, whatever the printer says.
  sleep_ms(2100);  // printer-config-change-time counts whole seconds
  EXPECT_EQ(post_accessories("hand-Duplexer=False&hand-Stapler=True&save=Save"), 200);
  EXPECT_EQ(attribute("zorv-installed"),
            "OptionalTray=PF500,Duplexer=False,InstalledMemory=512MB,Finisher=True,Stapler=True");
  EXPECT_EQ(attribute("sides-supported"), "one-sided");
  EXPECT_NE(attribute("finishings-supported").find("staple"), std::string::npos);
  EXPECT_NE(attribute("printer-config-change-time"), config_time);
  ASSERT_EQ(query().status, 0);
  EXPECT_EQ(attribute("sides-supported"), "one-sided");

  // A choice that the option does not have, or a form without the page's token, changes
  // nothing.
  EXPECT_EQ(post_accessories("hand-Duplexer=Maybe&save=Save"), 200);
  int status = 0;
  app_.admin_page(std::string("/") + kPrinter + "/accessories", &status,
            "hand-Duplexer=True&save=Save");
  EXPECT_NE(status, 200);
  EXPECT_EQ(attribute("sides-supported"), "one-sided");

  // The restarted server knows it all before it could ask the silent printer anything.
  agent_.stop();
  ASSERT_TRUE(app_.restart()) << app_.failure();
  EXPECT_EQ(attribute("zorv-installed"),
            "OptionalTray=PF500,Duplexer=False,InstalledMemory=512MB,Finisher=True,Stapler=True");
  EXPECT_EQ(attribute("sides-supported"), "one-sided");
  EXPECT_EQ(attribute("media-source-supported"), "tray-1,tray-2,manual,auto");

  // Cleared, the device's last known choice counts again.
  EXPECT_EQ(post_accessories("hand-Duplexer=&save=Save"), 200);
  EXPECT_EQ(attribute("sides-supported"), "one-sided,two-sided-long-edge,two-sided-short-edge");
  // The page: the device's last known choice, nothing set by hand, the choice in force.
  const std::string page =
      app_.admin_page(std::string("/") + kPrinter + "/accessories", &status);
  EXPECT_NE(page.find("<tr id=\"option-Duplexer\"><td>Duplex Unit<br><small>Duplexer</small></td>"
                      "<td>not asked yet</td><td></td><td>Installed</td><td><select "
                      "name=\"hand-Duplexer\"><option value=\"\">from the printer</option>"),
            std::string::npos)
      << page;
  agent("PF-500-EU", 1);
  ASSERT_EQ(query().status, 0);
  const std::string asked =
      app_.admin_page(std::string("/") + kPrinter + "/accessories", &status);
  EXPECT_NE(
      asked.find("<td>?SnmpDuplexer &quot;.1.3.6.1.4.1.64991.1.2.0&quot;</td><td>&quot;1&quot;"
                 "</td><td>Installed</td>"),
      std::string::npos)
      << asked;
}

// A printer whose SNMPv1 is off is asked over SNMPv3 with settings of its own, set on its page:
// kept in the state file (the server's alone) across a restart, never shown back.
TEST_F(Accessories, PrinterOfItsOwnSnmpV3Settings) {
  agent("PF-500-EU", 1, true);
  const std::string alice =
      "snmp=Save&v3=on&v3-user=alice&v3-level=authPriv&v3-auth=SHA-256&v3-priv=AES-128"
      "&v3-auth-passphrase=alice-auth-pass&v3-priv-passphrase=alice-priv-pass";
  const struct Case {
    const char* what;
    std::string fields;
    int status;         // of the query afterwards
    const char* shown;  // on the page or in the query's records
  } cases[] = {
      {"the manufacturer's settings: SNMPv1, which the printer refuses", "snmp=Save", 2,
       "no answer: Timeout"},
      {"authPriv", alice, 0, "-> \"1\" -> True"},
      {"a wrong authentication passphrase",
       "snmp=Save&v3=on&v3-user=alice&v3-level=authPriv&v3-auth=SHA-256&v3-priv=AES-128"
       "&v3-auth-passphrase=not-alices-pass",
       2, "usmStatsWrongDigests"},
      {"a passphrase under 8 characters is not saved",
       "snmp=Save&v3=on&v3-user=bob&v3-level=authNoPriv&v3-auth=SHA-1&v3-auth-passphrase=short", 2,
       "Not saved: "},
      {"authNoPriv, the passphrase kept from before when left empty",
       "snmp=Save&v3=on&v3-user=bob&v3-level=authNoPriv&v3-auth=SHA-1"
       "&v3-auth-passphrase=bob-auth-pass",
       0, "-> \"1\" -> True"},
      {"the same, the passphrase left empty",
       "snmp=Save&v3=on&v3-user=bob&v3-level=authNoPriv&v3-auth=SHA-1", 0, "-> \"1\" -> True"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    int status = 0;
    const std::string url = std::string("/") + kPrinter + "/accessories";
    const std::string after =
        app_.admin_page(url, &status, session_field(page()) + "&" + c.fields);
    EXPECT_EQ(status, 200);
    ProgramResult r = query();
    EXPECT_EQ(r.status, c.status) << r.out;
    EXPECT_NE((r.out + after).find(c.shown), std::string::npos) << r.out << after;
    for (const char* secret : {"alice-auth-pass", "alice-priv-pass", "bob-auth-pass"}) {
      EXPECT_EQ(page().find(secret), std::string::npos);
      EXPECT_EQ(after.find(secret), std::string::npos);
      EXPECT_EQ(app_.log_text().find(secret), std::string::npos);
    }
  }
  struct stat st;
  ASSERT_EQ(stat((app_.state_file() + ".accessories").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0600u);
  ASSERT_TRUE(app_.restart()) << app_.failure();
  EXPECT_EQ(query().status, 0);
  EXPECT_NE(page().find("value=\"bob\""), std::string::npos);
}

// The query interval stays within a minute and a week, whether posted on the page or read
// back from the state file, and the state file's hexadecimal takes no text longer than its
// field holds and nothing but pairs of hexadecimal digits.
TEST_F(Accessories, IntervalAndStateFileStayWithinTheirBounds) {
  const auto interval_shown = [this](const char* minutes) {
    return page().find(std::string("name=\"interval\" min=\"1\" value=\"") + minutes + "\"") !=
           std::string::npos;
  };
  const struct {
    const char* posted;
    const char* shown;
  } intervals[] = {{"2", "2"}, {"99999", "10080"}, {"40000000", "10080"}};
  for (const auto& row : intervals) {
    SCOPED_TRACE(row.posted);
    EXPECT_EQ(post_accessories(std::string("interval=") + row.posted + "&save=Save"), 200);
    EXPECT_TRUE(interval_shown(row.shown)) << page();
  }

  // A user of 32 characters, the most the field holds.
  const std::string user(32, 'u');
  EXPECT_EQ(post_accessories("snmp=Save&v3=on&v3-user=" + user +
                             "&v3-level=authNoPriv&v3-auth=SHA-1&v3-auth-passphrase=bob-auth-pass"),
            200);
  // The new settings start a query: the file is read once it has ended and saved (the page
  // reloads itself while a query runs or waits).
  for (int waited = 0; waited < 20000 && page().find("http-equiv=\"refresh\"") != std::string::npos;
       waited += 50) {
    sleep_ms(50);
  }
  std::string hex_user;
  for (int i = 0; i < 32; i++) hex_user += "75";
  const std::string path = app_.state_file() + ".accessories";
  const std::string kLongInterval = " interval 99999999\n";
  const struct {
    const char* what;
    std::string line;  // a piece of the saved file, and what it becomes
    std::string changed;
    bool user_shown;
  } files[] = {
      {"an interval beyond a week", kLongInterval, kLongInterval, true},
      {"a user one byte too long", " " + hex_user + " ", " " + hex_user + "75 ", false},
      {"a byte written with a sign", " " + hex_user + " ", " +5" + hex_user.substr(2) + " ", false},
  };
  std::string saved;  // each row changes the file as the query saved it, its interval too long
  for (const auto& row : files) {
    SCOPED_TRACE(row.what);
    app_.stop();
    if (saved.empty()) {
      saved = read_file(path);
      replace_text(saved, " interval 604800\n", kLongInterval);
    }
    std::string text = saved;
    replace_text(text, row.line, row.changed);
    ASSERT_TRUE(write_file(path, text));
    ASSERT_TRUE(app_.restart()) << app_.failure();
    // The interval read back is the default; the user only when it fits its field and every
    // byte is two hexadecimal digits (the user's end tells it, whatever its first byte became).
    EXPECT_TRUE(interval_shown("60")) << page();
    EXPECT_EQ(page().find(user.substr(1) + "\"") != std::string::npos, row.user_shown) << page();
  }
}

// A driverless queue of a private scheduler, made after the query, offers duplex only when the
// agent says the unit is fitted. The scheduler makes the queue's PPD after lpadmin has
// returned: the queue is read once its PPD is in place (read before, it had none, and
// lpoptions printed nothing).
TEST_F(Accessories, DriverlessQueueOffersDuplexOnlyWithTheUnit) {
  Cupsd cupsd;
  ASSERT_TRUE(cupsd.start()) << cupsd.failure();
  for (int duplexer : {1, 0}) {
    SCOPED_TRACE(duplexer);
    agent("", duplexer);
    ASSERT_EQ(query().status, 0);
    const std::string queue = "driverless" + std::to_string(duplexer);
    ASSERT_TRUE(cupsd.add_everywhere_queue(queue, app_.printer_uri(kPrinter))) << cupsd.failure();
    ProgramResult options = cupsd.run_client({"lpoptions", "-p", queue, "-l"});
    ASSERT_NE(options.out.find("PageSize"), std::string::npos) << options.err;
    EXPECT_EQ(options.out.find("Duplex") != std::string::npos, duplexer == 1) << options.out;
  }
}

}  // namespace
