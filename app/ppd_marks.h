// A job's IPP options as the PPD's own option code: the PPD's options are marked from the
// job's attributes through the driver's choice tables, and their code is emitted the way a
// PostScript filter of CUPS puts it into the document setup.
#ifndef ZORV_APP_PPD_MARKS_H
#define ZORV_APP_PPD_MARKS_H

#include <cups/ppd.h>
#include <pappl/pappl.h>

#include "app/ppd_driver.h"
#include "common/handles.h"

// Marks ppd's defaults, then (with a printer) the printer's installed choices, then the choices
// for the job's media size, type and source, output bin, sides, colour mode, resolution and
// finishings. A value without a choice in the PPD, or one that the printer's installed
// choices rule out, leaves the default marked (PAPPL has already refused or substituted values
// outside the printer's capabilities, but not every kind of them).
void markJobOptions(ppd_file_t* ppd, const PpdDriver& driver, const pappl_pr_options_t& options,
                    pappl_printer_t* printer = nullptr);

// The code of every marked option (prolog, document, any and page order, in that order) and,
// for more than one copy, the NumCopies request: a terminated text on the C heap, owned by the
// caller; null when memory runs out. Empty when there is nothing to emit.
UniqueMalloc<char> setupCode(ppd_file_t* ppd, int copies);

// Opens the driver's PPD, marks the job's options (with the printer's installed choices) and
// returns their setup code (as above); null when the PPD does not open or memory runs out.
UniqueMalloc<char> jobSetupCode(const PpdDriver& driver, const pappl_pr_options_t& options,
                                pappl_printer_t* printer = nullptr);

#endif  // ZORV_APP_PPD_MARKS_H
