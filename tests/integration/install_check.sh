#!/usr/bin/env bash
# Installation check: `cmake --install` into a staging directory puts the filters where the
# scheduler looks for them (mode 0755, owned by root when installed by root), the query tool
# and the Printer Application in /usr/sbin, with the manual pages and the sample PPD in the
# scheduler's driver directory /usr/share/ppd/zorv. The
# Debian package (debian/) is made of exactly these files; scripts/package.sh checks it.
# Usage: install_check.sh BUILD_DIR
set -euo pipefail
build=$(cd "$1" && pwd)
stage=$(mktemp -d "${TMPDIR:-/tmp}/zorv-install-XXXXXX")
trap 'rm -rf "$stage"' EXIT
failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }
pass() { echo "ok: $*"; }

serverbin=$(cups-config --serverbin 2>/dev/null || echo /usr/lib/cups)

DESTDIR="$stage/root" cmake --install "$build" --prefix /usr >"$stage/install.log"
for program in zorvautoconf zorvpreload; do
  f="$stage/root$serverbin/filter/$program"
  if [ ! -f "$f" ]; then fail "$program not installed in $serverbin/filter"; continue; fi
  mode=$(stat -c %a "$f")
  [ "$mode" = 755 ] && pass "$program mode 0755" || fail "$program mode $mode, not 755"
  if [ "$(id -u)" = 0 ]; then
    owner=$(stat -c %U:%G "$f")
    [ "$owner" = root:root ] && pass "$program owned by root" || fail "$program owned by $owner"
  fi
done
for program in zorvquery zorv-printer-app; do
  q="$stage/root/usr/sbin/$program"
  [ -x "$q" ] && [ "$(stat -c %a "$q")" = 755 ] && pass "$program in /usr/sbin, mode 0755" ||
    fail "$program missing from /usr/sbin or not 0755"
done
for page in man8/zorvautoconf.8 man8/zorvpreload.8 man8/zorvquery.8 man5/zorv-lcf.5 \
  man8/zorv-printer-app.8; do
  if [ -f "$stage/root/usr/share/man/$page.gz" ] || [ -f "$stage/root/usr/share/man/$page" ]; then
    pass "manual page $page"
  else
    fail "manual page $page missing"
  fi
done
ppd="$stage/root/usr/share/ppd/zorv/zorv-sample.ppd"
if [ -f "$ppd" ]; then
  pass "sample PPD in /usr/share/ppd/zorv"
  # The scheduler's own checks, with the filters looked up in the staging directory.
  if cupstestppd -R "$stage/root" "$ppd" >"$stage/testppd.log" 2>&1; then
    pass "cupstestppd accepts the sample PPD and finds both filters"
  else
    fail "cupstestppd: $(cat "$stage/testppd.log")"
  fi
else
  fail "sample PPD missing"
fi

# The filter's output directory is the package's, made by systemd-tmpfiles from this line.
tmpfiles="$stage/root/usr/lib/tmpfiles.d/printer-driver-zorv.conf"
if grep -qx 'd /var/tmp/autoconf 1777 lp lp -' "$tmpfiles" 2>/dev/null &&
  grep -qx 'x /var/tmp/autoconf' "$tmpfiles"; then
  pass "tmpfiles.d makes /var/tmp/autoconf 1777 lp lp, never aged out"
  # What systemd-tmpfiles makes of it, in a root of the stage's own.
  if command -v systemd-tmpfiles >/dev/null && [ "$(id -u)" = 0 ]; then
    mkdir -p "$stage/boot/var/tmp" "$stage/boot/etc" && chmod 1777 "$stage/boot/var/tmp"
    cp /etc/passwd /etc/group "$stage/boot/etc/"
    systemd-tmpfiles --root="$stage/boot" --create "$tmpfiles" >/dev/null 2>&1 || true
    made=$(stat -c '%a %U %G' "$stage/boot/var/tmp/autoconf" 2>&1 || true)
    [ "$made" = "1777 lp lp" ] && pass "systemd-tmpfiles makes it so" ||
      fail "systemd-tmpfiles made: $made"
  fi
else
  fail "no tmpfiles.d line for /var/tmp/autoconf"
fi

if [ "$failures" -ne 0 ]; then
  echo "$failures check(s) failed"
  exit 1
fi
echo "installation checks passed"
