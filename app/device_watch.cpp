// The watch over the jobs writing to their printers.
#include "app/device_watch.h"

#include <dirent.h>
#include <linux/sockios.h>
#include <netdb.h>
#include <pthread.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <new>

#include "common/handles.h"
#include "log/text.h"

namespace {

constexpr int kTickMs = 200;
constexpr char kSocketScheme[] = "socket";
constexpr int kDefaultSocketPort = 9100;

// Set by the signal handler, read by the watch's thread: a lock-free atomic is both
// signal-safe and free of a data race.
std::atomic<int> g_stopping{0};
static_assert(std::atomic<int>::is_always_lock_free);
struct sigaction g_pappl_term;  // PAPPL's SIGTERM action, which ours calls

void on_term(int signal_number) {
  g_stopping = 1;
  if (g_pappl_term.sa_handler != SIG_DFL && g_pappl_term.sa_handler != SIG_IGN &&
      g_pappl_term.sa_handler != nullptr) {
    g_pappl_term.sa_handler(signal_number);
  }
}

int64_t now_ms() {
  timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return int64_t{now.tv_sec} * 1000 + now.tv_nsec / 1000000;
}

struct AddrInfoFreer {
  void operator()(addrinfo* list) const { freeaddrinfo(list); }
};

bool same_address(const sockaddr_storage& peer, const addrinfo* candidate) {
  if (peer.ss_family != candidate->ai_family) return false;
  if (peer.ss_family == AF_INET) {
    const auto* a = reinterpret_cast<const sockaddr_in*>(&peer);
    const auto* b = reinterpret_cast<const sockaddr_in*>(candidate->ai_addr);
    return a->sin_port == b->sin_port && a->sin_addr.s_addr == b->sin_addr.s_addr;
  }
  if (peer.ss_family == AF_INET6) {
    const auto* a = reinterpret_cast<const sockaddr_in6*>(&peer);
    const auto* b = reinterpret_cast<const sockaddr_in6*>(candidate->ai_addr);
    return a->sin6_port == b->sin6_port &&
           memcmp(&a->sin6_addr, &b->sin6_addr, sizeof(a->sin6_addr)) == 0;
  }
  return false;
}

}  // namespace

struct DeviceWatch {
  pthread_mutex_t lock;
  pthread_t thread;
  HeapList<WatchedDevice*> devices;
  int stall_seconds = 0;
  bool quit = false;
};

namespace {

bool claimed(const DeviceWatch& watch, int fd) {
  for (size_t i = 0; i < watch.devices.size(); i++) {
    if (watch.devices[i]->fd == fd) return true;
  }
  return false;
}

// The one stream socket of the process connected to the device URI's host and port that no
// other watched job holds; -1 when there is none or more than one. Call with the lock held.
int find_connection(const DeviceWatch& watch, const char* device_uri) {
  char scheme[32], user[256], host[256], resource[256];
  int port = 0;
  if (httpSeparateURI(HTTP_URI_CODING_ALL, device_uri, scheme, sizeof(scheme), user, sizeof(user),
                      host, sizeof(host), &port, resource, sizeof(resource)) < HTTP_URI_STATUS_OK ||
      strcmp(scheme, kSocketScheme) != 0) {
    return -1;
  }
  char service[16];
  format_text(service, sizeof(service), "%d", port > 0 ? port : kDefaultSocketPort);
  addrinfo hints = {};
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  // The host was strictly checked when the printer was made: a bracketed IPv6 address loses
  // its brackets here.
  char bare[256];
  const size_t length = strlen(host);
  copy_text(bare, sizeof(bare), host);
  if (length > 2 && host[0] == '[' && host[length - 1] == ']') copy_text(bare, length - 1, host + 1);
  if (getaddrinfo(bare, service, &hints, &found) != 0) return -1;
  std::unique_ptr<addrinfo, AddrInfoFreer> addresses(found);
  std::unique_ptr<DIR, int (*)(DIR*)> dir(opendir("/proc/self/fd"), closedir);
  if (dir == nullptr) return -1;
  int match = -1;
  while (dirent* entry = readdir(dir.get())) {
    char* end = nullptr;
    const long fd = strtol(entry->d_name, &end, 10);
    if (end == entry->d_name || *end != '\0' || fd < 0 || fd == dirfd(dir.get())) continue;
    struct stat info;
    int type = 0;
    socklen_t type_size = sizeof(type);
    sockaddr_storage peer = {};
    socklen_t peer_size = sizeof(peer);
    if (fstat(static_cast<int>(fd), &info) != 0 || !S_ISSOCK(info.st_mode) ||
        getsockopt(static_cast<int>(fd), SOL_SOCKET, SO_TYPE, &type, &type_size) != 0 ||
        type != SOCK_STREAM ||
        getpeername(static_cast<int>(fd), reinterpret_cast<sockaddr*>(&peer), &peer_size) != 0 ||
        claimed(watch, static_cast<int>(fd))) {
      continue;
    }
    for (const addrinfo* a = addresses.get(); a != nullptr; a = a->ai_next) {
      if (!same_address(peer, a)) continue;
      if (match >= 0) return -1;
      match = static_cast<int>(fd);
    }
  }
  return match;
}

void shut_down(WatchedDevice* device) {
  if (device->fd >= 0 && !device->shut) shutdown(device->fd, SHUT_RDWR);
  device->shut = true;
}

// One look at every watched job. Call with the lock held.
void look(DeviceWatch* watch) {
  const int64_t now = now_ms();
  for (size_t i = 0; i < watch->devices.size(); i++) {
    WatchedDevice* device = watch->devices[i];
    if (device->shut) continue;
    if (device->end == WatchEnd::kNone && g_stopping != 0) device->end = WatchEnd::kServerStopping;
    if (device->end == WatchEnd::kNone && papplJobIsCanceled(device->job)) {
      device->end = WatchEnd::kCancelled;
    }
    // The printer reads when the bytes waiting in the kernel change.
    int queued = -1;
    if (device->fd >= 0 && ioctl(device->fd, SIOCOUTQ, &queued) == 0 && queued != device->queued) {
      device->queued = queued;
      device->progress_ms = now;
    }
    const int64_t since = device->write_since_ms;
    if (since == 0) continue;
    const int64_t progress = device->progress_ms;
    const int64_t quiet = now - (progress > since ? progress : since);
    // A stopped job has the grace to end its page; one whose printer reads nothing, none.
    if (device->end != WatchEnd::kNone && quiet > kStopGraceMs) {
      shut_down(device);
    } else if (device->end == WatchEnd::kNone && watch->stall_seconds > 0 &&
               quiet > int64_t{watch->stall_seconds} * 1000) {
      device->end = WatchEnd::kStalled;
      shut_down(device);
    }
  }
}

void* run_watch(void* data) {
  DeviceWatch* watch = static_cast<DeviceWatch*>(data);
  pthread_mutex_lock(&watch->lock);
  while (!watch->quit) {
    look(watch);
    pthread_mutex_unlock(&watch->lock);
    usleep(kTickMs * 1000);
    pthread_mutex_lock(&watch->lock);
  }
  pthread_mutex_unlock(&watch->lock);
  return nullptr;
}

}  // namespace

