#!/usr/bin/env bash
# CI hardening stages, run after the normal suite:
#   asan-clang  the whole test suite again in a clang ASan+UBSan build (build-asan-clang), in
#               the sandbox; clang's AddressSanitizer sees a use after scope that GCC's misses
#               (an array read by the destructor of an object declared before it)
#   asan        the same with GCC (build-asan): the compiler of the shipped programs
#   tsan        the unit tests and the Printer Application's tests again in a clang
#               ThreadSanitizer build (build-tsan), in the sandbox: the server's query threads,
#               its publishes and deletes, and the job threads
#   valgrind    the unit and program tests of the normal build under valgrind memcheck, with
#               the programs they start wrapped in valgrind as well (ZORV_TEST_WRAPPER)
#   fuzz        every libFuzzer target of fuzz/ for FUZZ_SECONDS (default 20) each
# Usage: scripts/hardening.sh [asan-clang] [asan] [tsan] [valgrind] [fuzz]   (no argument: all
# five, in this order)
# Environment: PLAIN_BUILD (default build), ASAN_CLANG_BUILD (build-asan-clang), ASAN_BUILD
# (build-asan), TSAN_BUILD (build-tsan), FUZZ_BUILD (build-fuzz), FUZZ_SECONDS, JOBS (default
# 2). Each stage fails on any test failure or sanitizer, memcheck or fuzzer report, including
# reports of programs that no test looked at.
set -euo pipefail
source "$(dirname "$0")/help.sh" && zorv_help "$0" "$@"
cd "$(dirname "$0")/.."
source scripts/stages.sh

