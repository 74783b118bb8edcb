// Fuzzes the PPD defaults rewrite: the input is the PPD source text, rewritten against a small
// real PPD handle whose installable options carry marks, into a target in this process's own
// scratch directory. Checked: a rewrite that changed no line leaves the copy byte-identical,
// and every line of the copy that differs from its source line is a *Default line. The same
// text goes through zorvquery --check's report of the attribute lines the PPD library drops.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include "autoconf/installable.h"
#include "fuzz_support.h"
#include "query/ppd_syntax.h"

namespace {

ppd_file_t* g_ppd = nullptr;

void open_fixture() {
  g_ppd = ppdOpenFile(FUZZ_DATA_DIR "/options.ppd");
  if (g_ppd == nullptr) fuzz_fail("fixture PPD does not open");
  // Tray and Duplexer get marked choices, Disk keeps none.
  ppdMarkOption(g_ppd, "Tray", "Two");
  ppdMarkOption(g_ppd, "Duplexer", "True");
}

std::string read_all(const std::string& path) {
  std::string text;
  if (FILE* file = fopen(path.c_str(), "rb")) {
    char buffer[4096];
    size_t n;
    while ((n = fread(buffer, 1, sizeof(buffer), file)) > 0) text.append(buffer, n);
    fclose(file);
  }
  return text;
}

// True when every line, newline included, fits the rewrite's 1024-byte line buffer.
bool short_lines(const std::string& text) {
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    end = end == std::string::npos ? text.size() : end + 1;
    if (end - start > 1023) return false;
    start = end;
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (g_ppd == nullptr) open_fixture();
  const std::string source = fuzz_scratch_dir() + "/source.ppd";
  const std::string target = fuzz_scratch_dir() + "/target.ppd";
  if (!fuzz_write_file(source, data, size)) return 0;
  remove(target.c_str());
  fuzz_check_report("line ", checkPpdLines, source);

  int rewritten = rewritePpdDefaults(g_ppd, source.c_str(), target.c_str());
  if (rewritten < -1) fuzz_fail("result below -1");

  // Text with zero bytes is not a PPD; the line copy is only held to plain text.
  if (rewritten >= 0 && memchr(data, 0, size) == nullptr) {
    const std::string in(reinterpret_cast<const char*>(data), size);
    const std::string out = read_all(target);
    if (rewritten == 0 && out != in) fuzz_fail("nothing rewritten but the copy differs");
    // Line by line: an unchanged line, or a *Default line whose value was replaced. Lines
    // longer than the rewrite's buffer are handled as pieces and left out of this check.
    size_t a = 0, b = 0;
    const bool check_lines = rewritten > 0 && short_lines(in);
    while (check_lines && a < in.size() && b < out.size()) {
      size_t ea = in.find('\n', a), eb = out.find('\n', b);
      ea = ea == std::string::npos ? in.size() : ea + 1;
      eb = eb == std::string::npos ? out.size() : eb + 1;
      if (in.compare(a, ea - a, out, b, eb - b) != 0 && out.compare(b, 8, "*Default") != 0) {
        fuzz_fail("a line other than *Default changed");
      }
      a = ea;
      b = eb;
    }
  }
  return 0;
}