DeviceWatch* makeDeviceWatch(int stall_seconds) {
  DeviceWatch* watch = static_cast<DeviceWatch*>(calloc(1, sizeof(DeviceWatch)));
  if (watch == nullptr) return nullptr;
  new (watch) DeviceWatch();
  watch->stall_seconds = stall_seconds;
  pthread_mutex_init(&watch->lock, nullptr);
  if (pthread_create(&watch->thread, nullptr, run_watch, watch) != 0) {
    pthread_mutex_destroy(&watch->lock);
    watch->~DeviceWatch();
    free(watch);
    return nullptr;
  }
  return watch;
}

int stallSeconds(const DeviceWatch* watch) {
  return watch != nullptr ? watch->stall_seconds : 0;
}

void freeDeviceWatch(DeviceWatch* watch) {
  if (watch == nullptr) return;
  pthread_mutex_lock(&watch->lock);
  watch->quit = true;
  pthread_mutex_unlock(&watch->lock);
  pthread_join(watch->thread, nullptr);
  pthread_mutex_destroy(&watch->lock);
  watch->~DeviceWatch();
  free(watch);
}

WatchedDevice* watchDevice(DeviceWatch* watch, pappl_job_t* job, const char* device_uri) {
  if (watch == nullptr) return nullptr;
  WatchedDevice* device = static_cast<WatchedDevice*>(calloc(1, sizeof(WatchedDevice)));
  if (device == nullptr) return nullptr;
  new (device) WatchedDevice();
  device->job = job;
  pthread_mutex_lock(&watch->lock);
  device->fd = device_uri != nullptr ? find_connection(*watch, device_uri) : -1;
  const bool added = watch->devices.add(device);
  pthread_mutex_unlock(&watch->lock);
  if (!added) {
    free(device);
    return nullptr;
  }
  return device;
}

void unwatchDevice(DeviceWatch* watch, WatchedDevice* device) {
  if (watch == nullptr || device == nullptr) return;
  pthread_mutex_lock(&watch->lock);
  for (size_t i = 0; i < watch->devices.size(); i++) {
    if (watch->devices[i] == device) {
      watch->devices.remove_at(i);
      break;
    }
  }
  pthread_mutex_unlock(&watch->lock);
  free(device);
}

void writeBegins(WatchedDevice* device) {
  if (device == nullptr) return;
  const int64_t now = now_ms();
  device->progress_ms = now;
  device->write_since_ms = now;
}

void writeEnds(WatchedDevice* device) {
  if (device != nullptr) device->write_since_ms = 0;
}

void watchServerStop() {
  struct sigaction ours = {};
  ours.sa_handler = on_term;
  ours.sa_flags = SA_RESTART;  // as PAPPL's own, set by signal()
  sigemptyset(&ours.sa_mask);
  sigaction(SIGTERM, &ours, &g_pappl_term);
}

bool serverStopping() {
  return g_stopping != 0;
}
