// The job callbacks of every zorv driver: PostScript documents go to the printer with the
// job's option code in their setup, PWG raster documents become PostScript pages with the
// same code; the colour-profile block goes first. Each job reads its printer's PpdDriver and
// opens its own PPD handle. Copies are the printer's (NumCopies, collated where the PPD has
// Collate), but for a PostScript document of several pages on a printer that cannot collate,
// which is sent once per copy; job-impressions-completed counts the pages of every copy.
#ifndef ZORV_APP_PRINT_JOB_H
#define ZORV_APP_PRINT_JOB_H

#include <pappl/pappl.h>

// Sets the job, raster and identify callbacks of a zorv driver.
void setJobCallbacks(pappl_pr_driver_data_t* data);

// The MIME filter of application/postscript, and of documents sent as
// application/octet-stream (what PAPPL could not type): PostScript gets the job's options,
// anything else (a printer-ready job, PJL around PostScript) goes to the printer as it is,
// after the block.
bool printPostScriptDocument(pappl_job_t* job, pappl_device_t* device, void* data);

struct JobOutput;

// Sends the PostScript document of fd (read from its start, once per copy where the copies are
// made by sending it again) after the profile block, with the job's option code in its setup,
// and counts its pages into the job's impressions. False with the job's message set.
bool printPostScriptFile(JobOutput* output, const pappl_pr_options_t& options, int fd);

// The message that Identify-Printer shows on the printer's panel, as a PJL ready message:
// printable ASCII without quotes, at most kPanelMessageSize - 1 characters; fallback when
// message has none.
inline constexpr size_t kPanelMessageSize = 33;
void panelMessage(char* out, size_t size, const char* message, const char* fallback);

#endif  // ZORV_APP_PRINT_JOB_H
