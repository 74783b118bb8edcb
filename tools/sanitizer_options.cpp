// Default sanitizer options of the filter programs in a sanitizer build: the programs run
// under the scheduler or a test with an environment of their own, without the options of the
// test run. Any report ends the program at once and is also written to a file.
#ifndef ZORV_SANITIZER_LOG_DIR
#error "ZORV_SANITIZER_LOG_DIR names the directory of the report files"
#endif

extern "C" {

const char* __asan_default_options() {
  return "detect_leaks=1:abort_on_error=1:log_path=" ZORV_SANITIZER_LOG_DIR "/asan";
}

const char* __ubsan_default_options() {
  return "print_stacktrace=1:halt_on_error=1:abort_on_error=1:log_path=" ZORV_SANITIZER_LOG_DIR
         "/ubsan";
}

}  // extern "C"
