// How a query, a walk or a round learns that it is to stop.
#ifndef ZORV_PROBE_CANCEL_H
#define ZORV_PROBE_CANCEL_H

// How a query learns that it is to stop. The filter: SIGTERM (common/signals.h), which also
// wakes the SNMP round's wait at once. A server: a descriptor that turns readable (an eventfd
// or the read end of a pipe), which wakes the wait the same way. Between USB requests both are
// checked; a request in flight is not interrupted.
struct ProbeCancel {
  bool sigterm = false;
  int fd = -1;
};
bool probeCancelled(const ProbeCancel& cancel);

#endif  // ZORV_PROBE_CANCEL_H
