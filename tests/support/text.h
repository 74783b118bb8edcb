// Text helpers of the tests: lines of an output, whole-text pattern matches, the one change
// a test makes to an expected text.
#ifndef ZORV_TESTS_SUPPORT_TEXT_H
#define ZORV_TESTS_SUPPORT_TEXT_H

#include <cstddef>
#include <initializer_list>
#include <string>
#include <vector>

// The lines of text without their newlines; a last line without a newline counts too.
std::vector<std::string> split_lines(const std::string& text);
// The lines, each ended by a newline.
std::string joined_lines(std::initializer_list<std::string> lines);
// Replaces the one occurrence of from in text by to. When from does not occur exactly once,
// the current test fails and text is left as it was: a test that meant to change something
// must find it.
bool replace_text(std::string& text, const std::string& from, const std::string& to);
// Whole-text match of a POSIX extended regular expression.
bool full_match(const std::string& text, const std::string& pattern);
// How many times piece occurs in text, overlapping occurrences included.
size_t occurrences(const std::string& text, const std::string& piece);
// text with every log timestamp ("YYYY-MM-DD HH:MM:SS.uuuuuu") replaced by "<time>".
std::string without_times(const std::string& text);

#endif  // ZORV_TESTS_SUPPORT_TEXT_H
