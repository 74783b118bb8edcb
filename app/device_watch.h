// The watch over the jobs that are writing to their printers: a job whose printer has read
// nothing for the stall time, a cancelled job, and every job once the server has been told to
// stop (SIGTERM) have their connection to the printer shut down, so that a write blocked in
// the kernel returns and the job ends at once. PAPPL's socket device writes until the
// printer has taken every byte, and checks nothing while it waits.
#ifndef ZORV_APP_DEVICE_WATCH_H
#define ZORV_APP_DEVICE_WATCH_H

#include <pappl/pappl.h>

#include <atomic>
#include <cstdint>

// The default stall time, in seconds (-o stall-timeout=SECONDS).
inline constexpr int kDefaultStallSeconds = 300;

// Why a watched job's connection was shut down.
enum class WatchEnd { kNone, kStalled, kCancelled, kServerStopping };

// One job's connection under watch; the job's run owns it (watchDevice, unwatchDevice).
struct WatchedDevice {
  pappl_job_t* job = nullptr;
  int fd = -1;                             // the connection, -1 when it was not found
  std::atomic<int64_t> write_since_ms{0};  // when the write in progress began, 0 for none
  std::atomic<int64_t> progress_ms{0};     // when the printer last took bytes
  int queued = -1;                         // bytes waiting in the kernel at the last look
  bool shut = false;                       // the connection has been shut down
  std::atomic<WatchEnd> end{WatchEnd::kNone};
};

// How long a stopped job (cancelled, the server stopping) may go on writing without the
// printer taking a byte before its connection is shut down: the time to end its page.
inline constexpr int kStopGraceMs = 500;

struct DeviceWatch;

// A watch with its thread; null when memory or a thread cannot be had. stall_seconds 0 never
// ends a job for a stall.
DeviceWatch* makeDeviceWatch(int stall_seconds);
// Stops the thread and frees the watch; no job may be watched any more.
void freeDeviceWatch(DeviceWatch* watch);
// The stall time the watch was made with.
int stallSeconds(const DeviceWatch* watch);

// Watches the connection of job to device_uri (a socket:// printer's, found among the
// process's descriptors by its peer address); for other devices only cancellation and the
// server's stop are watched, between writes. Null when watch is null or memory runs out.
WatchedDevice* watchDevice(DeviceWatch* watch, pappl_job_t* job, const char* device_uri);
// Ends the watch of device (null is fine) and frees it.
void unwatchDevice(DeviceWatch* watch, WatchedDevice* device);

// Around every write to the device (null is fine).
void writeBegins(WatchedDevice* device);
void writeEnds(WatchedDevice* device);

// Makes SIGTERM set the flag of serverStopping() as well as PAPPL's own: called once PAPPL's
// handler is in place (from the main loop's first timer).
void watchServerStop();
// True once the server has been told to stop.
bool serverStopping();

#endif  // ZORV_APP_DEVICE_WATCH_H
