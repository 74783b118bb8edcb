// Text helpers of the tests.
#include "support/text.h"

#include <regex.h>

#include <sstream>

std::vector<std::string> split_lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

bool full_match(const std::string& text, const std::string& pattern) {
  regex_t expression;
  if (regcomp(&expression, ("^(" + pattern + ")$").c_str(), REG_EXTENDED | REG_NOSUB) != 0) {
    return false;
  }
  bool matched = regexec(&expression, text.c_str(), 0, nullptr, 0) == 0;
  regfree(&expression);
  return matched;
}

bool replace_text(std::string& text, const std::string& from, const std::string& to) {
  const size_t at = text.find(from);
  if (from.empty() || at == std::string::npos) return false;
  text.replace(at, from.size(), to);
  return true;
}
