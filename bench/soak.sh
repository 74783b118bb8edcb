#!/usr/bin/env bash
# Soak run of the whole print path: JOBS jobs (default 1000), one after another, through a
# private scheduler to four queues whose PPD runs both filters. Three queues' printers have
# an SNMP agent that answers; the fourth's is silent (nothing listens there), and it takes
# every 20th job, because each of its jobs waits out the SNMP time-out (about 3 s: all of a
# job's queries are in flight together). Sizes are random from 0 bytes to 8 MiB (the first
# jobs take the edge sizes); every 10th job (on the queue whose printer reads slowly) and
# every other job of the silent queue are cancelled part-way.
# After every job it checks that
#   - a printed job arrived at its printer byte for byte: the queue's colour-profile block
#     (made once per queue by running zorvpreload directly), then the job; a cancelled job
#     left nothing or a prefix of that; an empty job was refused by the scheduler;
#   - no filter or backend process of the job is left (children of the scheduler, or any
#     process running the filters' binaries);
#   - the scheduler's TMPDIR is empty and /var/tmp/autoconf holds only <queue>.ppd files;
#   - no filter exited non-zero on a job that was not cancelled;
# and at the end that each queue's rewritten PPD has its own agent's answers, and that the
# filters' peak resident memory is flat: the last W jobs against the first W
# (W = 100, or half the jobs when there are fewer than 200).
# The peak is measured by GNU time around each filter run: the scheduler starts the filters
# from its ServerBin, so the private ServerBin holds a wrapper script that execs
# /usr/bin/time on the real filter. The filters take the queue name from argv[0], so time
# starts them through a symbolic link named after the queue, found on PATH.
# Prints jobs, bytes, time and failures; exits 1 on any failure.
# Usage: bench/soak.sh [JOBS]; SOAK_SEED (default 1) varies sizes and delays.
# Runs in a sandbox of its own (scripts/sandbox.sh); needs a build (BUILD_DIR, default build).
set -euo pipefail
source "$(dirname "$0")/../scripts/help.sh" && zorv_help "$0" "$@"
source "$(dirname "$0")/../scripts/private-cups.sh"
zorv_own_sandbox "$0" "$@"
source bench/lib.sh

jobs=${1:-1000}
RANDOM=${SOAK_SEED:-1}
build=$(cd "${BUILD_DIR:-build}" && pwd)
[ -x "$build/zorvpreload" ] && [ -x "$build/tests/zorv_capture" ] ||
  { echo "soak: no build in $build; run scripts/build.sh first" >&2; exit 1; }
filters=(zorvautoconf zorvpreload)
max_size=$((8 << 20))
edge_sizes=(0 1 65535 65536 65537 "$max_size")
silent=4
slow=3

base=$(mktemp -d /tmp/zorv-soak-XXXXXX)
trap 'zorv_stop_all; rm -rf "$base" /var/tmp/autoconf /opt/Orvane' EXIT
work=$base/work
mkdir -p "$work/cancelled"

failures=0
fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}

# The private scheduler; no job files are kept after printing (they would fill the tmpfs).
ZORV_CUPSD_CONF="PreserveJobFiles No" zorv_cupsd_start "$base" "$build"
cupsd_pid=${zorv_pids[-1]}

# The filters behind wrappers that record each run's peak memory and exit status as
# "<job id> <filter> <peak KiB> <status>" (the wrapper is /bin/sh: it only sets PATH and execs).
peaks=$base/peaks
install -o lp -g lp -m 0644 /dev/null "$peaks"
for filter in "${filters[@]}"; do
  install -d -m 0755 "$base/real/$filter"
  mv "$base/cups/bin/filter/$filter" "$base/real/$filter/$filter"
  cat >"$base/cups/bin/filter/$filter" <<EOF
#!/bin/sh
PATH=$base/real/$filter:\$PATH exec /usr/bin/time -a -o $peaks -f "\$1 $filter %M %x" "\$PRINTER" "\$@"
EOF
  chmod 0755 "$base/cups/bin/filter/$filter"
done

