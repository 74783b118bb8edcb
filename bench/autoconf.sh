#!/usr/bin/env bash
# Measures one whole zorvautoconf run (a 1-byte job on a queue of a private scheduler, with a
# device URI whose connection type is not supported, so the run is two PPD fetches and the
# rewrite) against `lpstat -r` on the same scheduler (one client round trip), and prints the
# medians and their ratio (goal: at most 3). It starts cupsd and writes /var/tmp/autoconf, so it
# runs itself inside scripts/sandbox.sh.
# Usage: bench/autoconf.sh [path of zorvautoconf, default build/zorvautoconf]
set -euo pipefail
cd "$(dirname "$0")/.."
if [ "${ZORV_IN_SANDBOX:-}" != 1 ]; then exec scripts/sandbox.sh "$0" "$@"; fi

program=$(realpath "${1:-build/zorvautoconf}")
[ -x "$program" ] || { echo "no program at $program (build first)" >&2; exit 1; }
repeats=${REPEATS:-41}
ppd=$PWD/tests/data/ppd/installable.ppd
queue=zorvbench

base=$(mktemp -d /tmp/zorvbench-XXXXXX)
chmod 0755 "$base"
cupsd_pid=
cleanup() {
  if [ -n "$cupsd_pid" ]; then
    kill "$cupsd_pid" 2>/dev/null || true
    wait "$cupsd_pid" 2>/dev/null || true
  fi
  rm -rf "$base" "/var/tmp/autoconf/$queue.ppd"
}
trap cleanup EXIT

# The same layout as the tests' private scheduler (tests/support/cupsd.cpp), on loopback TCP.
port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
mkdir -p "$base"/{root,bin,cache,state,spool,tmp,log,filtertmp}
for entry in /usr/lib/cups/*; do ln -s "$entry" "$base/bin/"; done
cat >"$base/root/cups-files.conf" <<EOF
ServerRoot $base/root
ServerBin $base/bin
CacheDir $base/cache
StateDir $base/state
RequestRoot $base/spool
TempDir $base/tmp
AccessLog $base/log/access_log
ErrorLog $base/log/error_log
PageLog $base/log/page_log
Printcap $base/printcap
User lp
Group lp
SystemGroup lpadmin root
FileDevice Yes
EOF
cat >"$base/root/cupsd.conf" <<EOF
Listen 127.0.0.1:$port
LogLevel warn
Browsing No
WebInterface No
DefaultAuthType None
<Policy default>
  <Limit All>
    Order allow,deny
    Allow all
  </Limit>
</Policy>
EOF
/usr/sbin/cupsd -f -c "$base/root/cupsd.conf" -s "$base/root/cups-files.conf" \
  >"$base/log/cupsd.out" 2>&1 &
cupsd_pid=$!
export CUPS_SERVER=127.0.0.1:$port HOME=$base
for _ in $(seq 150); do
  if lpstat -r 2>/dev/null | grep -q 'scheduler is running'; then break; fi
  sleep 0.1
done
lpstat -r | grep -q 'scheduler is running' || { echo "cupsd did not start; see $base/log" >&2; exit 1; }
lpadmin -p "$queue" -E -v file:/dev/null -P "$ppd" 2>/dev/null

printf x >"$base/job"
filter_run() {
  (TMPDIR=$base/filtertmp DEVICE_URI=file:/dev/null exec -a "$queue" "$program" 1 bench title 1 "" \
    <"$base/job" >/dev/null)
}
client_run() { lpstat -r >/dev/null; }

# Sanity: the filter really fetched and rewrote, and left no fetched PPD behind.
filter_run
cmp -s "/var/tmp/autoconf/$queue.ppd" "$base/root/ppd/$queue.ppd" ||
  { echo "the filter did not write the PPD copy" >&2; exit 1; }
[ -z "$(ls -A "$base/filtertmp")" ] || { echo "fetched PPDs left in TMPDIR" >&2; exit 1; }

now_ns() { date +%s%N; }
median() { sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }

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
