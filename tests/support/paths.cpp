// Temporary directories, whole-file helpers and fixed-path guards for the tests.
#include "support/paths.h"

#include <dirent.h>
#include <fcntl.h>
#include <ftw.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <sstream>
#include <vector>

TempDir::TempDir(const std::string& parent) {
  std::string pattern = parent + "/zorvtest-XXXXXX";
  std::vector<char> buffer(pattern.begin(), pattern.end());
  buffer.push_back('\0');
  if (mkdtemp(buffer.data()) != nullptr) path_ = buffer.data();
}

TempDir::~TempDir() {
  if (path_.empty()) return;
  if (keep_) {
    fprintf(stderr, "kept test directory %s\n", path_.c_str());
    return;
  }
  remove_tree(path_);
}

SavedPath::SavedPath(std::string path) : path_(std::move(path)) {
  struct stat st;
  if (lstat(path_.c_str(), &st) != 0) return;
  saved_ = path_ + ".saved-by-test-" + std::to_string(getpid());
  if (rename(path_.c_str(), saved_.c_str()) != 0) saved_.clear();
}

SavedPath::~SavedPath() {
  remove_tree(path_);
  if (!saved_.empty()) rename(saved_.c_str(), path_.c_str());
}

std::string test_data(const std::string& name) {
  return std::string(TEST_DATA_DIR) + "/" + name;
}

std::string unique_name(const std::string& stem) {
  static int counter = 0;
  return stem + "-" + std::to_string(getpid()) + "-" + std::to_string(++counter);
}

namespace {

// Makes the missing directories of /opt/<vendor>/mfp/ucs; returns those it made.
std::vector<std::string> make_vendor_dirs(const std::string& vendor) {
  std::vector<std::string> made;
  std::string dir = "/opt";
  for (const std::string& part : {vendor, std::string("mfp"), std::string("ucs")}) {
    dir += "/" + part;
    if (mkdir(dir.c_str(), 0755) == 0) made.push_back(dir);
  }
  return made;
}

}  // namespace

InstalledProfile::InstalledProfile(const std::string& vendor, const std::string& file_name)
    : made_(make_vendor_dirs(vendor)),
      path_("/opt/" + vendor + "/mfp/ucs/" + file_name),
      saved_(path_) {}

InstalledProfile::InstalledProfile(const std::string& vendor, const std::string& file_name,
                                   const std::string& bytes)
    : InstalledProfile(vendor, file_name) {
  write_file(path_, bytes);
  backdate_file(path_);
}

InstalledProfile::~InstalledProfile() {
  remove_tree(path_);
  for (auto it = made_.rbegin(); it != made_.rend(); ++it) rmdir(it->c_str());
}

FilterLog::FilterLog(const std::string& program, const std::string& config)
    : config_("/tmp/" + program + ".lcf"), log_("/tmp/" + program + ".log") {
  configure(config);
}

bool FilterLog::configure(const std::string& config) {
  return write_file(config_.path(), config);
}

std::string FilterLog::text() const {
  return read_file(log_.path());
}

bool FilterLog::exists() const {
  return path_exists(log_.path());
}

std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

std::string stream_bytes(FILE* stream) {
  std::string bytes;
  if (stream == nullptr) return bytes;
  fflush(stream);
  char buffer[65536];
  ssize_t n;
  for (off_t at = 0; (n = pread(fileno(stream), buffer, sizeof(buffer), at)) > 0; at += n) {
    bytes.append(buffer, static_cast<size_t>(n));
  }
  return bytes;
}

bool write_file(const std::string& path, const std::string& bytes, mode_t mode) {
  int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, mode);
  if (fd < 0) return false;
  size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
    if (n <= 0) break;
    done += static_cast<size_t>(n);
  }
  fchmod(fd, mode);
  return close(fd) == 0 && done == bytes.size();
}

bool backdate_file(const std::string& path) {
  constexpr time_t kHour = 3600;
  const struct timespec times[2] = {{0, UTIME_OMIT}, {time(nullptr) - kHour, 0}};
  return utimensat(AT_FDCWD, path.c_str(), times, 0) == 0;
}

bool path_exists(const std::string& path) {
  struct stat st;
  return lstat(path.c_str(), &st) == 0;
}

std::vector<std::string> directory_entries(const std::string& path) {
  std::vector<std::string> names;
  if (DIR* dir = opendir(path.c_str())) {
    while (struct dirent* entry = readdir(dir)) {
      std::string name = entry->d_name;
      if (name != "." && name != "..") names.push_back(name);
    }
    closedir(dir);
  }
  return names;
}

static int remove_entry(const char* path, const struct stat*, int, struct FTW*) {
  return remove(path);
}

bool remove_tree(const std::string& path) {
  struct stat st;
  if (lstat(path.c_str(), &st) != 0) return true;
  if (S_ISDIR(st.st_mode)) {
    nftw(path.c_str(), remove_entry, 16, FTW_DEPTH | FTW_PHYS);
  } else {
    unlink(path.c_str());
  }
  return !path_exists(path);
}

bool make_dirs(const std::string& path, mode_t mode) {
  for (size_t slash = path.find('/', 1);; slash = path.find('/', slash + 1)) {
    std::string prefix = path.substr(0, slash);
    if (mkdir(prefix.c_str(), mode) != 0 && errno != EEXIST) return false;
    if (slash == std::string::npos) return true;
  }
}
