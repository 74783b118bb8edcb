#!/usr/bin/env bash
# Installs the Debian packages that building, testing, the demonstration and the Debian
# package (building, linting, the installed-package test) need.
set -euo pipefail
source "$(dirname "$0")/help.sh" && zorv_help "$0" "$@"

packages=(
  build-essential cmake ninja-build pkg-config
  libcups2-dev libusb-dev libsnmp-dev libssl-dev libpappl-dev libpam0g-dev libavahi-client-dev
  cups-daemon cups-client cups cups-bsd snmpd snmp snmpsim
  googletest libgtest-dev
  iproute2 util-linux procps
  clang libclang-rt-14-dev valgrind clang-tidy
  debhelper dpkg-dev lintian autopkgtest socat time
  # The Printer Application's tests: CUPS's IPP test files and ipptool, the scheduler's
  # conversion of PDF for a driverless queue, and the browser that renders its web page.
  cups-ipp-utils cups-filters ghostscript poppler-utils chromium
  # Its PDF converter (pdftops, above) and image decoders, and makers' PostScript PPDs for the
  # test of media from any PPD.
  libjpeg-dev libpng-dev zlib1g-dev openprinting-ppds python3
)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if ((${#missing[@]})); then
  if [ "$(id -u)" -ne 0 ]; then
    echo "missing packages: ${missing[*]} (run as root to install them)" >&2
    exit 1
  fi
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi
# The machine's own cups and snmpd, when they run, are left alone: the tests start private
# ones in namespaces of their own (scripts/sandbox.sh), where the machine's sockets and ports
# are out of reach.
