// The --check mode of zorvquery: what in a PPD would make the auto-configuration fail without a
// word, found by reading the PPD alone.
#ifndef ZORV_QUERY_PPD_CHECK_H
#define ZORV_QUERY_PPD_CHECK_H

#include <cups/ppd.h>

#include <cstdio>

// Writes one line per problem of ppd (read from the file at path) to out, then one line saying
// which SNMP community the PPD's manufacturer leads to (never the community itself). Returns
// the number of problems.
int checkPpd(ppd_file_t* ppd, const char* path, FILE* out);

#endif  // ZORV_QUERY_PPD_CHECK_H
