// The HD data block: PJL header, $IMG header, $CMS tag, padded profile and checksum.
#ifndef ZORV_COLOUR_HD_DATA_H
#define ZORV_COLOUR_HD_DATA_H

#include <cstdio>

// Results of writeHdData.
inline constexpr int kHdWritten = 1;       // the whole block was written
inline constexpr int kHdNotBuilt = 0;      // no block could be built; nothing was written
inline constexpr int kHdWriteFailed = -1;  // writing failed or the job was cancelled part-way

// Writes the block for the profile file at profilePath to out; type 1 or 2 chooses the $CMS
// tag. The block is built whole before its first byte is written: kHdNotBuilt (nothing
// written) for no such regular file, an unknown type, a profile that reads shorter than its
// length, no memory for it, or one too large for the 32-bit length field. The stream is
// flushed first and the block then goes straight to its descriptor through the job's write
// loop (write_all), so kHdWriteFailed, with part of the block possibly written, means what a
// failed copy of the job means. The whole profile is held in memory once; the file is closed
// and the memory released before returning.
int writeHdData(FILE* out, const char* profilePath, int type);

// Refills the process-wide PJL, $IMG and $CMS templates that each block starts from.
void initHdTemplates(void);

#endif  // ZORV_COLOUR_HD_DATA_H
