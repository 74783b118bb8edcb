// Preloaded into a built filter by the fault-injection tests to make faults happen at a
// chosen moment, deterministically:
//   ZORV_FAULT_PPD=<file>, ZORV_FAULT_PPD_PLAN=<action>[,<action>...]: stands in for the
//     scheduler's cupsGetPPD. Call k takes action k (the last one repeats): "ok" hands out a
//     fresh copy of the file, "null" fails the fetch, "gone" hands out a path whose file has
//     already been removed (the PPD vanished between the fetch and its use).
//   ZORV_FAULT_SHRINK=<file>: when the program has measured that file (the first fstat of a
//     descriptor open on it), the file is cut to half that length before the program reads it.
//   ZORV_FAULT_PROFILE=<file>, ZORV_FAULT_PROFILE_PLAN=<moment>,<change>: the file is changed
//     once, at the moment "found" (access() has just found it), "read" (the program's first
//     read() of it has just returned) or "written" (the program's first write() to standard
//     output has just returned). The change: "grow" appends 4096 bytes, "shrink" cuts it to half
//     its length, "rewrite" turns every byte over in place (the length stays), "fifo" puts a
//     FIFO in its place (a descriptor open on the file keeps it), "term" leaves the file and
//     sends the program SIGTERM.
//   ZORV_FAULT_MKDIR_LINK=<directory>: a mkdir loses the race to an attacker: instead of the
//     directory, a symbolic link to <directory> appears under the name, and mkdir returns 0.
//   ZORV_FAULT_SLOW_OPEN=<file>, ZORV_FAULT_SLOW_WHILE=<marker>: every open of the file takes
//     kSlowOpenMs longer while the marker file exists (a test widens a window of a server's
//     threads that way, and closes it by removing the marker).
#include <dlfcn.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

char g_fetched[4096];
int g_calls = 0;
constexpr long kSlowOpenMs = 2000;

// The action of fetch number call from a comma-separated plan; the last repeats.
void plan_action(const char* plan, int call, char* action, size_t size) {
  const char* p = plan;
  for (int i = 0; i < call; i++) {
    const char* comma = strchr(p, ',');
    if (comma == nullptr) break;
    p = comma + 1;
  }
  size_t n = strcspn(p, ",");
  if (n >= size) n = size - 1;
  memcpy(action, p, n);
  action[n] = '\0';
}

bool copy_file(const char* from, int to_fd) {
  int in = open(from, O_RDONLY | O_CLOEXEC);
  if (in < 0) return false;
  char buffer[8192];
  ssize_t n;
  bool ok = true;
  while ((n = read(in, buffer, sizeof(buffer))) > 0) {
    if (write(to_fd, buffer, static_cast<size_t>(n)) != n) ok = false;
  }
  close(in);
  return ok && n == 0;
}

int real_fstat(int fd, struct stat* st) {
  using Fstat = int (*)(int, struct stat*);
  static Fstat real = reinterpret_cast<Fstat>(dlsym(RTLD_NEXT, "fstat"));
  return real(fd, st);
}

bool same_file(int fd, const char* path) {
  struct stat a, b;
  return real_fstat(fd, &a) == 0 && stat(path, &b) == 0 && a.st_dev == b.st_dev &&
         a.st_ino == b.st_ino;
}

void cut_to_half(const char* path) {
  struct stat st;
  if (stat(path, &st) != 0 || truncate(path, st.st_size / 2) != 0) perror("fault shim: cut");
}

// Turns every byte of the file over, in place.
void rewrite(const char* path) {
  int fd = open(path, O_RDWR | O_CLOEXEC);
  if (fd < 0) {
    perror("fault shim: rewrite");
    return;
  }
  unsigned char buffer[8192];
  ssize_t n;
  for (off_t at = 0; (n = pread(fd, buffer, sizeof(buffer), at)) > 0; at += n) {
    for (ssize_t i = 0; i < n; i++) buffer[i] = static_cast<unsigned char>(~buffer[i]);
    if (pwrite(fd, buffer, static_cast<size_t>(n), at) != n) perror("fault shim: rewrite");
  }
  close(fd);
}

void grow(const char* path) {
  int fd = open(path, O_WRONLY | O_APPEND | O_CLOEXEC);
  const char more[4096] = {'x'};
  if (fd < 0 || write(fd, more, sizeof(more)) != static_cast<ssize_t>(sizeof(more))) {
    perror("fault shim: grow");
  }
  if (fd >= 0) close(fd);
}

// Makes the change of ZORV_FAULT_PROFILE_PLAN when moment is its moment and fd (unless -1)
// is open on the file; once.
void change_profile(const char* moment, int fd) {
  static bool changed = false;
  const char* path = getenv("ZORV_FAULT_PROFILE");
  const char* plan = getenv("ZORV_FAULT_PROFILE_PLAN");
  if (changed || path == nullptr || plan == nullptr) return;
  char when[16], change[16];
  plan_action(plan, 0, when, sizeof(when));
  plan_action(plan, 1, change, sizeof(change));
  if (strcmp(when, moment) != 0 || (fd >= 0 && !same_file(fd, path))) return;
  changed = true;
  if (strcmp(change, "grow") == 0) grow(path);
  if (strcmp(change, "shrink") == 0) cut_to_half(path);
  if (strcmp(change, "rewrite") == 0) rewrite(path);
  if (strcmp(change, "fifo") == 0 && (unlink(path) != 0 || mkfifo(path, 0644) != 0)) {
    perror("fault shim: fifo");
  }
  if (strcmp(change, "term") == 0) kill(getpid(), SIGTERM);
}

