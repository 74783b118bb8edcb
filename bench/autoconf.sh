#!/usr/bin/env bash
# Measures one whole zorvautoconf run (a 1-byte job on a queue of a private scheduler, with a
# device URI whose connection type is not supported, so the run is two PPD fetches and the
# rewrite) against `lpstat -r` on the same scheduler (one client round trip), and prints the
# medians and their ratio (goal: at most 3). It starts cupsd and writes /var/tmp/autoconf, so it
# runs itself inside scripts/sandbox.sh.
# Usage: bench/autoconf.sh [path of zorvautoconf, default build/zorvautoconf]
set -euo pipefail
source "$(dirname "$0")/../scripts/help.sh" && zorv_help "$0" "$@"
cd "$(dirname "$0")/.."
if [ "${ZORV_IN_SANDBOX:-}" != 1 ]; then exec scripts/sandbox.sh "$0" "$@"; fi

program=$(realpath "${1:-build/zorvautoconf}")
[ -x "$program" ] || { echo "no program at $program (build first)" >&2; exit 1; }
repeats=${REPEATS:-41}
ppd=$PWD/tests/data/ppd/installable.ppd
queue=zorvbench

source scripts/private-cups.sh
source bench/lib.sh

base=$(mktemp -d /tmp/zorvbench-XXXXXX)
trap 'zorv_stop_all; rm -rf "$base" "/var/tmp/autoconf/$queue.ppd"' EXIT

# The private scheduler of scripts/private-cups.sh (its filter directory gets the filters built
# next to the program), on loopback TCP; HOME keeps the user's client.conf out of it.
export HOME=$base
# The sandbox has a network of its own, so the scheduler's usual port is free there.
zorv_cupsd_start "$base" "$(dirname "$program")" 127.0.0.1:631
lpadmin -p "$queue" -E -v file:/dev/null -P "$ppd" 2>/dev/null

mkdir "$base/filtertmp"
printf x >"$base/job"
filter_run() {
  (TMPDIR=$base/filtertmp DEVICE_URI=file:/dev/null exec -a "$queue" "$program" 1 bench title 1 "" \
    <"$base/job" >/dev/null)
}
client_run() { lpstat -r >/dev/null; }

# Sanity: the filter really fetched and rewrote, and left no fetched PPD behind.
filter_run
cmp -s "/var/tmp/autoconf/$queue.ppd" "$base/cups/root/ppd/$queue.ppd" ||
  { echo "the filter did not write the PPD copy" >&2; exit 1; }
[ -z "$(ls -A "$base/filtertmp")" ] || { echo "fetched PPDs left in TMPDIR" >&2; exit 1; }


# Alternating runs, so that both see the same load on the machine.
filter_times=()
client_times=()
for _ in $(seq "$repeats"); do
  start=$(now_ns); filter_run; end=$(now_ns)
  filter_times+=($((end - start)))
  start=$(now_ns); client_run; end=$(now_ns)
  client_times+=($((end - start)))
done
filter_median=$(printf '%s\n' "${filter_times[@]}" | median)
client_median=$(printf '%s\n' "${client_times[@]}" | median)
awk -v f="$filter_median" -v c="$client_median" -v n="$repeats" 'BEGIN {
  printf "zorvautoconf run, 1-byte job, unsupported URI: median %.2f ms of %d runs\n", f / 1e6, n
  printf "lpstat -r on the same scheduler:              median %.2f ms of %d runs\n", c / 1e6, n
  printf "ratio %.2f (goal: at most 3)\n", f / c
}'
