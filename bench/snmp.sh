#!/usr/bin/env bash
# Measures the network path of zorvautoconf against a private snmpd and cupsd, and prints:
#   the filter's whole run for a queue with 10 installable options, each answered by the agent,
#   as a ratio against 10 runs of `snmpget -v1` for the same OIDs (goal: at most 0.3);
#   the run against an agent that does not answer, for a PPD of 10 installable options of which
#   4 carry a query attribute, per option with a query attribute (goal: 3 s, within 5%).
# It binds UDP port 161 on loopback addresses, so it runs itself inside scripts/sandbox.sh.
# Usage: bench/snmp.sh [path of zorvautoconf, default build/zorvautoconf]
set -euo pipefail
cd "$(dirname "$0")/.."
if [ "${ZORV_IN_SANDBOX:-}" != 1 ]; then exec scripts/sandbox.sh "$0" "$@"; fi

program=$(realpath "${1:-build/zorvautoconf}")
[ -x "$program" ] || { echo "no program at $program (build first)" >&2; exit 1; }
data=$(realpath tests/data/snmp)
agent=127.0.0.30
silent_agent=127.0.0.31  # nothing listens there
base=.1.3.6.1.4.1.64999
repeats=9

source scripts/private-cups.sh

work=$(mktemp -d /tmp/zorvbench-XXXXXX)
trap 'zorv_stop_all; rm -rf "$work"' EXIT

now_ns() { date +%s%N; }

# Runs "$@" $repeats times and prints the shortest wall time in nanoseconds.
best_ns() {
  local best= start end
  for _ in $(seq "$repeats"); do
    start=$(now_ns)
    "$@"
    end=$(now_ns)
    if [ -z "$best" ] || [ $((end - start)) -lt "$best" ]; then best=$((end - start)); fi
  done
  echo "$best"
}

# The private agent (scripts/private-cups.sh, community mirelo): the test values, and pass.sh
# for the types the values cannot carry.
echo "pass $base.2 /bin/sh $data/pass.sh" >"$work/pass.conf"
zorv_snmpd_start "$work" "$agent" "$data/values.conf" "$work/pass.conf"

# The private scheduler, on loopback TCP; its filter directory gets the filters built next to
# the program.
port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
zorv_cupsd_start "$work" "$(dirname "$program")" "127.0.0.1:$port"

# A PPD of 10 installable options; the first $1 of them carry a query attribute, each for one
# of the agent's INTEGER, OCTET STRING, ... values.
make_ppd() {
  local queried=$1 k
  printf '*PPD-Adobe: "4.3"\n*FormatVersion: "4.3"\n*FileVersion: "1.0"\n'
  printf '*LanguageVersion: English\n*LanguageEncoding: ISOLatin1\n*PCFileName: "BENCH.PPD"\n'
  printf '*Manufacturer: "Acme"\n*Product: "(Bench)"\n*ModelName: "Bench"\n'
  printf '*ShortNickName: "Bench"\n*NickName: "Bench"\n*PSVersion: "(3010.000) 0"\n'
  printf '*OpenGroup: InstallableOptions/Installable Options\n'
  for k in $(seq 10); do
    printf '*OpenUI *Opt%d/Opt%d: Boolean\n*DefaultOpt%d: False\n' "$k" "$k" "$k"
    printf '*Opt%d True/Installed: ""\n*Opt%d False/Not Installed: ""\n*CloseUI: *Opt%d\n' \
      "$k" "$k" "$k"
  done
  printf '*CloseGroup: InstallableOptions\n'
  for k in $(seq "$queried"); do
    printf '*?SnmpOpt%d: "%s.1.%d.0"\n*SnmpOpt%d True: ".*"\n' "$k" "$base" "$k" "$k"
  done
}
make_ppd 10 >"$work/all.ppd"
make_ppd 4 >"$work/four.ppd"
lpadmin -p bench10 -E -v "socket://$agent:9100" -P "$work/all.ppd" 2>/dev/null
lpadmin -p bench4 -E -v "socket://$silent_agent:9100" -P "$work/four.ppd" 2>/dev/null

run_filter() {
  local queue=$1 uri=$2
  (DEVICE_URI=$uri exec -a "$queue" "$program" 1 bench title 1 "" </dev/null >/dev/null 2>"$work/err")
}
filter_answered() { run_filter bench10 "socket://$agent:9100"; }
# The same run without the network path: what the PPD fetches, parse and rewrite cost alone.
filter_offline() { run_filter bench10 "file:/dev/null"; }
snmpget_ten() {
  local k
  for k in $(seq 10); do snmpget -v1 -c mirelo -t 3 -r 0 "$agent" "$base.1.$k.0" >/dev/null; done
}

filter_answered
marked=$(grep -c '^\*DefaultOpt[0-9]*: True$' /var/tmp/autoconf/bench10.ppd || true)
if [ "$marked" != 10 ]; then
  echo "bench: the filter marked $marked of 10 options; its messages:" >&2
  cat "$work/err" >&2
  exit 1
fi

filter_ns=$(best_ns filter_answered)
offline_ns=$(best_ns filter_offline)
snmpget_ns=$(best_ns snmpget_ten)
start=$(now_ns)
run_filter bench4 "socket://$silent_agent:9100"
silent_ns=$(($(now_ns) - start))

awk -v f="$filter_ns" -v o="$offline_ns" -v s="$snmpget_ns" -v q="$silent_ns" 'BEGIN {
  printf "filter, 10 answered options:   %8.1f ms\n", f / 1e6
  printf "filter, no network path:       %8.1f ms\n", o / 1e6
  printf "10 x snmpget -v1:              %8.1f ms\n", s / 1e6
  printf "ratio filter / snmpget:        %8.3f   (goal <= 0.3)\n", f / s
  printf "ratio network path / snmpget:  %8.3f\n", (f - o) / s
  printf "silent agent, 4 of 10 queried: %8.1f ms\n", q / 1e6
  printf "per queried option:            %8.1f ms (goal 3000 +- 150)\n", q / 4 / 1e6
}'
