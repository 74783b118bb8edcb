#!/usr/bin/env bash
# The whole test suite: dependencies, a warning-clean build, clang-tidy on the program code
# (scripts/tidy.sh), every test inside the sandbox
# (see scripts/sandbox.sh), the Debian package (scripts/package.sh: built, linted, and tested
# installed inside a system sandbox), the 100-job soak (bench/soak.sh), then the hardening
# stages (scripts/hardening.sh: the suite again under clang's ASan+UBSan and again under
# GCC's, the unit and Printer Application tests under clang's ThreadSanitizer, unit and program
# tests under valgrind, each fuzz target for a bounded time).
# Arguments go to the first ctest run; ZORV_SKIP_PACKAGE=1, ZORV_SKIP_SOAK=1 and
# ZORV_SKIP_HARDENING=1 leave those stages out.
set -euo pipefail
source "$(dirname "$0")/help.sh" && zorv_help "$0" "$@"
cd "$(dirname "$0")/.."
scripts/install-deps.sh
BUILD_DIR=build scripts/build.sh -DWARNINGS_AS_ERRORS=ON
BUILD_DIR=build scripts/tidy.sh
scripts/sandbox.sh ctest --test-dir build --output-on-failure -j2 "$@"
if [ "${ZORV_SKIP_PACKAGE:-0}" != 1 ]; then
  scripts/package.sh
fi
if [ "${ZORV_SKIP_SOAK:-0}" != 1 ]; then
  BUILD_DIR=build bench/soak.sh 100
fi
if [ "${ZORV_SKIP_HARDENING:-0}" != 1 ]; then
  scripts/hardening.sh
fi
