#!/usr/bin/env bash
# Installation check: `cmake --install` into a staging directory puts the filters where the
# scheduler looks for them (mode 0755, owned by root when installed by root), with the manual
# pages and the sample PPD; the Debian package holds the same files, owned by root, and
# depends on the libraries the programs link. Usage: install_check.sh BUILD_DIR
set -euo pipefail
build=$(cd "$1" && pwd)
stage=$(mktemp -d "${TMPDIR:-/tmp}/zorv-install-XXXXXX")
trap 'rm -rf "$stage"' EXIT
failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }
pass() { echo "ok: $*"; }

serverbin=$(cups-config --serverbin 2>/dev/null || echo /usr/lib/cups)
datadir=$(cups-config --datadir 2>/dev/null || echo /usr/share/cups)

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
q="$stage/root/usr/sbin/zorvquery"
[ -x "$q" ] && [ "$(stat -c %a "$q")" = 755 ] && pass "zorvquery in /usr/sbin, mode 0755" ||
  fail "zorvquery missing from /usr/sbin or not 0755"
for page in man8/zorvautoconf.8 man8/zorvpreload.8 man8/zorvquery.8 man5/zorv-lcf.5; do
  if [ -f "$stage/root/usr/share/man/$page.gz" ] || [ -f "$stage/root/usr/share/man/$page" ]; then
    pass "manual page $page"
  else
    fail "manual page $page missing"
  fi
done
ppd="$stage/root$datadir/model/zorv/zorv-sample.ppd"
if [ -f "$ppd" ]; then
  pass "sample PPD in $datadir/model/zorv"
  # The scheduler's own checks, with the filters looked up in the staging directory.
  if cupstestppd -R "$stage/root" "$ppd" >"$stage/testppd.log" 2>&1; then
    pass "cupstestppd accepts the sample PPD and finds both filters"
  else
    fail "cupstestppd: $(cat "$stage/testppd.log")"
  fi
else
  fail "sample PPD missing"
fi

# The Debian package, when the tools are there.
if command -v cpack >/dev/null && command -v dpkg-deb >/dev/null && command -v dpkg-shlibdeps >/dev/null; then
  (cd "$stage" && cpack --config "$build/CPackConfig.cmake" -G DEB -B "$stage/pkg" >"$stage/cpack.log" 2>&1) ||
    fail "cpack: $(tail -20 "$stage/cpack.log")"
  deb=$(ls "$stage"/pkg/*.deb 2>/dev/null | head -1)
  if [ -n "$deb" ]; then
    depends=$(dpkg-deb -f "$deb" Depends)
    for lib in libcups2 libsnmp libusb-0.1-4 libc6; do
      case "$depends" in
        *"$lib"*) pass "package depends on $lib" ;;
        *) fail "package Depends lacks $lib: $depends" ;;
      esac
    done
    contents=$(dpkg-deb -c "$deb")
    for program in zorvautoconf zorvpreload; do
      line=$(grep -E "\./?${serverbin#/}/filter/$program\$" <<<"$contents" || true)
      case "$line" in
        "-rwxr-xr-x root/root "*) pass "package holds $program, root/root 0755" ;;
        *) fail "package entry of $program: '${line:-missing}'" ;;
      esac
    done
    grep -q "model/zorv/zorv-sample.ppd" <<<"$contents" && pass "package holds the sample PPD" ||
      fail "package lacks the sample PPD"
    grep -q "man8/zorvautoconf.8" <<<"$contents" && pass "package holds the manual pages" ||
      fail "package lacks the manual pages"
  else
    fail "cpack made no .deb"
  fi
else
  echo "skipped: no cpack, dpkg-deb or dpkg-shlibdeps for the package check"
fi

if [ "$failures" -ne 0 ]; then
  echo "$failures check(s) failed"
  exit 1
fi
echo "installation checks passed"