# Queues 1 to 3: answering agents (queue 2's printer has the larger feeder); queue 3's printer
# reads slowly (5 ms after each read of up to 64 KiB: about 13 MB/s), so that the jobs that
# are cancelled there are still on their way. Queue 4: silent.
sed 's/PF-500-EU/PF-1000-EU/' docs/examples/worked-example-agent.conf >"$work/agent-2.conf"
install -d -m 0755 /opt/Orvane/mfp/ucs
for q in 1 2 3 4; do
  printer=127.0.0.4$q
  if ((q != silent)); then
    agent=docs/examples/worked-example-agent.conf
    if ((q == 2)); then agent=$work/agent-2.conf; fi
    zorv_snmpd_start "$base/agent-$q" "$printer" "$agent"
  fi
  pause=0
  if ((q == slow)); then pause=5000; fi
  ZORV_CAPTURE_PAUSE_US=$pause zorv_capture_start "$build" "$printer" "$base/printer-$q"
  touch "$base/printer-$q/jobs"
  lpadmin -p "soak$q" -E -v "socket://$printer:9100" -P docs/examples/worked-example.ppd \
    2>/dev/null
  for filter in "${filters[@]}"; do ln -s "$filter" "$base/real/$filter/soak$q"; done
  # A profile of its own per queue, all of one size so that the filters' memory is alike.
  head -c 200000 /dev/urandom >"/opt/Orvane/mfp/ucs/soak$q.ucs"
  chmod 0644 "/opt/Orvane/mfp/ucs/soak$q.ucs"
  (exec -a "soak$q" "$build/zorvpreload" 1 soak block 1 "" </dev/null) >"$work/block-$q"
  [ -s "$work/block-$q" ] || { echo "soak: no profile block for soak$q" >&2; exit 1; }
done

# Processes of the job in progress: the scheduler's children (wrappers, filters, backend) and
# anything running a filter binary (a filter whose wrapper died is no child of the scheduler).
job_processes() {
  pgrep -P "$cupsd_pid" || true
  find /proc -mindepth 2 -maxdepth 2 -name exe -lname "$base/real/*" -printf '%h\n' 2>/dev/null |
    sed 's|^/proc/||' || true
}
no_job_processes() { [ -z "$(job_processes)" ]; }

# The bytes a printer gets for a job: the queue's block, then the job.
# arrived_whole FILE Q JOB and arrived_prefix FILE Q JOB compare against them.
arrived_whole() {
  local block=$work/block-$2 size
  size=$(stat -c %s "$1")
  ((size == $(stat -c %s "$block") + $(stat -c %s "$3"))) && arrived_prefix "$1" "$2" "$3"
}
arrived_prefix() {
  local block=$work/block-$2 size block_size
  size=$(stat -c %s "$1")
  block_size=$(stat -c %s "$block")
  ((size <= block_size + $(stat -c %s "$3"))) || return 1
  cmp -s -n "$((size < block_size ? size : block_size))" "$1" "$block" || return 1
  ((size <= block_size)) || cmp -s -n "$((size - block_size))" -i "$block_size:0" "$1" "$3"
}

