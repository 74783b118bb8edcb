// The lines of a PPD's query and reply attributes that the PPD library does not read as
// written, found in the file itself: the library drops such a line, or takes the lines after it
// into its value, without a word.
#ifndef ZORV_QUERY_PPD_SYNTAX_H
#define ZORV_QUERY_PPD_SYNTAX_H

#include <cstdio>

// Writes one line per such attribute line of the PPD file at path (compressed or not) to out,
// with its line number. Returns the number of lines written.
int checkPpdLines(const char* path, FILE* out);

#endif  // ZORV_QUERY_PPD_SYNTAX_H
