// The attribute lines of a PPD that the PPD library does not read as written.
#include "query/ppd_syntax.h"

#include <cups/file.h>

#include <cstring>
#include <memory>

#include "log/escape.h"
#include "log/text.h"
#include "probe/probe.h"

namespace {

// A PPD line has at most 255 characters; a longer one is shown cut.
constexpr size_t kLineSize = 512;

struct CupsFileCloser {
  void operator()(cups_file_t* file) const { cupsFileClose(file); }
};
using UniqueCupsFile = std::unique_ptr<cups_file_t, CupsFileCloser>;

// The next line without its end (LF, CR LF or CR, as the PPD library takes them), cut to the
// buffer; false at the end of the file.
bool next_line(cups_file_t* file, char (&line)[kLineSize]) {
  size_t length = 0;
  int c = cupsFileGetChar(file);
  if (c == -1) return false;
  for (; c != -1 && c != '\n'; c = cupsFileGetChar(file)) {
    if (c == '\r') {
      if (cupsFilePeekChar(file) == '\n') cupsFileGetChar(file);
      break;
    }
    if (length + 1 < sizeof(line)) line[length++] = static_cast<char>(c);
  }
  line[length] = '\0';
  return true;
}

// Whether the line names an attribute of the query families ("*?Snmp...", "*OID...", ...).
bool family_line(const char* line) {
  if (line[0] != '*') return false;
  for (const ProbeFamilyNames& names : kProbeFamilies) {
    for (const char* prefix : {names.query, names.reply}) {
      const size_t length = strlen(prefix);
      if (strncmp(line + 1, prefix, length) == 0 && line[1 + length] != '\0' &&
          !is_blank(line[1 + length]) && line[1 + length] != ':') {
        return true;
      }
    }
  }
  return false;
}

// Where the value of a main-keyword line starts, after its ':', or null when the PPD library
// finds no ':' where it looks for one: after the name, then after a choice without blanks and
// its optional "/text".
const char* value_of(const char* line) {
  const char* p = line + 1;
  while (*p != '\0' && !is_blank(*p) && *p != ':') ++p;
  while (is_blank(*p)) ++p;
  if (*p != ':' && *p != '\0') {
    while (*p != '\0' && !is_blank(*p) && *p != ':' && *p != '/') ++p;
    while (is_blank(*p)) ++p;
    if (*p == '/') p = strchr(p, ':');
  }
  if (p == nullptr || *p != ':') return nullptr;
  ++p;
  while (is_blank(*p)) ++p;
  return p;
}

// Whether text holds an odd number of '"': the PPD library reads a value on, across lines,
// while the quotes after its ':' are odd in number.
bool odd_quotes(const char* text) {
  bool odd = false;
  for (const char* p = strchr(text, '"'); p != nullptr; p = strchr(p + 1, '"')) odd = !odd;
  return odd;
}

}  // namespace

int checkPpdLines(const char* path, FILE* out) {
  UniqueCupsFile file(cupsFileOpen(path, "r"));
  if (file == nullptr) return 0;
  int problems = 0;
  int number = 0;
  int open_since = 0;  // the line of a family attribute whose quoted value is still open
  bool in_quote = false;
  char line[kLineSize];
  while (next_line(file.get(), line)) {
    ++number;
    if (in_quote) {
      // Another attribute's value of several lines (PostScript code, say) goes on too.
      if (!odd_quotes(line)) continue;
      in_quote = false;
      if (open_since != 0) {
        fprintf(out,
                "line %d: its quoted value ends only on line %d; the PPD library takes the "
                "lines between into it\n",
                open_since, number);
        ++problems;
        open_since = 0;
      }
      continue;
    }
    if (line[0] != '*' || line[1] == '%') continue;
    const char* value = value_of(line);
    const bool ours = family_line(line);
    if (value == nullptr) {
      if (ours) {
        fprintf(out,
                "line %d: the PPD library drops '%s': a ':' must follow the name and the "
                "choice, and a choice has no blanks\n",
                number, ShownText(line).c_str());
        ++problems;
      }
      continue;
    }
    if (odd_quotes(value)) {
      in_quote = true;
      if (ours) open_since = number;
    }
  }
  if (open_since != 0) {
    fprintf(out,
            "line %d: its quoted value never ends; the PPD library takes the rest of the file "
            "into it\n",
            open_since);
    ++problems;
  }
  return problems;
}
