// Pass-through copy of the job, shared by both filters.
#include "common/copy.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "common/signals.h"
#include "log/log.h"

namespace {

bool transient(int error) {
  return error == EINTR || error == EAGAIN || error == EWOULDBLOCK;
}

// Waits until a non-blocking descriptor is ready again instead of spinning on EAGAIN.
void wait_ready(int fd, short events) {
  struct pollfd p = {fd, events, 0};
  poll(&p, 1, -1);
}

}  // namespace

bool write_all(int fd, const void* bytes, size_t count) {
  const char* buffer = static_cast<const char*>(bytes);
  while (count > 0) {
    ssize_t n = write(fd, buffer, count);
    if (n > 0) {
      buffer += n;
      count -= static_cast<size_t>(n);
      continue;
    }
    if (n < 0 && transient(errno) && !job_cancelled()) {
      if (errno != EINTR) wait_ready(fd, POLLOUT);
      continue;
    }
    if (job_cancelled()) {
      log_printf(1, "ERROR: job cancelled, copy stopped\n");
    } else {
      log_printf(1, "ERROR: write to standard output failed: %s\n",
                 n < 0 ? strerror(errno) : "nothing written");
    }
    return false;
  }
  return true;
}

int copy_job(int in_fd, int out_fd) {
  char buffer[kCopyBlock];
  // Under the scheduler both ends are pipes: splice moves each block between them without
  // copying it through this process. Where it cannot (a file on both ends, a device), or on
  // any failure, the plain read and write take over; they meet the failure again and tell a
  // read error from a write error.
  bool try_splice = true;
  for (;;) {
    if (job_cancelled()) {
      log_printf(1, "ERROR: job cancelled, copy stopped\n");
      return kCopyFailed;
    }
    if (try_splice) {
      ssize_t moved = splice(in_fd, nullptr, out_fd, nullptr, kCopyBlock, SPLICE_F_MOVE);
      if (moved > 0) continue;
      if (moved == 0) return kCopyDone;
      if (errno == EINTR) continue;
      try_splice = false;
    }
    ssize_t n = read(in_fd, buffer, sizeof(buffer));
    if (n == 0) return kCopyDone;
    if (n < 0) {
      if (!transient(errno)) return kCopyFailed;
      if (errno != EINTR) wait_ready(in_fd, POLLIN);
      continue;
    }
    if (!write_all(out_fd, buffer, static_cast<size_t>(n))) return kCopyFailed;
  }
}
