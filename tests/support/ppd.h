// PPD texts and files of the tests, opened with the CUPS library and owned by the program's
// own UniquePpd: an installable-options group whose options carry their query and reply
// attributes, and the marks that a query leaves.
#ifndef ZORV_TESTS_SUPPORT_PPD_H
#define ZORV_TESTS_SUPPORT_PPD_H

#include <string>

#include "probe/ppd_handles.h"

// A boolean installable option with default False. Without the *Default line the keyword may
// use all 40 characters of a PPD name.
std::string installable_option(const std::string& keyword, bool with_default = true);
// A PPD whose installable-options group holds options, with attributes after the group;
// manufacturer empty: no *Manufacturer line.
std::string test_ppd(const std::string& manufacturer, const std::string& options,
                     const std::string& attributes);

// The PPD file at path, or null when the library refuses it.
UniquePpd open_ppd(const std::string& path);
// A PPD of the given text, or null when the library refuses it.
UniquePpd open_ppd_text(const std::string& text);
// The marked choice of an option, or "" when none is marked.
std::string marked_choice(ppd_file_t* ppd, const std::string& keyword);

#endif  // ZORV_TESTS_SUPPORT_PPD_H
