#!/usr/bin/env bash
# The whole print path in one run: a private scheduler with both filters, a private SNMP agent
# playing the printer's management side, a listener playing its raw port. zorvquery shows what
# the printer answers; one job is printed; the script shows what the printer received, which
# defaults the printer's answers put into the PPD copy and into the queue itself (its PPD asks
# for that with *zorvUpdateQueue). Then a private Printer Application serves the same printer:
# it is added, its accessories are learned from the agent, and a two-sided job reaches the
# printer after the same colour-profile block. Last, it removes everything it started. Runs inside scripts/sandbox.sh, so
# /tmp, /var/tmp, /opt and the loopback addresses it uses are private.
# Needs a build first: scripts/install-deps.sh && scripts/build.sh
# Usage: scripts/demo.sh   (the worked example; scripts/try-ppd.sh does the same for a PPD of
# one's own)
set -euo pipefail
source "$(dirname "$0")/help.sh" && zorv_help "$0" "$@"
source "$(dirname "$0")/../scripts/private-cups.sh"
zorv_own_sandbox "$0" "$@"
zorv_build demo

printer=127.0.0.31
queue=zorvdemo
base=$(mktemp -d /tmp/zorv-demo-XXXXXX)
trap 'zorv_stop_all; rm -rf "$base" /var/tmp/autoconf /opt/Orvane' EXIT

echo "== Starting a private scheduler, an SNMP agent on $printer and a printer on $printer:9100"
# On loopback TCP (the sandbox has a network of its own, so the port is free): lpoptions finds
# the queue's PPD there, which it does not through a socket of a private scheduler.
zorv_cupsd_start "$base" "$build" 127.0.0.1:631
zorv_snmpd_start "$base" "$printer" docs/examples/worked-example-agent.conf
zorv_capture_start "$build" "$printer" "$base/printer"
# The worked example, and the queue follows the printer's answers.
ppd=$base/zorvdemo.ppd
{ cat docs/examples/worked-example.ppd; echo "*zorvUpdateQueue: True"; } >"$ppd"
lpadmin -p "$queue" -E -v "socket://$printer:9100" -P "$ppd" 2>&1 |
  grep -v "drivers are deprecated" >&2 || true
echo "   queue $queue: PPD docs/examples/worked-example.ppd with *zorvUpdateQueue: True,"
echo "   device socket://$printer:9100"

# The queue's installable options as lpoptions shows them (the default starred).
installable() { zorv_installable "$queue" "$ppd"; }
echo
echo "== What the printer answers: zorvquery socket://$printer:9100 docs/examples/worked-example.ppd"
"$build/zorvquery" "socket://$printer:9100" docs/examples/worked-example.ppd | sed 's/^/   /'
echo
echo "== The queue's installable options before the job"
installable

# The queue's colour profile, found by the queue name in the first vendor directory.
install -d -m 0755 /opt/Orvane/mfp/ucs
printf 'demo colour profile, entry %04d\n' $(seq 1 150) >"/opt/Orvane/mfp/ucs/$queue.ucs"
chmod 0644 "/opt/Orvane/mfp/ucs/$queue.ucs"

job=$base/job.txt
{
  echo "Hello from the zorv print path."
  for i in $(seq 1 200); do echo "line $i of the demonstration job"; done
} >"$job"
echo
echo "== Printing a job of $(stat -c %s "$job") bytes (filters: zorvautoconf, zorvpreload)"
request=$(lp -d "$queue" -o document-format=application/vnd.zorv-job -t demo "$job")
echo "   $request"
id=$(sed -n 's/^request id is \([^ ]*\).*/\1/p' <<<"$request")
zorv_wait_job "$id" || { echo "demo: the job did not finish" >&2; exit 1; }
zorv_wait 100 test -s "$base/printer/jobs" || { echo "demo: the printer got nothing" >&2; exit 1; }
lpstat -W completed -o "$queue" | sed 's/^/   completed: /'

got=$base/printer/job-1.bin
total=$(stat -c %s "$got")
# The block's length field (offset 56, big-endian) counts the payload and the checksum.
payload=$(od -A n -t u1 -j 56 -N 4 "$got" | awk '{print $1 * 16777216 + $2 * 65536 + $3 * 256 + $4}')
block=$((48 + 24 + payload))
echo
echo "== The printer received $total bytes"
echo "   colour-profile block: $block bytes: PJL header 48, \$IMG header 24, then $payload bytes of"
echo "     \$CMS tag, profile /opt/Orvane/mfp/ucs/$queue.ucs ($(stat -c %s "/opt/Orvane/mfp/ucs/$queue.ucs") bytes) padded to 4096-byte pages, checksum"
echo "   job: $((total - block)) bytes"
echo "   block header (PJL, \$IMG, \$CMS):"
od -A x -t x1z -N 80 "$got" | sed 's/^/     /'
if tail -c +$((block + 1)) "$got" | cmp -s - "$job"; then
  echo "   the job follows the block byte for byte"
