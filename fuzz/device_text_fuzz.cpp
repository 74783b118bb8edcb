// Fuzzes how device text is shown. The input is an SNMP reply text (up to its first zero
// byte). Checked: escape_control leaves no control character, can be undone to the input,
// and a cut form is a prefix of the whole that never ends inside an escape; and whatever the
// reply, the messages that applySnmpReply writes to standard error gain no line that does not
// begin with one of the program's own prefixes, so the scheduler never sees a device's line.
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "autoconf/snmp_query.h"
#include "fuzz_support.h"
#include "log/escape.h"

namespace {

constexpr size_t kReplyText = 256;  // the reply buffer of the network path

std::string escaped(const std::string& text, size_t size) {
  std::vector<char> out(size);
  escape_control(out.data(), size, text.c_str());
  if (size > 0 && memchr(out.data(), 0, size) == nullptr) fuzz_fail("output not terminated");
  return size > 0 ? std::string(out.data()) : std::string();
}

// Undoes the escapes; false when the text holds something escape_control never writes.
bool unescape(const std::string& shown, std::string& text) {
  text.clear();
  for (size_t i = 0; i < shown.size(); ++i) {
    if (shown[i] != '\\') {
      text += shown[i];
      continue;
    }
    if (i + 1 >= shown.size()) return false;
    const char c = shown[++i];
    if (c == 'n') {
      text += '\n';
    } else if (c == 'r') {
      text += '\r';
    } else if (c == 't') {
      text += '\t';
    } else if (c == '\\') {
      text += '\\';
    } else if (c == 'x' && i + 2 < shown.size()) {
      text += static_cast<char>(std::stoi(shown.substr(i + 1, 2), nullptr, 16));
      i += 2;
    } else {
      return false;
    }
  }
  return true;
}

ppd_file_t* g_ppd = nullptr;
ppd_option_t* g_option = nullptr;
int g_capture = -1;
int g_stderr = -1;

void set_up() {
  g_ppd = ppdOpenFile(FUZZ_DATA_DIR "/options.ppd");
  g_option = g_ppd != nullptr ? ppdFindOption(g_ppd, "Duplexer") : nullptr;
  if (g_option == nullptr) fuzz_fail("fixture PPD lacks the Duplexer option");
  // Standard error goes to a memory file while the messages are written, and back to the
  // fuzzer's own standard error for its reports.
  g_capture = memfd_create("stderr", MFD_CLOEXEC);
  g_stderr = dup(2);
  if (g_capture < 0 || g_stderr < 0) fuzz_fail("cannot capture standard error");
  setbuf(stderr, nullptr);
}

std::string captured_messages(const std::string& reply) {
  if (ftruncate(g_capture, 0) != 0 || dup2(g_capture, 2) < 0) fuzz_fail("cannot capture");
  lseek(g_capture, 0, SEEK_SET);
  ppdMarkDefaults(g_ppd);
  applySnmpReply(g_ppd, g_option, reply.c_str());
  dup2(g_stderr, 2);
  std::string text;
  char buffer[4096];
  ssize_t n;
  for (off_t at = 0; (n = pread(g_capture, buffer, sizeof(buffer), at)) > 0; at += n) {
    text.append(buffer, static_cast<size_t>(n));
  }
  return text;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (g_ppd == nullptr) set_up();
  std::string reply = fuzz_text(data, size);
  if (reply.size() >= kReplyText) reply.resize(kReplyText - 1);

  const std::string whole = escaped(reply, escaped_size(reply.size()));
  for (unsigned char c : whole) {
    if (c < 0x20 || c == 0x7f) fuzz_fail("a control character was shown as it is");
  }
  std::string back;
  if (!unescape(whole, back) || back != reply) fuzz_fail("the shown text is not the reply");
  const size_t small = size > 0 ? data[0] % 24 : 0;
  const std::string cut = escaped(reply, small);
  if (whole.compare(0, cut.size(), cut) != 0) fuzz_fail("a cut text is not a prefix");
  if (!unescape(cut, back)) fuzz_fail("a cut ends inside an escape");

  const std::string messages = captured_messages(reply);
  size_t start = 0;
  while (start < messages.size()) {
    size_t end = messages.find('\n', start);
    if (end == std::string::npos) fuzz_fail("a message does not end its line");
    const std::string line = messages.substr(start, end - start);
    if (line.rfind("WARNING: ", 0) != 0 && line.rfind("ERROR: ", 0) != 0) {
      fuzz_fail("standard error gained a line that is not the program's");
    }
    start = end + 1;
  }
  return 0;
}
