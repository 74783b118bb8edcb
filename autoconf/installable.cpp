// The installable-option walk and the PPD defaults rewrite: which options the filter configures,
// and how the device's answers become the *Default lines of the queue's PPD copy.
#include "autoconf/installable.h"

#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "probe/probe.h"
#include "common/handles.h"
#include "log/log.h"
#include "log/text.h"

namespace {

constexpr size_t kLineSize = 1024;
constexpr size_t kKeywordMax = 40;
constexpr char kDefaultPrefix[] = "*Default";
constexpr size_t kDefaultPrefixLength = sizeof(kDefaultPrefix) - 1;
constexpr mode_t kPpdMode = 0666;

// The walk: the group found by the last firstInstallableOption and the next index in it.
ppd_group_t* g_walk_group = nullptr;
int g_walk_index = 0;

// fgets with the length it read, so that bytes after a NUL inside a line are copied too.
// Reads at most size - 1 bytes, up to and including a newline; 0 at the end or on an error.
size_t read_piece(FILE* file, char* buffer, size_t size) {
  size_t length = 0;
  while (length + 1 < size) {
    int c = getc(file);
    if (c == EOF) break;
    buffer[length++] = static_cast<char>(c);
    if (c == '\n') break;
  }
  buffer[length] = '\0';
  return length;
}

// Rewrites the value of a *Default line of an installable option that has a marked choice.
// Returns the new length of the line, or 0 when the line stays as it is.
size_t rewrite_default_line(ppd_file_t* ppd, char* line) {
  if (strncmp(line, kDefaultPrefix, kDefaultPrefixLength) != 0) return 0;
  const char* start = line + kDefaultPrefixLength;
  char* colon = strchr(line + kDefaultPrefixLength, ':');
  if (colon == nullptr) return 0;
  size_t keyword_length = static_cast<size_t>(colon - start);
  if (keyword_length > kKeywordMax) return 0;
  char keyword[kKeywordMax + 1];
  memcpy(keyword, start, keyword_length);
  keyword[keyword_length] = '\0';
  log_printf(6, "INFO: Default Main Keyword: \"%s\"\n", keyword);

  ppd_option_t* option = findInstallableOption(ppd, keyword);
  if (option == nullptr) return 0;
  log_printf(5, "INFO: Option to modify: \"%s\"\n", option->keyword);
  log_printf(5, "INFO:   defchoice: \"%s\"\n", option->defchoice);

  // A line end right after the colon counts as a value; blanks up to the end of the text don't.
  char* value = colon + 1;
  value += strspn(value, " \t");
  if (*value == '\0') return 0;

  ppd_choice_t* choice = ppdFindMarkedChoice(ppd, option->keyword);
  if (choice == nullptr) {
    log_printf(5, "INFO:   option hasn't been marked\n");
    return 0;
  }
  log_printf(5, "INFO:   new value: \"%s\"\n", choice->choice);
  size_t room = kLineSize - static_cast<size_t>(value - line);
  snprintf(value, room, "%s\n", choice->choice);
  return static_cast<size_t>(value - line) + strlen(value);
}

// A temporary file made exclusively inside a directory descriptor, removed at destruction
// unless released. Its name is random, so that no one can plant it first.
class TempFileAt {
 public:
  // Creates "<name>.XXXXXX" with mode 0600; fd() is -1 when that failed.
  TempFileAt(int directory, const char* name) : directory_(directory) {
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
      if (!format_text(name_, sizeof(name_), "%s.%s", name, random_suffix().c_str())) return;
      fd_ =
          openat(directory, name_, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, kTempMode);
      if (fd_ >= 0 || errno != EEXIST) break;
    }
    if (fd_ < 0) name_[0] = '\0';
  }
  ~TempFileAt() {
    if (name_[0] != '\0') unlinkat(directory_, name_, 0);
  }
  TempFileAt(const TempFileAt&) = delete;
  TempFileAt& operator=(const TempFileAt&) = delete;
  int fd() const { return fd_; }
  const char* name() const { return name_; }
  void release() { name_[0] = '\0'; }

