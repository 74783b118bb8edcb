// Line-oriented settings reader: the lines of a file, or of a shell command's output when the
// path starts with "exec:", go one by one to a callback until it accepts one.
#include "log/settings.h"

#include <cstdio>
#include <cstring>

namespace {

constexpr size_t kLineBuffer = SETTINGS_LINE_SIZE;
constexpr size_t kStreamBuffer = 4096;
constexpr char kExecPrefix[] = "exec:";
constexpr size_t kExecPrefixLength = sizeof(kExecPrefix) - 1;

// The reader's own results; a callback that returns one of them is reported as 1 so that
// the caller can always tell an accepted line from a failure of the source.
constexpr int kNullArgument = -3;
constexpr int kReadError = -2;
constexpr int kOpenFailed = -1;

int accepted_result(int value) {
  if (value == kNullArgument || value == kReadError || value == kOpenFailed || value == 1) {
    return 1;
  }
  return value;
}

}  // namespace

int read_settings_stream(FILE* stream, settings_callback callback, void* context) {
  if (stream == nullptr || callback == nullptr) return kNullArgument;
  char line[kLineBuffer];
  int result = 0;
  for (;;) {
    if (fgets(line, sizeof(line), stream) == nullptr) {
      if (ferror(stream)) result = kReadError;
      break;
    }
    const int value = callback(line, context);
    if (value != 0) {
      result = accepted_result(value);
      break;
    }
  }
  // Settings files may hold secrets (a community, SNMPv3 passphrases).
  explicit_bzero(line, sizeof(line));
  return result;
}

int read_settings(const char* path, settings_callback callback, void* context) {
  if (path == nullptr || callback == nullptr) return kNullArgument;

  const bool command = strncmp(path, kExecPrefix, kExecPrefixLength) == 0;
  FILE* stream = command ? popen(path + kExecPrefixLength, "r") : fopen(path, "r");
  if (stream == nullptr) return kOpenFailed;
  // The stream's buffer is the reader's, so that it can be cleared: the library's own would go
  // back to the heap holding the file.
  char buffer[kStreamBuffer];
  setvbuf(stream, buffer, _IOFBF, sizeof(buffer));

  const int result = read_settings_stream(stream, callback, context);
  // The command's exit status says nothing the lines did not already say.
  if (command) {
    pclose(stream);
  } else {
    fclose(stream);
  }
  explicit_bzero(buffer, sizeof(buffer));
  return result;
}

char* strip_newline(char* line) {
  const size_t length = strlen(line);
  if (length > 0 && line[length - 1] == '\n') line[length - 1] = '\0';
  return line;
}
