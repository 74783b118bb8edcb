// A stand-in for a printer's raw port (socket://host:9100): accepts one connection after
// another and keeps the bytes of each, so a test can check what the printer would receive.
#ifndef ZORV_TESTS_SUPPORT_LISTENER_H
#define ZORV_TESTS_SUPPORT_LISTENER_H

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

// One connection as the printer saw it.
struct ReceivedJob {
  std::string bytes;            // everything read until the peer closed (empty when not kept)
  uint64_t length = 0;          // number of bytes read
  int64_t end_realtime_ns = 0;  // CLOCK_REALTIME when the last byte had been read
};

class Listener {
 public:
  Listener() = default;
  ~Listener();
  Listener(const Listener&) = delete;
  Listener& operator=(const Listener&) = delete;

  // Binds address:port (IPv4) and starts accepting in a thread of its own. keep_bytes false
  // only counts (for jobs too large to hold). False when the port cannot be bound.
  bool start(const std::string& address, int port, bool keep_bytes = true);
  void stop();

  // Pauses this many microseconds after each read, to make a job last (0: none).
  void set_read_pause_us(int pause_us) { pause_us_ = pause_us; }
  // A printer that accepts connections and then reads nothing, until set back.
  void set_stalled(bool stalled) { stalled_ = stalled; }

  // Waits until at least count connections have ended, at most timeout_ms.
  bool wait_for_jobs(size_t count, int timeout_ms);
  // Waits until the connection in progress has delivered at least bytes, at most timeout_ms.
  bool wait_for_bytes(uint64_t bytes, int timeout_ms);
  std::vector<ReceivedJob> jobs();
  // The jobs from index first on; their bytes move to the caller and the kept entries keep
  // only length and end time, so that a capture that runs for many jobs holds each one once.
  std::vector<ReceivedJob> take_jobs(size_t first);

 private:
  void run();
  void receive(int fd);

  int listen_fd_ = -1;
  int wake_pipe_[2] = {-1, -1};
  bool keep_bytes_ = true;
  std::atomic<int> pause_us_{0};
  std::atomic<bool> stalled_{false};
  uint64_t current_bytes_ = 0;  // of the connection in progress, under mutex_
  std::thread thread_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<ReceivedJob> jobs_;
};

#endif  // ZORV_TESTS_SUPPORT_LISTENER_H