 private:
  static constexpr int kAttempts = 64;
  static constexpr mode_t kTempMode = 0600;
  struct Suffix {
    char text[7];
    const char* c_str() const { return text; }
  };
  static Suffix random_suffix() {
    static constexpr char kLetters[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    unsigned char bytes[6] = {};
    if (getrandom(bytes, sizeof(bytes), 0) != static_cast<ssize_t>(sizeof(bytes))) {
      // Without the kernel's randomness the name is guessable, but O_EXCL still refuses
      // anything planted under it.
      const unsigned long seed =
          static_cast<unsigned long>(getpid()) ^ static_cast<unsigned long>(clock());
      for (size_t i = 0; i < sizeof(bytes); ++i)
        bytes[i] = static_cast<unsigned char>(seed >> (4 * i));
    }
    Suffix suffix;
    for (size_t i = 0; i < sizeof(bytes); ++i)
      suffix.text[i] = kLetters[bytes[i] % (sizeof(kLetters) - 1)];
    suffix.text[6] = '\0';
    return suffix;
  }

  int directory_;
  int fd_ = -1;
  char name_[TempPathGuard::kPathSize] = {};
};

}  // namespace

ppd_option_t* firstInstallableOption(ppd_file_t* ppd) {
  g_walk_group = installableGroup(ppd);
  g_walk_index = 0;
  return nextInstallableOption(ppd);
}

ppd_option_t* nextInstallableOption(ppd_file_t* ppd) {
  if (ppd == nullptr || g_walk_group == nullptr || g_walk_index >= g_walk_group->num_options) {
    return nullptr;
  }
  return &g_walk_group->options[g_walk_index++];
}

ppd_option_t* findInstallableOption(ppd_file_t* ppd, const char* keyword) {
  for (ppd_option_t* option = firstInstallableOption(ppd); option != nullptr;
       option = nextInstallableOption(ppd)) {
    if (strcmp(option->keyword, keyword) == 0) return option;
  }
  return nullptr;
}

int rewritePpdDefaults(ppd_file_t* ppd, const char* sourcePath, const char* targetPath) {
  // The directory part of the target, "." when it has none.
  char directory_path[TempPathGuard::kPathSize];
  const char* slash = strrchr(targetPath, '/');
  const char* name = slash != nullptr ? slash + 1 : targetPath;
  if (slash == targetPath) {
    copy_text(directory_path, sizeof(directory_path), "/");
  } else if (slash == nullptr) {
    copy_text(directory_path, sizeof(directory_path), ".");
  } else if (!format_text(directory_path, sizeof(directory_path), "%.*s",
                          static_cast<int>(slash - targetPath), targetPath)) {
    return -1;
  }
  UniqueFd directory(open(directory_path, O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (directory.get() < 0) return -1;
  return rewritePpdDefaultsAt(ppd, sourcePath, directory.get(), name);
}

// The target is replaced atomically: the copy is written to a temporary file created
// exclusively next to it and renamed over it, so a reader never sees half a PPD and a link
// planted at the target name is replaced, not followed. The copy is for its writer alone until
// its last byte is written; only then does it get the mode that lets the package's other tools
// read and replace it. On any failure the temporary file is removed and an earlier target
// stays as it was.
int rewritePpdDefaultsAt(ppd_file_t* ppd, const char* sourcePath, int directory, const char* name) {
  int total = 0;
  for (ppd_option_t* option = firstInstallableOption(ppd); option != nullptr;
       option = nextInstallableOption(ppd)) {
    total++;
  }
  log_printf(3, "INFO: Total %d configuration option(s) found\n", total);
  if (total == 0) return 0;

  UniqueFile source(fopen(sourcePath, "r"));
  if (source == nullptr) return -1;
  TempFileAt temp(directory, name);
  if (temp.fd() < 0) return -1;
  UniqueFile target(fdopen(temp.fd(), "w"));
  if (target == nullptr) {
    close(temp.fd());
    return -1;
  }

  int count = 0;
  bool write_failed = false;
  char line[kLineSize];
  for (size_t length; (length = read_piece(source.get(), line, sizeof(line))) > 0;) {
    size_t rewritten = rewrite_default_line(ppd, line);
    if (rewritten > 0) {
      length = rewritten;
      count++;
    }
    if (fwrite(line, 1, length, target.get()) != length) {
      write_failed = true;
      break;
    }
  }
  int result = (ferror(source.get()) || write_failed) ? -1 : count;
  if (fflush(target.get()) != 0 || fchmod(fileno(target.get()), kPpdMode) != 0) result = -1;
  if (fclose(target.release()) != 0) result = -1;
  source.reset();
  if (result < 0 || renameat(directory, temp.name(), directory, name) != 0) return -1;
  temp.release();
  return result;
}
