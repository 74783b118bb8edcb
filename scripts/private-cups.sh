# shellcheck shell=bash
# The private print path, sourced by scripts/demo.sh and bench/print_path.sh, autoconf.sh and
# snmp.sh: a private cupsd whose filter directory holds the built filters, a private snmpd
# answering from the values files it is given, and the printer stand-in (zorv_capture). The
# *_configure functions are the one definition of the scheduler's and the agent's set-up: the
# C++ fixtures of tests/support run them too, and start the servers by pid themselves. Needs
# root (run it inside scripts/sandbox.sh).

zorv_pids=()

# zorv_wait TRIES COMMAND...: runs COMMAND every 0.1 s until it succeeds, at most TRIES times.
zorv_wait() {
  local tries=$1 i
  shift
  for ((i = 0; i < tries; i++)); do
    if "$@" >/dev/null 2>&1; then return 0; fi
    sleep 0.1
  done
  return 1
}

# lpstat -r succeeds either way; its text tells.
zorv_cupsd_running() { lpstat -r 2>/dev/null | grep -q "scheduler is running"; }

# zorv_cupsd_configure BASE BUILD LISTEN...: the directories and configuration of a scheduler
# in BASE/cups, serving on each LISTEN (a socket path or a loopback address:port), with the
# filters of the build directory BUILD. Writing it again (another LISTEN) is allowed.
zorv_cupsd_configure() {
  local base=$1/cups build=$2 entry listen
  mkdir -p "$base"/{root,bin/filter,cache,state,spool,log}
  chmod 0755 "$1" "$base" "$base"/{root,bin,bin/filter,cache,state,spool,log}
  # The filters (User lp) fetch the queue's PPD into TempDir: root:lp 1770, as the scheduler
  # makes its own.
  install -d -o root -g lp -m 1770 "$base/tmp"
  # ServerBin mirrors the system's (backends, cups-exec) with a filter directory of its own.
  for entry in /usr/lib/cups/*; do
    [ "${entry##*/}" = filter ] || ln -sfn "$entry" "$base/bin/"
  done
  # The scheduler runs only filters owned by root that others cannot change.
  install -o root -g root -m 0755 "$build/zorvautoconf" "$build/zorvpreload" "$base/bin/filter/"
  # ZORV_CUPSD_TYPES: more MIME types the scheduler is to know, one a line (a PPD's own).
  printf '%s\n' application/vnd.zorv-job ${ZORV_CUPSD_TYPES:-} >"$base/root/zorv.types"
  echo "Community mirelo" >"$base/root/snmp.conf"
  cat >"$base/root/cups-files.conf" <<EOC
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
EOC
  # The tests read the scheduler's debug lines (a filter's exit status) from an error log that
  # is never rotated away. No authentication: the clients are the tests and scripts, on loopback.
  for listen in "${@:3}"; do echo "Listen $listen"; done >"$base/root/cupsd.conf"
  cat >>"$base/root/cupsd.conf" <<EOC
LogLevel debug
MaxLogSize 0
Browsing No
WebInterface No
DefaultAuthType None
<Policy default>
  <Limit All>
    Order allow,deny
    Allow all
  </Limit>
</Policy>
EOC
  # ZORV_CUPSD_CONF: more cupsd.conf lines from the caller (e.g. "PreserveJobFiles No").
  if [ -n "${ZORV_CUPSD_CONF:-}" ]; then printf '%s\n' "$ZORV_CUPSD_CONF" >>"$base/root/cupsd.conf"; fi
}

# zorv_cupsd_system_filters BASE: the machine's own filters (those of cups-filters and the
# scheduler) beside the built ones in the filter directory of the scheduler in BASE, for queues
# that convert documents themselves, such as a driverless queue of the Printer Application.
zorv_cupsd_system_filters() {
  local entry dir=$1/cups/bin/filter
  for entry in /usr/lib/cups/filter/*; do
    case ${entry##*/} in zorvautoconf | zorvpreload) ;; *) ln -sfn "$entry" "$dir/" ;; esac
  done
}

