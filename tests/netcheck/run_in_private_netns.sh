#!/bin/sh
# Runs a test program inside a private network namespace whose loopback also holds the device
# address, so the program can probe 192.168.0.20 without any packet leaving this machine.
# Exit code 77 (skipped) where private network namespaces cannot be made.
unshare -rn true 2>/dev/null || exit 77
exec unshare -rn sh -c 'ip addr add 192.168.0.20/32 dev lo && ip link set lo up && exec "$@"' sh "$@"
