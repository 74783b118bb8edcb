// The printers' own state in the Printer Application: what the recorded walks of three real
// printers become in IPP (supplies, marker-*, printer-state-reasons, the trays) and on the
// printer's pages; what a private agent's changed answers become after "Ask the printer now";
// and a printer that stops answering keeps its last state, marked stale, while IPP answers at
// once.
#include <chrono>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "support/app_server.h"
#include "support/paths.h"
#include "support/program.h"
#include "support/snmpd.h"
#include "support/text.h"

namespace {

constexpr char kSimulator[] = "127.0.0.9";
constexpr char kAgent[] = "127.0.0.46";
constexpr int kWaitMs = 20000;
const std::string kWalks = test_data("walks/");

// The sample PPD under another manufacturer, whose settings file names the community.
std::string sample_of(const std::string& manufacturer) {
  std::string text = read_file(SOURCE_DIR "/samples/zorv-sample.ppd");
  replace_text(text, "*Manufacturer: \"Orvane\"", "*Manufacturer: \"" + manufacturer + "\"");
  return text;
}

// Polls the printer's attribute until it is not what it was (bounded); its last value.
std::string changed_attribute(const AppServer& app, const std::string& printer,
                              const std::string& name, const std::string& was) {
  std::string value = was;
  for (int waited = 0; value == was && waited < kWaitMs; waited += 100) {
    sleep_ms(100);
    value = ipp_printer_attribute(app.printer_uri(printer), name);
  }
  return value;
}

// Presses the Accessories page's button, with the page's own session token.
int ask_now(const AppServer& app, const std::string& printer) {
  const std::string url = "/" + printer + "/accessories";
  int status = 0;
  app.admin_page(url, &status, session_field(app.admin_page(url, &status)) + "&query=Ask");
  return status;
}

TEST(AppState, EachRecordedPrinterPublishesItsSuppliesTraysAndReasons) {
  REQUIRE_ROOT();
  if (!snmpsim_available()) GTEST_SKIP() << "snmpsimd is not installed";
  SimulatedPrinters printers;
  ASSERT_TRUE(printers.start(kSimulator, {{"nc8300h", kWalks + "brother.snmprec"},
                                          {"mx3570n", kWalks + "sharp_mx3570n.snmprec"},
                                          {"wfc5790", kWalks + "epson_wf-c5790.snmprec"}}))
      << printers.error();
  const struct Row {
    const char* printer;
    const char* vendor;
    const char* community;
    const char* names;
    const char* levels;
    const char* types;
    const char* colours;
    const char* reasons;
    size_t trays;
  } rows[] = {
      {"brother", "Kestrel", "nc8300h", "Black Toner Cartridge,Drum Unit", "-3,95", "toner,opc",
       "#000000,#777777", "none", 3},
      {"sharp", "Orvane", "mx3570n",
       "Cyan Toner,Magenta Toner,Yellow Toner,Black Toner,Waste Toner,Cyan Photoconductive Drum,"
       "Magenta Photoconductive Drum,Yellow Photoconductive Drum,Black Photoconductive Drum,"
       "Cyan Developer,Magenta Developer,Yellow Developer,Black Developer,Fusing Unit",
       "55,19,40,34,-1,81,81,81,95,91,91,91,74,-1",
       "toner,toner,toner,toner,waste-toner,opc,opc,opc,opc,developer,developer,developer,"
       "developer,fuser",
       "#00FFFF,#FF00FF,#FFFF00,#000000,#777777,#00FFFF,#FF00FF,#FFFF00,#000000,#00FFFF,"
       "#FF00FF,#FFFF00,#000000,#777777",
       "toner-low", 6},
      {"epson", "TALMA", "wfc5790",
       "Black Ink Supply Unit T9441/T9451/T9461,Cyan Ink Supply Unit T9442/T9452,"
       "Magenta Ink Supply Unit T9443/T9453,Yellow Ink Supply Unit T9444/T9454",
       "1,1,1,1", "ink,ink,ink,ink", "#000000,#00FFFF,#FF00FF,#FFFF00", "marker-supply-low", 2},
  };
  TempDir ppds;
  SavedPath kestrel("/opt/Kestrel"), orvane("/opt/Orvane"), talma("/opt/TALMA");
  for (const Row& row : rows) {
    const std::string share = std::string("/opt/") + row.vendor + "/mfp/share";
    ASSERT_TRUE(make_dirs(share));
    ASSERT_TRUE(
        write_file(share + "/OEM.ini", std::string("SNMP_COMMUNITY=") + row.community + "\n"));
    ASSERT_TRUE(write_file(ppds.file(std::string(row.printer) + ".ppd"), sample_of(row.vendor)));
  }
  AppServer app;
  ASSERT_TRUE(app.start(ppds.path())) << app.failure();
  for (const Row& row : rows) {
    ASSERT_TRUE(app.add_printer(row.printer, row.printer, std::string("socket://") + kSimulator))
        << app.failure();
  }
  for (const Row& row : rows) {
    SCOPED_TRACE(row.printer);
    const std::string uri = app.printer_uri(row.printer);
    EXPECT_EQ(changed_attribute(app, row.printer, "marker-names", ""), row.names);
    EXPECT_EQ(ipp_printer_attribute(uri, "marker-levels"), row.levels);
    EXPECT_EQ(ipp_printer_attribute(uri, "marker-types"), row.types);
    EXPECT_EQ(ipp_printer_attribute(uri, "marker-colors"), row.colours);
    EXPECT_EQ(ipp_printer_attribute(uri, "printer-state-reasons"), row.reasons);
    const std::string trays = ipp_printer_attribute(uri, "zorv-input-tray");
    EXPECT_EQ(occurrences(trays, "name="), row.trays) << trays;
    EXPECT_EQ(ipp_printer_attribute(uri, "zorv-state-stale"), "");
  }
  // The Sharp's trays as PWG 5100.13 writes them, and its page.
  const std::string sharp_trays =
      ipp_printer_attribute(app.printer_uri("sharp"), "zorv-input-tray");
  EXPECT_EQ(sharp_trays.find("type=other;mediafeed=-2;mediaxfeed=-2;maxcapacity=100;level=0;"
                             "status=0;name=Bypass\\ Tray;,type=other;mediafeed=-2;"
                             "mediaxfeed=-2;maxcapacity=550;level=181;status=0;name=Tray\\ 1;"),
            0u)
      << sharp_trays;
  int status = 0;
  const std::string page = http_page(app.web_url("/sharp/"), &status);
  EXPECT_EQ(status, 200);
  for (const char* shown :
       {"<li>Paper Feeder: Not Installed</li>", "toner-low",
        "<tr><td>Tray 4</td><td>-</td><td><meter min=\"0\" max=\"100\" low=\"11\" value=\"66\">"
        "</meter> 368 of 550 (66 %)</td>",
        "<tr><td>Magenta Toner</td><td>toner</td><td>magenta</td>"}) {
    EXPECT_NE(page.find(shown), std::string::npos) << shown << "\n" << page;
  }
}

class AgentState : public ::testing::Test {
 protected:
  void SetUp() override {
    REQUIRE_ROOT();
    if (!snmpd_available()) GTEST_SKIP() << "snmpd is not installed";
    ASSERT_TRUE(write_file(files_.file("zorv-sample.ppd"),
                           read_file(SOURCE_DIR "/samples/zorv-sample.ppd")));
    agent(read_file(test_data("snmp/printer-state.conf")));
    ASSERT_TRUE(app_.start(files_.path())) << app_.failure();
    ASSERT_TRUE(app_.add_printer("office", "zorv-sample", std::string("socket://") + kAgent))
        << app_.failure();
  }

