// The lines of a settings file whose value holds more than its author meant: a value is
// everything after the '=', as written, so blanks, quotes, a comment or a Windows line end
// silently give another community or SNMPv3 setting.
#ifndef ZORV_QUERY_SETTINGS_CHECK_H
#define ZORV_QUERY_SETTINGS_CHECK_H

#include <cstdio>

// Writes one line per such key line of the settings file at path to out, naming the file, the
// line and what is wrong, never the value. Returns the number of lines written; 0 when the
// file cannot be read.
int checkSettingsLines(const char* path, FILE* out);

#endif  // ZORV_QUERY_SETTINGS_CHECK_H
