// How the helper programs end: SIGTERM (a script's stop by pid) or SIGINT sets a flag that
// their loop checks, so that they finish what they are writing.
#ifndef ZORV_TOOLS_STOP_SIGNAL_H
#define ZORV_TOOLS_STOP_SIGNAL_H

#include <signal.h>

inline volatile sig_atomic_t g_stop_requested = 0;

inline void stop_on_signals() {
  struct sigaction action = {};
  action.sa_handler = [](int) { g_stop_requested = 1; };
  sigemptyset(&action.sa_mask);
  sigaction(SIGTERM, &action, nullptr);
  sigaction(SIGINT, &action, nullptr);
}

inline bool stop_requested() {
  return g_stop_requested != 0;
}

#endif  // ZORV_TOOLS_STOP_SIGNAL_H
