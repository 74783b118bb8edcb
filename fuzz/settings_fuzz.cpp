// Fuzzes the settings line reader and the community line rule on a fuzzer-written OEM.ini:
// read_settings with parseCommunityLine as the lookup runs it, read_settings with a callback
// that checks the pieces it is handed, parseCommunityLine on the input as a single line, and
// zorvquery --check's report of the file's key lines.
#include <cstdint>
#include <cstring>
#include <string>

#include "autoconf/snmp_query.h"
#include "fuzz_support.h"
#include "log/settings.h"
#include "query/settings_check.h"

namespace {

constexpr size_t kLineBuffer = 1024;

struct PieceCheck {
  size_t pieces = 0;
};

// Every piece fits the reader's buffer, and only a piece's last character can be a newline.
int check_piece(char* line, void* context) {
  const size_t length = strlen(line);
  if (length > kLineBuffer - 1) fuzz_fail("a piece longer than the line buffer");
  const char* newline = strchr(line, '\n');
  if (newline != nullptr && newline != line + length - 1) fuzz_fail("newline inside a piece");
  static_cast<PieceCheck*>(context)->pieces++;
  return 0;
}

void check_community(const char* community) {
  if (memchr(community, 0, kSnmpCommunitySize) == nullptr) fuzz_fail("community not terminated");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string path = fuzz_scratch_dir() + "/OEM.ini";
  if (!fuzz_write_file(path, data, size)) return 0;

  // Exactly 33 bytes, as the lookup passes it, so that an overrun is caught.
  char* community = new char[kSnmpCommunitySize];
  memset(community, 'x', kSnmpCommunitySize);
  int found = read_settings(path.c_str(), parseCommunityLine, community);
  if (found != 0 && found != 1) fuzz_fail("unexpected result of the community lookup");
  if (found == 1) check_community(community);

  PieceCheck check;
  if (read_settings(path.c_str(), check_piece, &check) != 0) fuzz_fail("no line was accepted");

  // The first line as the reader would hand it over, in a buffer of the reader's size.
  char* line = new char[kLineBuffer];
  const std::string text = fuzz_text(data, size < kLineBuffer - 1 ? size : kLineBuffer - 1);
  memcpy(line, text.c_str(), text.size() + 1);
  if (parseCommunityLine(line, community) == 1) check_community(community);
  delete[] line;
  delete[] community;
  fuzz_check_report(path + ", line ", checkSettingsLines, path);
  return 0;
}
