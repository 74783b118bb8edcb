// The HD data block: PJL header, $IMG header, $CMS tag, padded profile and checksum.
#ifndef ZORV_PRELOAD_HD_DATA_H
#define ZORV_PRELOAD_HD_DATA_H

#include <cstdio>

// 1 when the block for the profile file was written to out, 0 when it could not be built.
int writeHdData(FILE* out, const char* profilePath, int type);
void initHdTemplates(void);

#endif  // ZORV_PRELOAD_HD_DATA_H
