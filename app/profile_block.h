// The colour-profile block ahead of every job's data, exactly as zorvpreload writes it: the
// profile named by the job's zorv-ucs, else by the printer's name, found through the vendor
// lookup; no block when there is no such profile.
#ifndef ZORV_APP_PROFILE_BLOCK_H
#define ZORV_APP_PROFILE_BLOCK_H

#include <pappl/pappl.h>

#include <cstddef>

// The profile name of a job into name: the job's zorv-ucs (PAPPL hands the printer's
// zorv-ucs-default when the job has none), the printer's name for "auto" or none at all.
// Terminated, cut to size - 1.
void jobProfileName(char* name, size_t size, const pappl_pr_options_t& options,
                    const char* printer_name);

struct JobOutput;

// Sends the block of the job's profile to the job's printer. True when the job may go on: the
// block was written, or there is no profile (logged). False when the profile was found but no
// block could be built from it, or writing failed; the job's message then says why.
bool sendProfileBlock(JobOutput* output, const pappl_pr_options_t& options);

#endif  // ZORV_APP_PROFILE_BLOCK_H
