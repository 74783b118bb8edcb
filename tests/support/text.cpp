// Text helpers of the tests.
#include "support/text.h"

#include <regex.h>

#include <sstream>

#include <gtest/gtest.h>

std::vector<std::string> split_lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

std::string joined_lines(std::initializer_list<std::string> lines) {
  std::string text;
  for (const std::string& line : lines) text += line + "\n";
  return text;
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
  if (from.empty() || at == std::string::npos || text.find(from, at + 1) != std::string::npos) {
    ADD_FAILURE() << "not there exactly once: " << from;
    return false;
  }
  text.replace(at, from.size(), to);
  return true;
}

std::string without_times(const std::string& text) {
  // 'd' marks a digit; anything else must match as it stands.
  static const std::string shape = "dddd-dd-dd dd:dd:dd.dddddd";
  auto stamp_at = [&](size_t at) {
    if (text.size() - at < shape.size()) return false;
    for (size_t i = 0; i < shape.size(); i++) {
      const char c = text[at + i];
      if (shape[i] == 'd' ? (c < '0' || c > '9') : c != shape[i]) return false;
    }
    return true;
  };
  std::string out;
  for (size_t at = 0; at < text.size();) {
    if (stamp_at(at)) {
      out += "<time>";
      at += shape.size();
    } else {
      out += text[at++];
    }
  }
  return out;
}

size_t occurrences(const std::string& text, const std::string& piece) {
  size_t count = 0;
  for (size_t at = text.find(piece); at != std::string::npos; at = text.find(piece, at + 1)) {
    count++;
  }
  return count;
}
