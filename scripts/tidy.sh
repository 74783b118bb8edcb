#!/usr/bin/env bash
# clang-tidy on the program code with the checks of .clang-tidy (warnings are errors), from the
# compilation database of a build directory (default build). CI runs it after the build.
set -euo pipefail
source "$(dirname "$0")/help.sh" && zorv_help "$0" "$@"
cd "$(dirname "$0")/.."
build=${BUILD_DIR:-build}
[ -f "$build/compile_commands.json" ] || { echo "tidy: no $build/compile_commands.json" >&2; exit 1; }

# The folders of program code, libraries first. A new library or program folder is added here
# and nowhere else; a folder that does not exist yet is passed over.
folders=(log common probe colour autoconf preload query app)

sources=() present=()
for folder in "${folders[@]}"; do
  [ -d "$folder" ] || continue
  present+=("$folder")
  for source in "$folder"/*.cpp; do
    if [ -e "$source" ]; then sources+=("$source"); fi
  done
done
report=$build/clang-tidy.txt
status=0
clang-tidy -p "$build" --quiet "${sources[@]}" >"$report" 2>&1 || status=$?
# Its count of the warnings that the check list leaves out is noise here.
grep -v -E '^[0-9]+ warnings? generated\.$' "$report" || true
if [ "$status" -ne 0 ]; then
  echo "clang-tidy: findings above (status $status)" >&2
  exit "$status"
fi
echo "clang-tidy: clean (${#sources[@]} files in ${present[*]})"
