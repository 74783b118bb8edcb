// Profile name and profile file lookup of a job.
#include "colour/profile.h"

#include <unistd.h>

#include <cstdio>
#include <cstring>

#include "log/text.h"

const char* const kPreloadVendors[] = {"Orvane",   "Kestrel", "TALMA", "Brightwell",
                                       "Pemberly", "Quillon", nullptr};

namespace {

constexpr char kProgramName[] = "zorvpreload";
constexpr char kOption[] = "ucs=";
// White space of the default locale, and the two characters that end an option value.
constexpr char kValueEnd[] = " \t\n\v\f\r\",";

// Copies the first n characters of src (n may exceed what fits) into dst, terminated.
void copy_prefix(char* dst, size_t size, const char* src, size_t n) {
  if (size == 0) return;
  if (n > size - 1) n = size - 1;
  memcpy(dst, src, n);
  dst[n] = '\0';
}

// The PPD file's base name without its last extension: "/etc/cups/ppd/Office.ppd" -> "Office".
void name_from_ppd(char* name, size_t nameSize, const char* ppd) {
  char text[kProfileNameSize];
  copy_text(text, sizeof(text), ppd);
  const char* slash = strrchr(text, '/');
  const char* base = slash != nullptr ? slash + 1 : text;
  copy_text(name, nameSize, base);
  char* dot = strrchr(name, '.');
  if (dot != nullptr) *dot = '\0';
}

}  // namespace

int ucsFromOptions(char* dst, size_t dstSize, const char* options) {
  const char* found = strstr(options, kOption);
  if (found == nullptr) return -1;
  const char* value = found + sizeof(kOption) - 1;
  copy_prefix(dst, dstSize, value, strcspn(value, kValueEnd));
  return 0;
}

int findVendorFile(char* path, size_t pathSize, const char* pattern, const char* const* vendors,
                   const char* fileName, int mode) {
  if (path == nullptr || pathSize < 1) return -2;
  // The file name comes from the job's options: with a '/' in it, "ucs=../../x" would send
  // any readable ".ucs" file on the system to the printer.
  if (vendors != nullptr && fileName != nullptr && strchr(fileName, '/') == nullptr) {
    for (size_t i = 0; vendors[i] != nullptr; i++) {
      // The pattern is the caller's fixed format with two "%s": vendor, then file name.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
      snprintf(path, pathSize, pattern, vendors[i], fileName);
#pragma GCC diagnostic pop
      if (access(path, mode) == 0) return 0;
    }
  }
  path[0] = '\0';
  return -1;
}

void resolveProfileName(char* name, size_t nameSize, const char* queue, const char* options,
                        const char* ppd) {
  char found[kProfileNameSize] = "";
  if (ucsFromOptions(found, sizeof(found), options) != 0) {
    // Without "ucs=" the queue name stands for the profile, unless the program was started
    // under its own name: then the queue's PPD file names it.
    if (strstr(queue, kProgramName) == nullptr) {
      copy_text(found, sizeof(found), queue);
    } else if (ppd != nullptr) {
      name_from_ppd(found, sizeof(found), ppd);
    }
  }
  copy_text(name, nameSize, found);
}