  void agent(const std::string& values) {
    agent_.stop();
    ASSERT_TRUE(write_file(files_.file("values.conf"), values));
    SnmpdConfig config;
    config.address = kAgent;
    config.values_files = {files_.file("values.conf")};
    ASSERT_TRUE(agent_.start(config)) << agent_.error();
  }

  std::string attribute(const std::string& name) {
    return ipp_printer_attribute(app_.printer_uri("office"), name);
  }

  TempDir files_;
  AppServer app_;
  Snmpd agent_;
};

TEST_F(AgentState, ChangedAnswersArePublishedAndASilentPrinterKeepsItsLastState) {
  ASSERT_EQ(changed_attribute(app_, "office", "marker-names", ""), "Black Toner,Drum Unit");
  EXPECT_EQ(attribute("marker-levels"), "7,95");
  EXPECT_EQ(attribute("printer-state-reasons"), "toner-low");
  // The PPD's Tray1 is the printer's "Tray 1", which says it holds Letter; the manual feed says
  // nothing and keeps the PPD's default size.
  EXPECT_EQ(attribute("media-ready"), "na_letter_8.5x11in,iso_a4_210x297mm");
  EXPECT_EQ(attribute("zorv-input-tray"),
            "type=sheetFeedAutoRemovableTray;mediafeed=-2;mediaxfeed=-2;maxcapacity=550;"
            "level=120;status=0;name=Tray\\ 1;,type=sheetFeedManual;mediafeed=-2;mediaxfeed=-2;"
            "maxcapacity=100;level=0;status=0;name=Bypass\\ Tray;");

  // The Accessories page: labels from the PPD, an option without a query said to be one, times
  // with their zone.
  int status = 0;
  const std::string before = app_.admin_page("/office/accessories", &status);
  EXPECT_NE(before.find("<tr id=\"option-Stapler\"><td>Stapler<br><small>Stapler</small></td>"
                        "<td>no query attribute in the PPD: never asked; set it by hand</td><td>"
                        "</td><td>-</td>"),
            std::string::npos)
      << before;
  EXPECT_NE(before.find("<option value=\"PF500\">500-Sheet Feeder</option>"), std::string::npos);
  EXPECT_TRUE(full_match(before,
                         "(.|\n)*<td>Printer Memory<br><small>InstalledMemory</small></td>"
                         "(.|\n)*<td>[0-9-]{10} [0-9:]{8} [A-Za-z0-9+-]+</td></tr>(.|\n)*"))
      << before;

  // The toner runs out and the door opens: asked now, the printer's new answers count.
  std::string values = read_file(test_data("snmp/printer-state.conf"));
  replace_text(values, "override .1.3.6.1.2.1.43.11.1.1.9.1.1 integer 7",
               "override .1.3.6.1.2.1.43.11.1.1.9.1.1 integer 0");
  replace_text(values, "override .1.3.6.1.2.1.25.3.5.1.2.1 octet_str 0x0000",
               "override .1.3.6.1.2.1.25.3.5.1.2.1 octet_str 0x0800");
  agent(values);
  EXPECT_EQ(ask_now(app_, "office"), 303);
  EXPECT_EQ(changed_attribute(app_, "office", "marker-levels", "7,95"), "0,95");
  EXPECT_EQ(attribute("printer-state-reasons"), "cover-open,toner-empty");

  // Silent: IPP answers from what is known while the walk waits, and the state stays, stale.
  agent_.stop();
  EXPECT_EQ(ask_now(app_, "office"), 303);
  // The page the button leads to says the printer is being asked, and reloads itself.
  const std::string asking = app_.admin_page("/office/accessories", &status);
  EXPECT_NE(asking.find("<p id=\"query-state\">The printer is being asked now; this page shows "
                        "the answers when they come.</p>"),
            std::string::npos)
      << asking;
  EXPECT_NE(asking.find("<meta http-equiv=\"refresh\" content=\"2\">"), std::string::npos);
  sleep_ms(500);
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(attribute("marker-levels"), "0,95");
  const auto took = std::chrono::steady_clock::now() - start;
  std::cout << "Get-Printer-Attributes during a silent printer's walk: "
            << std::chrono::duration_cast<std::chrono::milliseconds>(took).count() << " ms\n";
  EXPECT_EQ(changed_attribute(app_, "office", "zorv-state-stale", ""), "true");
  EXPECT_EQ(attribute("marker-levels"), "0,95");
  EXPECT_EQ(attribute("printer-state-reasons"), "cover-open,toner-empty");
  EXPECT_NE(attribute("zorv-state-answered"), "");
  const std::string page = app_.admin_page("/office/accessories", &status);
  EXPECT_EQ(page.find("<meta http-equiv=\"refresh\""), std::string::npos);
  EXPECT_NE(page.find("<strong>Stale:</strong> the printer did not give its state when asked at "),
            std::string::npos)
      << page;
  EXPECT_NE(page.find("(no answer: Timeout); what is shown is its last answer, of "),
            std::string::npos)
      << page;
  EXPECT_NE(app_.log_text().find("was not read: no answer: Timeout; the state of "),
            std::string::npos);
}

// A printer that answers only the manufacturer's community: "devices -v" and "add -m auto" ask
// its device ID with it, and the driver whose *1284DeviceID names its maker and model is chosen
// at once (PAPPL's own query, with "public", would wait 10 seconds and find nothing).
TEST(AppAutoDriver, DeviceIdAskedWithTheManufacturersCommunity) {
  REQUIRE_ROOT();
  if (!snmpd_available()) GTEST_SKIP() << "snmpd is not installed";
  TempDir files;
  ASSERT_TRUE(
      write_file(files.file("zorv-sample.ppd"), read_file(SOURCE_DIR "/samples/zorv-sample.ppd")));
  const std::string ppd_option = "ppd-directories=" + files.path();
  SavedPath orvane("/opt/Orvane");
  ASSERT_TRUE(make_dirs("/opt/Orvane/mfp/share"));
  ASSERT_TRUE(write_file("/opt/Orvane/mfp/share/OEM.ini", "SNMP_COMMUNITY=orvane-only\n"));
  AppServer app;
  ASSERT_TRUE(app.start(files.path())) << app.failure();

  const struct Case {
    const char* what;
    const char* id;
    int devices_status;
    const char* devices;  // what "devices -v" says
    int add_status;
    const char* add;  // what "add -m auto" says on standard error
  } cases[] = {
      {"a model of the drivers'", "MFG:Orvane;MDL:Laser 5100;CMD:POSTSCRIPT;", 0,
       "    MFG:Orvane;MDL:Laser 5100;CMD:POSTSCRIPT;\n"
       "    asked with the community of /opt/Orvane/mfp/share/OEM.ini\n"
       "    driver zorv-sample\n",
       0,
       "zorv-printer-app: the printer's device ID 'MFG:Orvane;MDL:Laser 5100;CMD:POSTSCRIPT;' "
       "(asked with the community of /opt/Orvane/mfp/share/OEM.ini) matches the driver "
       "zorv-sample\n"},
      {"a model of no driver's", "MFG:Kestrel;MDL:Other 1;", 0,
       "    driver none (no *1284DeviceID names its manufacturer and model)\n", 1,
       "zorv-printer-app: Unable to add printer: no driver's *1284DeviceID names the "
       "manufacturer and model of the printer's device ID 'MFG:Kestrel;MDL:Other 1;' (asked "
       "with the community of /opt/Orvane/mfp/share/OEM.ini).\n"},
  };
  int n = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Snmpd agent;
    SnmpdConfig config;
    config.address = kAgent;
    config.community = "orvane-only";
    ASSERT_TRUE(write_file(
        files.file("id.conf"),
        std::string("override .1.3.6.1.4.1.2699.1.2.1.2.1.1.3.1 octet_str \"") + c.id + "\"\n"));
    config.values_files = {files.file("id.conf")};
    ASSERT_TRUE(agent.start(config)) << agent.error();
    const std::string uri = std::string("socket://") + kAgent;
    ProgramResult devices = app.run({"devices", "-o", ppd_option, "-v", uri});
    EXPECT_EQ(devices.status, c.devices_status) << devices.err;
    EXPECT_NE(devices.out.find(c.devices), std::string::npos) << devices.out;
    const std::string name = "auto" + std::to_string(++n);
    ProgramResult added = app.run({"add", "-o", ppd_option, "-d", name, "-m", "auto", "-v", uri});
    EXPECT_EQ(added.status, c.add_status) << added.err;
    EXPECT_NE(added.err.find(c.add), std::string::npos) << added.err;
    EXPECT_EQ(ipp_printer_attribute(app.printer_uri(name), "printer-make-and-model"),
              c.add_status == 0 ? "Orvane Laser 5100, zorv filters" : "");
  }
}

}  // namespace
