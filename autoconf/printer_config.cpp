// Per-queue configuration update: fetch the queue's PPD, let the device mark its installable
// options, and write the PPD copy with those defaults to /var/tmp/autoconf.
#include "autoconf/printer_config.h"

#include <cups/cups.h>
#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "autoconf/installable.h"
#include "probe/probe.h"
#include "autoconf/queue_defaults.h"
#include "autoconf/snmp_query.h"
#include "autoconf/usb_query.h"
#include "common/credentials.h"
#include "common/handles.h"
#include "common/signals.h"
#include "log/escape.h"
#include "log/log.h"
#include "log/text.h"

namespace {

constexpr char kPpdDirectory[] = "/var/tmp/autoconf";
constexpr mode_t kDirectoryMode = 01777;
constexpr char kFilterUser[] = "lp";
constexpr mode_t kPpdMode = 0666;
constexpr size_t kTargetSize = 256;
constexpr size_t kMessageSize = 256;

const char* or_nil(const char* text) {
  return text != nullptr ? text : "nil";
}

// Reported both in the log and on standard error, where the scheduler shows it to the admin.
void report_unusable_directory(const char* what) {
  log_printf(1, "ERROR: PPD directory <%s> %s, nothing written\n", kPpdDirectory, what);
  fprintf(stderr, "ERROR: PPD directory <%s> %s, nothing written\n", kPpdDirectory, what);
}

// The user the scheduler runs filters as: the directory that its jobs made stays usable by a
// run by hand as root. -1 when the system has no such user.
uid_t filter_user() {
  const struct passwd* user = getpwnam(kFilterUser);
  return user != nullptr ? user->pw_uid : static_cast<uid_t>(-1);
}

// Opens the output directory, making it when it is missing, and returns its descriptor, or -1
// when it cannot be used (reported on standard error and in the log). The directory lives in
// world-writable /var/tmp, where anyone may plant a name first, so it is opened once, without
// following a link, checked on the open descriptor, and everything after that happens relative
// to that descriptor: nothing can be swapped in between the check and the use. A directory of
// anyone but root, this user or the scheduler's filter user is refused. It is made sticky and
// world-writable: every queue's copy lands there, and only a file's owner may rename or remove
// it.
int open_ppd_directory() {
  constexpr int kFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
  int fd = open(kPpdDirectory, kFlags);
  if (fd < 0 && errno == ENOENT) {
    log_printf(1, "ERROR: PPD directory <%s> doesn't exist\n", kPpdDirectory);
    if (mkdir(kPpdDirectory, kDirectoryMode) != 0 && errno != EEXIST) {
      perror("ERROR: mkdir failed");
      log_printf(1, "ERROR: mkdir(%s,%x) failed\n", kPpdDirectory, kDirectoryMode);
    }
    fd = open(kPpdDirectory, kFlags);
  }
  if (fd < 0) {
    const int error = errno;
    struct stat st;
    if (lstat(kPpdDirectory, &st) == 0 && S_ISLNK(st.st_mode)) {
      report_unusable_directory("is a symbolic link");
    } else if (error == ENOTDIR) {
      report_unusable_directory("is not a directory");
    } else {
      char what[kMessageSize];
      format_text(what, sizeof(what), "cannot be opened: %s", strerror(error));
      report_unusable_directory(what);
    }
    return -1;
  }
  struct stat st;
  if (fstat(fd, &st) != 0 ||
      (st.st_uid != 0 && st.st_uid != geteuid() && st.st_uid != filter_user())) {
    report_unusable_directory("belongs to another user");
    close(fd);
    return -1;
  }
  if ((st.st_mode & 07777) != kDirectoryMode && fchmod(fd, kDirectoryMode) != 0) {
    perror("ERROR: chmod failed");
    log_printf(1, "ERROR: chmod(%s,%x) failed\n", kPpdDirectory, kDirectoryMode);
  }
  return fd;
}

// A directory (or a FIFO, a device) planted at the copy's name would make every later update
// fail; it is reported rather than left to fail without a word. A link is fine: the copy
// replaces it.
bool ppd_name_usable(int directory, const char* name, const char* target) {
  struct stat st;
  if (fstatat(directory, name, &st, AT_SYMLINK_NOFOLLOW) != 0) return true;
  if (S_ISREG(st.st_mode) || S_ISLNK(st.st_mode)) return true;
  log_printf(1, "ERROR: <%s> is not a file, nothing written\n", target);
  fprintf(stderr, "ERROR: <%s> is not a file, nothing written\n", target);
  return false;
}

// True, with a level 1 log line, once the job has been cancelled.
bool cancelled_here(const char* step) {
  if (!job_cancelled()) return false;
  log_printf(1, "ERROR: job cancelled after %s, configuration update stopped\n", step);
  return true;
}

}  // namespace

