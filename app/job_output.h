// What every job callback shares: the job's option code, and the writes to the printer, which
// stop when the job is cancelled, when the server is told to stop and when the printer reads
// nothing for the stall time, but let the end of a page through after a stop, so that the
// printer is not left inside it.
#ifndef ZORV_APP_JOB_OUTPUT_H
#define ZORV_APP_JOB_OUTPUT_H

#include <pappl/pappl.h>

#include <cstddef>

#include "common/handles.h"

// A job's message, as the job callbacks make it.
inline constexpr size_t kMessageTextSize = 256;

struct WatchedDevice;
struct DeviceWatch;

// One run of a job at its printer. The caller owns it (on the stack or in the job's data).
struct JobOutput {
  pappl_job_t* job = nullptr;
  pappl_device_t* device = nullptr;
  DeviceWatch* watch = nullptr;
  WatchedDevice* watched = nullptr;
  bool closing = false;  // ending the page after a stop: writes go through
  bool failed = false;   // a write failed: nothing more is sent
};

// Puts the printer's connection for the job's run under the server's watch (a job runs once,
// one job of a printer at a time: app/job_start.cpp).
void openJobOutput(JobOutput* output, pappl_job_t* job, pappl_device_t* device);
// Ends the watch. Safe on an output that did not open.
void closeJobOutput(JobOutput* output);

// True once the job must stop: cancelled, the server stopping, the printer stalled.
bool jobStopped(JobOutput* output);
// Writes count bytes to the printer. False (nothing written) once the output failed, or once
// the job has stopped unless output->closing; a failed write sets the job's message (why the
// write failed: the stall, the server's stop, or the printer's connection).
bool jobWrite(JobOutput* output, const void* bytes, size_t count);
// A PsSink over jobWrite; context is the JobOutput.
bool jobSink(void* context, const void* bytes, size_t count);
// Sets the job's message for a job that stopped by itself (the server's stop or the stall);
// a cancelled job needs none.
void jobStopMessage(JobOutput* output);

// The job's option code for copies copies; null (with the job's message set) when the PPD
// does not open.
UniqueMalloc<char> jobOptionCode(pappl_job_t* job, const pappl_pr_options_t& options, int copies);

// Refuses a job with message (a printf format): the job's message, its log at error level, and
// the document-format-error reason when format_error.
void refuseJob(pappl_job_t* job, bool format_error, const char* message, ...)
    __attribute__((format(printf, 3, 4)));

#endif  // ZORV_APP_JOB_OUTPUT_H
