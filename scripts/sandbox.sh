#!/usr/bin/env bash
# Runs a command in private mount and network namespaces: empty tmpfs over /tmp, /var/tmp
# and /opt, and a loopback of its own. The filters' fixed paths and UDP port 161 can then be
# used freely without touching the machine. Without the rights for it, runs the command as is.
#
# sandbox.sh --system COMMAND... is for a command that installs packages and runs the
# machine's own services (the installed-package test): on top of the above it gets
#   - a PID namespace: the machine's processes are out of sight and out of reach of kill,
#     start-stop-daemon or pkill, and every process the command leaves behind (a scheduler,
#     an agent, a daemonised child) is killed by the kernel when the command ends;
#   - overlays over /usr, /etc, /var and /root whose writable layers are on a tmpfs: dpkg's
#     database, the installed files, the scheduler's configuration, spool, cache and logs
#     all change in memory only and are discarded at the end;
#   - an empty /run: the sockets of the machine's service manager and of its running
#     scheduler are not there, so nothing inside can start, stop or talk to them, and a
#     scheduler started inside listens on sockets and loopback ports of its own;
#   - a policy-rc.d that refuses every service action of the packages' maintainer scripts.
# The work tree (and any path outside those directories) stays the real one, so results
# can be written there. Without root and namespaces --system refuses to run (exit 77):
# it never falls back to the real system.
set -euo pipefail

system=0
if [ "${1:-}" = --system ]; then
  system=1
  shift
fi
if [ "${ZORV_IN_SANDBOX:-}" = system ] || { [ "${ZORV_IN_SANDBOX:-}" = 1 ] && [ "$system" = 0 ]; }; then
  exec "$@"
fi
namespaces=(--mount --net)
if [ "$system" = 1 ]; then namespaces+=(--pid --fork); fi
if [ "$(id -u)" -ne 0 ] || ! unshare "${namespaces[@]}" true 2>/dev/null; then
  if [ "$system" = 1 ]; then
    echo "sandbox: --system needs root and namespaces; not run" >&2
    exit 77
  fi
  echo "sandbox: no namespaces here, running on the real system" >&2
  exec "$@"
fi

if [ "$system" = 0 ]; then
  exec unshare --mount --net --fork --propagation private -- env ZORV_IN_SANDBOX=1 bash -c '
    set -e
    for d in /tmp /var/tmp /opt; do mount -t tmpfs -o mode=1777 tmpfs "$d"; done
    chmod 0755 /opt
    ip link set lo up
    exec "$@"' sandbox "$@"
fi

exec unshare --mount --net --pid --fork --mount-proc --propagation private -- \
  env ZORV_IN_SANDBOX=system bash -c '
    set -e
    mount -t tmpfs -o mode=0755 tmpfs /run
    layers=/run/zorv-sandbox
    for d in /usr /etc /var /root; do
      mkdir -p "$layers$d/upper" "$layers$d/work"
      mount -t overlay overlay \
        -o "lowerdir=$d,upperdir=$layers$d/upper,workdir=$layers$d/work" "$d"
    done
    for d in /tmp /var/tmp /opt; do mount -t tmpfs -o mode=1777 tmpfs "$d"; done
    chmod 0755 /opt
    mkdir -p /run/lock
    printf "#!/bin/sh\nexit 101\n" >/usr/sbin/policy-rc.d
    chmod 0755 /usr/sbin/policy-rc.d
    ip link set lo up
    exec "$@"' sandbox "$@"
