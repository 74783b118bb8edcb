// Profile name and profile file lookup of a job: the "ucs=" job option, the queue or PPD name
// it falls back to, and the search through the vendor installations.
#ifndef ZORV_COLOUR_PROFILE_H
#define ZORV_COLOUR_PROFILE_H

#include <cstddef>

inline constexpr size_t kProfileNameSize = 256;  // profile name, at most 255 characters
inline constexpr size_t kBareNameSize = 256;     // "<name>.ucs", at most 255 characters
inline constexpr size_t kProfilePathSize = 4096;

// Where the profiles of each vendor installation live: vendor name, then bare file name.
inline constexpr char kUcsPathPattern[] = "/opt/%s/mfp/ucs/%s";
inline constexpr char kUcsNameFormat[] = "%s.ucs";

// The vendor installations searched, first match wins; ends with a null pointer.
extern const char* const kPreloadVendors[];

// Finds the first "ucs=" in options and copies its value (up to white space, a double quote,
// a comma or the end) into dst, cut to dstSize - 1 characters and terminated. Returns 0 when
// "ucs=" occurs (the value may be empty), -1 when it does not; dst is then untouched.
int ucsFromOptions(char* dst, size_t dstSize, const char* options);

// Forms pattern with each vendor name in turn and fileName into path (cut to pathSize - 1,
// terminated) and returns 0 for the first that passes access(path, mode). Returns -1 with
// path empty when none does, -2 when path is null or pathSize is 0. A fileName containing
// '/' is never found: it comes from the job's options and must not reach other directories.
int findVendorFile(char* path, size_t pathSize, const char* pattern, const char* const* vendors,
                   const char* fileName, int mode);

// The profile name of a job into name (terminated, may end up empty): the "ucs=" value of
// options; else, when queue (argv[0]) contains the program's own name, the base name of ppd
// without its last extension (empty when ppd is null); else the queue name itself.
void resolveProfileName(char* name, size_t nameSize, const char* queue, const char* options,
                        const char* ppd);

#endif  // ZORV_COLOUR_PROFILE_H
