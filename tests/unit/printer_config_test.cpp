// Device URI classification and the dispatch of the option query by connection type.
#include "autoconf/printer_config.h"

#include <cstdlib>
#include <cstring>
#include <string>

#include <gtest/gtest.h>

#include "log/log.h"
#include "support/paths.h"
#include "support/ppd.h"

#pragma GCC diagnostic ignored "-Wdeprecated-declarations"

TEST(DeviceConnectionType, OnlyTheExactSchemeCounts) {
  struct Case {
    const char* uri;
    int type;
  } cases[] = {
      {"http://printer/ipp", kConnectionNetwork},
      {"ipp://printer/ipp/print", kConnectionNetwork},
      {"socket://10.0.0.7:9100", kConnectionNetwork},
      {"lpd://host/queue", kConnectionNetwork},
      {"usb://Orvane/LX-420?serial=1", kConnectionUsb},
      {"mfp:/dev/x", kConnectionUsb},
      {"usb:", kConnectionUsb},
      {"ipps://printer/ipp", kConnectionUnsupported},
      {"https://printer/ipp", kConnectionUnsupported},
      {"usbx://maker/model", kConnectionUnsupported},
      {"IPP://printer", kConnectionUnsupported},
      {"Usb://maker", kConnectionUnsupported},
      {"ip://printer", kConnectionUnsupported},
      {"file:/dev/null", kConnectionUnsupported},
      {"dnssd://x", kConnectionUnsupported},
      {"socket", kConnectionUnsupported},
      {"lpd", kConnectionUnsupported},
      {":usb", kConnectionUnsupported},
      {"", kConnectionUnsupported},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.uri);
    EXPECT_EQ(deviceConnectionType(c.uri), c.type);
  }
  EXPECT_EQ(deviceConnectionType(nullptr), kConnectionUnsupported);
}

TEST(DeviceConnectionType, LogsTheUri) {
  TempDir dir;
  log_open(3, dir.file("log").c_str());
  deviceConnectionType("dnssd://x");
  log_close();
  EXPECT_EQ(read_file(dir.file("log")), "DEBUG: deviceConnectionType(dnssd://x)\n");
}

// Unsupported and missing URIs only: the network and USB paths would reach out to devices.
TEST(PpdUpdateConfigOptions, UnsupportedOrMissingUriMarksNothing) {
  UniquePpd ppd = open_ppd(test_data("ppd/installable.ppd"));
  ASSERT_NE(ppd, nullptr);
  struct Case {
    const char* uri;  // null: unset
    const char* logged;
  } cases[] = {{"file:/dev/null", "file:/dev/null"}, {"dnssd://x", "dnssd://x"}, {nullptr, ""}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.logged);
    if (c.uri != nullptr) {
      setenv("DEVICE_URI", c.uri, 1);
    } else {
      unsetenv("DEVICE_URI");
    }
    TempDir dir;
    log_open(3, dir.file("log").c_str());
    EXPECT_EQ(ppdUpdateConfigOptions(ppd.get()), 0);
    log_close();
    std::string uri = c.logged;
    EXPECT_EQ(read_file(dir.file("log")),
              "DEBUG: ppdUpdateConfigOptions(): DEVICE_URI=<" + uri + ">\n" +
                  "DEBUG: deviceConnectionType(" + uri + ")\n" +
                  "WARNING: Auto-configuration is not supported for this type of connection\n");
    EXPECT_EQ(ppdFindMarkedChoice(ppd.get(), "OptionalTray"), nullptr);
  }
  unsetenv("DEVICE_URI");
}

TEST(PpdTargetPath, OneFileNamedAfterTheQueueInsideTheDirectory) {
  TempDir dir;
  log_open(1, dir.file("log").c_str());
  // "/var/tmp/autoconf/" and ".ppd" take 22 of the 256 bytes, the terminator one more.
  std::string longest(233, 'q');
  struct Case {
    std::string queue;
    const char* target;  // null: refused
  } cases[] = {
      {"lx420", "/var/tmp/autoconf/lx420.ppd"},
      {"", "/var/tmp/autoconf/.ppd"},
      {"..", "/var/tmp/autoconf/...ppd"},
      {longest, nullptr},
      {longest + "q", nullptr},
      {"../lx420", nullptr},
      {"lx420/", nullptr},
      {"/etc/passwd", nullptr},
  };
  char target[256];
  for (const Case& c : cases) {
    SCOPED_TRACE(c.queue);
    bool formed = ppd_target_path(c.queue.c_str(), target, sizeof(target));
    if (c.queue == longest) {
      EXPECT_TRUE(formed);
      EXPECT_EQ(std::string(target), "/var/tmp/autoconf/" + longest + ".ppd");
      EXPECT_EQ(strlen(target), sizeof(target) - 1);
      continue;
    }
    EXPECT_EQ(formed, c.target != nullptr);
    if (formed) {
      EXPECT_STREQ(target, c.target);
    }
  }
  log_close();
  EXPECT_EQ(read_file(dir.file("log")),
            "ERROR: queue name <" + longest +
                "q> is too long for a PPD file name, nothing written\n"
                "ERROR: queue name <../lx420> contains a slash, nothing written\n"
                "ERROR: queue name <lx420/> contains a slash, nothing written\n"
                "ERROR: queue name </etc/passwd> contains a slash, nothing written\n");
}
