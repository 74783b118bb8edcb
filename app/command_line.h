// What the command line does without PAPPL's main loop: the help, which lists our own
// sub-commands and their forms beside PAPPL's, and the listing of the drivers, which needs no
// server and so no port of its own.
#ifndef ZORV_APP_COMMAND_LINE_H
#define ZORV_APP_COMMAND_LINE_H

#include <cstdio>

#include "app/ppd_catalog.h"

// Whether the command line asks for the help ("--help" anywhere, as PAPPL looks for it).
bool helpAsked(int argc, char* argv[]);
// Every sub-command and option, PAPPL's and ours, to out; the usage callback of the main loop
// (data unused).
void printUsage(FILE* out);
void usageCallback(void* data);
// The "drivers" sub-command in place of PAPPL's, in PAPPL's form (NAME "DESCRIPTION"
// "DEVICE-ID", one a line; with "-o device-id=ID" the driver that ID matches, or none), and
// the PPDs left out on standard error. PAPPL's
// own makes a whole system to list them, which listens on the server's port and fails while
// the server runs. Returns the exit status.
int listDriversSubcommand(int argc, char* argv[], const DriverCatalog& catalog);

#endif  // ZORV_APP_COMMAND_LINE_H
