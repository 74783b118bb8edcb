/*
 * Line-oriented settings reader: hands the lines of a file, or of a command's output
 * ("exec:" prefix), to a callback until the callback accepts one.
 */
#ifndef ZORV_LOG_SETTINGS_H
#define ZORV_LOG_SETTINGS_H

#ifdef __cplusplus
extern "C" {
#endif

/* Returns 0 to go on, non-zero to accept the line and stop. */
typedef int (*settings_callback)(char* line, void* context);

/*
 * -3: null path or callback; -1: source cannot be opened or started; -2: read error before
 * any line was accepted; 0: no line accepted; otherwise the callback's value, with its -1,
 * -2 and -3 reported as 1.
 */
int read_settings(const char* path, settings_callback callback, void* context);
/* Removes one trailing newline in place; returns line. */
char* strip_newline(char* line);

#ifdef __cplusplus
}
#endif

#endif /* ZORV_LOG_SETTINGS_H */
