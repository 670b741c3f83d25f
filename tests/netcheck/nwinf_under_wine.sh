#!/usr/bin/env bash
# nwinf.exe under Wine, in a private network namespace with interfaces made for the test (it
# enters one through scripts/netns-run --bare, and refuses to run on the host): "wan0" carries the
# default route, "cable0" holds the adaptor's 192.168.0.x address. The start-up run records cable0
# (the interface Windows' best route to 192.168.0.20 leaves from), the refresh renews it by name
# through the stand-in renewal program; nothing renews a real lease.
#   nwinf_under_wine.sh WINE_RUN NWINF_EXE RENEW_STUB_EXE
# Wine's own services report the network of the namespace they run in, so the Wine server of the
# caller's namespace is ended first (CTest runs this test alone: RUN_SERIAL), and the one started
# inside ends with it.
set -euo pipefail
wine_run=$1
nwinf=$2
stub=$3

fail() { echo "FAIL: $*" >&2; exit 1; }
if [[ $$ -ne 1 ]]; then
    # Here, where that server's process can be signalled; inside a new pid namespace it cannot.
    "$wine_run" --stop-server
    exec "$(dirname "$0")/../../scripts/netns-run" --bare "$0" "$@"
fi

work=$(mktemp -d)
trap '"$wine_run" --stop-server; rm -rf "$work"' EXIT

ip link add wan0 type veth peer name wan1
ip link add cable0 type veth peer name cable1
for i in wan0 wan1 cable0 cable1; do ip link set "$i" up; done
ip addr add 10.9.0.2/24 dev wan0
ip route add default via 10.9.0.1
ip addr add 192.168.0.117/24 dev cable0
for _ in $(seq 500); do
    [[ "$(ip -o link show up | grep -c 'state UP')" == 4 ]] && break
    sleep 0.01
done

cd "$work"
expect_file() {  # NAME EXPECTED-START
    local content
    content=$(cat "$1")
    [[ "$content" == "$2"* ]] || fail "$1 is not as expected:"$'\n'"$content"
}

"$wine_run" "$nwinf" 1 || fail "nwinf 1 failed"
expect_file ipinfo.tmp $'192.168.0.117\nrenewal=none'
expect_file nicinfo.tmp $'adaptor_interface=cable0\nrenewal=none\n'
grep -qz $'\n\\[wan0\\]\n[^[]*default_route=1\n' nicinfo.tmp ||
    fail "wan0 is not the default route:"$'\n'"$(cat nicinfo.tmp)"
[[ ! -e renewed ]] || fail "the start-up run renewed something"

"$wine_run" "$nwinf" "--renew-command=$stub" 2 || fail "nwinf 2 failed"
[[ "$(cat renewed)" == cable0 ]] || fail "renewed $(cat renewed), not cable0"
expect_file ipinfo.tmp $'192.168.0.117\nrenewal=ok'
expect_file nicinfo.tmp $'adaptor_interface=cable0\nrenewal=ok\n'

NWINF_NO_RENEW=1 "$wine_run" "$nwinf" 2 || fail "nwinf 2 without renewal failed"
expect_file ipinfo.tmp $'192.168.0.117\nrenewal=skipped'
[[ "$(cat renewed)" == cable0 ]] || fail "asked not to renew, it renewed"
echo "nwinf.exe under Wine: cable0 recorded, renewed by name, reported"
