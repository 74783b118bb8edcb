// Temporary directories, whole-file helpers and guards for the fixed system paths that the
// filters use (/tmp/<program>.lcf, /var/tmp/autoconf, /opt/<vendor>/...).
#ifndef ZORV_TESTS_SUPPORT_PATHS_H
#define ZORV_TESTS_SUPPORT_PATHS_H

#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

// A fresh directory removed with its contents at destruction, unless keep() was called.
class TempDir {
 public:
  explicit TempDir(const std::string& parent = "/tmp");
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return path_; }
  std::string file(const std::string& name) const { return path_ + "/" + name; }
  void keep() { keep_ = true; }

 private:
  std::string path_;
  bool keep_ = false;
};

// Moves whatever is at a fixed path aside for the life of the guard; at destruction removes
// what the test left there and puts the original back.
class SavedPath {
 public:
  explicit SavedPath(std::string path);
  ~SavedPath();
  SavedPath(const SavedPath&) = delete;
  SavedPath& operator=(const SavedPath&) = delete;
  const std::string& path() const { return path_; }

 private:
  std::string path_;
  std::string saved_;
};

// A file of tests/data, e.g. test_data("ppd/installable.ppd").
std::string test_data(const std::string& name);
// A name that no installation and no other test has: stem, the process id and a counter.
std::string unique_name(const std::string& stem = "zorvtest");

// A file in the vendor installation /opt/<vendor>/mfp/ucs (where the preload filter looks for
// profiles) for the life of the guard: the directories that were missing are made, and exactly
// those are removed again with the entry; an entry that was there is put back. A profile
// written by the guard is backdated, as one installed before the job.
class InstalledProfile {
 public:
  InstalledProfile(const std::string& vendor, const std::string& file_name);
  // ... holding bytes.
  InstalledProfile(const std::string& vendor, const std::string& file_name,
                   const std::string& bytes);
  ~InstalledProfile();
  InstalledProfile(const InstalledProfile&) = delete;
  InstalledProfile& operator=(const InstalledProfile&) = delete;
  const std::string& path() const { return path_; }

 private:
  std::vector<std::string> made_;
  std::string path_;
  SavedPath saved_;
};

// The log of a filter under a test's control for the life of the guard: /tmp/<program>.lcf
// holds the given configuration, /tmp/<program>.log starts absent; both are restored at the end.
class FilterLog {
 public:
  FilterLog(const std::string& program, const std::string& config);
  bool configure(const std::string& config);
  const std::string& path() const { return log_.path(); }
  const std::string& config_path() const { return config_.path(); }
  std::string text() const;
  bool exists() const;

 private:
  SavedPath config_;
  SavedPath log_;
};

std::string read_file(const std::string& path);
// Everything written so far to the file behind a stream (through the stream or its descriptor).
std::string stream_bytes(FILE* stream);
bool write_file(const std::string& path, const std::string& bytes, mode_t mode = 0644);
// Sets the modification time of path an hour back, as that of a file written long before the
// test. The block writer sees a change of the profile by its modification time, and a change
// made within the same tick of a coarse file system clock as the file's creation would not show.
bool backdate_file(const std::string& path);
bool path_exists(const std::string& path);
// The names in a directory, without "." and "..", in the order readdir gives them.
std::vector<std::string> directory_entries(const std::string& path);
// Removes a file, link or directory tree; true when nothing is left.
bool remove_tree(const std::string& path);
// mkdir -p with the given mode for the directories it creates.
bool make_dirs(const std::string& path, mode_t mode = 0755);

inline bool running_as_root() {
  return geteuid() == 0;
}

// Tests that use the fixed system paths need root, as the filters do under the scheduler (the
// test itself includes GoogleTest).
#define REQUIRE_ROOT()                                                  \
  do {                                                                  \
    if (!running_as_root()) GTEST_SKIP() << "needs root (fixed paths)"; \
  } while (0)

#endif  // ZORV_TESTS_SUPPORT_PATHS_H
