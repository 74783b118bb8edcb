// The server as a service that only administrators administer.
#include "app/service.h"

#include <fcntl.h>
#include <grp.h>
#include <pappl/pappl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "app/system.h"
#include "common/handles.h"
#include "common/secret.h"
#include "log/escape.h"
#include "log/text.h"

namespace {

constexpr size_t kGroupBufferSize = 16384;
constexpr size_t kWhySize = 512;
constexpr int kConnectTimeoutMs = 30000;
constexpr mode_t kRuntimeMode = 0750;
constexpr char kAccessoriesSuffix[] = ".accessories";

gid_t group_id(const char* name) {
  struct group entry;
  struct group* found = nullptr;
  char buffer[kGroupBufferSize];
  if (name == nullptr || getgrnam_r(name, &entry, buffer, sizeof(buffer), &found) != 0 ||
      found == nullptr) {
    return static_cast<gid_t>(-1);
  }
  return found->gr_gid;
}

// The directory part of path into directory ("/" for "/x").
bool directory_of(const char* path, char* directory, size_t size) {
  const char* slash = strrchr(path, '/');
  if (slash == nullptr) return copy_text(directory, size, ".") < size;
  const size_t length = slash == path ? 1 : static_cast<size_t>(slash - path);
  if (length >= size) return false;
  memcpy(directory, path, length);
  directory[length] = '\0';
  return true;
}

// root's socket directory in base, and the link that root's sub-commands follow to it from
// PAPPL's socket path there.
bool make_runtime_directory(const char* base, gid_t admin_gid, char* directory, size_t size) {
  char link[kSocketPathSize];
  char target[kSocketPathSize];
  if (!format_text(directory, size, "%s/%s", base, kRuntimeName) ||
      !format_text(link, sizeof(link), "%s/%s.sock", base, kAppName) ||
      !format_text(target, sizeof(target), "%s/%s", kRuntimeName, kSocketName)) {
    fprintf(stderr, "%s: the socket's directory in %s has too long a path\n", kAppName,
            ShownText(base).c_str());
    return false;
  }
  if (mkdir(directory, kRuntimeMode) != 0 && errno != EEXIST) {
    fprintf(stderr, "%s: cannot make %s: %s\n", kAppName, ShownText(directory).c_str(),
            strerror(errno));
    return false;
  }
  struct stat info;
  if (lstat(directory, &info) != 0 || !S_ISDIR(info.st_mode) ||
      chown(directory, 0, admin_gid != static_cast<gid_t>(-1) ? admin_gid : 0) != 0 ||
      chmod(directory, kRuntimeMode) != 0) {
    fprintf(stderr, "%s: %s is not a directory that the server can make its own\n", kAppName,
            ShownText(directory).c_str());
    return false;
  }
  char current[kSocketPathSize];
  const ssize_t length = readlink(link, current, sizeof(current) - 1);
  if (length >= 0) {
    current[length] = '\0';
    if (strcmp(current, target) == 0) return true;
  }
  // A socket left by an earlier server, or a link elsewhere: replaced.
  if (lstat(link, &info) == 0 && !S_ISDIR(info.st_mode)) unlink(link);
  if (symlink(target, link) != 0) {
    fprintf(stderr, "%s: cannot make %s: %s\n", kAppName, ShownText(link).c_str(),
            strerror(errno));
    return false;
  }
  return true;
}

// A state file that this user can read and write, or none yet.
bool state_file_usable(const char* path) {
  struct stat info;
  if (path[0] == '\0' || stat(path, &info) != 0) return true;
  if (access(path, R_OK | W_OK) == 0) return true;
  fprintf(stderr,
          "%s: the state file %s cannot be read and written by this user (uid %d; the file "
          "belongs to uid %d): give it to the server's user (chown), as the service's unit does "
          "when it starts, or start the server as the file's owner\n",
          kAppName, ShownText(path).c_str(), static_cast<int>(getuid()),
          static_cast<int>(info.st_uid));
  return false;
}

}  // namespace

bool localSocketPath(uid_t uid, char* path, size_t size) {
  if (uid != 0) {
    return format_text(path, size, "%s/%s%d.sock", papplGetTempDir(), kAppName,
                       static_cast<int>(uid));
  }
  const char* common = getenv("SNAP_COMMON");
  return format_text(path, size, "%s/%s.sock", common != nullptr ? common : kRootSocketDirectory,
                     kAppName);
}

http_t* connectLocalServer(char* socket_path, size_t size) {
  for (const uid_t uid : {getuid(), static_cast<uid_t>(0)}) {
    if (!localSocketPath(uid, socket_path, size)) continue;
    http_t* http = httpConnect2(socket_path, 0, nullptr, AF_UNSPEC, HTTP_ENCRYPTION_NEVER, 1,
                                kConnectTimeoutMs, nullptr);
    if (http != nullptr) return http;
  }
  return nullptr;
}

