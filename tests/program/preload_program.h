// Helpers of the zorvpreload program tests: profiles installed under /opt/<vendor>/mfp/ucs,
// the log switched on through /tmp/zorvpreload.lcf, and the run of the built program.
#ifndef ZORV_TESTS_PRELOAD_PROGRAM_H
#define ZORV_TESTS_PRELOAD_PROGRAM_H

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "preload/hd_data.h"
#include "support/paths.h"
#include "support/program.h"

inline const std::string kUsage =
    "INFO: Usage: zorvpreload job-id user title copies options [file]\n"
    "ERROR: Wrong number of arguments\n";
inline const std::string kHdFailed = "ERROR: HD data creation failed, execution aborted\n";
inline const char* const kVendors[] = {"Orvane",     "Kestrel",  "TALMA",
                                       "Brightwell", "Pemberly", "Quillon"};

// A profile name no installation has: the test's own process id and a counter.
inline std::string unique_name(const std::string& stem = "zorvtest") {
  static int counter = 0;
  return stem + "-" + std::to_string(getpid()) + "-" + std::to_string(++counter);
}

inline std::string random_bytes(size_t size, unsigned seed) {
  std::mt19937 generator(seed);
  std::string bytes(size, '\0');
  for (auto& c : bytes) c = static_cast<char>(generator() & 0xFF);
  return bytes;
}

// The block writer's output for a profile file, the reference for what the program writes.
inline std::string block_for(const std::string& path) {
  FILE* out = tmpfile();
  EXPECT_EQ(writeHdData(out, path.c_str(), 1), 1) << path;
  std::string bytes = stream_bytes(out);
  fclose(out);
  return bytes;
}

// Puts a file into /opt/<vendor>/mfp/ucs for the life of the guard: creates the directories
// that are missing and removes exactly those again, with the entry itself.
class InstalledProfile {
 public:
  InstalledProfile(const std::string& vendor, const std::string& file_name)
      : dirs_(make_vendor_dirs(vendor)),
        path_("/opt/" + vendor + "/mfp/ucs/" + file_name),
        saved_(path_) {}
  ~InstalledProfile() {
    remove_tree(path_);
    for (auto it = dirs_.rbegin(); it != dirs_.rend(); ++it) rmdir(it->c_str());
  }
  InstalledProfile(const InstalledProfile&) = delete;
  InstalledProfile& operator=(const InstalledProfile&) = delete;
  const std::string& path() const { return path_; }

 private:
  static std::vector<std::string> make_vendor_dirs(const std::string& vendor) {
    std::vector<std::string> created;
    std::string dir = "/opt";
    for (const std::string& part : {vendor, std::string("mfp"), std::string("ucs")}) {
      dir += "/" + part;
      if (mkdir(dir.c_str(), 0755) == 0) created.push_back(dir);
    }
    return created;
  }

  std::vector<std::string> dirs_;
  std::string path_;
  SavedPath saved_;
};

inline std::unique_ptr<InstalledProfile> install(const std::string& vendor,
                                                 const std::string& file_name,
                                                 const std::string& bytes) {
  auto profile = std::make_unique<InstalledProfile>(vendor, file_name);
  EXPECT_TRUE(write_file(profile->path(), bytes)) << profile->path();
  return profile;
}

// Turns the log on with the given configuration for the life of the guard.
class LogOn {
 public:
  explicit LogOn(const std::string& config) { EXPECT_TRUE(write_file(config_.path(), config)); }
  std::string text() const { return read_file(log_.path()); }
  bool exists() const { return path_exists(log_.path()); }

 private:
  SavedPath config_{"/tmp/zorvpreload.lcf"};
  SavedPath log_{"/tmp/zorvpreload.log"};
};

// The log with every timestamp replaced by "<time>".
inline std::string without_times(const std::string& log) {
  // "YYYY-MM-DD HH:MM:SS.uuuuuu": 'd' marks a digit, anything else must match as it stands.
  static const std::string shape = "dddd-dd-dd dd:dd:dd.dddddd";
  auto stamp_at = [&](size_t at) {
    if (log.size() - at < shape.size()) return false;
    for (size_t i = 0; i < shape.size(); i++) {
      char c = log[at + i];
      if (shape[i] == 'd' ? (c < '0' || c > '9') : c != shape[i]) return false;
    }
    return true;
  };
  std::string out;
  for (size_t at = 0; at < log.size();) {
    if (stamp_at(at)) {
      out += "<time>";
      at += shape.size();
    } else {
      out += log[at++];
    }
  }
  return out;
}

inline ProgramRun preload(const std::vector<std::string>& args, const std::string& input = "",
                          const std::vector<std::string>& env = {}) {
  ProgramRun run;
  run.path = ZORVPRELOAD_PATH;
  run.args = args;
  run.env = filter_environment(env);
  run.input = input;
  return run;
}

inline void expect_exit(const ProgramResult& result, int status) {
  EXPECT_TRUE(result.exited && result.status == status)
      << result.describe() << ", wanted exited " << status << "; stderr: " << result.err;
}

// Lines of text, each ended by a newline.
inline std::string lines(std::initializer_list<std::string> parts) {
  std::string text;
  for (const std::string& part : parts) text += part + "\n";
  return text;
}

#endif  // ZORV_TESTS_PRELOAD_PROGRAM_H
