#!/usr/bin/env bash
# Measures the network path of zorvautoconf against a private snmpd and cupsd, and prints:
#   the filter's whole run for a queue with 10 installable options, each answered by the agent,
#   as a ratio against 10 runs of `snmpget -v1` for the same OIDs, the median of the ratios of
#   rounds that run both in turn (goal: at most 0.3);
#   the whole run per job against an agent that never answers, 10 queried options (goal: at
#   most 3.2 s: all GETs wait together, one time-out per job);
#   the whole run per job against an agent that answers each GET after 0.5 s, 10 queried
#   options (goal: at most 0.8 s);
#   the filter's whole run with SNMPv3 authPriv (SHA-256, AES-128) to the same agent, 10
#   answered options, as a ratio against the SNMPv1 run of the same round (goal: at most 1.5),
#   and the whole run per job with SNMPv3 against an agent that never answers (goal: at most
#   3.2 s: the engine's discovery and the GETs share the one time-out);
#   the printer's state (zorvquery --state) of a printer with 4 trays and 6 supplies, as a ratio
#   against snmpwalk -v1 of the same six tables, the median of rounds (goal: at most 0.5), and
#   the same walk over SNMPv3 authPriv against the SNMPv1 one (goal: at most 1.5);
#   Get-Printer-Attributes of zorv-printer-app while it walks a silent printer's state, the
#   slowest of 20 (goal: at most 100 ms).
# It binds UDP port 161 on loopback addresses, so it runs itself inside scripts/sandbox.sh.
# Usage: bench/snmp.sh [path of zorvautoconf, default build/zorvautoconf]
set -euo pipefail
source "$(dirname "$0")/../scripts/help.sh" && zorv_help "$0" "$@"
cd "$(dirname "$0")/.."
if [ "${ZORV_IN_SANDBOX:-}" != 1 ]; then exec scripts/sandbox.sh "$0" "$@"; fi

program=$(realpath "${1:-build/zorvautoconf}")
[ -x "$program" ] || { echo "no program at $program (build first)" >&2; exit 1; }
data=$(realpath tests/data/snmp)
agent=127.0.0.30
silent_agent=127.0.0.31  # nothing listens there
slow_agent=127.0.0.32    # answers every GET after 0.5 s
base=.1.3.6.1.4.1.64999
rounds=${ROUNDS:-15}

source scripts/private-cups.sh
source bench/lib.sh

work=$(mktemp -d /tmp/zorvbench-XXXXXX)
trap 'zorv_stop_all; rm -rf "$work"' EXIT

# Prints the wall time of "$@" in nanoseconds.
time_ns() {
  local start
  start=$(now_ns)
  "$@"
  echo $(($(now_ns) - start))
}

