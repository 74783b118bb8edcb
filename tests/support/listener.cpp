// The printer stand-in of the print-path tests, the demonstration and the benchmark.
#include "support/listener.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>

namespace {

constexpr size_t kReadBlock = 65536;
constexpr int kStallLookMs = 50;

int64_t realtime_ns() {
  struct timespec ts;
  clock_gettime(CLOCK_REALTIME, &ts);
  return static_cast<int64_t>(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

}  // namespace

Listener::~Listener() {
  stop();
}

bool Listener::start(const std::string& address, int port, bool keep_bytes) {
  keep_bytes_ = keep_bytes;
  struct sockaddr_in addr = {};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(static_cast<uint16_t>(port));
  if (inet_pton(AF_INET, address.c_str(), &addr.sin_addr) != 1) return false;
  listen_fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (listen_fd_ < 0) return false;
  int on = 1;
  setsockopt(listen_fd_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof(on));
  if (bind(listen_fd_, reinterpret_cast<struct sockaddr*>(&addr), sizeof(addr)) != 0 ||
      listen(listen_fd_, 4) != 0 || pipe2(wake_pipe_, O_CLOEXEC) != 0) {
    close(listen_fd_);
    listen_fd_ = -1;
    return false;
  }
  thread_ = std::thread([this] { run(); });
  return true;
}

void Listener::stop() {
  if (thread_.joinable()) {
    char byte = 0;
    if (write(wake_pipe_[1], &byte, 1) < 0) {
      // The thread then only ends with the process; nothing better to do here.
    }
    thread_.join();
  }
  for (int* fd : {&listen_fd_, &wake_pipe_[0], &wake_pipe_[1]}) {
    if (*fd >= 0) close(*fd);
    *fd = -1;
  }
}

void Listener::run() {
  for (;;) {
    struct pollfd fds[2] = {{listen_fd_, POLLIN, 0}, {wake_pipe_[0], POLLIN, 0}};
    if (poll(fds, 2, -1) < 0) {
      if (errno == EINTR) continue;
      return;
    }
    if (fds[1].revents != 0) return;
    if ((fds[0].revents & POLLIN) == 0) continue;
    int fd = accept4(listen_fd_, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) continue;
    receive(fd);
    close(fd);
  }
}

// Reads one connection to its end. The socket backend half-closes after the job and waits
// for the printer to close in turn, so end of input is where the job ends.
void Listener::receive(int fd) {
  ReceivedJob job;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    current_bytes_ = 0;
  }
  std::string block(kReadBlock, '\0');
  for (;;) {
    struct pollfd fds[2] = {{fd, POLLIN, 0}, {wake_pipe_[0], POLLIN, 0}};
    if (stalled_) {
      // Looks at nothing but the stop, and at the stall again now and then.
      if (poll(fds + 1, 1, kStallLookMs) > 0) break;
      continue;
    }
    if (poll(fds, 2, -1) < 0) {
      if (errno == EINTR) continue;
      break;
    }
    if (fds[1].revents != 0 && fds[0].revents == 0) break;
    ssize_t n = read(fd, block.data(), block.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    if (keep_bytes_) job.bytes.append(block.data(), static_cast<size_t>(n));
    job.length += static_cast<uint64_t>(n);
    {
      // Under the lock, so that a waiter cannot miss the change between test and wait.
      std::lock_guard<std::mutex> lock(mutex_);
      current_bytes_ = job.length;
    }
    changed_.notify_all();
    if (int pause = pause_us_.load(); pause > 0) usleep(static_cast<useconds_t>(pause));
  }
  job.end_realtime_ns = realtime_ns();
  {
    std::lock_guard<std::mutex> lock(mutex_);
    jobs_.push_back(std::move(job));
  }
  changed_.notify_all();
}

bool Listener::wait_for_jobs(size_t count, int timeout_ms) {
  std::unique_lock<std::mutex> lock(mutex_);
  return changed_.wait_for(lock, std::chrono::milliseconds(timeout_ms),
                           [&] { return jobs_.size() >= count; });
}

bool Listener::wait_for_bytes(uint64_t bytes, int timeout_ms) {
  std::unique_lock<std::mutex> lock(mutex_);
  return changed_.wait_for(lock, std::chrono::milliseconds(timeout_ms),
                           [&] { return current_bytes_ >= bytes; });
}

std::vector<ReceivedJob> Listener::jobs() {
  std::lock_guard<std::mutex> lock(mutex_);
  return jobs_;
}

std::vector<ReceivedJob> Listener::take_jobs(size_t first) {
  std::lock_guard<std::mutex> lock(mutex_);
  std::vector<ReceivedJob> taken;
  for (size_t i = first; i < jobs_.size(); i++) {
    ReceivedJob& kept = jobs_[i];
    taken.push_back(ReceivedJob{std::move(kept.bytes), kept.length, kept.end_realtime_ns});
    kept.bytes = std::string();
  }
  return taken;
}
