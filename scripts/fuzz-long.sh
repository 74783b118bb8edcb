#!/usr/bin/env bash
# Builds the libFuzzer targets of fuzz/ (clang, -DENABLE_FUZZING=ON) and runs each one, one at
# a time, for a bounded time inside the sandbox. Any crash, leak, time-out or sanitizer report
# fails the run; its reproducer is kept in <build>/artifacts/. By hand for the long run:
#   scripts/fuzz-long.sh                 every target for 300 s
#   scripts/fuzz-long.sh 600 host usb_attr
# Environment: FUZZ_BUILD (default build-fuzz), JOBS (default 2).
set -euo pipefail
source "$(dirname "$0")/help.sh" && zorv_help "$0" "$@"
cd "$(dirname "$0")/.."

seconds=${1:-300}
shift || true
build=${FUZZ_BUILD:-build-fuzz}
jobs=${JOBS:-2}

if (($# > 0)); then
  targets=("$@")
else
  targets=()
  for source in fuzz/*_fuzz.cpp; do
    name=$(basename "$source" _fuzz.cpp)
    targets+=("$name")
  done
fi

CC=clang CXX=clang++ cmake -S . -B "$build" -G Ninja -DENABLE_FUZZING=ON -DBUILD_TESTING=OFF \
  -DWARNINGS_AS_ERRORS=ON >/dev/null
cmake --build "$build" --target fuzz -j "$jobs" >/dev/null

mkdir -p "$build/artifacts" "$build/corpus-work"
report="$build/fuzz-report.txt"
printf '%-14s %8s %12s %10s  %s\n' target seconds executions exec/s result | tee "$report"
failed=0
for name in "${targets[@]}"; do
  program="$build/fuzz/${name}_fuzz"
  seeds="fuzz/corpus/$name"
  # New inputs go to a working corpus in the build tree; the seeds in the repository stay as
  # they are. The working directory survives runs, so later runs start where earlier ones ended.
  work="$build/corpus-work/$name"
  mkdir -p "$work"
  log="$build/fuzz-$name.log"
  status=0
  # The run sees the sandbox's empty /tmp; rss and per-input limits catch runaway inputs.
  scripts/sandbox.sh "$program" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
    -close_fd_mask=2 -print_final_stats=1 -artifact_prefix="$build/artifacts/$name-" \
    "$work" "$seeds" >"$log" 2>&1 || status=$?
  executions=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)
  rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log" | tail -n 1)
  result=ok
  if ((status != 0)); then
    result="FAILED (status $status, log $log)"
    failed=1
    grep -E 'ERROR|SUMMARY|Test unit written|fuzz invariant' "$log" | head -n 20 >&2 || true
  fi
  printf '%-14s %8s %12s %10s  %s\n' "$name" "$seconds" "${executions:-?}" "${rate:-?}" \
    "$result" | tee -a "$report"
done
echo "fuzz report: $report"
exit "$failed"