// Sleeps kSlowOpenMs when path is ZORV_FAULT_SLOW_OPEN and ZORV_FAULT_SLOW_WHILE exists.
void slow_open(const char* path) {
  const char* slow = getenv("ZORV_FAULT_SLOW_OPEN");
  const char* marker = getenv("ZORV_FAULT_SLOW_WHILE");
  struct stat st;
  if (slow == nullptr || marker == nullptr || path == nullptr || strcmp(path, slow) != 0 ||
      stat(marker, &st) != 0) {
    return;
  }
  struct timespec delay = {kSlowOpenMs / 1000, (kSlowOpenMs % 1000) * 1000000};
  nanosleep(&delay, nullptr);
}

// The mode argument of an open that creates.
mode_t open_mode(int flags, va_list arguments) {
  return (flags & (O_CREAT | O_TMPFILE)) != 0 ? static_cast<mode_t>(va_arg(arguments, int)) : 0;
}

// The open itself, after slow_open: the system call, since a sanitizer's runtime may call
// open before the dynamic linker can look up the C library's own for this library.
int open_after(const char* path, int flags, mode_t mode) {
  slow_open(path);
  return static_cast<int>(syscall(SYS_openat, AT_FDCWD, path, flags, mode));
}

}  // namespace

extern "C" {

int open(const char* path, int flags, ...) {
  va_list arguments;
  va_start(arguments, flags);
  const mode_t mode = open_mode(flags, arguments);
  va_end(arguments);
  return open_after(path, flags, mode);
}

int open64(const char* path, int flags, ...) {
  va_list arguments;
  va_start(arguments, flags);
  const mode_t mode = open_mode(flags, arguments);
  va_end(arguments);
  return open_after(path, flags | O_LARGEFILE, mode);
}

const char* cupsGetPPD(const char* /*name*/) {
  const char* source = getenv("ZORV_FAULT_PPD");
  const char* plan = getenv("ZORV_FAULT_PPD_PLAN");
  char action[16];
  plan_action(plan != nullptr ? plan : "ok", g_calls++, action, sizeof(action));
  if (source == nullptr || strcmp(action, "null") == 0) return nullptr;

  const char* tmp = getenv("TMPDIR");
  snprintf(g_fetched, sizeof(g_fetched), "%s/zorvfault-XXXXXX", tmp != nullptr ? tmp : "/tmp");
  int fd = mkstemp(g_fetched);
  if (fd < 0) return nullptr;
  bool copied = copy_file(source, fd);
  close(fd);
  if (!copied || strcmp(action, "gone") == 0) unlink(g_fetched);
  return copied ? g_fetched : nullptr;
}

int mkdir(const char* path, mode_t mode) {
  using Mkdir = int (*)(const char*, mode_t);
  static Mkdir real = reinterpret_cast<Mkdir>(dlsym(RTLD_NEXT, "mkdir"));
  const char* planted = getenv("ZORV_FAULT_MKDIR_LINK");
  if (planted == nullptr) return real(path, mode);
  return symlink(planted, path);
}

int fstat(int fd, struct stat* st) {
  static bool shrunk = false;
  const int result = real_fstat(fd, st);
  const char* path = getenv("ZORV_FAULT_SHRINK");
  if (result == 0 && path != nullptr && !shrunk && st->st_size > 0 && same_file(fd, path)) {
    shrunk = true;
    cut_to_half(path);
  }
  return result;
}

ssize_t read(int fd, void* buffer, size_t count) {
  using Read = ssize_t (*)(int, void*, size_t);
  static Read real = reinterpret_cast<Read>(dlsym(RTLD_NEXT, "read"));
  const ssize_t n = real(fd, buffer, count);
  if (n > 0) change_profile("read", fd);
  return n;
}

ssize_t write(int fd, const void* buffer, size_t count) {
  using Write = ssize_t (*)(int, const void*, size_t);
  static Write real = reinterpret_cast<Write>(dlsym(RTLD_NEXT, "write"));
  const ssize_t n = real(fd, buffer, count);
  if (n > 0 && fd == STDOUT_FILENO) change_profile("written", -1);
  return n;
}

int access(const char* name, int mode) {
  using Access = int (*)(const char*, int);
  static Access real = reinterpret_cast<Access>(dlsym(RTLD_NEXT, "access"));
  const int result = real(name, mode);
  const char* path = getenv("ZORV_FAULT_PROFILE");
  if (result == 0 && path != nullptr && strcmp(name, path) == 0) change_profile("found", -1);
  return result;
}

}  // extern "C"
