// The HD data block: PJL header, $IMG header, $CMS tag, padded profile and checksum, written
// in bounded memory to a stream, a descriptor or a caller's sink.
#ifndef ZORV_COLOUR_HD_DATA_H
#define ZORV_COLOUR_HD_DATA_H

#include <cstddef>
#include <cstdio>

// Results of the block writers.
inline constexpr int kHdWritten = 1;       // the whole block was written
inline constexpr int kHdNotBuilt = 0;      // no block could be built; nothing was written
inline constexpr int kHdWriteFailed = -1;  // writing failed or the job was cancelled part-way

inline constexpr size_t kHdPjlSize = 48;
inline constexpr size_t kHdImgSize = 24;
inline constexpr size_t kHdCmsSize = 8;
// The profile is read in pieces of this size: the one buffer a block takes, whatever the
// profile's size. A profile shorter than a piece is read whole before the block starts.
inline constexpr size_t kHdPiece = size_t{512} << 10;
// The largest piece that writeHdBlockTo hands to its sink.
inline constexpr size_t kHdSinkPiece = size_t{64} << 10;

// The PJL header, the $IMG header and the two $CMS tags that a block starts from. Every block
// fills a copy of its own and patches its $IMG header there, so that blocks written at the same
// time, in threads of one process, share nothing.
struct HdTemplates {
  unsigned char pjl[kHdPjlSize];
  unsigned char img[kHdImgSize];
  unsigned char cms1[kHdCmsSize];
  unsigned char cms2[kHdCmsSize];
};

// Fills templates with the template bytes; each block calls it on its own copy first.
void initHdTemplates(HdTemplates* templates);

// The three writers below write the block of the profile file at profilePath; type 1 or 2
// chooses the $CMS tag. The profile is read once, piece by piece, and each piece is summed in
// the buffer it is then written from, so that the checksum covers exactly the bytes that left.
// The profile is closed and the buffer released before returning.
//
// kHdNotBuilt, with nothing written: no such regular file (a FIFO, a directory or a device is
// refused without waiting for it), an unknown type, a profile too large for the 32-bit length
// field, no memory for the buffer, a read error in the first piece, or a profile that by the
// end of its first piece reads shorter or longer than its length, or whose length or
// modification time changed since it was opened. A profile shorter than kHdPiece is whole in
// the first piece, so for it each of these is kHdNotBuilt.
//
// kHdWriteFailed, with part of the block written: the output failed; in the filter, the job was
// cancelled (SIGTERM) while a write waited; or a longer profile changed in the same ways, or
// failed to read, while its later pieces were read (logged at level 1). The checksum is then not
// written, so the output never holds a whole block that its length field and checksum do not
// describe, nor one that mixes two contents of the profile as far as a change shows in the
// length or the modification time. (A rewrite in place that keeps the length, made within the
// same tick of a coarse file system clock as the change before it, does not show; the block
// then carries bytes of both, under a checksum that is right for them.)

// Writes the block to out: out is flushed before the block's first byte, which then goes straight
// to its descriptor through the job's write loop (write_all), so kHdWriteFailed means what a
// failed copy of the job means. out stays open.
int writeHdData(FILE* out, const char* profilePath, int type);

// Writes the block to the descriptor fd through the job's write loop, as writeHdData does.
int writeHdBlock(int fd, const char* profilePath, int type);

// Receives the block in order, count bytes at bytes (valid during the call only); returns
// false to stop the block, which then ends as kHdWriteFailed.
using HdSink = bool (*)(void* context, const void* bytes, size_t count);

// Hands the block to sink, with context, in pieces of at most kHdSinkPiece bytes. Nothing
// reaches the sink when the block is not built; kHdNotBuilt also for a null sink.
int writeHdBlockTo(HdSink sink, void* context, const char* profilePath, int type);

#endif  // ZORV_COLOUR_HD_DATA_H
