#!/usr/bin/env bash
# The Debian package, built and proven the way a distribution would (CI runs this):
#   build        the source package (dpkg-source) and `dpkg-buildpackage -us -uc -b` from a
#                copy of the tree in build/package, so the work tree and its parent get no
#                stray files; the package build runs the unit tests (debian/rules)
#   lintian      `lintian --fail-on error,warning` on the source and the binary packages
#   autopkgtest  debian/tests against the installed packages, with the machine's own scheduler
#                (print-path) and the Printer Application's service started as its unit does
#                (app-print), inside `scripts/sandbox.sh --system`: the installation, the
#                scheduler's queue, spool and logs and everything started for the tests are
#                discarded at the end, and the machine's own services are neither seen nor
#                touched. The stage then checks that the packages' state and the test queue on
#                the machine are as they were.
# Usage: scripts/package.sh [build] [lintian] [autopkgtest]   (no argument: all three)
# Environment: PACKAGE_DIR (default build/package).
set -euo pipefail
source "$(dirname "$0")/help.sh" && zorv_help "$0" "$@"
cd "$(dirname "$0")/.."
source scripts/stages.sh

out=$(realpath -m "${PACKAGE_DIR:-build/package}")
sandbox=$PWD/scripts/sandbox.sh
source_name=$(dpkg-parsechangelog -S Source)
version=$(dpkg-parsechangelog -S Version)
test_queue=zorv-autopkgtest  # the queue that debian/tests/print-path makes
stages=("$@")
((${#stages[@]})) || stages=(build lintian autopkgtest)

# The files that git would commit: tracked and new ones, not ignored ones (no build trees),
# so that a change not yet committed is packaged as well.
source_files() {
  git ls-files -z --cached --others --exclude-standard |
    while IFS= read -r -d '' file; do
      if [ -e "$file" ]; then printf '%s\0' "$file"; fi
    done
}

stage_build() {
  local tree=$out/$source_name-$version
  rm -rf "$out"
  mkdir -p "$tree" || return 1
  source_files | tar --null -T - -cf - | tar -xf - -C "$tree" || return 1
  (cd "$out" && dpkg-source --build "$source_name-$version" >source.log 2>&1) ||
    { cat "$out/source.log" >&2; return 1; }
  # In the sandbox, so that the unit tests that use the filters' fixed paths as root touch
  # only a private /tmp and /opt.
  if ! (cd "$tree" && "$sandbox" dpkg-buildpackage -us -uc -b) \
    >"$out/build.log" 2>&1; then
    tail -n 40 "$out/build.log" >&2
    return 1
  fi
  grep -E '^[0-9]+% tests passed' "$out/build.log" || true
  ls "$out"/*.deb "$out"/*.dsc
}

stage_lintian() {
  # Lintian leaves databases in TMPDIR: that is the package directory's, not the machine's.
  # It warns on stderr that it runs as root; that line is dropped, nothing else.
  mkdir -p "$out/lintian-tmp" || return 1
  TMPDIR=$out/lintian-tmp lintian --fail-on error,warning "$out/${source_name}_$version.dsc" \
    "$out/${source_name}_${version}_$(dpkg --print-architecture).changes" \
    2> >(grep -v 'running with root privileges is not recommended' >&2)
}

# dpkg's state of the package and the test queue's PPD on the machine, for comparison.
machine_state() {
  dpkg-query -W -f '${Status}\n' printer-driver-zorv 2>/dev/null || echo "not installed"
  dpkg-query -W -f '${Status}\n' zorv-printer-app 2>/dev/null || echo "not installed"
  ls -l "/etc/cups/ppd/$test_queue.ppd" "/var/tmp/autoconf/$test_queue.ppd" 2>&1 || true
}

stage_autopkgtest() {
  local debs=() deb before after status=0
  for deb in "$out"/*.deb; do
    case $deb in *-dbgsym_*) ;; *) debs+=("$deb") ;; esac
  done
  before=$(machine_state)
  rm -rf "$out/autopkgtest"
  # The sandbox is the test's container: its restriction isolation-container is met.
  "$sandbox" --system autopkgtest --ignore-restrictions=isolation-container \
    --output-dir "$out/autopkgtest" "${debs[@]}" "$out/${source_name}_$version.dsc" \
    -- null >"$out/autopkgtest.log" 2>&1 || status=$?
  if ((status == 77)); then
    echo "autopkgtest skipped: the sandbox needs root and namespaces"
    return 0
  fi
  cat "$out/autopkgtest/print-path-stdout" "$out/autopkgtest/app-print-stdout" 2>/dev/null || true
  cat "$out/autopkgtest/summary" 2>/dev/null || true
  if ((status != 0)); then
    cat "$out/autopkgtest/print-path-stderr" "$out/autopkgtest/app-print-stderr" >&2 2>/dev/null || true
    echo "autopkgtest exited $status; log: $out/autopkgtest.log" >&2
    return 1
  fi
  after=$(machine_state)
  if [ "$before" != "$after" ]; then
    printf 'the machine changed:\nbefore: %s\nafter: %s\n' "$before" "$after" >&2
    return 1
  fi
  echo "the machine's package state and test queue are as they were before the test"
}

zorv_run_stages package "${stages[@]}"
