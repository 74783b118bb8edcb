#!/usr/bin/env bash
# Benchmark of the Printer Application: the time from the start of a 50 MiB PostScript job
# until the printer stand-in has its last byte, four ways in alternating rounds:
#   direct   the same bytes sent straight to the stand-in (bash's /dev/tcp)
#   app      Print-Job by ipptool to a printer of zorv-printer-app (colour-profile block and
#            option code added, spooled by PAPPL, sent by its socket device)
#   minimal  the same Print-Job to a minimal PAPPL printer (tools/pappl_minimal.cpp: spooled by
#            PAPPL, copied to the same stand-in): the framework's own floor
#   filters  lp to a private scheduler's queue that runs zorvautoconf and zorvpreload
#            (the worked example's PPD and agent, as bench/print_path.sh)
# and a PDF job (200 pages of text and lines) two ways: to the application (pdftops as its
# confined converter) and by lp to a queue of the sample PPD on the same scheduler (its
# pdftopdf and pdftops filters, renderer pdftops, then the zorv filters).
# Prints the medians and the ratios app/minimal (goal: at most 1.1), app/filters (goal: at
# most 1.0), PDF app/filters (goal: at most 1.0) and app/direct (for reference: PAPPL spools
# every document first, which a direct send does not), and the server's peak memory during a
# job above its idle size (goal: at most 16 MiB), from /proc (VmHWM, reset before each job
# through clear_refs).
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
minimal_port=8642

base=$(mktemp -d /tmp/zorv-bench-app-XXXXXX)
app_pid=
minimal_pid=
stop_app() {
  local pid
  for pid in $app_pid $minimal_pid; do kill "$pid" 2>/dev/null || true; wait "$pid" 2>/dev/null || true; done
}
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

# The minimal PAPPL printer, a server of its own with its own socket directory.
mkdir -p "$base/minimal"
SNAP_COMMON=$base/minimal "$build/tests/pappl_minimal" server -o server-port=$minimal_port \
  -o log-file="$base/minimal/log" -o spool-directory="$base/minimal/spool" \
  -o state-file="$base/minimal/state" &
minimal_pid=$!
minimal_socket() { ss -Hlx | grep -q " $base/minimal/pappl_minimal.sock "; }
zorv_wait 200 minimal_socket || { echo "pappl_minimal did not start" >&2; exit 1; }
SNAP_COMMON=$base/minimal "$build/tests/pappl_minimal" add -d minimal -m minimal -v "socket://$printer:9100"
minimal_uri=ipp://127.0.0.1:$minimal_port/ipp/print/minimal

# The filters' queue on a private scheduler and agent; PDF goes through its pdftops filter with
# poppler's pdftops, as the application's converter.
ZORV_CUPSD_SYSTEM_FILTERS=1 zorv_cupsd_start "$base" "$build"
zorv_snmpd_start "$base" "$printer" docs/examples/worked-example-agent.conf
lpadmin -p zorvbench -E -v "socket://$printer:9100" -P docs/examples/worked-example.ppd 2>/dev/null
# A queue of the sample PPD, whose filters take the scheduler's PostScript, for PDF.
lpadmin -p zorvpdf -E -v "socket://$printer:9100" -P samples/zorv-sample.ppd \
  -o pdftops-renderer-default=pdftops 2>/dev/null

job=$base/job.ps
{
  printf '%%!PS-Adobe-3.0\n%%%%Pages: 1\n%%%%EndComments\n%%%%Page: 1 1\n%%'
  head -c $((size_mib * 1024 * 1024)) /dev/urandom
  printf '\nshowpage\n%%%%EOF\n'
} >"$job"
job_size=$(stat -c %s "$job")
pdf=$base/job.pdf
{
  printf '%%!PS\n/Helvetica findfont 11 scalefont setfont\n1 1 200 {\n'
  printf '  /n exch def 40 { 50 rand 700 mod 60 add moveto (zorv vector text, page and line) show } repeat\n'
  printf '  30 { rand 500 mod 40 add rand 700 mod 60 add moveto rand 500 mod 40 add rand 700 mod 60 add lineto stroke } repeat\n'
  printf '  showpage } for\n'
} | gs -q -dSAFER -dBATCH -dNOPAUSE -sDEVICE=pdfwrite -sOutputFile="$pdf" -
cat >"$base/print.test" <<'EOF'
{ OPERATION Print-Job
  GROUP operation-attributes-tag
  ATTR charset attributes-charset utf-8
  ATTR naturalLanguage attributes-natural-language en
  ATTR uri printer-uri $uri
  ATTR name requesting-user-name bench
  ATTR mimeMediaType document-format $format
  FILE $filename
  STATUS successful-ok }
