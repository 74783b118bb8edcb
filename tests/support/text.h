// Text helpers of the tests: lines of an output, whole-text pattern matches.
#ifndef ZORV_TESTS_SUPPORT_TEXT_H
#define ZORV_TESTS_SUPPORT_TEXT_H

#include <string>
#include <vector>

// The lines of text without their newlines; a last line without a newline counts too.
std::vector<std::string> split_lines(const std::string& text);
// Replaces the first occurrence of from in text by to; false, with text unchanged, when from
// does not occur (a test that meant to change something must say so).
bool replace_text(std::string& text, const std::string& from, const std::string& to);
// Whole-text match of a POSIX extended regular expression.
bool full_match(const std::string& text, const std::string& pattern);

#endif  // ZORV_TESTS_SUPPORT_TEXT_H
