// The "options" sub-command in place of PAPPL's, which lists a fixed set: every capability of
// a printer as "-o NAME=VALUE" lines (its default first, marked), sides, output bins,
// finishings, scaling and the colour profiles included, the document formats it takes, and the
// accessories it has installed.
#ifndef ZORV_APP_OPTIONS_LIST_H
#define ZORV_APP_OPTIONS_LIST_H

#include <pappl/pappl.h>

#include <cstdio>

// "options [-d NAME | -u URI]": the printer named (the server's first printer without -d),
// through the local socket, or the printer at URI over IPP (for anyone who may print). Returns
// the exit status: 0, or 1 with the reason on standard error.
int listOptionsSubcommand(int argc, char* argv[]);

// The listing of a Get-Printer-Attributes response, to out.
void printOptions(ipp_t* response, FILE* out);

#endif  // ZORV_APP_OPTIONS_LIST_H