// A queue name is a single path component: one with a slash, or one too long for the name
// buffer, gets no file.
bool ppd_target_path(const char* queue, char* target, size_t size) {
  if (strchr(queue, '/') != nullptr) {
    log_printf(1, "ERROR: queue name <%s> contains a slash, nothing written\n",
               ShownText(queue).c_str());
    return false;
  }
  if (!format_text(target, size, "%s/%s.ppd", kPpdDirectory, queue)) {
    log_printf(1, "ERROR: queue name <%s> is too long for a PPD file name, nothing written\n",
               ShownText(queue).c_str());
    return false;
  }
  return true;
}

int deviceConnectionType(const char* uri) {
  if (uri == nullptr) uri = "";
  log_printf(3, "DEBUG: deviceConnectionType(%s)\n", ShownUri(uri).c_str());
  return connectionType(uri);
}

int ppdUpdateConfigOptions(ppd_file_t* ppd) {
  // The scheduler always sets DEVICE_URI; a filter started by hand may not have it.
  const char* uri = getenv("DEVICE_URI");
  if (uri == nullptr) uri = "";
  log_printf(3, "DEBUG: ppdUpdateConfigOptions(): DEVICE_URI=<%s>\n", ShownUri(uri).c_str());
  switch (deviceConnectionType(uri)) {
    case kConnectionUsb:
      usbUpdateConfigOptions(ppd, uri);
      break;
    case kConnectionNetwork:
      snmpUpdateConfigOptions(ppd, uri);
      break;
    default:
      log_printf(3, "WARNING: Auto-configuration is not supported for this type of connection\n");
      break;
  }
  return 0;
}

// Each cupsGetPPD call leaves a new temporary file (or link) whose name the next call
// overwrites: both are held in guards, so both are removed on every path. A cancelled job
// (SIGTERM) ends the update at the next step: nothing more is fetched, asked or written.
int updatePrinterConfiguration(const char* queue) {
  log_printf(3, "DEBUG: updatePrinterConfiguration(%s)\n", queue);
  const char* fetched = cupsGetPPD(queue);
  if (fetched == nullptr) {
    log_printf(1, "ERROR: cupsGetPPD(%s) failed.\n", queue);
    return -1;
  }
  TempPathGuard marked_copy(fetched);
  if (cancelled_here("the PPD fetch")) return 0;
  UniquePpd ppd(ppdOpenFile(marked_copy.path()));
  if (ppd == nullptr) {
    log_printf(1, "ERROR: ppdOpenFile(%s) failed.\n", marked_copy.path());
    return 0;
  }
  log_printf(3, "INFO: PPD manufacturer: \"%s\"\n", or_nil(ppd->manufacturer));
  log_printf(3, "INFO: PPD product: \"%s\"\n", or_nil(ppd->product));
  log_printf(3, "INFO: PPD modelname: \"%s\"\n", or_nil(ppd->modelname));
  log_printf(3, "INFO: PPD nickname: \"%s\"\n", or_nil(ppd->nickname));
  log_printf(3, "INFO: PPD shortnickname: \"%s\"\n", or_nil(ppd->shortnickname));

  // No ppdMarkDefaults: only what the device query marks counts as marked.
  ppdUpdateConfigOptions(ppd.get());
  if (cancelled_here("the device query")) return 0;

  // A second, unmarked copy of the text is the source of the rewrite.
  fetched = cupsGetPPD(queue);
  if (fetched == nullptr) {
    log_printf(1, "ERROR: cupsGetPPD(%s) failed.\n", queue);
    return -1;
  }
  TempPathGuard source_copy(fetched);
  if (cancelled_here("the second PPD fetch")) return 0;

  char target[kTargetSize];
  UniqueFd directory(open_ppd_directory());
  if (directory.get() >= 0 && ppd_target_path(queue, target, sizeof(target))) {
    const char* name = target + sizeof(kPpdDirectory);
    if (ppd_name_usable(directory.get(), name, target)) {
      if (rewritePpdDefaultsAt(ppd.get(), source_copy.path(), directory.get(), name) > 0) {
        log_printf(3, "INFO: PPD file modified\n");
      }
      // The copy got its mode when it was complete; this only reports a copy that is missing.
      if (fchmodat(directory.get(), name, kPpdMode, AT_SYMLINK_NOFOLLOW) != 0) {
        perror("ERROR: chmod failed");
      }
    }
  }
  // The queue itself follows the printer only where its PPD asks for it.
  if (queueUpdateWanted(ppd.get())) reportQueueDefaults(ppd.get());
  ppd.reset();
  return 0;
}
