// PostScript pages of the raster writer read back: the ASCII85 text after a page's image
// operator decoded, then run-length decoded, as a PostScript interpreter reads them. Used by
// the tests and by the fuzz target of the writer.
#ifndef ZORV_TESTS_SUPPORT_POSTSCRIPT_H
#define ZORV_TESTS_SUPPORT_POSTSCRIPT_H

#include <string>

// ASCII85 text up to "~>" (white space skipped, "z" for four zero bytes); ok false when the
// text is malformed or has no end.
std::string ascii85_decode(const std::string& text, bool* ok);
// Run-length data up to its end-of-data byte; ok false when it ends early.
std::string run_length_decode(const std::string& bytes, bool* ok);
// The image samples of page (counted from 1) of a document of the writer.
std::string page_samples(const std::string& document, int page, bool* ok);

#endif  // ZORV_TESTS_SUPPORT_POSTSCRIPT_H