# What each printer received, connection by connection, is matched against the job that must
# arrive whole (WANT: a job file, or empty) and the cancelled jobs not yet accounted for on
# that printer (their connections come in job order, each one nothing or a prefix).
declare -A seen unresolved printed_on
received_bytes=0
take_arrivals() {
  local q=$1 want=$2 n length rest file matched=0 tries
  for ((tries = 0; tries < 300; tries++)); do
    while read -r n length rest; do
      ((n > ${seen[$q]:-0})) || continue
      seen[$q]=$n
      file=$base/printer-$q/job-$n.bin
      received_bytes=$((received_bytes + length))
      if [ -n "$want" ] && ((matched == 0)) && arrived_whole "$file" "$q" "$want"; then
        matched=1
      else
        local -a open=(${unresolved[$q]:-})
        while ((${#open[@]})) && ! arrived_prefix "$file" "$q" "$work/cancelled/${open[0]}"; do
          rm -f "$work/cancelled/${open[0]}"
          open=("${open[@]:1}")
        done
        if ((${#open[@]} == 0)); then
          fail "printer $q: connection $n ($length bytes) matches no job"
        else
          rm -f "$work/cancelled/${open[0]}"
          open=("${open[@]:1}")
        fi
        unresolved[$q]=${open[*]}
      fi
      rm -f "$file"
    done <"$base/printer-$q/jobs"
    if [ -z "$want" ] || ((matched)); then break; fi
    sleep 0.1
  done
  if [ -n "$want" ]; then
    ((matched)) || return 1
    # Older cancelled jobs that sent nothing before this one never connected.
    for n in ${unresolved[$q]:-}; do rm -f "$work/cancelled/$n"; done
    unresolved[$q]=
  fi
}

temporaries_left() {
  local leftovers
  leftovers=$(ls -A "$base/cups/tmp")
  leftovers+=$(find /var/tmp/autoconf -mindepth 1 ! -name 'soak[1-4].ppd' 2>/dev/null)
  [ -n "$leftovers" ] && echo "$leftovers"
  return 0
}

now_printing() { lpstat -p "soak$1" 2>/dev/null | grep -q "now printing $2\."; }
# random_delay MS: a random time from 0 to MS milliseconds (MS < 32768), as sleep takes it.
random_delay() {
  local ms=$((RANDOM % ($1 + 1)))
  printf '%d.%03d' $((ms / 1000)) $((ms % 1000))
}

printed=0 cancelled=0 late_cancels=0 refused=0 silent_jobs=0 submitted_bytes=0
start=$(now_ns)
for ((n_job = 1; n_job <= jobs; n_job++)); do
  q=$((RANDOM % 3 + 1))
  cancel=0
  if ((n_job % 20 == 0)); then
    q=$silent
    silent_jobs=$((silent_jobs + 1))
    ((n_job % 40 != 0)) || cancel=1
  fi
  if ((n_job % 10 == 7)); then
    q=$slow
    cancel=1
  fi
  if ((n_job <= ${#edge_sizes[@]})); then
    size=${edge_sizes[n_job - 1]}
  else
    size=$((((RANDOM << 15) | RANDOM) % (max_size + 1)))
  fi
  job=$work/job
  head -c "$size" /dev/urandom >"$job"
  submitted_bytes=$((submitted_bytes + size))

  if ! request=$(lp -d "soak$q" -o document-format=application/vnd.zorv-job "$job" 2>&1); then
    if ((size == 0)) && grep -q "No file in print request" <<<"$request"; then
      refused=$((refused + 1))
    else
      fail "job $n_job ($size bytes): lp: $request"
    fi
    continue
  fi
  ((size > 0)) || fail "job $n_job: the scheduler took an empty job"
  id=$(sed -n 's/^request id is \([^ ]*\) .*/\1/p' <<<"$request")

  took_cancel=0
  if ((cancel)); then
    # Part-way: once the job is printing, after a random delay: on the silent queue within
    # the SNMP time-out of zorvautoconf, on the slow printer within the first two thirds of
    # the time the job takes to reach it.
    for ((tries = 0; tries < 1000; tries++)); do
      if now_printing "$q" "$id"; then break; fi
      sleep 0.01
    done
    if ((q == silent)); then sleep "$(random_delay 2500)"; else sleep "$(random_delay $((size / 20000)))"; fi
    if cancel "$id" 2>/dev/null; then took_cancel=1; else late_cancels=$((late_cancels + 1)); fi
  fi
  zorv_wait_job "$id" || { fail "job $id still pending"; break; }
  if ! zorv_wait 50 no_job_processes; then
    fail "job $id: processes left after the job: $(job_processes | tr '\n' ' ')"
  fi
  if leftovers=$(temporaries_left) && [ -n "$leftovers" ]; then
    fail "job $id: temporary files left: $leftovers"
  fi
  if ((took_cancel)); then
    cancelled=$((cancelled + 1))
    mv "$job" "$work/cancelled/$n_job"
    unresolved[$q]="${unresolved[$q]:-} $n_job"
  elif take_arrivals "$q" "$job"; then
    printed=$((printed + 1))
    printed_on[$q]=1
  else
    fail "job $id ($size bytes) did not arrive whole at printer $q"
  fi
  if lpstat -p "soak$q" | grep -q disabled; then
    fail "queue soak$q stopped after job $id"
    break
  fi
done
elapsed_ns=$(($(now_ns) - start))
for q in 1 2 3 4; do take_arrivals "$q" ""; done

# A filter that exited non-zero on a job that was not cancelled (a cancelled job's filters
# are killed with their wrapper and leave no line).
while read -r job_id filter _ status; do
  [ "$status" = 0 ] || fail "$filter exited $status on job $job_id"
done < <(grep -E '^[0-9]+ zorv[a-z]+ [0-9]+ [0-9]+$' "$peaks")

# Each queue's rewritten PPD carries its own printer's answers; the silent one keeps its
# defaults. Only queues that printed a job are looked at (a short run may not reach them all).
expect_default() {
  [ -n "${printed_on[$1]:-}" ] || return 0
  grep -qx "\*DefaultOptionalTray: $2" "/var/tmp/autoconf/soak$1.ppd" 2>/dev/null ||
    fail "/var/tmp/autoconf/soak$1.ppd: no *DefaultOptionalTray: $2"
}
expect_default 1 PF500
expect_default 2 PF1000
expect_default 3 PF500
expect_default 4 None

# Peak memory, first W runs against the last W, per filter.
memory_report() {
  local filter=$1 values count window
  values=$(awk -v f="$filter" '$2 == f && $4 == 0 {print $1, $3}' "$peaks" | sort -n -k1,1 |
    awk '{print $2}')
  count=$(grep -c . <<<"$values" || true)
  window=$((count / 2 < 100 ? count / 2 : 100))
  if ((window < 10)); then
    # Too few to compare in a short run; in a run of many printed jobs, a wrapper that
    # records nothing is a failure.
    echo "  $filter: $count runs measured, too few to compare"
    ((printed < 20)) || fail "$filter: only $count runs measured of $printed jobs printed"
    return
  fi
  local first last
  first=$(head -n "$window" <<<"$values")
  last=$(tail -n "$window" <<<"$values")
  awk -v f="$filter" -v w="$window" -v fm="$(median <<<"$first")" -v lm="$(median <<<"$last")" \
    -v fx="$(sort -n <<<"$first" | tail -n 1)" -v lx="$(sort -n <<<"$last" | tail -n 1)" 'BEGIN {
    printf "  %-12s peak KiB, first %d runs: median %d, max %d; last %d: median %d, max %d; ratio of medians %.3f, of maxima %.3f\n",
      f, w, fm, fx, w, lm, lx, lm / fm, lx / fx
    # Flat: grown by at most 5% or 256 KiB, whichever is more (runs differ by a few dozen
    # pages); what grows with the jobs grows past that over hundreds of them.
    am = fm * 0.05 > 256 ? fm * 0.05 : 256
    ax = fx * 0.05 > 256 ? fx * 0.05 : 256
    exit !(lm <= fm + am && lx <= fx + ax)
  }' || fail "$filter: peak memory grew between the first and the last $window runs"
}

echo "soak: $jobs jobs on 4 queues ($silent_jobs to the silent agent's queue)"
echo "  printed whole $printed, cancelled part-way $cancelled (and $late_cancels cancels that came after the job ended), refused as empty $refused"
awk -v s="$submitted_bytes" -v r="$received_bytes" -v t="$elapsed_ns" -v n="$jobs" 'BEGIN {
  printf "  bytes submitted %.0f (%.1f MiB), received at the printers %.0f (%.1f MiB)\n", s, s / 1048576, r, r / 1048576
  printf "  time %.1f s, %.2f s per job\n", t / 1e9, t / 1e9 / n }'
for filter in "${filters[@]}"; do memory_report "$filter"; done
echo "  failures: $failures"
((failures == 0))
