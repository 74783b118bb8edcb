#!/usr/bin/env bash
# Tries a PPD of one's own on the demonstration's private print path: a private scheduler with
# both filters, an SNMP agent playing the printer's management side on 127.0.0.31, and a
# listener playing its raw port (socket://127.0.0.31:9100). Shows what `zorvquery --check` says
# of the PPD and what the printer answers (zorvquery), prints one job through a queue of the
# PPD, then shows the *Default lines of the rewritten PPD that changed, what the filter told the
# scheduler (its warnings and PPD: lines, from the scheduler's log at LogLevel debug) and the
# queue's installable options before and after the job.
# Usage: scripts/try-ppd.sh PPD-FILE [AGENT-CONF]
#   PPD-FILE    the PPD (or .ppd.gz); its *cupsPreFilter line for zorvautoconf gives the job's
#               type. The queue's copy gets *zorvUpdateQueue: True when the PPD does not say
#               True, so that the queue's defaults follow the answers.
#   AGENT-CONF  snmpd.conf lines that give the printer's answers, such as
#               "override .1.3.6.1.4.1.64991.1.2.0 integer 1" (default: the worked example's,
#               docs/examples/worked-example-agent.conf). The agent's community is mirelo, the
#               default for a manufacturer without a settings file.
# Runs in private namespaces (scripts/sandbox.sh) and removes everything it started and wrote;
# the machine's own scheduler and files are not touched. Needs a build (scripts/build.sh).
set -euo pipefail
source "$(dirname "$0")/help.sh" && zorv_help "$0" "$@"
source "$(dirname "$0")/../scripts/private-cups.sh"
if [ "${ZORV_OWN_SANDBOX:-}" != "$(realpath "$0")" ]; then
  if [ $# -lt 1 ] || [ $# -gt 2 ]; then
    echo "Usage: scripts/try-ppd.sh PPD-FILE [AGENT-CONF]   (--help for more)" >&2
    exit 2
  fi
  for file in "$@"; do
    if [ ! -f "$file" ] || [ ! -r "$file" ]; then
      echo "try-ppd: $file: no such readable file" >&2
      exit 2
    fi
  done
  # The files go into the sandbox open, as descriptors 3 and 4: a file under /tmp, /var/tmp or
  # /opt is out of its sight by name.
  exec 3<"$1"
  export ZORV_TRY_PPD=$1 ZORV_TRY_AGENT=
  if [ $# -eq 2 ]; then
    exec 4<"$2"
    ZORV_TRY_AGENT=$2
  fi
fi
zorv_own_sandbox "$0" "$@"
zorv_build try-ppd

ppd_in=/dev/fd/3
shown=$ZORV_TRY_PPD
agent_conf=/dev/fd/4
agent_shown=$ZORV_TRY_AGENT
if [ -z "$agent_shown" ]; then
  agent_conf=docs/examples/worked-example-agent.conf
  agent_shown=$agent_conf
fi
printer=127.0.0.31
uri=socket://$printer:9100
queue=tryppd
base=$(mktemp -d /tmp/zorv-try-ppd-XXXXXX)
trap 'zorv_stop_all; rm -rf "$base" /var/tmp/autoconf' EXIT

echo "== zorvquery --check $shown"
"$build/zorvquery" --check "$ppd_in" | sed 's/^/   /' || true

# The job's type: the one the PPD's pre-filter line for zorvautoconf takes.
type=$(zcat -f "$ppd_in" | sed -n 's/^\*cupsPreFilter:[[:space:]]*"\([^[:space:]]*\)[[:space:]][^"]*zorvautoconf.*/\1/p' | head -n 1)
if [ -z "$type" ]; then
  echo "try-ppd: the PPD has no *cupsPreFilter line for zorvautoconf, so no job runs it" >&2
  exit 1
fi

echo
echo "== A private scheduler, an SNMP agent on $printer ($agent_shown) and a printer on $printer:9100"
ZORV_CUPSD_TYPES=$type zorv_cupsd_start "$base" "$build" 127.0.0.1:631
zorv_snmpd_start "$base" "$printer" "$agent_conf"
zorv_capture_start "$build" "$printer" "$base/printer"
ppd=$base/$queue.ppd
zcat -f "$ppd_in" >"$ppd"
if ! grep -Eq '^\*zorvUpdateQueue:[[:space:]]*"?True' "$ppd"; then
  echo "*zorvUpdateQueue: True" >>"$ppd"
  echo "   the queue's copy of the PPD gets *zorvUpdateQueue: True"
fi
lpadmin -p "$queue" -E -v "$uri" -P "$ppd" 2>&1 | grep -v "drivers are deprecated" >&2 || true
echo "   queue $queue, device $uri, jobs of type $type"

echo
echo "== What the printer answers: zorvquery $uri $shown"
"$build/zorvquery" "$uri" "$ppd_in" | sed 's/^/   /' || true
echo
echo "== The queue's installable options before the job"
zorv_installable "$queue" "$ppd"

job=$base/job.ps
printf '%%!PS-Adobe-3.0\n%%%%Title: try-ppd\nshowpage\n' >"$job"
echo
echo "== One job"
request=$(lp -d "$queue" -o document-format="$type" -t try-ppd "$job")
echo "   $request"
id=$(sed -n 's/^request id is \([^ ]*\).*/\1/p' <<<"$request")
zorv_wait_job "$id" || { echo "try-ppd: the job did not finish" >&2; exit 1; }
lpstat -W completed -o "$queue" | sed 's/^/   completed: /'

echo
echo "== The *Default lines that the printer's answers changed in /var/tmp/autoconf/$queue.ppd"
if [ -f "/var/tmp/autoconf/$queue.ppd" ]; then
  changed=$(diff "$ppd" "/var/tmp/autoconf/$queue.ppd" |
    sed -n -e 's/^< \(\*Default\)/   - \1/p' -e 's/^> \(\*Default\)/   + \1/p' || true)
  echo "${changed:-   none}"
else
  echo "   no rewritten PPD: zorvautoconf did not run (see zorvquery --check above)"
fi
echo
echo "== What the filter told the scheduler (its log, LogLevel debug)"
zorv_filter_log "$base"
echo
echo "== The queue's installable options after the job"
zorv_installable "$queue" "$ppd"
