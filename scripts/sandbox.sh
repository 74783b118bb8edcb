#!/usr/bin/env bash
# Runs a command in private mount and network namespaces: empty tmpfs over /tmp, /var/tmp
# and /opt, and a loopback of its own. The filters' fixed paths and UDP port 161 can then be
# used freely without touching the machine. Without the rights for it, runs the command as is.
set -euo pipefail
if [ "${ZORV_IN_SANDBOX:-}" = 1 ]; then exec "$@"; fi
if [ "$(id -u)" -ne 0 ] || ! unshare --mount --net true 2>/dev/null; then
  echo "sandbox: no namespaces here, running on the real system" >&2
  exec "$@"
fi
exec unshare --mount --net --fork --propagation private -- env ZORV_IN_SANDBOX=1 bash -c '
  set -e
  for d in /tmp /var/tmp /opt; do mount -t tmpfs -o mode=1777 tmpfs "$d"; done
  chmod 0755 /opt
  ip link set lo up
  exec "$@"' sandbox "$@"
