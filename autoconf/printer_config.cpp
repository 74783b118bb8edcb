// Per-queue configuration update: fetch the queue's PPD, let the device mark its installable
// options, and write the PPD copy with those defaults to /var/tmp/autoconf.
#include "autoconf/printer_config.h"

#include <cups/cups.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "autoconf/installable.h"
#include "autoconf/library_handles.h"
#include "autoconf/snmp_query.h"
#include "autoconf/usb_query.h"
#include "common/text.h"
#include "log/log.h"

namespace {

constexpr char kPpdDirectory[] = "/var/tmp/autoconf";
constexpr mode_t kDirectoryMode = 0777;
constexpr mode_t kPpdMode = 0666;
constexpr size_t kTargetSize = 256;

struct SchemeRow {
  const char* scheme;
  int type;
};

constexpr SchemeRow kSchemes[] = {
    {"http:", kConnectionNetwork}, {"ipp:", kConnectionNetwork}, {"socket:", kConnectionNetwork},
    {"lpd:", kConnectionNetwork},  {"usb:", kConnectionUsb},     {"mfp:", kConnectionUsb},
};

const char* or_nil(const char* text) {
  return text != nullptr ? text : "nil";
}

// Reported both in the log and on standard error, where the scheduler shows it to the admin.
void report_unusable_directory(const char* what) {
  log_printf(1, "ERROR: PPD directory <%s> %s, nothing written\n", kPpdDirectory, what);
  fprintf(stderr, "ERROR: PPD directory <%s> %s, nothing written\n", kPpdDirectory, what);
}

// Makes sure the output directory exists with mode 0777. The directory lives in world-writable
// /var/tmp, so a symbolic link or a non-directory found there is refused (false), and so is a
// directory of another user, who could swap it for a link between this check and the write
// (in sticky /var/tmp only the owner of the entry can). The mode is only ever set on the
// directory itself, never through a link.
bool prepare_ppd_directory() {
  struct stat st;
  if (lstat(kPpdDirectory, &st) != 0) {
    if (errno == ENOENT) {
      log_printf(1, "ERROR: PPD directory <%s> doesn't exist\n", kPpdDirectory);
      if (mkdir(kPpdDirectory, kDirectoryMode) != 0) {
        perror("ERROR: mkdir failed");
        log_printf(1, "ERROR: mkdir(%s,%x) failed\n", kPpdDirectory, kDirectoryMode);
      }
    }
  } else if (S_ISLNK(st.st_mode)) {
    report_unusable_directory("is a symbolic link");
    return false;
  } else if (!S_ISDIR(st.st_mode)) {
    report_unusable_directory("is not a directory");
    return false;
  } else if (st.st_uid != 0 && st.st_uid != geteuid()) {
    report_unusable_directory("belongs to another user");
    return false;
  }
  int fd = open(kPpdDirectory, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0 || fchmod(fd, kDirectoryMode) != 0) {
    perror("ERROR: chmod failed");
    log_printf(1, "ERROR: chmod(%s,%x) failed\n", kPpdDirectory, kDirectoryMode);
  }
  if (fd >= 0) close(fd);
  return true;
}

}  // namespace

// A queue name is a single path component: one with a slash, or one too long for the name
// buffer, gets no file.
bool ppd_target_path(const char* queue, char* target, size_t size) {
  if (strchr(queue, '/') != nullptr) {
    log_printf(1, "ERROR: queue name <%s> contains a slash, nothing written\n", queue);
    return false;
  }
  if (!format_text(target, size, "%s/%s.ppd", kPpdDirectory, queue)) {
    log_printf(1, "ERROR: queue name <%s> is too long for a PPD file name, nothing written\n",
               queue);
    return false;
  }
  return true;
}

int deviceConnectionType(const char* uri) {
  if (uri == nullptr) uri = "";
  const char* colon = strchr(uri, ':');
  size_t scheme_length = colon != nullptr ? static_cast<size_t>(colon - uri) + 1 : 0;
  log_printf(3, "DEBUG: deviceConnectionType(%s)\n", uri);
  if (scheme_length == 0) return kConnectionUnsupported;
  for (const SchemeRow& row : kSchemes) {
    if (strncmp(uri, row.scheme, scheme_length) == 0) return row.type;
  }
  return kConnectionUnsupported;
}

int ppdUpdateConfigOptions(ppd_file_t* ppd) {
  // The scheduler always sets DEVICE_URI; a filter started by hand may not have it.
  const char* uri = getenv("DEVICE_URI");
  if (uri == nullptr) uri = "";
  log_printf(3, "DEBUG: ppdUpdateConfigOptions(): DEVICE_URI=<%s>\n", uri);
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
// overwrites: both are held in guards, so both are removed on every path.
int updatePrinterConfiguration(const char* queue) {
  log_printf(3, "DEBUG: updatePrinterConfiguration(%s)\n", queue);
  const char* fetched = cupsGetPPD(queue);
  if (fetched == nullptr) {
    log_printf(1, "ERROR: cupsGetPPD(%s) failed.\n", queue);
    return -1;
  }
  TempPathGuard marked_copy(fetched);
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

  // A second, unmarked copy of the text is the source of the rewrite.
  fetched = cupsGetPPD(queue);
  if (fetched == nullptr) {
    log_printf(1, "ERROR: cupsGetPPD(%s) failed.\n", queue);
    return -1;
  }
  TempPathGuard source_copy(fetched);

  char target[kTargetSize];
  if (prepare_ppd_directory() && ppd_target_path(queue, target, sizeof(target))) {
    if (rewritePpdDefaults(ppd.get(), source_copy.path(), target) > 0) {
      log_printf(3, "INFO: PPD file modified\n");
    }
    // Set the mode on the file itself; a link planted at the name is reported, not followed.
    if (fchmodat(AT_FDCWD, target, kPpdMode, AT_SYMLINK_NOFOLLOW) != 0) {
      perror("ERROR: chmod failed");
    }
  }
  ppd.reset();
  return 0;
}
