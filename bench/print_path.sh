#!/usr/bin/env bash
# Benchmark of the real print path: the time from `lp` until the printer stand-in has the last
# byte of a 50 MiB job, on a queue whose PPD runs zorvautoconf and zorvpreload against a
# queue whose PPD runs no filter; both on the same private scheduler, socket backend and SNMP
# agent, rounds alternating. Prints the medians and their ratio (goal: at most 1.2).
# Usage: bench/print_path.sh [ROUNDS] (default 5); ZORV_BENCH_MIB sets the job size, ZORV_NICE
# the print path's niceness (default -10). Runs in a sandbox of its own (scripts/sandbox.sh).
set -euo pipefail
source "$(dirname "$0")/../scripts/help.sh" && zorv_help "$0" "$@"
source "$(dirname "$0")/../scripts/private-cups.sh"
zorv_own_sandbox "$0" "$@"
source bench/lib.sh
rounds=${1:-5}
# Both queues' print paths run above other work on the machine, so that it disturbs them less.
export ZORV_NICE=${ZORV_NICE:--10}
size_mib=${ZORV_BENCH_MIB:-50}
build=$(cd "${BUILD_DIR:-build}" && pwd)

printer=127.0.0.32
base=$(mktemp -d /tmp/zorv-bench-XXXXXX)
trap 'zorv_stop_all; rm -rf "$base" /var/tmp/autoconf /opt/Orvane' EXIT
zorv_cupsd_start "$base" "$build"
zorv_snmpd_start "$base" "$printer" docs/examples/worked-example-agent.conf
lines=$base/received
: >"$lines"
zorv_capture_start "$build" "$printer" - "$lines"

# Same PPD; the plain queue's filter line hands the job straight to the backend.
sed 's|^\*cupsPreFilter:.*||; s|^\*cupsFilter2:.*|*cupsFilter2: "application/vnd.zorv-job application/vnd.zorv-job 0 -"|' \
  docs/examples/worked-example.ppd >"$base/plain.ppd"
lpadmin -p zorvchain -E -v "socket://$printer:9100" -P docs/examples/worked-example.ppd 2>/dev/null
lpadmin -p zorvplain -E -v "socket://$printer:9100" -P "$base/plain.ppd" 2>/dev/null
# The filtered queue's jobs carry a colour-profile block as well.
install -d -m 0755 /opt/Orvane/mfp/ucs
head -c 100000 /dev/urandom >/opt/Orvane/mfp/ucs/zorvchain.ucs
chmod 0644 /opt/Orvane/mfp/ucs/zorvchain.ucs

job=$base/job.bin
head -c $((size_mib * 1024 * 1024)) /dev/urandom >"$job"

# One job: sets elapsed to the milliseconds from lp to the last byte at the printer.
received=0
elapsed=0
arrived() { [ "$(wc -l <"$lines")" -ge "$received" ]; }
time_job() {
  local queue=$1 start end
  start=$(date +%s%N)
  lp -d "$queue" -o document-format=application/vnd.zorv-job "$job" >/dev/null
  received=$((received + 1))
  zorv_wait 6000 arrived || { echo "no job at the printer" >&2; exit 1; }
  end=$(awk -v n="$received" '$1 == n {print $3}' "$lines")
  elapsed=$(((end - start) / 1000000))
}
minimum() { sort -n | head -1; }

time_job zorvplain  # warm-up: caches, first connection
chain=() plain=()
for ((r = 1; r <= rounds; r++)); do
  time_job zorvplain
  plain+=("$elapsed")
  time_job zorvchain
  chain+=("$elapsed")
  echo "round $r: no filter ${plain[-1]} ms, both filters ${chain[-1]} ms"
done
p=$(printf '%s\n' "${plain[@]}" | median)
c=$(printf '%s\n' "${chain[@]}" | median)
pm=$(printf '%s\n' "${plain[@]}" | minimum)
cm=$(printf '%s\n' "${chain[@]}" | minimum)
# The minimum is the least disturbed by other work on the machine; both are shown.
echo "print path, ${size_mib} MiB job, lp to last byte at the printer ($rounds rounds):"
echo "  no filter:    median $p ms, best $pm ms"
echo "  both filters: median $c ms, best $cm ms"
# Each round's two jobs ran back to back, so the median of the rounds' own ratios is the
# figure least moved by load that comes and goes.
r=$(for ((i = 0; i < rounds; i++)); do
  awk -v c="${chain[i]}" -v p="${plain[i]}" 'BEGIN {printf "%.4f\n", c / p}'
done | median)
awk -v c="$c" -v p="$p" -v cm="$cm" -v pm="$pm" -v r="$r" 'BEGIN {
  printf "  ratio: %.2f median of the rounds, %.2f of medians, %.2f of bests (goal <= 1.2)\n",
    r, c / p, cm / pm }'
