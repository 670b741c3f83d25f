#!/bin/bash
# Runs a command inside a private network, process and mount namespace in which 192.168.0.20 is
# the namespace's own loopback: the programs there can reach "the device" (a simulator listening
# on that address) and nothing else. Nothing leaves this machine; the host's network settings are
# untouched. When the command ends, or this script is killed, everything started inside ends too
# (the command is the namespace's init; unshare --kill-child).
#
#   run_in_namespace.sh COMMAND [ARGS...]
# Exit status: the command's; 77 when private namespaces cannot be made here (skipped).
# Needs: unshare (util-linux) and ip (iproute2); root, or unprivileged user namespaces.
set -u

if [[ "${1:-}" != --inside ]]; then
    command -v ip >/dev/null || { echo "SKIP: the ip tool (iproute2) is missing"; exit 77; }
    command -v unshare >/dev/null || { echo "SKIP: unshare (util-linux) is missing"; exit 77; }
    # As root a plain network namespace will do; otherwise a user namespace makes us root in it.
    for mode in -n -rn; do
        if unshare $mode --pid --fork --mount-proc --kill-child true 2>/dev/null; then
            exec unshare $mode --pid --fork --mount-proc --kill-child "$0" --inside "$@"
        fi
    done
    echo "SKIP: private network namespaces are not available here (unshare -n and unshare -rn failed;"
    echo "      run as root, or allow unprivileged user namespaces: sysctl kernel.unprivileged_userns_clone=1)"
    exit 77
fi
shift

# Only ever as the init of a fresh pid namespace, never on the host.
if [[ $$ -ne 1 ]]; then
    echo "FAIL: not inside a new namespace"; exit 1
fi
if ip -o link show | grep -qv ': lo:'; then
    echo "FAIL: the namespace has interfaces other than lo"; exit 1
fi
ip link set lo up && ip addr add 192.168.0.20/32 dev lo || { echo "FAIL: cannot set up the namespace's loopback"; exit 1; }
exec "$@"
