#!/usr/bin/env bash
# The whole test suite: dependencies, a warning-clean build, then every test inside the
# sandbox (see scripts/sandbox.sh).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
BUILD_DIR=build scripts/build.sh -DWARNINGS_AS_ERRORS=ON
scripts/sandbox.sh ctest --test-dir build --output-on-failure -j2 "$@"
