/*
 * Line-oriented settings reader: hands the lines of a file, or of a command's output
 * ("exec:" prefix), to a callback until the callback accepts one.
 */
#ifndef ZORV_LOG_SETTINGS_H
#define ZORV_LOG_SETTINGS_H

#include <stdio.h>

#ifdef __cplusplus
extern "C" {
#endif

/* The reader's line buffer: a line longer than SETTINGS_LINE_SIZE - 1 characters reaches the
 * callback in pieces of that length, only the last one with its newline. */
#define SETTINGS_LINE_SIZE 1024

/* Returns 0 to go on, non-zero to accept the line and stop. */
typedef int (*settings_callback)(char* line, void* context);

/*
 * -3: null path or callback; -1: source cannot be opened or started; -2: read error before
 * any line was accepted; 0: no line accepted; otherwise the callback's value, with its -1,
 * -2 and -3 reported as 1.
 */
int read_settings(const char* path, settings_callback callback, void* context);
/*
 * The same for a stream the caller opened and closes (a file it checked with fstat first,
 * say): -3 for a null stream or callback, -2, 0 or the callback's value as above.
 */
int read_settings_stream(FILE* stream, settings_callback callback, void* context);
/* Removes one trailing newline in place; returns line. */
char* strip_newline(char* line);

#ifdef __cplusplus
}
#endif

#endif /* ZORV_LOG_SETTINGS_H */
