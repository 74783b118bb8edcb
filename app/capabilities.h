// The capabilities a printer offers once its installed choices rule some out through the PPD's
// constraints: the sources and their ready media, output bins, sides and finishings.
#ifndef ZORV_APP_CAPABILITIES_H
#define ZORV_APP_CAPABILITIES_H

#include <cups/ppd.h>
#include <pappl/pappl.h>

#include <cstddef>

#include "app/ppd_driver.h"

// The capabilities of driver that remain once the installable choices marked in ppd rule some
// out through the PPD's constraints: data's sources with their ready media, output bins, sides
// and finishings narrowed, their defaults moved to an offered value where theirs is not. A list
// that nothing would be left of keeps all its values, and why gets a line saying so.
void narrowCapabilities(ppd_file_t* ppd, const PpdDriver& driver, pappl_pr_driver_data_t* data,
                        char* why, size_t why_size);

// Whether two driver data offer the same values in what narrowCapabilities narrows (ready media
// included).
bool sameCapabilities(const pappl_pr_driver_data_t& a, const pappl_pr_driver_data_t& b);

#endif  // ZORV_APP_CAPABILITIES_H