EOF

received=0
elapsed=0
arrived() { [ "$(wc -l <"$lines")" -ge "$received" ]; }
# finish START [BYTES]: waits for the job at the printer, which must have at least BYTES.
finish() {
  local start=$1 end length
  received=$((received + 1))
  zorv_wait 6000 arrived || { echo "no job at the printer" >&2; exit 1; }
  end=$(awk -v n="$received" '$1 == n {print $3}' "$lines")
  length=$(awk -v n="$received" '$1 == n {print $2}' "$lines")
  if [ "$length" -lt "${2:-1}" ]; then echo "job $received: $length bytes at the printer" >&2; exit 1; fi
  elapsed=$(((end - start) / 1000000))
}
send_direct() {
  local start
  start=$(now_ns)
  cat "$job" >"/dev/tcp/$printer/9100"
  finish "$start" "$job_size"
}
peak_kib=0
idle_kib=0
send_app() {
  local start
  idle_kib=$(awk '/^VmRSS/ {print $2}' "/proc/$app_pid/status")
  echo 5 >"/proc/$app_pid/clear_refs"
  start=$(now_ns)
  ipptool -f "$job" -d format=application/postscript "$uri" "$base/print.test" >/dev/null
  finish "$start" "$job_size"
  peak_kib=$(awk '/^VmHWM/ {print $2}' "/proc/$app_pid/status")
}
send_minimal() {
  local start
  start=$(now_ns)
  ipptool -f "$job" -d format=application/postscript "$minimal_uri" "$base/print.test" >/dev/null
  finish "$start" "$job_size"
}
send_filters() {
  local start
  start=$(now_ns)
  lp -d zorvbench -o document-format=application/vnd.zorv-job "$job" >/dev/null
  finish "$start" "$job_size"
}
send_app_pdf() {
  local start
  start=$(now_ns)
  ipptool -f "$pdf" -d format=application/pdf "$uri" "$base/print.test" >/dev/null
  finish "$start"
}
send_filters_pdf() {
  local start
  start=$(now_ns)
  lp -d zorvpdf "$pdf" >/dev/null
  finish "$start"
}

send_direct  # warm-up: caches, first connections
send_app
send_minimal
send_filters
send_app_pdf
send_filters_pdf
direct=() app=() minimal=() filters=() app_pdf=() filters_pdf=() growth=()
for ((r = 1; r <= rounds; r++)); do
  send_direct
  direct+=("$elapsed")
  send_app
  app+=("$elapsed")
  growth+=($((peak_kib - idle_kib)))
  send_minimal
  minimal+=("$elapsed")
  send_filters
  filters+=("$elapsed")
  send_app_pdf
  app_pdf+=("$elapsed")
  send_filters_pdf
  filters_pdf+=("$elapsed")
  echo "round $r: direct ${direct[-1]} ms, app ${app[-1]} ms (server $idle_kib KiB idle, +${growth[-1]} KiB at its peak), minimal ${minimal[-1]} ms, filters ${filters[-1]} ms; PDF: app ${app_pdf[-1]} ms, filters ${filters_pdf[-1]} ms"
done
d=$(printf '%s\n' "${direct[@]}" | median)
a=$(printf '%s\n' "${app[@]}" | median)
m=$(printf '%s\n' "${minimal[@]}" | median)
f=$(printf '%s\n' "${filters[@]}" | median)
ap=$(printf '%s\n' "${app_pdf[@]}" | median)
fp=$(printf '%s\n' "${filters_pdf[@]}" | median)
g=$(printf '%s\n' "${growth[@]}" | sort -n | tail -1)
echo "Printer Application, ${size_mib} MiB PostScript job, start to last byte at the printer ($rounds rounds):"
echo "  direct:  median $d ms"
echo "  app:     median $a ms"
echo "  minimal: median $m ms"
echo "  filters: median $f ms"
echo "PDF job of $(stat -c %s "$pdf") bytes, 200 pages:"
echo "  app:     median $ap ms"
echo "  filters: median $fp ms"
awk -v a="$a" -v d="$d" -v m="$m" -v f="$f" -v ap="$ap" -v fp="$fp" -v g="$g" 'BEGIN {
  printf "  ratio app/minimal %.2f (goal <= 1.1), app/filters %.2f (goal <= 1.0), app/direct %.2f\n", a / m, a / f, a / d
  printf "  ratio PDF app/filters %.2f (goal <= 1.0)\n", ap / fp
  printf "  server memory during a job: at most %.1f MiB above idle (goal <= 16)\n", g / 1024 }'