# zorv_cupsd_start BASE BUILD [LISTEN]: the scheduler of zorv_cupsd_configure, serving on
# LISTEN (default BASE/cups/sock; the benchmarks give a loopback TCP address such as
# 127.0.0.1:PORT).
zorv_cupsd_start() {
  local base=$1/cups
  local listen=${3:-$base/sock}
  zorv_cupsd_configure "$1" "$2" "$listen" || return 1
  # ZORV_CUPSD_SYSTEM_FILTERS non-empty: the machine's filters too (PDF for a PPD queue).
  if [ -n "${ZORV_CUPSD_SYSTEM_FILTERS:-}" ]; then zorv_cupsd_system_filters "$1"; fi
  # ZORV_NICE (e.g. -10) raises the whole print path above unrelated work on the machine.
  nice -n "${ZORV_NICE:-0}" /usr/sbin/cupsd -f -c "$base/root/cupsd.conf" -s "$base/root/cups-files.conf" \
    >"$base/log/cupsd.out" 2>&1 &
  zorv_pids+=($!)
  export CUPS_SERVER=$listen
  zorv_wait 150 zorv_cupsd_running || { echo "cupsd did not start; see $base/log" >&2; return 1; }
}

# zorv_snmpd_configure [--community NAME] [--ipv6] [--user "NAME LEVEL [AUTH PASS [PRIV
# PASS]]"]... [--v3-only] BASE ADDRESS VALUES_FILE...: the configuration of an agent in
# BASE/snmpd: UDP ADDRESS:161 (and [::1]:161 with --ipv6), the one community NAME (default
# mirelo), an SNMPv3 user for each --user allowed to read at LEVEL and above (noauth, auth or
# priv; AUTH and PRIV as snmpd's createUser names them: SHA, SHA-256, AES, DES, ...), and the
# lines of each VALUES_FILE (override, pass, ...). --v3-only: no community at all, as on a
# printer whose SNMPv1 and v2c are switched off.
zorv_snmpd_configure() {
  local community=mirelo ipv6= v1=1 users=()
  while :; do
    case $1 in
      --community) community=$2 && shift 2 ;;
      --ipv6) ipv6=1 && shift ;;
      --user) users+=("$2") && shift 2 ;;
      --v3-only) v1= && shift ;;
      *) break ;;
    esac
  done
  local dir=$1/snmpd address=$2 user name level auth auth_pass priv priv_pass
  install -d -m 0700 "$dir/persist"
  {
    echo "agentaddress udp:$address:161${ipv6:+,udp6:[::1]:161}"
    if [ -n "$v1" ]; then echo "rocommunity $community default"; fi
    if [ -n "$v1" ] && [ -n "$ipv6" ]; then echo "rocommunity6 $community default"; fi
    for user in "${users[@]}"; do
      read -r name level auth auth_pass priv priv_pass <<<"$user"
      echo "createUser $name${auth:+ $auth \"$auth_pass\"}${priv:+ $priv \"$priv_pass\"}"
      echo "rouser $name $level"
    done
    if (($# > 2)); then cat "${@:3}"; fi
  } >"$dir/snmpd.conf"
}

# zorv_snmpd_start [--user "..."]... BASE ADDRESS VALUES_FILE...: the agent of
# zorv_snmpd_configure, community mirelo, and the SNMPv3 users given.
zorv_snmpd_start() {
  local options=()
  while [ "$1" = --user ]; do options+=("$1" "$2") && shift 2; done
  local dir=$1/snmpd address=$2
  zorv_snmpd_configure "${options[@]}" "$@" || return 1
  SNMP_PERSISTENT_DIR=$dir/persist HOME=$dir /usr/sbin/snmpd -f -Lo -C -c "$dir/snmpd.conf" \
    >"$dir/snmpd.log" 2>&1 &
  zorv_pids+=($!)
  zorv_wait 100 snmpget -v1 -c mirelo -t 0.2 -r 0 "$address" .1.3.6.1.2.1.1.1.0 ||
    { echo "snmpd did not answer; see $dir/snmpd.log" >&2; return 1; }
}

# zorv_capture_start BUILD ADDRESS DIR [LINES]: the printer on ADDRESS:9100, keeping each job
# as DIR/job-N.bin with a line per job in DIR/jobs; with DIR "-" it only counts, and writes
# the lines ("N LENGTH END_NS") to the file LINES.
zorv_capture_start() {
  local out=$3
  if [ "$out" = - ]; then
    nice -n "${ZORV_NICE:-0}" "$1/tests/zorv_capture" "$2" 9100 - >"$4" &
  else
    mkdir -p "$out"
    nice -n "${ZORV_NICE:-0}" "$1/tests/zorv_capture" "$2" 9100 "$out" &
  fi
  zorv_pids+=($!)
}

# zorv_installable QUEUE PPD: the queue's installable options as lpoptions shows them (the
# default starred), indented: those of the PPD's first group whose name holds "install".
zorv_installable() {
  local keywords
  keywords=$(zcat -f "$2" | awk -F'[ */:]+' '
    /^\*OpenGroup:/ { inside = tolower($0) ~ /install/ && !done; next }
    /^\*CloseGroup:/ { if (inside) done = 1; inside = 0; next }
    inside && /^\*OpenUI/ { print $3 }' | paste -sd '|')
  [ -n "$keywords" ] || return 0
  lpoptions -p "$1" -l | grep -E "^($keywords)/" | sed 's/^/   /' || true
}

# zorv_filter_log BASE: what the filters told the scheduler in BASE about their jobs (warnings,
# errors and the PPD: lines), from its error log, as the filters wrote it.
zorv_filter_log() {
  grep -E '^[WE] .*\[Job [0-9]+\] |^D .*\[Job [0-9]+\] PPD: ' "$1/cups/log/error_log" |
    sed -E -e 's/^W [^]]*\] \[Job [0-9]+\] /WARNING: /' -e 's/^E [^]]*\] \[Job [0-9]+\] /ERROR: /' \
      -e 's/^D [^]]*\] \[Job [0-9]+\] //' -e "s/\\\\'/'/g" -e 's/^/   /' || true
}

# zorv_stop_all: stops what the functions above started, by pid, newest first.
zorv_stop_all() {
  local i
  for ((i = ${#zorv_pids[@]} - 1; i >= 0; i--)); do
    kill "${zorv_pids[i]}" 2>/dev/null || true
    wait "${zorv_pids[i]}" 2>/dev/null || true
  done
  zorv_pids=()
}

# zorv_wait_job QUEUE-ID: until the scheduler no longer lists the job as pending (bounded).
zorv_wait_job() {
  local tries=${2:-1200} i
  for ((i = 0; i < tries; i++)); do
    lpstat -o 2>/dev/null | grep -q "^$1 " || return 0
    sleep 0.1
  done
  return 1
}

# zorv_build NAME: the build directory ($BUILD_DIR, default build) as an absolute path in
# $build, or exits with NAME's message when it holds no build of the filters and the printer
# stand-in.
zorv_build() {
  build=$(cd "${BUILD_DIR:-build}" 2>/dev/null && pwd) || build=
  if [ -z "$build" ] || [ ! -x "$build/zorvautoconf" ] || [ ! -x "$build/tests/zorv_capture" ]; then
    echo "$1: no build found; run scripts/build.sh first" >&2
    exit 1
  fi
}

# zorv_own_sandbox "$0" "$@": the preamble of a script one folder below the top of the tree
# that runs in a sandbox of its own (scripts/sandbox.sh), even when started inside one (as by
# the test suite), so that it can clear the fixed paths it uses without touching anyone else's.
# Moves to the top of the tree and re-runs the script there in the sandbox; inside it, returns.
# Without root and namespaces it exits 77 (not run).
zorv_own_sandbox() {
  local self
  self=$(realpath "$1")
  shift
  cd "$(dirname "$self")/.."
  if [ "${ZORV_OWN_SANDBOX:-}" != "$self" ]; then
    exec env -u ZORV_IN_SANDBOX ZORV_OWN_SANDBOX="$self" scripts/sandbox.sh "$self" "$@"
  fi
  if [ "$(id -u)" -ne 0 ] || [ "${ZORV_IN_SANDBOX:-}" != 1 ]; then
    echo "${self##*/}: needs root and private namespaces (scripts/sandbox.sh); not run" >&2
    exit 77
  fi
}
