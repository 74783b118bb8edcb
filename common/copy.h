// The pass-through copy that both filters end with.
#ifndef ZORV_COMMON_COPY_H
#define ZORV_COMMON_COPY_H

#include <cstddef>

inline constexpr size_t kCopyBlock = 65536;

// Results of copy_job.
inline constexpr int kCopyDone = 0;    // end of input reached, every byte written
inline constexpr int kCopyFailed = 2;  // read error, write error or cancellation

// Writes all count bytes to fd, completing partial writes, retrying EINTR and waiting out
// EAGAIN. False on a write error or a cancellation (SIGTERM), each logged at level 1.
bool write_all(int fd, const void* bytes, size_t count);

// Copies in_fd to out_fd in blocks of kCopyBlock bytes, completing partial writes and
// retrying interrupted calls; a cancellation (common/signals.h) stops it between blocks. A write
// failure or a cancellation is logged at level 1.
int copy_job(int in_fd, int out_fd);

#endif  // ZORV_COMMON_COPY_H
