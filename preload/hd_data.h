// The HD data block: PJL header, $IMG header, $CMS tag, padded profile and checksum.
#ifndef ZORV_PRELOAD_HD_DATA_H
#define ZORV_PRELOAD_HD_DATA_H

#include <cstdio>

// Writes the block for the profile file at profilePath to out and flushes out; type 1 or 2
// chooses the $CMS tag. Returns 1 when the whole block was written, 0 when it could not be
// built (no such regular file, unknown type, a profile that reads shorter than its length,
// no memory for it, or one too large for the 32-bit length field: nothing is written) or
// when writing to out failed (part of the block may have been written). The whole profile
// is held in memory once; the file is closed and the memory released before returning.
int writeHdData(FILE* out, const char* profilePath, int type);

// Refills the process-wide PJL, $IMG and $CMS templates that each block starts from.
void initHdTemplates(void);

#endif  // ZORV_PRELOAD_HD_DATA_H
