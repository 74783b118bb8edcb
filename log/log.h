/*
 * Diagnostic log shared by both filters: one optional log file per process under /tmp,
 * switched on and shaped by /tmp/<program>.lcf. Without that file every call is a no-op.
 */
#ifndef ZORV_LOG_LOG_H
#define ZORV_LOG_LOG_H

#include <stdarg.h>
#include <stddef.h>
#include <stdio.h>
#include <sys/time.h>
#include <time.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Bits 0-3: severity threshold; bits 4-31: category mask. Exported by both programs. */
extern int log_level;
/* Non-zero: flush after every message of log_vprintf, log_printf and log_line. */
extern int log_flush_mode;

/* Reads /tmp/<base of program_path>.lcf and opens the log it asks for; no file, no log. */
void log_init(const char* program_path);
/* Sets log_level and opens path, truncated, as the log. */
void log_open(int level, const char* path);
/* Closes the log and removes its file when it is empty. Safe to call at any time. */
void log_close(void);
void log_shutdown(void);
/* setvbuf on the log stream; 0 when there is no log. */
int log_set_buffer(char* buffer, int mode, size_t size);

/* Writes the message when its level passes the filter; returns vfprintf's count or 0. */
int log_vprintf(int level, const char* format, va_list args) __attribute__((format(printf, 2, 0)));
int log_printf(int level, const char* format, ...) __attribute__((format(printf, 2, 3)));
/* One "argv[i]=<...>" line per argument at the given level. */
void log_args(int level, int argc, char* const argv[]);
/* Unfiltered: the formatted text and a newline. */
int log_line(const char* format, ...) __attribute__((format(printf, 1, 2)));

/* "YYYY-MM-DD HH:MM:SS.uuuuuu" of tv, else *t, else seconds, else now; returns buffer. */
char* format_timestamp(char* buffer, int size, const struct timeval* tv, const time_t* t,
                       int seconds);
char* format_current_timestamp(char* buffer, int size);
/* The current time in a static buffer that the next call overwrites. */
const char* log_timestamp(void);

/* Hex dumps: rows of offset, 16 bytes in hexadecimal and as characters. */
int log_hexdump(const unsigned char* data, int length, const char* title);
int hexdump(FILE* stream, const unsigned char* data, int length, const char* title);
int hexdump_stdout(const unsigned char* data, int length, const char* title);
int xdump(const unsigned char* data, int length);

#ifdef __cplusplus
}
#endif

#endif /* ZORV_LOG_LOG_H */
