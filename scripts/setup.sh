#!/usr/bin/env bash
# First command of the README: installs the dependencies, builds both filters into build/,
# and demonstrates them on the bundled sample data.
set -euo pipefail
source "$(dirname "$0")/help.sh" && zorv_help "$0" "$@"
cd "$(dirname "$0")/.."
scripts/install-deps.sh
BUILD_DIR=build scripts/build.sh
scripts/demo.sh
