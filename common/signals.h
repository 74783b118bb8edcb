// The signals of a filter: SIGPIPE ignored, and SIGTERM (the scheduler cancelling the job)
// turned into a flag that every long step checks.
#ifndef ZORV_COMMON_SIGNALS_H
#define ZORV_COMMON_SIGNALS_H

#include <signal.h>

// Ignores SIGPIPE, so that a closed output is a write error the copy sees, and makes SIGTERM
// set the flag that job_cancelled() reports. A blocked read or write returns EINTR when it
// arrives, so the copy sees the flag at once.
void install_filter_signals();
// True once SIGTERM has arrived.
bool job_cancelled();

// Blocks SIGTERM for its life, so that a check of job_cancelled() and the wait after it
// cannot miss a SIGTERM that arrives between them: the wait itself lets it in, with
// wait_mask() as the mask of ppoll or pselect, and then returns EINTR.
class TermDeferred {
 public:
  TermDeferred();
  ~TermDeferred();
  TermDeferred(const TermDeferred&) = delete;
  TermDeferred& operator=(const TermDeferred&) = delete;
  const sigset_t* wait_mask() const { return &wait_mask_; }

 private:
  sigset_t saved_;
  sigset_t wait_mask_;
};

#endif  // ZORV_COMMON_SIGNALS_H
