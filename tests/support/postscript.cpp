// PostScript pages of the raster writer read back.
#include "support/postscript.h"

#include <cstdint>

namespace {

constexpr char kImageEnd[] = "exec\n";
constexpr char kPageStart[] = "%%Page: ";

}  // namespace

std::string ascii85_decode(const std::string& text, bool* ok) {
  std::string out;
  uint32_t group = 0;
  int count = 0;
  *ok = false;
  for (size_t i = 0; i < text.size(); i++) {
    const char c = text[i];
    if (c == ' ' || c == '\n' || c == '\r' || c == '\t') continue;
    if (c == '~') {
      if (i + 1 >= text.size() || text[i + 1] != '>' || count == 1) return out;
      if (count > 0) {
        for (int k = count; k < 5; k++) group = group * 85 + 84;
        for (int k = 0; k < count - 1; k++) out.push_back(static_cast<char>(group >> (24 - 8 * k)));
      }
      *ok = true;
      return out;
    }
    if (c == 'z' && count == 0) {
      out.append(4, '\0');
      continue;
    }
    if (c < '!' || c > 'u') return out;
    group = group * 85 + static_cast<uint32_t>(c - '!');
    if (++count == 5) {
      for (int k = 0; k < 4; k++) out.push_back(static_cast<char>(group >> (24 - 8 * k)));
      group = 0;
      count = 0;
    }
  }
  return out;
}

std::string run_length_decode(const std::string& bytes, bool* ok) {
  std::string out;
  *ok = false;
  for (size_t i = 0; i < bytes.size();) {
    const unsigned length = static_cast<unsigned char>(bytes[i++]);
    if (length == 128) {
      *ok = true;
      return out;
    }
    if (length < 128) {
      if (i + length + 1 > bytes.size()) return out;
      out.append(bytes, i, length + 1);
      i += length + 1;
    } else {
      if (i >= bytes.size()) return out;
      out.append(257 - length, bytes[i++]);
    }
  }
  return out;
}

std::string page_samples(const std::string& document, int page, bool* ok) {
  *ok = false;
  size_t at = document.find(kPageStart + std::to_string(page) + " ");
  if (at == std::string::npos) return "";
  at = document.find(kImageEnd, at);
  if (at == std::string::npos) return "";
  bool text_ok = false;
  const std::string encoded = ascii85_decode(document.substr(at + sizeof(kImageEnd) - 1), &text_ok);
  if (!text_ok) return "";
  return run_length_decode(encoded, ok);
}
