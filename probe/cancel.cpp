// The cancel a query watches: SIGTERM's flag, or a descriptor that turns readable.
#include "probe/cancel.h"

#include <poll.h>

#include "common/signals.h"

bool probeCancelled(const ProbeCancel& cancel) {
  if (cancel.sigterm && job_cancelled()) return true;
  if (cancel.fd < 0) return false;
  struct pollfd p = {cancel.fd, POLLIN, 0};
  return poll(&p, 1, 0) > 0;
}