# Prints the median of its arguments.
median() { printf '%s\n' "$@" | sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

# The private agent (scripts/private-cups.sh, community mirelo): the test values, and pass.sh
# for the types the values cannot carry.
echo "pass $base.2 /bin/sh $data/pass.sh" >"$work/pass.conf"
# A printer's state: 4 trays and 6 supplies, the printer's status and detected errors.
{
  echo "override .1.3.6.1.2.1.25.3.5.1.1.1 integer 3"
  echo "override .1.3.6.1.2.1.25.3.5.1.2.1 octet_str 0x0000"
  for t in 1 2 3 4; do
    echo "override .1.3.6.1.2.1.43.8.2.1.2.1.$t integer 3"
    echo "override .1.3.6.1.2.1.43.8.2.1.9.1.$t integer 550"
    echo "override .1.3.6.1.2.1.43.8.2.1.10.1.$t integer $((100 * t))"
    echo "override .1.3.6.1.2.1.43.8.2.1.13.1.$t octet_str \"Tray $t\""
  done
  s=0
  for colour in Cyan Magenta Yellow Black Waste Drum; do
    s=$((s + 1))
    echo "override .1.3.6.1.2.1.43.11.1.1.4.1.$s integer 3"
    echo "override .1.3.6.1.2.1.43.11.1.1.5.1.$s integer 3"
    echo "override .1.3.6.1.2.1.43.11.1.1.6.1.$s octet_str \"$colour Toner\""
    echo "override .1.3.6.1.2.1.43.11.1.1.8.1.$s integer 100"
    echo "override .1.3.6.1.2.1.43.11.1.1.9.1.$s integer $((15 * s))"
  done
} >"$work/state.conf"
state_tables=(.1.3.6.1.2.1.43.8.2.1 .1.3.6.1.2.1.43.9.2.1 .1.3.6.1.2.1.43.11.1.1
  .1.3.6.1.2.1.43.18.1.1 .1.3.6.1.2.1.43.12.1.1 .1.3.6.1.2.1.25.3.5.1)

zorv_snmpd_start --user "alice priv SHA-256 alice-auth-pass AES alice-priv-pass" \
  "$work" "$agent" "$data/values.conf" "$work/pass.conf" "$work/state.conf"

# The SNMPv3 settings of the manufacturer Kestrel, as the guide says to keep them.
mkdir -p /opt/Kestrel/mfp/share
cat >/opt/Kestrel/mfp/share/OEM.ini <<EOS
SNMP_VERSION=3
SNMP_V3_USER=alice
SNMP_V3_LEVEL=authPriv
SNMP_V3_AUTH_PROTOCOL=SHA-256
SNMP_V3_AUTH_PASSPHRASE=alice-auth-pass
SNMP_V3_PRIV_PROTOCOL=AES-128
SNMP_V3_PRIV_PASSPHRASE=alice-priv-pass
EOS
chown root:lp /opt/Kestrel/mfp/share/OEM.ini
chmod 0640 /opt/Kestrel/mfp/share/OEM.ini

# The private scheduler on a socket of its own, as the system's is; its filter directory gets
# the filters built next to the program.
zorv_cupsd_start "$work" "$(dirname "$program")"
"$(dirname "$program")/tests/zorv_agent" "$slow_agent" slow 500 &
zorv_pids+=($!)

# A PPD of 10 installable options; the first $1 of them carry a query attribute, each for one
# of the agent's INTEGER, OCTET STRING, ... values. $2: the manufacturer (default Acme, which
# has no settings file: SNMPv1 with the default community).
make_ppd() {
  local queried=$1 manufacturer=${2:-Acme} k
  printf '*PPD-Adobe: "4.3"\n*FormatVersion: "4.3"\n*FileVersion: "1.0"\n'
  printf '*LanguageVersion: English\n*LanguageEncoding: ISOLatin1\n*PCFileName: "BENCH.PPD"\n'
  printf '*Manufacturer: "%s"\n*Product: "(Bench)"\n*ModelName: "Bench"\n' "$manufacturer"
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
lpadmin -p bench10 -E -v "socket://$agent:9100" -P "$work/all.ppd" 2>/dev/null
make_ppd 10 Kestrel >"$work/v3.ppd"
lpadmin -p bench10v3 -E -v "socket://$agent:9100" -P "$work/v3.ppd" 2>/dev/null

run_filter() {
  local queue=$1 uri=$2
  (DEVICE_URI=$uri exec -a "$queue" "$program" 1 bench title 1 "" </dev/null >/dev/null 2>"$work/err")
}
filter_answered() { run_filter bench10 "socket://$agent:9100"; }
filter_v3() { run_filter bench10v3 "socket://$agent:9100"; }
# The same run without the network path: what the PPD fetches, parse and rewrite cost alone.
filter_offline() { run_filter bench10 "file:/dev/null"; }
snmpget_ten() {
  local k
  for k in $(seq 10); do snmpget -v1 -c mirelo -t 3 -r 0 "$agent" "$base.1.$k.0" >/dev/null; done
}

for queue in bench10 bench10v3; do
  run_filter "$queue" "socket://$agent:9100"
  marked=$(grep -c '^\*DefaultOpt[0-9]*: True$' "/var/tmp/autoconf/$queue.ppd" || true)
  # The agent answers SNMPv1 too: settings that are not used would measure SNMPv1 twice.
  if [ "$marked" != 10 ] || grep -q "SNMPv3 settings not used" "$work/err"; then
    echo "bench: the filter marked $marked of 10 options of $queue; its messages:" >&2
    cat "$work/err" >&2
    exit 1
  fi
done

query=$(dirname "$program")/zorvquery
state_v1() { "$query" --state "socket://$agent:9100" "$work/all.ppd" >"$work/state.out"; }
state_v3() { "$query" --state "socket://$agent:9100" "$work/v3.ppd" >"$work/state-v3.out"; }
snmpwalk_tables() {
  local table
  for table in "${state_tables[@]}"; do snmpwalk -v1 -c mirelo -t 3 -r 0 "$agent" "$table" >/dev/null; done
}
state_v1
state_v3
for out in state.out state-v3.out; do
  trays=$(grep -c '^tray ' "$work/$out" || true) supplies=$(grep -c '^supply ' "$work/$out" || true)
  if [ "$trays" != 4 ] || [ "$supplies" != 6 ] || ! grep -q "^# socket.*SNMPv3" "$work/state-v3.out"; then
    echo "bench: the state walk ($out) gave $trays trays and $supplies supplies:" >&2
    cat "$work/$out" >&2
    exit 1
  fi
done

# Rounds that run the filter and the ten snmpget in turn, so that both see the same load.
ratios=() filters=() snmpgets=() offlines=() v3s=() v3_ratios=()
states=() walks=() state_ratios=() state_v3s=() state_v3_ratios=()
for _ in $(seq "$rounds"); do
  f=$(time_ns filter_answered)
  g=$(time_ns snmpget_ten)
  o=$(time_ns filter_offline)
  v=$(time_ns filter_v3)
  filters+=("$f") snmpgets+=("$g") offlines+=("$o") v3s+=("$v")
  ratios+=("$(awk -v f="$f" -v g="$g" 'BEGIN { printf "%.4f", f / g }')")
  v3_ratios+=("$(awk -v f="$f" -v v="$v" 'BEGIN { printf "%.4f", v / f }')")
  st=$(time_ns state_v1)
  sw=$(time_ns snmpwalk_tables)
  s3=$(time_ns state_v3)
  states+=("$st") walks+=("$sw") state_v3s+=("$s3")
  state_ratios+=("$(awk -v a="$st" -v b="$sw" 'BEGIN { printf "%.4f", a / b }')")
  state_v3_ratios+=("$(awk -v a="$st" -v b="$s3" 'BEGIN { printf "%.4f", b / a }')")
done

# Get-Printer-Attributes of the Printer Application while it walks a silent printer's state:
# the printer is added (its options' query waits out its 3 s, then its state's walk its 5 s),
# and is asked 20 times during the walk.
port=8642
export SNAP_COMMON=$work/app
mkdir -p "$work/app" "$work/ppds"
cp "$work/all.ppd" "$work/ppds/bench.ppd"
printf '*OpenUI *PageSize: PickOne\n*DefaultPageSize: A4\n*PageSize A4: ""\n*CloseUI: *PageSize\n' \
  >>"$work/ppds/bench.ppd"
printf '*PaperDimension A4: "595 842"\n*ImageableArea A4: "12 12 583 830"\n' >>"$work/ppds/bench.ppd"
"$(dirname "$program")/zorv-printer-app" server -o server-port=$port -o log-file="$work/app/log" \
  -o spool-directory="$work/app/spool" -o state-file="$work/app/state" \
  -o ppd-directories="$work/ppds" &
zorv_pids+=($!)
app_socket() { ss -Hlx | grep -q " $SNAP_COMMON/zorv-printer-app/zorv-printer-app.sock "; }
zorv_wait 200 app_socket || { echo "zorv-printer-app did not start" >&2; exit 1; }
"$(dirname "$program")/zorv-printer-app" add -d silent -m bench -v "socket://$silent_agent:9100"
cat >"$work/gpa.test" <<'EOT'
{
  OPERATION Get-Printer-Attributes
  GROUP operation-attributes-tag
  ATTR charset attributes-charset utf-8
  ATTR naturalLanguage attributes-natural-language en
  ATTR uri printer-uri $uri
  ATTR keyword requested-attributes printer-state-reasons,marker-levels,printer-supply
  STATUS successful-ok
}
EOT
sleep 3.5
gpas=()
for _ in $(seq 20); do
  gpas+=("$(time_ns ipptool "ipp://127.0.0.1:$port/ipp/print/silent" "$work/gpa.test")")
  sleep 0.1
done
# The walk was still waiting: it had not ended when the last request was answered.
gpa_walking=$(grep -c "state at socket://$silent_agent:9100 was not read" "$work/app/log" || true)
silent_ns=$(time_ns run_filter bench10 "socket://$silent_agent:9100")
silent_v3_ns=$(time_ns run_filter bench10v3 "socket://$silent_agent:9100")
slow_ns=$(time_ns run_filter bench10 "socket://$slow_agent:9100")
slow_marked=$(grep -c '^\*DefaultOpt[0-9]*: True$' /var/tmp/autoconf/bench10.ppd || true)

awk -v f="$(median "${filters[@]}")" -v o="$(median "${offlines[@]}")" \
  -v s="$(median "${snmpgets[@]}")" -v r="$(median "${ratios[@]}")" \
  -v lo="$(printf '%s\n' "${ratios[@]}" | sort -g | head -1)" \
  -v hi="$(printf '%s\n' "${ratios[@]}" | sort -g | tail -1)" \
  -v v="$(median "${v3s[@]}")" -v vr="$(median "${v3_ratios[@]}")" \
  -v vlo="$(printf '%s\n' "${v3_ratios[@]}" | sort -g | head -1)" \
  -v vhi="$(printf '%s\n' "${v3_ratios[@]}" | sort -g | tail -1)" -v q3="$silent_v3_ns" \
  -v q="$silent_ns" -v w="$slow_ns" -v m="$slow_marked" -v n="$rounds" 'BEGIN {
  printf "medians of %d rounds:\n", n
  printf "filter, 10 answered options:   %8.1f ms\n", f / 1e6
  printf "filter, no network path:       %8.1f ms\n", o / 1e6
  printf "10 x snmpget -v1:              %8.1f ms\n", s / 1e6
  printf "ratio filter / snmpget:        %8.3f   (goal <= 0.3; rounds %.3f to %.3f)\n", r, lo, hi
  printf "silent agent, 10 queried, per job: %6.0f ms (goal <= 3200)\n", q / 1e6
  printf "slow agent (0.5 s), 10 queried, per job: %6.0f ms (goal <= 800), %d of 10 marked\n", w / 1e6, m
  printf "filter, SNMPv3 authPriv SHA-256/AES-128, 10 answered: %8.1f ms\n", v / 1e6
  printf "ratio SNMPv3 authPriv / SNMPv1:  %8.3f   (goal <= 1.5; rounds %.3f to %.3f)\n", vr, vlo, vhi
  printf "silent agent, SNMPv3, 10 queried, per job: %6.0f ms (goal <= 3200)\n", q3 / 1e6
}'
awk -v st="$(median "${states[@]}")" -v sw="$(median "${walks[@]}")" \
  -v r="$(median "${state_ratios[@]}")" -v s3="$(median "${state_v3s[@]}")" \
  -v r3="$(median "${state_v3_ratios[@]}")" \
  -v lo="$(printf '%s\n' "${state_ratios[@]}" | sort -g | head -1)" \
  -v hi="$(printf '%s\n' "${state_ratios[@]}" | sort -g | tail -1)" \
  -v lo3="$(printf '%s\n' "${state_v3_ratios[@]}" | sort -g | head -1)" \
  -v hi3="$(printf '%s\n' "${state_v3_ratios[@]}" | sort -g | tail -1)" \
  -v g="$(printf '%s\n' "${gpas[@]}" | sort -g | tail -1)" \
  -v gm="$(median "${gpas[@]}")" -v ended="$gpa_walking" 'BEGIN {
  printf "state walk, 4 trays and 6 supplies (zorvquery --state): %8.1f ms\n", st / 1e6
  printf "snmpwalk -v1 of the same six tables:                    %8.1f ms\n", sw / 1e6
  printf "ratio state walk / snmpwalk: %.3f   (goal <= 0.5; rounds %.3f to %.3f)\n", r, lo, hi
  printf "state walk over SNMPv3 authPriv:                        %8.1f ms\n", s3 / 1e6
  printf "ratio SNMPv3 authPriv / SNMPv1 state walk: %.3f   (goal <= 1.5; rounds %.3f to %.3f)\n", r3, lo3, hi3
  printf "Get-Printer-Attributes during a silent printer'"'"'s walk: slowest %.0f ms, median %.0f ms of 20 (goal <= 100; ipptool'"'"'s start included)%s\n", g / 1e6, gm / 1e6, (ended > 0 ? " (the walk had ended before the last)" : "")
}'
