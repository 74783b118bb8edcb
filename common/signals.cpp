// The signals of a filter.
#include "common/signals.h"

namespace {

volatile sig_atomic_t g_cancelled = 0;

// Only sets the flag: no exit(), no standard I/O in a signal handler.
void on_terminate(int) {
  g_cancelled = 1;
}

}  // namespace

void install_filter_signals() {
  signal(SIGPIPE, SIG_IGN);
  struct sigaction action = {};
  action.sa_handler = on_terminate;
  sigemptyset(&action.sa_mask);
  // No SA_RESTART: a blocked read, write or wait returns EINTR.
  action.sa_flags = 0;
  sigaction(SIGTERM, &action, nullptr);
}

bool job_cancelled() {
  return g_cancelled != 0;
}

TermDeferred::TermDeferred() {
  sigset_t term;
  sigemptyset(&term);
  sigaddset(&term, SIGTERM);
  sigprocmask(SIG_BLOCK, &term, &saved_);
  wait_mask_ = saved_;
  sigdelset(&wait_mask_, SIGTERM);
}

TermDeferred::~TermDeferred() {
  sigprocmask(SIG_SETMASK, &saved_, nullptr);
}
