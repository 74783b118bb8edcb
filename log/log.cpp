// Leveled diagnostic log: configuration file, log file naming, filter, timestamps, removal
// of an empty log at close. All state is process-wide; there is at most one log per process.
#include "log/log.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "log/escape.h"
#include "log/log_internal.h"
#include "log/text.h"

extern "C" {
int log_level = 0;
int log_flush_mode = 0;
}

namespace {

constexpr size_t kPathSize = 4096;
constexpr size_t kLineSize = 4096;
// More than any configuration needs; a larger file (or an endless one) is read this far only.
constexpr size_t kConfigReadLimit = 64 * 1024;
// The log holds job titles, options and the environment: for the file's owner alone.
constexpr mode_t kLogMode = 0600;
constexpr size_t kTimestampSize = 28;
constexpr int kDefaultLevel = 2;
constexpr int kSeverityMask = 15;
constexpr int kCategoryMask = ~kSeverityMask;

FILE* g_stream = nullptr;
char g_path[kPathSize] = "";
// Identity of the file the log was opened on, so that close removes that file and no other.
dev_t g_dev = 0;
ino_t g_ino = 0;
char g_timestamp[kTimestampSize] = "";

struct LogConfig {
  bool append = false;
  int level = kDefaultLevel;
  bool use_pid = false;
  bool use_timestamp = false;
};

int config_value(const char* text) {
  return static_cast<int>(strtol(text, nullptr, 10));
}

// Applies one "KEY=VALUE" line; keys match by prefix, in a fixed order, case-sensitively.
void apply_config_line(char* line, LogConfig& config) {
  char* equals = strchr(line, '=');
  if (equals == nullptr) return;
  *equals = '\0';
  const char* value = equals + 1;
  auto starts = [line](const char* key) { return strncmp(line, key, strlen(key)) == 0; };
  if (starts("APPEND_MODE")) {
    config.append = config_value(value) != 0;
  } else if (starts("FLUSH_MODE")) {
    log_flush_mode = config_value(value) != 0 ? 1 : 0;
  } else if (starts("LOG_LEVEL")) {
    config.level = config_value(value);
  } else if (starts("USE_PID")) {
    config.use_pid = config_value(value) != 0;
  } else if (starts("USE_TIMESTAMP")) {
    config.use_timestamp = config_value(value) != 0;
  }
}

// Joins date and time with a hyphen and drops the microseconds: "a b.c.log" -> "a-b.log".
void rewrite_timestamp_name(char* name, size_t size) {
  char* space = strchr(name, ' ');
  if (space == nullptr) return;
  *space = '-';
  char* dot = strchr(space, '.');
  if (dot == nullptr) return;
  size_t offset = static_cast<size_t>(dot + 1 - name);
  copy_text(dot + 1, size - offset, "log");
}

// Opens the log without following a link and refuses a file planted by someone else:
// the log lives in world-writable /tmp under a predictable name.
FILE* open_log_file(const char* path, bool append) {
  int flags = O_WRONLY | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | (append ? O_APPEND : 0);
  int fd = open(path, flags, kLogMode);
  if (fd < 0) return nullptr;
  struct stat st;
  bool ok =
      fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_uid == geteuid() && st.st_nlink == 1;
  // Truncate only once the file is known to be ours.
  if (ok && !append) ok = ftruncate(fd, 0) == 0;
  if (ok) ok = fcntl(fd, F_SETFL, flags & (O_APPEND)) == 0;
  FILE* stream = ok ? fdopen(fd, append ? "a" : "w") : nullptr;
  if (stream == nullptr) {
    close(fd);
    return nullptr;
  }
  g_dev = st.st_dev;
  g_ino = st.st_ino;
  return stream;
}

void open_log(const char* path, bool append) {
  // A second open replaces the first log rather than leaking its stream.
  log_close();
  g_stream = open_log_file(path, append);
  if (g_stream == nullptr) {
    fprintf(stderr, "%s file open error\n", path);
    return;
  }
  copy_text(g_path, sizeof(g_path), path);
}

// Opens the configuration file for reading. It lives in world-writable /tmp under a fixed
// name, so any local user can plant something there: a link (to /dev/zero, say) is not
// followed, a FIFO is not waited on, and only a regular file of root or of this user counts.
// Anything else is reported once on standard error and means no log, as if there were no file.
FILE* open_config_file(const char* path) {
  int fd = open(path, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    if (errno != ENOENT) {
      fprintf(stderr, "WARNING: log configuration %s ignored: %s\n", path,
              errno == ELOOP ? "it is a symbolic link" : strerror(errno));
    }
    return nullptr;
  }
  struct stat st;
  const char* refused = nullptr;
  if (fstat(fd, &st) != 0) {
    refused = strerror(errno);
  } else if (!S_ISREG(st.st_mode)) {
    refused = "it is not a regular file";
  } else if (st.st_uid != 0 && st.st_uid != geteuid()) {
    refused = "it belongs to another user";
  }
  FILE* file = refused == nullptr ? fdopen(fd, "r") : nullptr;
  if (file == nullptr) {
    if (refused != nullptr) {
      fprintf(stderr, "WARNING: log configuration %s ignored: %s\n", path, refused);
    }
    close(fd);
  }
  return file;
}

// Applies the lines of the configuration file, reading at most kConfigReadLimit bytes of it:
// the position, not the text, counts what was read, since zero bytes hide part of a line.
void read_config(FILE* file, LogConfig& config) {
  char line[kLineSize];
  for (;;) {
    const off_t position = ftello(file);
    if (position < 0 || static_cast<size_t>(position) >= kConfigReadLimit) break;
    const size_t left = kConfigReadLimit - static_cast<size_t>(position);
    const size_t room = left + 1 < sizeof(line) ? left + 1 : sizeof(line);
    if (fgets(line, static_cast<int>(room), file) == nullptr) break;
    apply_config_line(line, config);
  }
}

}  // namespace

