// The job callbacks of every zorv driver: PostScript documents go to the printer with the
// job's option code in their setup, raster documents (PWG raster, JPEG, PNG through PAPPL's
// raster filters) become PostScript pages with the same code; the colour-profile block goes
// first. Each job reads its printer's PpdDriver and opens its own PPD handle.
#ifndef ZORV_APP_PRINT_JOB_H
#define ZORV_APP_PRINT_JOB_H

#include <pappl/pappl.h>

// Sets the job, raster and identify callbacks of a zorv driver.
void setJobCallbacks(pappl_pr_driver_data_t* data);

// The MIME filter of documents sent as application/octet-stream (what PAPPL could not type):
// PostScript gets the job's options as for application/postscript, anything else (a
// printer-ready job, PJL around PostScript) goes to the printer as it is, after the block.
bool printRawDocument(pappl_job_t* job, pappl_device_t* device, void* data);

// The message that Identify-Printer shows on the printer's panel, as a PJL ready message:
// printable ASCII without quotes, at most kPanelMessageSize - 1 characters; fallback when
// message has none.
inline constexpr size_t kPanelMessageSize = 33;
void panelMessage(char* out, size_t size, const char* message, const char* fallback);

#endif  // ZORV_APP_PRINT_JOB_H
