// One run per job, one job at a time per printer. PAPPL 1.3.1 starts a job by making a
// thread for it while the job is still pending; the job becomes processing only once that
// thread runs, and the check for a running job is made without the printer's lock. A second
// check in between (a job that arrives as another ends does it) starts the same job again, or
// the next one beside it: two threads then write to one device through its unlocked buffer,
// the first to end closes the device under the other, and a job is marked aborted, finds its
// document already removed, or is printed twice. A third of the jobs that four clients sent at
// once were lost or mixed that way.
//
// PAPPL reaches its job thread's entry through its global offset table, so the definition
// here takes its place in this program. A thread runs its job only when the job is still
// pending, no thread runs it, and no other job of the printer is running; otherwise it returns
// without touching the job. A job that was dropped because another ran is started again by the
// end of that one (PAPPL looks for the next job once the state of the last is final). PAPPL's
// own entry does the run.
#include <dlfcn.h>
#include <pappl/pappl.h>

#include <algorithm>
#include <mutex>
#include <vector>

namespace {

using JobThread = void* (*)(pappl_job_t*);
using CheckJobs = void (*)(pappl_printer_t*);

struct Run {
  pappl_job_t* job;
  pappl_printer_t* printer;
};

struct JobStarts {
  std::mutex mutex;
  // Runs that have begun and not returned. A job object lives until PAPPL cleans completed
  // jobs, a minute after its end at the earliest, so its address names it while it runs.
  std::vector<Run> running;
};

JobStarts& job_starts() {
  static JobStarts starts;
  return starts;
}

JobThread papplJobThread() {
  static const JobThread real = reinterpret_cast<JobThread>(dlsym(RTLD_NEXT, "_papplJobProcess"));
  return real;
}

enum class Start { kRun, kRunning, kNotPending, kPrinterBusy };

Start take_job(pappl_job_t* job) {
  JobStarts& starts = job_starts();
  pappl_printer_t* printer = papplJobGetPrinter(job);
  const std::lock_guard<std::mutex> lock(starts.mutex);
  for (const Run& run : starts.running) {
    if (run.job == job) return Start::kRunning;
  }
  if (papplJobGetState(job) != IPP_JSTATE_PENDING) return Start::kNotPending;
  for (const Run& run : starts.running) {
    // A run whose job has reached its final state is past the point where PAPPL looks for
    // the next job.
    if (run.printer == printer && papplJobGetState(run.job) < IPP_JSTATE_CANCELED) {
      return Start::kPrinterBusy;
    }
  }
  starts.running.push_back({job, printer});
  return Start::kRun;
}

void give_back(pappl_job_t* job) {
  JobStarts& starts = job_starts();
  const std::lock_guard<std::mutex> lock(starts.mutex);
  starts.running.erase(std::remove_if(starts.running.begin(), starts.running.end(),
                                      [job](const Run& run) { return run.job == job; }),
                       starts.running.end());
}

}  // namespace

extern "C" __attribute__((visibility("default"))) void* _papplJobProcess(pappl_job_t* job) {
  const JobThread real = papplJobThread();
  if (real == nullptr) return nullptr;
  const Start start = take_job(job);
  if (start != Start::kRun) {
    papplLogJob(job, PAPPL_LOGLEVEL_DEBUG, "Job %d was started %s; this start does nothing.",
                papplJobGetID(job),
                start == Start::kRunning       ? "again"
                : start == Start::kPrinterBusy ? "while another job of the printer runs"
                                               : "when no longer pending");
    if (start != Start::kNotPending) return nullptr;
    // PAPPL would run it all the same (a cancelled job printed, an ended one printed again) and
    // then look for the next job; only the look is wanted.
    static const CheckJobs check =
        reinterpret_cast<CheckJobs>(dlsym(RTLD_DEFAULT, "_papplPrinterCheckJobs"));
    if (check == nullptr) return real(job);
    check(papplJobGetPrinter(job));
    return nullptr;
  }
  void* result = real(job);
  give_back(job);
  return result;
}