extern "C" {

void log_init(const char* program_path) {
  LogConfig config;
  const char* slash = strrchr(program_path, '/');
  const char* base = slash != nullptr ? slash + 1 : program_path;

  char path[kPathSize];
  snprintf(path, sizeof(path), "/tmp/%s.lcf", base);
  FILE* file = open_config_file(path);
  if (file == nullptr) {
    log_close();
    return;
  }
  read_config(file, config);
  fclose(file);

  unsigned pid = static_cast<unsigned>(getpid());
  if (config.use_timestamp) {
    if (config.use_pid) {
      snprintf(path, sizeof(path), "/tmp/%s-%u-%s.log", base, pid, log_timestamp());
    } else {
      snprintf(path, sizeof(path), "/tmp/%s-%s.log", base, log_timestamp());
    }
    rewrite_timestamp_name(path, sizeof(path));
  } else if (config.use_pid) {
    snprintf(path, sizeof(path), "/tmp/%s-%u.log", base, pid);
  } else {
    snprintf(path, sizeof(path), "/tmp/%s.log", base);
  }
  log_level = config.level;
  open_log(path, config.append);
}

void log_open(int level, const char* path) {
  log_level = level;
  open_log(path, false);
}

void log_close(void) {
  if (g_stream == nullptr) return;
  fclose(g_stream);
  g_stream = nullptr;
  struct stat st;
  if (lstat(g_path, &st) != 0) return;
  if (S_ISREG(st.st_mode) && st.st_size == 0 && st.st_dev == g_dev && st.st_ino == g_ino) {
    unlink(g_path);
  }
}

void log_shutdown(void) {
  log_close();
}

int log_set_buffer(char* buffer, int mode, size_t size) {
  if (g_stream == nullptr) return 0;
  return setvbuf(g_stream, buffer, mode, size);
}

int log_vprintf(int level, const char* format, va_list args) {
  if (g_stream == nullptr) return 0;
  if ((level & kSeverityMask) > (log_level & kSeverityMask)) return 0;
  if ((level & kCategoryMask) != 0 && (level & log_level & kCategoryMask) == 0) return 0;
  int count = vfprintf(g_stream, format, args);
  if (log_flush_mode != 0) fflush(g_stream);
  return count;
}

int log_printf(int level, const char* format, ...) {
  va_list args;
  va_start(args, format);
  int count = log_vprintf(level, format, args);
  va_end(args);
  return count;
}

// Arguments come from the job (title, user, options): escaped, so that none of them can write
// a line of its own into the log.
void log_args(int level, int argc, char* const argv[]) {
  for (int i = 0; i < argc; i++) {
    log_printf(level, "argv[%d]=<%s>\n", i, ShownText(argv[i]).c_str());
  }
}

int log_line(const char* format, ...) {
  if (g_stream == nullptr) return 0;
  va_list args;
  va_start(args, format);
  int count = vfprintf(g_stream, format, args);
  va_end(args);
  count += fprintf(g_stream, "\n");
  if (log_flush_mode != 0) fflush(g_stream);
  return count;
}

char* format_timestamp(char* buffer, int size, const struct timeval* tv, const time_t* t,
                       int seconds) {
  if (buffer == nullptr || size <= 0) return buffer;
  struct timeval when = {};
  if (tv != nullptr) {
    when = *tv;
  } else if (t != nullptr) {
    when.tv_sec = *t;
  } else if (seconds != 0) {
    when.tv_sec = seconds;
  } else if (gettimeofday(&when, nullptr) != 0) {
    when = {};
  }
  time_t secs = when.tv_sec;
  struct tm parts = {};
  localtime_r(&secs, &parts);
  snprintf(buffer, static_cast<size_t>(size), "%04d-%02d-%02d %02d:%02d:%02d.%06d",
           parts.tm_year + 1900, parts.tm_mon + 1, parts.tm_mday, parts.tm_hour, parts.tm_min,
           parts.tm_sec, static_cast<int>(when.tv_usec));
  return buffer;
}

char* format_current_timestamp(char* buffer, int size) {
  return format_timestamp(buffer, size, nullptr, nullptr, 0);
}

const char* log_timestamp(void) {
  return format_current_timestamp(g_timestamp, static_cast<int>(sizeof(g_timestamp)));
}

// The hex dumps reach the log stream through this; defined here to keep the stream private.
FILE* log_stream_for_dump(void) {
  return g_stream;
}

}  // extern "C"
