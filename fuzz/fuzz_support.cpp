// Scratch directory and file helpers of the fuzz targets.
#include "fuzz_support.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

std::string g_scratch;

// Removes the files of the scratch directory, then the directory; the targets make no
// subdirectories.
void remove_scratch() {
  if (g_scratch.empty()) return;
  if (DIR* dir = opendir(g_scratch.c_str())) {
    while (struct dirent* entry = readdir(dir)) {
      if (strcmp(entry->d_name, ".") == 0 || strcmp(entry->d_name, "..") == 0) continue;
      unlink((g_scratch + "/" + entry->d_name).c_str());
    }
    closedir(dir);
  }
  rmdir(g_scratch.c_str());
}

}  // namespace

const std::string& fuzz_scratch_dir() {
  if (g_scratch.empty()) {
    const char* tmp = getenv("TMPDIR");
    std::string pattern =
        std::string(tmp != nullptr && tmp[0] != '\0' ? tmp : "/tmp") + "/zorvfuzz-XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr) fuzz_fail("cannot make the scratch directory");
    g_scratch = pattern;
    atexit(remove_scratch);
  }
  return g_scratch;
}

bool fuzz_write_file(const std::string& path, const uint8_t* data, size_t size) {
  FILE* file = fopen(path.c_str(), "wb");
  if (file == nullptr) return false;
  bool ok = fwrite(data, 1, size, file) == size;
  return fclose(file) == 0 && ok;
}

std::string fuzz_text(const uint8_t* data, size_t size) {
  const void* zero = memchr(data, 0, size);
  size_t length =
      zero != nullptr ? static_cast<size_t>(static_cast<const uint8_t*>(zero) - data) : size;
  return std::string(reinterpret_cast<const char*>(data), length);
}

void fuzz_check_report(const std::string& prefix, int (*report)(const char* path, FILE* out),
                       const std::string& path) {
  char* text = nullptr;
  size_t length = 0;
  FILE* out = open_memstream(&text, &length);
  if (out == nullptr) return;
  const int lines = report(path.c_str(), out);
  fclose(out);
  int seen = 0;
  for (size_t start = 0; start < length; ++seen) {
    if (strncmp(text + start, prefix.c_str(), prefix.size()) != 0) {
      fuzz_fail("a report line without its prefix");
    }
    const char* end = static_cast<const char*>(memchr(text + start, '\n', length - start));
    if (end == nullptr) fuzz_fail("a report line without its newline");
    for (const char* p = text + start; p < end; ++p) {
      const auto c = static_cast<unsigned char>(*p);
      if (c < 0x20 || c == 0x7f) fuzz_fail("a control character in a report line");
    }
    start = static_cast<size_t>(end - text) + 1;
  }
  free(text);
  if (seen != lines) fuzz_fail("the report's count is not its number of lines");
}

void fuzz_fail(const char* what) {
  fprintf(stderr, "fuzz invariant broken: %s\n", what);
  abort();
}