bool socketDirectorySafe(const char* path, gid_t admin_gid, char* why, size_t why_size) {
  char directory[kSocketPathSize];
  struct stat info;
  if (!directory_of(path, directory, sizeof(directory)) || stat(directory, &info) != 0 ||
      !S_ISDIR(info.st_mode)) {
    format_text(why, why_size, "%s is not a directory", ShownText(path).c_str());
    return false;
  }
  const ShownText shown(directory);
  if (info.st_uid != 0 && info.st_uid != geteuid()) {
    format_text(why, why_size, "%s belongs to another user (uid %d)", shown.c_str(),
                static_cast<int>(info.st_uid));
    return false;
  }
  if ((info.st_mode & (S_IWGRP | S_IWOTH)) != 0) {
    format_text(why, why_size, "others may change %s", shown.c_str());
    return false;
  }
  if ((info.st_mode & S_IXOTH) != 0) {
    format_text(why, why_size, "every user may enter %s", shown.c_str());
    return false;
  }
  if ((info.st_mode & S_IXGRP) != 0 && info.st_gid != 0 && info.st_gid != admin_gid) {
    format_text(why, why_size, "the group %d, not the administrators', may enter %s",
                static_cast<int>(info.st_gid), shown.c_str());
    return false;
  }
  copy_text(why, why_size, "");
  return true;
}

void handBackStateFiles(const char* state_file) {
  char directory[sizeof(ServerPlaces::state_file)];
  struct stat owner;
  if (geteuid() != 0 || state_file == nullptr || state_file[0] == '\0' ||
      !directory_of(state_file, directory, sizeof(directory)) || stat(directory, &owner) != 0 ||
      !S_ISDIR(owner.st_mode) || owner.st_uid == 0) {
    return;
  }
  char accessories[sizeof(ServerPlaces::state_file) + sizeof(kAccessoriesSuffix)];
  format_text(accessories, sizeof(accessories), "%s%s", state_file, kAccessoriesSuffix);
  for (const char* path : {state_file, static_cast<const char*>(accessories)}) {
    // The directory's owner may put anything in its place: only a plain file of root's with
    // no other name (no link to a file of the system's) is given away.
    UniqueFd fd(open(path, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    struct stat file;
    if (fd.get() < 0 || fstat(fd.get(), &file) != 0 || !S_ISREG(file.st_mode) || file.st_uid != 0 ||
        file.st_nlink != 1) {
      continue;
    }
    if (fchown(fd.get(), owner.st_uid, owner.st_gid) != 0) {
      fprintf(stderr, "%s: cannot give %s back to uid %d: %s\n", kAppName, ShownText(path).c_str(),
              static_cast<int>(owner.st_uid), strerror(errno));
    }
  }
}

bool prepareServer(const char* admin_group, ServerPlaces* places) {
  if (!keepSecretsOutOfCoreDumps()) {
    fprintf(stderr, "%s: the server cannot keep itself out of core dumps: %s\n", kAppName,
            strerror(errno));
  }
  const gid_t admin_gid = group_id(admin_group);
  if (geteuid() == 0) {
    // PAPPL puts root's socket (and state file) where SNAP_COMMON says, else in /run: the
    // socket goes into a directory of its own there. Without SNAP_COMMON the state file is the
    // service's.
    const char* common = getenv("SNAP_COMMON");
    if (places->state_file[0] == '\0' &&
        !(common != nullptr
              ? format_text(places->state_file, sizeof(places->state_file), "%s/%s.state", common,
                            kAppName)
              : copy_text(places->state_file, sizeof(places->state_file), kRootStateFile) <
                    sizeof(places->state_file))) {
      fprintf(stderr, "%s: the state file's path is too long\n", kAppName);
      return false;
    }
    if (strcmp(places->state_file, kRootStateFile) == 0 && mkdir(kRootStateDirectory, 0700) != 0 &&
        errno != EEXIST) {
      fprintf(stderr, "%s: cannot make %s: %s\n", kAppName, kRootStateDirectory, strerror(errno));
      return false;
    }
    char directory[kSocketPathSize];
    if (!make_runtime_directory(common != nullptr ? common : kRootSocketDirectory, admin_gid,
                                directory, sizeof(directory))) {
      return false;
    }
    setenv("SNAP_COMMON", directory, 1);
  }
  char socket_path[kSocketPathSize];
  char why[kWhySize];
  if (!localSocketPath(getuid(), socket_path, sizeof(socket_path))) {
    fprintf(stderr, "%s: the local socket's path is too long\n", kAppName);
    return false;
  }
  if (!socketDirectorySafe(socket_path, admin_gid, why, sizeof(why))) {
    fprintf(stderr,
            "%s: the local socket %s would let every local user administer the server: %s. "
            "Give the server a directory of its own (TMPDIR for a server that root does not "
            "run; the service's unit gives it /run/%s)\n",
            kAppName, ShownText(socket_path).c_str(), why, kRuntimeName);
    return false;
  }
  // Beside PAPPL's own socket, whose name holds the server's uid: the fixed name that the
  // link of root's sub-commands names.
  char directory[kSocketPathSize];
  if (!directory_of(socket_path, directory, sizeof(directory)) ||
      !format_text(places->public_socket, sizeof(places->public_socket), "%s/%s", directory,
                   kSocketName) ||
      strcmp(places->public_socket, socket_path) == 0) {
    places->public_socket[0] = '\0';
  }
  char accessories[sizeof(places->state_file) + sizeof(kAccessoriesSuffix)];
  format_text(accessories, sizeof(accessories), "%s%s", places->state_file, kAccessoriesSuffix);
  return state_file_usable(places->state_file) &&
         (places->state_file[0] == '\0' || state_file_usable(accessories));
}
