// Preloaded into a built filter by the fault-injection tests to make faults happen at a
// chosen moment, deterministically:
//   ZORV_FAULT_PPD=<file>, ZORV_FAULT_PPD_PLAN=<action>[,<action>...]: stands in for the
//     scheduler's cupsGetPPD. Call k takes action k (the last one repeats): "ok" hands out a
//     fresh copy of the file, "null" fails the fetch, "gone" hands out a path whose file has
//     already been removed (the PPD vanished between the fetch and its use).
//   ZORV_FAULT_SHRINK=<file>: when the program has measured that file with ftello, the file is
//     cut to half that length before the program reads it.
//   ZORV_FAULT_MKDIR_LINK=<directory>: a mkdir loses the race to an attacker: instead of the
//     directory, a symbolic link to <directory> appears under the name, and mkdir returns 0.
#include <dlfcn.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

char g_fetched[4096];
int g_calls = 0;

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

bool same_file(FILE* stream, const char* path) {
  struct stat a, b;
  return fstat(fileno(stream), &a) == 0 && stat(path, &b) == 0 && a.st_dev == b.st_dev &&
         a.st_ino == b.st_ino;
}

off_t shrink_after_measure(FILE* stream, off_t position) {
  const char* path = getenv("ZORV_FAULT_SHRINK");
  if (path != nullptr && position > 0 && same_file(stream, path)) {
    if (truncate(path, position / 2) != 0) perror("fault shim: truncate");
  }
  return position;
}

}  // namespace

extern "C" {

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

off_t ftello(FILE* stream) {
  using Ftello = off_t (*)(FILE*);
  static Ftello real = reinterpret_cast<Ftello>(dlsym(RTLD_NEXT, "ftello"));
  return shrink_after_measure(stream, real(stream));
}

off64_t ftello64(FILE* stream) {
  using Ftello64 = off64_t (*)(FILE*);
  static Ftello64 real = reinterpret_cast<Ftello64>(dlsym(RTLD_NEXT, "ftello64"));
  return shrink_after_measure(stream, real(stream));
}

}  // extern "C"