plain=${PLAIN_BUILD:-build}
asan=${ASAN_BUILD:-build-asan}
asan_clang=${ASAN_CLANG_BUILD:-build-asan-clang}
tsan=${TSAN_BUILD:-build-tsan}
fuzz=${FUZZ_BUILD:-build-fuzz}
jobs=${JOBS:-2}
stages=("$@")
((${#stages[@]})) || stages=(asan-clang asan tsan valgrind fuzz)

# Valgrind runs the tests labelled unit and program, and of those labelled integration the
# ones that start the filters directly (usb_program_test takes only its PPD from a private
# cupsd); the other integration tests have real-time budgets: SNMP and scheduler time-outs,
# readiness polls.
valgrind_labels=(unit program)
valgrind_program_tests=(usb_program_test)
# Test cases left out under valgrind (a gtest negative filter), each with its reason. None at
# present: the filters' own log of their environment differs under valgrind (it adds LD_PRELOAD
# and more), so a test that compares those lines exactly would belong here.
valgrind_excluded=${VALGRIND_EXCLUDED:-}

# Prints the report files of a directory and fails when there are any.
check_reports() {
  local dir=$1 what=$2 found=0 file
  for file in "$dir"/*; do
    [ -s "$file" ] || continue
    found=1
    echo "=== $what report: $file" >&2
    cat "$file" >&2
  done
  return "$found"
}

# sanitized_suite BUILD CC CXX [CMAKE_ARGUMENTS...]: configures BUILD with the sanitizers and
# the compilers CC and CXX, builds it and runs the whole suite in the sandbox.
sanitized_suite() {
  local build=$1 cc=$2 cxx=$3
  shift 3
  CC=$cc CXX=$cxx cmake -S . -B "$build" -G Ninja -DENABLE_SANITIZERS=ON -DWARNINGS_AS_ERRORS=ON \
    "$@" >/dev/null
  cmake --build "$build" -j "$jobs"
  local logs="$build/sanitizer-logs"
  mkdir -p "$logs"
  rm -f "$logs"/*
  # The filters that a private scheduler starts run as its user lp, and write here as well.
  chmod 1777 "$logs"
  # The test programs' own reports go to the same directory as those of the filters (the
  # filters carry their options, see tools/sanitizer_options.cpp).
  local status=0 asan_options=detect_leaks=1:detect_stack_use_after_return=1:abort_on_error=1
  ASAN_OPTIONS="$asan_options:log_path=$PWD/$logs/test-asan" \
    LSAN_OPTIONS="suppressions=$PWD/scripts/lsan.supp:print_suppressions=0" \
    UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1:log_path=$PWD/$logs/test-ubsan" \
    scripts/sandbox.sh ctest --test-dir "$build" --output-on-failure -j "$jobs" || status=$?
  check_reports "$logs" sanitizer || status=1
  return "$status"
}

stage_asan-clang() {
  sanitized_suite "$asan_clang" clang clang++
}

stage_asan() {
  # GCC's -Wmaybe-uninitialized gives false alarms inside libstdc++ (std::regex) under
  # -fsanitize=address; the normal build keeps that warning as an error.
  sanitized_suite "$asan" gcc g++ -DCMAKE_CXX_FLAGS=-Wno-maybe-uninitialized
}

# ThreadSanitizer runs the unit tests and those of the Printer Application, the program with
# threads of its own (the filters and the query tool have none).
tsan_tests='^app_'
tsan_labels='^unit$'

stage_tsan() {
  CC=clang CXX=clang++ cmake -S . -B "$tsan" -G Ninja -DENABLE_THREAD_SANITIZER=ON \
    -DWARNINGS_AS_ERRORS=ON >/dev/null
  cmake --build "$tsan" -j "$jobs"
  local logs="$tsan/sanitizer-logs" status=0
  mkdir -p "$logs"
  rm -f "$logs"/*
  chmod 1777 "$logs"
  # The test programs' reports, and those of the servers they start (which inherit the
  # options), go to the same directory.
  local options="halt_on_error=0:second_deadlock_stack=1:ignore_noninstrumented_modules=1"
  options+=":suppressions=$PWD/scripts/tsan.supp"
  options+=":log_path=$PWD/$logs/test-tsan"
  TSAN_OPTIONS=$options scripts/sandbox.sh ctest --test-dir "$tsan" --output-on-failure \
    -j "$jobs" -R "$tsan_tests" || status=$?
  TSAN_OPTIONS=$options scripts/sandbox.sh ctest --test-dir "$tsan" --output-on-failure \
    -j "$jobs" -L "$tsan_labels" -E "$tsan_tests" || status=$?
  check_reports "$logs" ThreadSanitizer || status=1
  return "$status"
}

# "name path" for every test of the normal build that valgrind runs.
valgrind_tests() {
  local labelled="" label
  for label in "${valgrind_labels[@]}"; do
    labelled+=" $(ctest --test-dir "$plain" -N -L "^$label\$" | sed -n 's/^ *Test *#[0-9]*: *//p')"
  done
  ctest --test-dir "$plain" -N -V | awk -v wanted="$labelled ${valgrind_program_tests[*]}" '
    BEGIN { n = split(wanted, w, /[ \n]+/); for (i = 1; i <= n; i++) if (w[i] != "") keep[w[i]] = 1 }
    /^[0-9]+: Test command: / { sub(/^[0-9]+: Test command: /, ""); command = $0 }
    /^ *Test *#[0-9]+: / { sub(/^ *Test *#[0-9]+: /, ""); if ($0 in keep) print $0, command }'
}

stage_valgrind() {
  cmake --build "$plain" -j "$jobs" >/dev/null
  local logs="$plain/valgrind-logs"
  mkdir -p "$logs"
  rm -f "$logs"/*
  # Some tests run the filter as another user (nobody), whose memcheck log goes here as well.
  chmod 1777 "$logs"
  local memcheck="valgrind -q --error-exitcode=97 --leak-check=full --errors-for-leak-kinds=definite,indirect --show-leak-kinds=definite,indirect --track-fds=no --suppressions=$PWD/scripts/valgrind.supp"
  local status=0 name command
  while read -r name command; do
    echo "--- valgrind: $name"
    # The test program under memcheck, and every filter it starts as well.
    if ! ZORV_TEST_WRAPPER="$memcheck --log-file=$PWD/$logs/program-$name.%p.log" \
      scripts/sandbox.sh timeout 1800 $memcheck --log-file="$PWD/$logs/test-$name.%p.log" \
      "$command" ${valgrind_excluded:+--gtest_filter="-$valgrind_excluded"} --gtest_brief=1; then
      echo "FAILED under valgrind: $name" >&2
      status=1
    fi
  done < <(valgrind_tests)
  check_reports "$logs" valgrind || status=1
  return "$status"
}

stage_fuzz() {
  FUZZ_BUILD="$fuzz" scripts/fuzz-long.sh "${FUZZ_SECONDS:-20}"
}

zorv_run_stages hardening "${stages[@]}"
