#!/usr/bin/env bash
# The scripts as a PPD author runs them. --help on each runnable script of scripts/ and bench/
# prints its opening comment and does nothing else: only bash and dirname can run, so any other
# command would fail it. scripts/try-ppd.sh tries the worked example from a copy under /tmp
# (out of its sandbox's sight by name) against an agent of its own: the answers, the rewritten
# defaults, the PPD: line and the queue's defaults after the job. Skipped (77) without a
# sandbox. Usage: scripts_test.sh BUILD-DIR
set -euo pipefail
top=$(cd "$(dirname "$0")/../.." && pwd)
fail() {
  echo "FAIL: $*" >&2
  exit 1
}

bin=$(mktemp -d)
trap 'rm -rf "$bin"' EXIT
ln -s "$(command -v dirname)" "$bin/dirname"
for script in "$top"/scripts/*.sh "$top"/bench/*.sh; do
  [ -x "$script" ] || continue
  out=$(env -i PATH="$bin" /bin/bash "$script" --help 2>&1) || fail "$script --help: $out"
  first=$(sed -n '2s/^# //p' "$script")
  [ "${out%%$'\n'*}" = "$first" ] || fail "$script --help printed: $out"
done

if [ "$(id -u)" -ne 0 ] || [ "${ZORV_IN_SANDBOX:-}" != 1 ]; then exit 77; fi
mkdir -p "$bin/author"
cp "$top/docs/examples/worked-example.ppd" "$bin/author/draft.ppd"
cat >"$bin/author/agent.conf" <<'EOC'
override .1.3.6.1.4.1.64991.1.1.0 octet_str "PF-1000-US"
override .1.3.6.1.4.1.64991.1.2.0 integer 0
override .1.3.6.1.4.1.64991.1.3.0 integer 2048
EOC
out=$(BUILD_DIR=$1 "$top/scripts/try-ppd.sh" "$bin/author/draft.ppd" "$bin/author/agent.conf") ||
  fail "try-ppd.sh: status $?: $out"
for line in \
  "   OptionalTray: ?SnmpOptionalTray \".1.3.6.1.4.1.64991.1.1.0\" -> \"PF-1000-US\" -> PF1000; default None" \
  "   + *DefaultOptionalTray: PF1000" \
  "   + *DefaultInstalledMemory: 1024MB" \
  "   WARNING: SNMP query (.1.3.6.1.4.1.64991.1.4.0) failure" \
  "   PPD: DefaultOptionalTray=PF1000 DefaultDuplexer=False DefaultInstalledMemory=1024MB" \
  "   OptionalTray/Paper Feeder: None PF500 *PF1000" \
  "   InstalledMemory/Printer Memory: 256MB 512MB *1024MB"; do
  grep -qxF -- "$line" <<<"$out" || fail "try-ppd.sh: no line '$line' in:"$'\n'"$out"
done
# Before the job the queue had the PPD's defaults; nothing is left behind.
grep -qxF "   OptionalTray/Paper Feeder: *None PF500 PF1000" <<<"$out" || fail "before: $out"
[ ! -e /var/tmp/autoconf ] || fail "try-ppd.sh left /var/tmp/autoconf"
