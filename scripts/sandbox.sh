#!/usr/bin/env bash
# Runs a command in private mount and network namespaces: empty tmpfs over /tmp, /var/tmp
# and /opt, and a loopback of its own (with a second IPv6 address, fd00::2, where a test's
# neighbour of an IPv6 printer lives). The filters' fixed paths and UDP port 161 can then be
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
# The work tree stays the real one wherever it is, so results can be written there: the top of
# the tree, the working directory, $BUILD_DIR and each directory of $ZORV_SANDBOX_KEEP (a list
# separated by colons) that lies under a replaced directory is mounted back at its own path.
# Any other path outside the replaced directories is the real one as well. Without root and
# namespaces --system refuses to run (exit 77): it never falls back to the real system.
set -euo pipefail
source "$(dirname "$0")/help.sh" && zorv_help "$0" "$@"

self=$(realpath "$0")

# keep_and_cover PLACE... (inside the new namespaces, as their first process): replaces each
# PLACE by a tmpfs (an overlay for /usr, /etc, /var and /root), then mounts the kept
# directories that lie under one of them back over it, at their own paths.
keep_and_cover() {
  local places=("$@") candidates=() kept=() fds=() candidate path place hidden fd i
  IFS=: read -r -a candidates \
    <<<"$(dirname "$self")/..:$PWD:${BUILD_DIR:-}:${ZORV_SANDBOX_KEEP:-}"
  for candidate in "${candidates[@]}"; do
    path=$(realpath -e "$candidate" 2>/dev/null) || continue
    [ -d "$path" ] || continue
    # Only what a replaced directory would hide, and never a replaced directory itself or
    # one that holds another (/var/tmp under --system).
    hidden=0
    for place in "${places[@]}"; do
      case $path/ in "$place"/?*) hidden=1 ;; esac
      case $place/ in "$path"/*) continue 2 ;; esac
    done
    ((hidden)) || continue
    for i in "${kept[@]}"; do
      case $path/ in "$i"/*) continue 2 ;; esac
    done
    # An open descriptor still reaches the directory once a mount covers its path.
    exec {fd}<"$path"
    kept+=("$path")
    fds+=("$fd")
  done

  for place in "${places[@]}"; do
    case $place in
      /run) mount -t tmpfs -o mode=0755 tmpfs /run ;;
      /usr | /etc | /var | /root)
        local layers=/run/zorv-sandbox$place
        mkdir -p "$layers/upper" "$layers/work"
        mount -t overlay overlay \
          -o "lowerdir=$place,upperdir=$layers/upper,workdir=$layers/work" "$place"
        ;;
      *) mount -t tmpfs -o mode=1777 tmpfs "$place" ;;
    esac
  done

  for i in "${!kept[@]}"; do
    mkdir -p "${kept[i]}"
    # Not canonicalised: the descriptor's link names the covered path, not the directory.
    mount --no-canonicalize --bind "/proc/self/fd/${fds[i]}" "${kept[i]}"
    fd=${fds[i]}
    exec {fd}<&-
  done
}

case ${ZORV_SANDBOX_SETUP:-} in
  plain)
    unset ZORV_SANDBOX_SETUP
    keep_and_cover /tmp /var/tmp /opt
    chmod 0755 /opt
    ip link set lo up
    ip -6 address add fd00::2/128 dev lo nodad 2>/dev/null || true
    exec env ZORV_IN_SANDBOX=1 "$@"
    ;;
  system)
    unset ZORV_SANDBOX_SETUP
    # /run first: it holds the overlays' writable layers.
    keep_and_cover /run /usr /etc /var /root /tmp /var/tmp /opt
    chmod 0755 /opt
    mkdir -p /run/lock
    printf "#!/bin/sh\nexit 101\n" >/usr/sbin/policy-rc.d
    chmod 0755 /usr/sbin/policy-rc.d
    ip link set lo up
    ip -6 address add fd00::2/128 dev lo nodad 2>/dev/null || true
    exec env ZORV_IN_SANDBOX=system "$@"
    ;;
esac

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
  exec unshare --mount --net --fork --propagation private -- \
    env ZORV_SANDBOX_SETUP=plain "$self" "$@"
fi
exec unshare --mount --net --pid --fork --mount-proc --propagation private -- \
  env ZORV_SANDBOX_SETUP=system "$self" "$@"
