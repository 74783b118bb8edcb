#!/usr/bin/env bash
# The whole print path in one run: a private scheduler with both filters, a private SNMP agent
# playing the printer's management side, a listener playing its raw port. zorvquery shows what
# the printer answers; one job is printed; the script shows what the printer received, which
# defaults the printer's answers put into the PPD copy and into the queue itself (its PPD asks
# for that with *zorvUpdateQueue), then removes everything it started. Runs inside scripts/sandbox.sh, so
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
echo
echo "== Done; stopping the scheduler, the agent and the printer"
