// Default sanitizer options of the programs in a sanitizer build: the filters and the query
// tool run under the scheduler, a script or a test with an environment of their own, without
// the options of the test run. Any report of ASan or UBSan ends the program at once and is
// also written to a file (ThreadSanitizer's: below). GCC links the two sanitizers as two
// runtimes, each with its own file; clang's one runtime takes the path given last, the UBSan
// one, for the reports of both.
#ifndef ZORV_SANITIZER_LOG_DIR
#error "ZORV_SANITIZER_LOG_DIR names the directory of the report files"
#endif

extern "C" {

const char* __asan_default_options() {
  // Stack-use-after-return needs the run-time switch as well: a pointer to a returned frame's
  // array is then caught on the first use instead of reading whatever the next call left there.
  return "detect_leaks=1:detect_stack_use_after_return=1:abort_on_error=1:log_path="
      ZORV_SANITIZER_LOG_DIR "/asan";
}

const char* __ubsan_default_options() {
  return "print_stacktrace=1:halt_on_error=1:abort_on_error=1:log_path=" ZORV_SANITIZER_LOG_DIR
         "/ubsan";
}

// A data race or a lock-order inversion is reported, to the file, and the program goes on, so
// that a test sees every report of a run, not only the first. What the libraries (built
// without the sanitizer) do through the C library is not looked at.
const char* __tsan_default_options() {
  return "halt_on_error=0:second_deadlock_stack=1:ignore_noninstrumented_modules=1:log_path="
      ZORV_SANITIZER_LOG_DIR "/tsan";
}

#ifndef ZORV_OWN_LEAK_SUPPRESSIONS
// OpenSSL's state at exit (what Net-SNMP's SNMPv3 and its start-up put there): OpenSSL frees
// it from its own exit handler, and a report of it now and then is about that library's order
// of exit, not about the program.
const char* __lsan_default_suppressions() {
  return "leak:libcrypto.so\n";
}

// The count of suppressed leaks is no report: without it, a report file means a finding.
const char* __lsan_default_options() {
  return "print_suppressions=0";
}
#endif

}  // extern "C"
