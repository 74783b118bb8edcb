#!/usr/bin/env bash
# Configures and builds into a build directory (default: build). Extra arguments go to cmake.
set -euo pipefail
source "$(dirname "$0")/help.sh" && zorv_help "$0" "$@"
cd "$(dirname "$0")/.."
dir=${BUILD_DIR:-build}
cmake -S . -B "$dir" -G Ninja "$@" >/dev/null
cmake --build "$dir"
