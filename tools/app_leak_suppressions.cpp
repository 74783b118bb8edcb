// Leaks of PAPPL 1.3.1 that a sanitizer build of zorv-printer-app (and of the minimal PAPPL
// printer of the tests) does not report: the main loop's parsed command-line options, and the
// strings that the system, its printers and its clients keep until the process exits (the
// footer, the UUID, names and values), which PAPPL never frees. The application's own
// allocations (the drivers' data, a raster job's writer) are checked by the unit tests under
// valgrind and the sanitizers, outside PAPPL. OpenSSL's state at exit, as for the other programs
// (tools/sanitizer_options.cpp).
extern "C" const char* __lsan_default_suppressions() {
  return "leak:libpappl.so.1\nleak:cupsAddOption\nleak:libcrypto.so\n";
}

// The count of suppressed leaks is no report: without it, a report file means a finding.
extern "C" const char* __lsan_default_options() {
  return "print_suppressions=0";
}
