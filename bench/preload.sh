#!/usr/bin/env bash
# Measures zorvpreload against cat and prints the ratios of one run:
#   pass-through throughput on a 1 GiB stream through pipes (goal: at least 0.9 of cat's),
#   block generation for a 64 MiB profile (goal: at most 1.5 times `cat profile > /dev/null`),
#   peak resident memory of the block generation (goal: at most 8 MiB, whatever the profile).
# It installs a profile under /opt/Orvane/mfp/ucs, so it runs itself inside scripts/sandbox.sh.
# Usage: bench/preload.sh [path of zorvpreload, default build/zorvpreload]
set -euo pipefail
source "$(dirname "$0")/../scripts/help.sh" && zorv_help "$0" "$@"
cd "$(dirname "$0")/.."
if [ "${ZORV_IN_SANDBOX:-}" != 1 ]; then exec scripts/sandbox.sh "$0" "$@"; fi
source bench/lib.sh

program=$(realpath "${1:-build/zorvpreload}")
[ -x "$program" ] || { echo "no program at $program (build first)" >&2; exit 1; }
stream_mib=1024
profile_mib=64
stream_repeats=${STREAM_REPEATS:-5}
block_repeats=${BLOCK_REPEATS:-15}

work=$(mktemp -d /tmp/zorvbench-XXXXXX)
ucs_dir=/opt/Orvane/mfp/ucs
profile_name=zorvbench-$$
made_dir=
if [ ! -d "$ucs_dir" ]; then mkdir -p "$ucs_dir" && made_dir=/opt/Orvane; fi
profile=$ucs_dir/$profile_name.ucs
cleanup() {
  rm -rf "$work" "$profile"
  if [ -n "$made_dir" ]; then rm -rf "$made_dir"; fi
}
trap cleanup EXIT

# Runs two commands in turn $repeats times, so that both see the same load on the machine,
# and sets best_a and best_b to the shortest wall time of each, in nanoseconds.
best_of_pair() {
  local start end
  best_a= best_b=
  for _ in $(seq "$repeats"); do
    start=$(now_ns); "$1"; end=$(now_ns)
    if [ -z "$best_a" ] || [ $((end - start)) -lt "$best_a" ]; then best_a=$((end - start)); fi
    start=$(now_ns); "$2"; end=$(now_ns)
    if [ -z "$best_b" ] || [ $((end - start)) -lt "$best_b" ]; then best_b=$((end - start)); fi
  done
}

# The filter as the scheduler starts it: argv[0] a queue name that has no profile.
preload_no_profile() { (exec -a zorvbench-queue "$program" 1 bench title 1 "" "$@"); }
preload_profile() { (exec -a zorvbench-queue "$program" 1 bench title 1 "ucs=$profile_name"); }

through_cat() {
  dd if=/dev/zero bs=1M count="$stream_mib" status=none | cat | cat >/dev/null
}
through_preload() {
  dd if=/dev/zero bs=1M count="$stream_mib" status=none | preload_no_profile | cat >/dev/null
}
cat_profile() { cat "$profile" >/dev/null; }
# The profile copied into a fresh file and removed again: what a block writer that copied the
# profile aside before the block's first byte (or held it in memory) would pay for fresh pages
# before it computed or wrote anything.
copy_profile() { cat "$profile" >"$work/copy" && rm "$work/copy"; }
block_only() { preload_profile </dev/null >/dev/null; }

# Check that the stream really passes and the block really is written before timing them.
head -c 1000000 /dev/urandom >"$work/check"
preload_no_profile <"$work/check" | cmp -s - "$work/check" || { echo "pass-through broken" >&2; exit 1; }
head -c $((profile_mib << 20)) /dev/urandom >"$profile"
block_bytes=$(preload_profile </dev/null | wc -c)
[ "$block_bytes" -eq $(((profile_mib << 20) + 82)) ] || {
  echo "block of $block_bytes bytes, not the expected size" >&2; exit 1; }

repeats=$stream_repeats
best_of_pair through_cat through_preload
cat_stream=$best_a preload_stream=$best_b
repeats=$block_repeats
best_of_pair cat_profile block_only
cat_read=$best_a preload_block=$best_b
best_of_pair cat_profile copy_profile
copy_read=$best_b
if [ "$best_a" -lt "$cat_read" ]; then cat_read=$best_a; fi

if [ -x /usr/bin/time ] && [ -z "${BENCH_NO_TIME:-}" ]; then
  peak_kib=$( { /usr/bin/time -f '%M' bash -c "exec -a zorvbench-queue '$program' 1 bench title 1 \
    'ucs=$profile_name' </dev/null >/dev/null" ; } 2>&1 | tail -n 1)
else
  # Without GNU time: the program writes the block into a FIFO that is not read yet, so it
  # waits there with its buffer full; its high-water mark is read from /proc.
  mkfifo "$work/fifo"
  (exec -a zorvbench-queue "$program" 1 bench title 1 "ucs=$profile_name" </dev/null \
    >"$work/fifo") &
  pid=$!
  exec 3<"$work/fifo"
  sleep 1
  peak_kib=$(awk '/^VmHWM:/ {print $2}' "/proc/$pid/status")
  cat <&3 >/dev/null
  exec 3<&-
  wait "$pid"
fi

awk -v cs="$cat_stream" -v ps="$preload_stream" -v cr="$cat_read" -v pb="$preload_block" -v cp="$copy_read" \
    -v mib="$stream_mib" -v pmib="$profile_mib" -v peak="$peak_kib" -v n="$stream_repeats" -v m="$block_repeats" 'BEGIN {
  printf "shortest of %d runs (stream) and %d runs (block), taken in turns\n", n, m
  printf "pass-through, %d MiB through pipes: cat %.0f MiB/s, zorvpreload %.0f MiB/s\n",
         mib, mib / (cs / 1e9), mib / (ps / 1e9)
  printf "  throughput ratio zorvpreload/cat: %.2f (goal >= 0.9)\n", cs / ps
  printf "block for a %d MiB profile: cat %.1f ms, zorvpreload %.1f ms\n", pmib, cr / 1e6, pb / 1e6
  printf "  time ratio zorvpreload/cat: %.2f (goal <= 1.5)\n", pb / cr
  printf "  for reference, a copy of the profile into a fresh file (cat > file): %.1f ms, %.2f times cat\n", cp / 1e6, cp / cr
  printf "  peak resident memory: %.1f MiB (goal <= 8 MiB)\n", peak / 1024
}'
