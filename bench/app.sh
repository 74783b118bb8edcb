#!/usr/bin/env bash
# Benchmark of the Printer Application: the time from the start of a 50 MiB PostScript job
# until the printer stand-in has its last byte, three ways in alternating rounds:
#   direct   the same bytes sent straight to the stand-in (bash's /dev/tcp)
#   app      Print-Job by ipptool to a printer of zorv-printer-app (colour-profile block and
#            option code added, spooled by PAPPL, sent by its socket device)
#   filters  lp to a private scheduler's queue that runs zorvautoconf and zorvpreload
#            (the worked example's PPD and agent, as bench/print_path.sh)
# Prints the medians and the ratios app/direct (goal: at most 1.1) and app/filters (goal: at
# most 1.0), and the server's peak memory during a job above its idle size (goal: at most
# 16 MiB), from /proc (VmHWM, reset before each job through clear_refs).
# Usage: bench/app.sh [ROUNDS] (default 3); ZORV_BENCH_MIB sets the job size. Runs in a
# sandbox of its own (scripts/sandbox.sh).
set -euo pipefail
source "$(dirname "$0")/../scripts/help.sh" && zorv_help "$0" "$@"
source "$(dirname "$0")/../scripts/private-cups.sh"
zorv_own_sandbox "$0" "$@"
source bench/lib.sh
rounds=${1:-3}
size_mib=${ZORV_BENCH_MIB:-50}
build=$(cd "${BUILD_DIR:-build}" && pwd)
printer=127.0.0.34
port=8641

base=$(mktemp -d /tmp/zorv-bench-app-XXXXXX)
app_pid=
stop_app() { if [ -n "$app_pid" ]; then kill "$app_pid" 2>/dev/null || true; wait "$app_pid" 2>/dev/null || true; fi; }
trap 'stop_app; zorv_stop_all; [ -n "${ZORV_BENCH_KEEP_LOG:-}" ] && cp "$base/app/log" "$ZORV_BENCH_KEEP_LOG"; rm -rf "$base" /var/tmp/autoconf /opt/Orvane' EXIT

# The printer stand-in counts; one line per connection: "N LENGTH END_NS".
lines=$base/received
: >"$lines"
zorv_capture_start "$build" "$printer" - "$lines"

# The same profile for both printing paths, found by the printer's and the queue's name.
install -d -m 0755 /opt/Orvane/mfp/ucs
head -c 100000 /dev/urandom >/opt/Orvane/mfp/ucs/zorvbench.ucs
chmod 0644 /opt/Orvane/mfp/ucs/zorvbench.ucs

# The Printer Application with the worked example's PPD.
mkdir -p "$base/ppd" "$base/app"
cp docs/examples/worked-example.ppd "$base/ppd/"
export SNAP_COMMON=$base/app
"$build/zorv-printer-app" server -o server-port=$port -o log-file="$base/app/log" \
  -o spool-directory="$base/app/spool" -o state-file="$base/app/state" \
  -o ppd-directories="$base/ppd" &
app_pid=$!
# A sub-command that cannot connect to the server's socket starts a server of its own: wait
# until the server listens on it.
app_socket() { ss -Hlx | grep -q " $SNAP_COMMON/zorv-printer-app/zorv-printer-app.sock "; }
zorv_wait 200 app_socket || { echo "zorv-printer-app did not start" >&2; exit 1; }
"$build/zorv-printer-app" add -d zorvbench -m worked-example -v "socket://$printer:9100"
uri=ipp://127.0.0.1:$port/ipp/print/zorvbench

# The filters' queue on a private scheduler and agent.
zorv_cupsd_start "$base" "$build"
zorv_snmpd_start "$base" "$printer" docs/examples/worked-example-agent.conf
lpadmin -p zorvbench -E -v "socket://$printer:9100" -P docs/examples/worked-example.ppd 2>/dev/null

job=$base/job.ps
{
  printf '%%!PS-Adobe-3.0\n%%%%Pages: 1\n%%%%EndComments\n%%%%Page: 1 1\n%%'
  head -c $((size_mib * 1024 * 1024)) /dev/urandom
  printf '\nshowpage\n%%%%EOF\n'
} >"$job"
cat >"$base/print.test" <<'EOF'
{ OPERATION Print-Job
  GROUP operation-attributes-tag
  ATTR charset attributes-charset utf-8
  ATTR naturalLanguage attributes-natural-language en
  ATTR uri printer-uri $uri
  ATTR name requesting-user-name bench
  ATTR mimeMediaType document-format application/postscript
  FILE $filename
  STATUS successful-ok }
EOF

received=0
elapsed=0
arrived() { [ "$(wc -l <"$lines")" -ge "$received" ]; }
finish() {
  local start=$1 end
  received=$((received + 1))
  zorv_wait 6000 arrived || { echo "no job at the printer" >&2; exit 1; }
  end=$(awk -v n="$received" '$1 == n {print $3}' "$lines")
  elapsed=$(((end - start) / 1000000))
}
send_direct() {
  local start
  start=$(now_ns)
  cat "$job" >"/dev/tcp/$printer/9100"
  finish "$start"
}
peak_kib=0
idle_kib=0
send_app() {
  local start
  idle_kib=$(awk '/^VmRSS/ {print $2}' "/proc/$app_pid/status")
  echo 5 >"/proc/$app_pid/clear_refs"
  start=$(now_ns)
  ipptool -f "$job" "$uri" "$base/print.test" >/dev/null
  finish "$start"
  peak_kib=$(awk '/^VmHWM/ {print $2}' "/proc/$app_pid/status")
}
send_filters() {
  local start
  start=$(now_ns)
  lp -d zorvbench -o document-format=application/vnd.zorv-job "$job" >/dev/null
  finish "$start"
}

send_direct  # warm-up: caches, first connections
send_app
send_filters
direct=() app=() filters=() growth=()
for ((r = 1; r <= rounds; r++)); do
  send_direct
  direct+=("$elapsed")
  send_app
  app+=("$elapsed")
  growth+=($((peak_kib - idle_kib)))
  send_filters
  filters+=("$elapsed")
  echo "round $r: direct ${direct[-1]} ms, app ${app[-1]} ms (server $idle_kib KiB idle, +${growth[-1]} KiB at its peak), filters ${filters[-1]} ms"
done
d=$(printf '%s\n' "${direct[@]}" | median)
a=$(printf '%s\n' "${app[@]}" | median)
f=$(printf '%s\n' "${filters[@]}" | median)
g=$(printf '%s\n' "${growth[@]}" | sort -n | tail -1)
echo "Printer Application, ${size_mib} MiB PostScript job, start to last byte at the printer ($rounds rounds):"
echo "  direct:  median $d ms"
echo "  app:     median $a ms"
echo "  filters: median $f ms"
awk -v a="$a" -v d="$d" -v f="$f" -v g="$g" 'BEGIN {
  printf "  ratio app/direct %.2f (goal <= 1.1), app/filters %.2f (goal <= 1.0)\n", a / d, a / f
  printf "  server memory during a job: at most %.1f MiB above idle (goal <= 16)\n", g / 1024 }'
