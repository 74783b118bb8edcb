// Text helpers of the tests: lines of an output, whole-text pattern matches.
#ifndef ZORV_TESTS_SUPPORT_TEXT_H
#define ZORV_TESTS_SUPPORT_TEXT_H

#include <string>
#include <vector>

// The lines of text without their newlines; a last line without a newline counts too.
std::vector<std::string> split_lines(const std::string& text);
// Whole-text match of a POSIX extended regular expression.
bool full_match(const std::string& text, const std::string& pattern);

#endif  // ZORV_TESTS_SUPPORT_TEXT_H