else
  echo "   the job bytes differ from the submitted file" >&2
  exit 1
fi

echo
echo "== The printer's answers (SNMP) and the rewritten PPD /var/tmp/autoconf/$queue.ppd"
grep -E '^override' docs/examples/worked-example-agent.conf | sed 's/^override /   agent: /'
if [ ! -f "/var/tmp/autoconf/$queue.ppd" ]; then
  echo "   no rewritten PPD was written" >&2
  exit 1
fi
changed=$(diff -u "$ppd" "/var/tmp/autoconf/$queue.ppd" || true)
if ! grep -E '^[-+]\*' <<<"$changed" | sed 's/^/   /'; then
  echo "   no line changed: the agent's answers were not applied" >&2
  exit 1
fi
# What the filter reported to the scheduler about the options it could not ask about.
grep -E '^W .*\[Job [0-9]+\] option' "$base/cups/log/error_log" |
  sed -e 's/^.*\] /   scheduler log: WARNING: /' -e "s/\\\\'/'/g" || true
echo
echo "== The queue's installable options after the job (the scheduler applied the printer's answers)"
installable

# The same printer through the Printer Application: a private server (its socket, state, spool
# and log in $base/app; the sandbox's loopback has port 8640 free), the sample PPD as its
# driver, the printer added on the same stand-in and SNMP agent.
app_dir=$base/app
install -d -m 0755 "$app_dir" "$app_dir/ppd"
cp samples/zorv-sample.ppd "$app_dir/ppd/"
app() { SNAP_COMMON=$app_dir TMPDIR=$app_dir "$build/zorv-printer-app" "$@"; }
echo
echo "== The Printer Application: zorv-printer-app server, the sample PPD as driver zorv-sample"
# Started as itself, not through app(): $! is then the server's own pid, which the end stops.
SNAP_COMMON=$app_dir TMPDIR=$app_dir "$build/zorv-printer-app" server \
  -o ppd-directories="$app_dir/ppd" -o state-file="$app_dir/state" \
  -o spool-directory="$app_dir/spool" -o log-file="$app_dir/log" >"$app_dir/output" 2>&1 &
zorv_pids+=($!)
# A sub-command that finds no server starts one of its own: none runs before the socket is there.
zorv_wait 300 test -S "$app_dir/zorv-printer-app.sock" ||
  { echo "demo: the Printer Application did not start; see $app_dir" >&2; exit 1; }
app drivers -o ppd-directories="$app_dir/ppd" | sed 's/^/   drivers: /'
app add -d "$queue" -m zorv-sample -v "socket://$printer:9100"
echo "   zorv-printer-app add -d $queue -m zorv-sample -v socket://$printer:9100"
echo
echo "== The accessories it learned from the agent: zorv-printer-app query -d $queue"
app query -d "$queue" | sed 's/^/   /'
app options -d "$queue" | grep -E '^  -o sides=|^Installed accessories' | sed 's/^/   /'

ps_job=$base/job.ps
printf '%%!PS-Adobe-3.0\n%%%%Pages: 1\n%%%%EndComments\n%%%%BeginSetup\n%%%%EndSetup\n%%%%Page: 1 1\n/Helvetica findfont 24 scalefont setfont 72 720 moveto (Hello from the Printer Application) show\nshowpage\n%%%%EOF\n' >"$ps_job"
echo
echo "== A two-sided job: zorv-printer-app submit -d $queue -o sides=two-sided-long-edge job.ps"
app submit -d "$queue" -o sides=two-sided-long-edge "$ps_job" | sed 's/^/   job id /'
zorv_wait 600 grep -q '^2 ' "$base/printer/jobs" ||
  { echo "demo: the printer got nothing from the Printer Application" >&2; exit 1; }
got=$base/printer/job-2.bin
payload=$(od -A n -t u1 -j 56 -N 4 "$got" | awk '{print $1 * 16777216 + $2 * 65536 + $3 * 256 + $4}')
echo "   the printer received $(stat -c %s "$got") bytes: the colour-profile block of $((48 + 24 + payload)) bytes"
echo "   (profile /opt/Orvane/mfp/ucs/$queue.ucs, as zorvpreload sends it), then the PostScript job"
if ! cmp -s <(head -c $((48 + 24 + payload)) "$got") <(head -c $((48 + 24 + payload)) "$base/printer/job-1.bin"); then
  echo "   the block differs from the filter's" >&2
  exit 1
fi
echo "   the block is byte for byte the one the filters sent; the job's setup has the PPD's code:"
tail -c +$((48 + 24 + payload + 1)) "$got" | grep -a -E 'setpagedevice|^%%Page:' | sed 's/^/     /'
echo
echo "== Done; stopping the Printer Application, the scheduler, the agent and the printer"
zorv_stop_all
# Everything was stopped by its own pid: a server left behind would outlive the sandbox.
if pgrep -f -- "$app_dir/" >/dev/null; then
  echo "demo: the Printer Application outlived its stop" >&2
  exit 1
fi
