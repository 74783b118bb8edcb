// What each program exports and links: the log globals (and xdump) in the dynamic symbol
// table and nothing else of its own; the preload filter links no library beyond the system's;
// the auto-configuration filter leaves libusb to the library.
#include <cstdio>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "support/text.h"

namespace {

std::string command_output(const std::string& command) {
  std::string out;
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return out;
  char buffer[4096];
  for (size_t n; (n = fread(buffer, 1, sizeof(buffer), pipe)) > 0;) out.append(buffer, n);
  pclose(pipe);
  return out;
}

// Defined dynamic symbols that are the program's own. Left out: versioned ones
// ("stdout@GLIBC_2.2.5"), copies of the C library's data that the linker places in every
// program, the linker's section markers, which the program re-exports because
// libusb-0.1.so.4 exports its own, and in a sanitizer build the sanitizer runtime's interface.
std::set<std::string> own_dynamic_symbols(const char* program) {
  std::set<std::string> symbols;
  std::string listing = command_output(std::string("nm -D --defined-only ") + program);
  size_t start = 0;
  for (size_t end; (end = listing.find('\n', start)) != std::string::npos; start = end + 1) {
    std::string line = listing.substr(start, end - start);
    std::string name = line.substr(line.rfind(' ') + 1);
    if (name.find('@') != std::string::npos) continue;
    if (name == "__bss_start" || name == "_edata" || name == "_end") continue;
    if (name.rfind("__asan_", 0) == 0 || name.rfind("__ubsan_", 0) == 0 ||
        name.rfind("__lsan_", 0) == 0 || name.rfind("__sanitizer_", 0) == 0) {
      continue;
    }
    symbols.insert(name);
  }
  return symbols;
}

TEST(Exports, AutoconfExportsTheLogGlobalsAndXdumpOnly) {
  EXPECT_EQ(own_dynamic_symbols(ZORVAUTOCONF_PATH),
            (std::set<std::string>{"log_flush_mode", "log_level", "xdump"}));
}

TEST(Exports, PreloadExportsTheLogGlobalsOnly) {
  EXPECT_EQ(own_dynamic_symbols(ZORVPRELOAD_PATH),
            (std::set<std::string>{"log_flush_mode", "log_level"}));
}

TEST(Exports, OnlyTheAutoconfFilterLinksThePrintingLibraries) {
  std::string preload = command_output(std::string("ldd ") + ZORVPRELOAD_PATH);
  std::string autoconf = command_output(std::string("ldd ") + ZORVAUTOCONF_PATH);
  for (const char* library : {"libcups.so", "libusb-0.1.so", "libnetsnmp.so"}) {
    SCOPED_TRACE(library);
    EXPECT_EQ(preload.find(library), std::string::npos) << preload;
    EXPECT_NE(autoconf.find(library), std::string::npos) << autoconf;
  }
}

// A preloaded libusb double can stand in for the library only where the program leaves each
// function to it.
TEST(Exports, AutoconfLeavesEveryLibusbFunctionToTheLibrary) {
  const std::vector<std::string> symbols =
      split_lines(command_output(std::string("readelf --dyn-syms -W ") + ZORVAUTOCONF_PATH));
  for (const char* name :
       {"usb_init", "usb_find_busses", "usb_find_devices", "usb_get_busses", "usb_open",
        "usb_get_string_simple", "usb_control_msg", "usb_close", "usb_strerror"}) {
    SCOPED_TRACE(name);
    bool undefined = false;
    for (const std::string& line : symbols) {
      size_t at = line.rfind(' ');
      if (at != std::string::npos && line.substr(at + 1) == name) {
        undefined = line.find(" UND ") != std::string::npos;
      }
    }
    EXPECT_TRUE(undefined);
  }
}

}  // namespace
