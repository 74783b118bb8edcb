// Shared pieces of the fuzz targets: a private scratch directory per fuzzing process and
// whole-file writes into it. Never a fixed /tmp name: parallel fuzzers and the test suite
// must not meet in the same file.
#ifndef ZORV_FUZZ_FUZZ_SUPPORT_H
#define ZORV_FUZZ_FUZZ_SUPPORT_H

#include <stddef.h>
#include <stdint.h>
#include <stdio.h>

#include <string>

// A directory made once per process under $TMPDIR (or /tmp) and removed with its contents at
// exit.
const std::string& fuzz_scratch_dir();
// Writes size bytes to path, truncating it; false when the file cannot be written.
bool fuzz_write_file(const std::string& path, const uint8_t* data, size_t size);
// The input as a terminated string (the bytes up to its first zero byte, or all of them).
std::string fuzz_text(const uint8_t* data, size_t size);
// Runs report with a stream in memory, and checks what it wrote: as many lines as it returned,
// each starting with prefix, with no control character but the newline that ends it (a PPD or
// settings file is anyone's text, and the report goes to a terminal).
void fuzz_check_report(const std::string& prefix, int (*report)(const char* path, FILE* out),
                       const std::string& path);
// Aborts with a message: libFuzzer then keeps the input as a crash reproducer.
[[noreturn]] void fuzz_fail(const char* what);

#endif  // ZORV_FUZZ_FUZZ_SUPPORT_H
