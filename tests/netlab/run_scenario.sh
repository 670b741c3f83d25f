#!/bin/bash
# One scenario of the network lab (see lab.sh): the wizard, ipconfig, nwinf and the verdict
# against a real DHCP server and a real DHCP client, all inside namespaces made for the run.
#
#   run_scenario.sh SCENARIO CLIENT
#     SCENARIO: wizard-renews | refresh-after-switch | refresh-in-config-mode | silent-device |
#               other-adapters | no-rights
#     CLIENT:   dhclient | nm | networkd
#   Programs from the environment: LAB_IPCONFIG LAB_NWINF LAB_WIZARD LAB_REFRESH LAB_DEVSIM.
# Exit 0 passed, 1 failed, 77 skipped (the reason on one line).
set -u
SCENARIO=${1:?scenario} CLIENT=${2:?client}
HERE=$(cd "$(dirname "$0")" && pwd)

if [[ "${LAB_INSIDE:-}" != 1 ]]; then
    [[ $(id -u) -eq 0 ]] || { echo "SKIP: the network lab needs root (it runs DHCP clients and servers)"; exit 77; }
    for tool in ip unshare dnsmasq dbus-daemon dbus-send setpriv; do
        command -v $tool > /dev/null || { echo "SKIP: $tool is missing (scripts/install-deps installs it)"; exit 77; }
    done
    case $CLIENT in
    dhclient) command -v dhclient > /dev/null || { echo "SKIP: dhclient is missing (isc-dhcp-client)"; exit 77; } ;;
    nm) command -v NetworkManager > /dev/null && command -v nmcli > /dev/null \
            || { echo "SKIP: NetworkManager is missing (network-manager)"; exit 77; } ;;
    networkd) [[ -x /lib/systemd/systemd-networkd ]] && id systemd-network > /dev/null 2>&1 && command -v networkctl > /dev/null \
            || { echo "SKIP: systemd-networkd is missing (systemd)"; exit 77; } ;;
    esac
    for program in "$LAB_IPCONFIG" "$LAB_NWINF" "$LAB_WIZARD" "$LAB_REFRESH" "$LAB_DEVSIM"; do
        [[ -x $program ]] || { echo "SKIP: $program is not built"; exit 77; }
    done
    LAB_INSIDE=1 NETNS_RUN_ROOT=1 exec "$HERE/../../scripts/netns-run" --bare "$0" "$@"
fi

LAB_WORK=$(mktemp -d /tmp/kbr-netlab.XXXXXX)
LAB_FAILED=0
trap 'rm -rf "$LAB_WORK"' EXIT
# shellcheck source=lab.sh
source "$HERE/lab.sh"
lab_setup
START=$(date +%s.%N)

seconds_since() { awk -v a="$1" -v b="$(date +%s.%N)" 'BEGIN { printf "%.1f", b - a }'; }
veth_s_external() { [[ $(in_pc nmcli -t -f DEVICE,STATE device status | grep '^veth-s:') == 'veth-s:connected (externally)' ]]; }
expect_verdict() {  # GOT WANT
    [[ "$1" == "$2" ]] || lab_fail "verdict: got '$1', expected '$2'"
}
MSG_REFRESHED="IP address was refreshed successfully."
MSG_CONFIG_MODE="The KBR3300 is still in the config mode. Please switch to the normal mode and try again."
MSG_NO_ADDRESS=$'The computer cannot get an IP address from the \nrouter. Please make sure the computer has access to \nthe router.'

case $SCENARIO in
wizard-renews)
    # The PC holds the router's lease when the wizard starts: its first probe fails, ipconfig
    # /release and /renew bring the adaptor's lease, and the second probe launches the program.
    adaptor_normal_mode
    start_client "$CLIENT"
    pc_has_address_in 10.0.0. || lab_die "no router lease to start from: $(pc_address)"
    adaptor_config_mode
    make_run_folder "$LAB_WORK/cwd"
    # A slow release: /renew must still come after it.
    LAB_SLOW_DISCONNECT=1.5 run_wizard "$LAB_WORK/cwd" || lab_fail "the wizard ended with $?"
    [[ $(grep -c '^SOCKET_ERROR$' "$LAB_WORK/cwd/wizard.err") -eq 1 ]] || lab_fail "expected one failed probe"
    grep -q '^started' "$LAB_WORK/cwd/launch.log" 2>/dev/null || lab_fail "the configuration program was not started"
    [[ ! -s "$LAB_WORK/cwd/boxes.log" ]] || lab_fail "boxes shown: $(cat "$LAB_WORK/cwd/boxes.log")"
    pc_has_address_in 192.168.0. || lab_fail "the PC does not hold the adaptor's lease: $(pc_address)"
    expect_dhcp adaptor DISCOVER
    expect_dhcp adaptor ACK
    ;;
refresh-after-switch | refresh-in-config-mode)
    # Configured; the start-up run of nwinf records the interface facing the adaptor.
    adaptor_config_mode
    start_client "$CLIENT"
    pc_has_address_in 192.168.0. || lab_die "no adaptor lease to start from: $(pc_address)"
    make_run_folder "$LAB_WORK/cwd"
    (cd "$LAB_WORK/cwd" && in_pc ./nwinf 1 2> "$LAB_WORK/cwd/nwinf1.err") || lab_fail "nwinf 1 failed"
    grep -q '^adaptor_interface=veth-p$' "$LAB_WORK/cwd/nicinfo.tmp" || lab_fail "nwinf 1 did not record veth-p"
    requests=$(dhcp_count adaptor REQUEST)
    [[ $SCENARIO == refresh-after-switch ]] && adaptor_normal_mode
    verdict=$(run_refresh "$LAB_WORK/cwd") || lab_fail "the refresh gave no verdict"
    if [[ $SCENARIO == refresh-after-switch ]]; then
        expect_verdict "$verdict" "$MSG_REFRESHED"
        pc_has_address_in 10.0.0. || lab_fail "the PC did not get the router's lease: $(pc_address)"
        expect_dhcp router REQUEST
        expect_dhcp router ACK
    else
        expect_verdict "$verdict" "$MSG_CONFIG_MODE"
        pc_has_address_in 192.168.0. || lab_fail "the PC lost the adaptor's lease: $(pc_address)"
        (( $(dhcp_count adaptor REQUEST) > requests )) || lab_fail "the refresh asked the adaptor for nothing"
    fi
    grep -q '^renewal=ok$' "$LAB_WORK/cwd/nicinfo.tmp" || lab_fail "nicinfo.tmp does not say the renewal worked"
    ;;
silent-device)
    # The device address is routed (via the PC's default gateway) but every packet to it is
    # dropped: each probe gives up at the bound, then the failure dialog shows.
    adaptor_normal_mode
    in_adaptor sysctl -q -w net.ipv4.ip_forward=1
    in_adaptor ip route add blackhole 192.168.0.20/32
    start_client "$CLIENT"
    make_run_folder "$LAB_WORK/cwd"
    t0=$(date +%s.%N)
    run_wizard "$LAB_WORK/cwd" esc || lab_fail "the wizard ended with $?"
    took=$(seconds_since "$t0")
    echo "wizard run: ${took} s"
    [[ $(grep -c '^SOCKET_ERROR$' "$LAB_WORK/cwd/wizard.err") -eq 2 ]] || lab_fail "expected two failed probes"
    grep -q '^failure dialog$' "$LAB_WORK/cwd/boxes.log" || lab_fail "no failure dialog"
    # Two bounded attempts of 21 s and the 3 s wait between them.
    awk -v t="$took" 'BEGIN { exit !(t >= 44 && t < 75) }' || lab_fail "the wizard took $took s (expected about 45 s)"
    [[ ! -s "$LAB_WORK/cwd/launch.log" ]] || lab_fail "the configuration program was started"
    ;;
other-adapters)
    # Beside the DHCP adapter: one with an address set by hand, and (NetworkManager) one with a
    # static profile. ipconfig and nwinf leave both exactly as they were.
    ip -n pc link add veth-s type veth peer name veth-s2
    ip -n pc link add veth-m type veth peer name veth-m2
    for i in veth-s veth-s2 veth-m veth-m2; do ip -n pc link set "$i" up; done
    ip -n pc addr add 172.16.5.2/24 dev veth-s
    adaptor_config_mode
    start_client "$CLIENT"
    if [[ $CLIENT == nm ]]; then
        in_pc nmcli connection add type ethernet ifname veth-m con-name lab-static ipv4.method manual \
            ipv4.addresses 172.16.6.2/24 ipv6.method ignore > /dev/null || lab_die "no static profile"
        in_pc nmcli connection up lab-static > /dev/null || lab_die "the static profile did not come up"
        lab_wait 50 veth_s_external || lab_die "veth-s is not externally managed: $(in_pc nmcli -t -f DEVICE,STATE device status)"
    else
        ip -n pc addr add 172.16.6.2/24 dev veth-m
    fi
    before=$(ip -n pc -4 -o addr show dev veth-s; ip -n pc -4 -o addr show dev veth-m)
    states_before=$([[ $CLIENT == nm ]] && in_pc nmcli -t -f DEVICE,STATE,CONNECTION device status | grep -E '^veth-(s|m):' | sort)
    calls_before=$(wc -l < "$LAB_WORK/calls.log" 2>/dev/null || echo 0)
    make_run_folder "$LAB_WORK/cwd"
    (cd "$LAB_WORK/cwd" && in_pc ipconfig /release > release.out 2> release.err) || lab_fail "ipconfig /release failed"
    (cd "$LAB_WORK/cwd" && in_pc ipconfig /renew > renew.out 2> renew.err) || lab_fail "ipconfig /renew failed"
    (cd "$LAB_WORK/cwd" && in_pc ./nwinf 2 2> nwinf2.err) || lab_fail "nwinf 2 failed"
    after=$(ip -n pc -4 -o addr show dev veth-s; ip -n pc -4 -o addr show dev veth-m)
    [[ "$before" == "$after" ]] || lab_fail "the other adapters changed: $before -> $after"
    if [[ $CLIENT == nm ]]; then
        states_after=$(in_pc nmcli -t -f DEVICE,STATE,CONNECTION device status | grep -E '^veth-(s|m):' | sort)
        [[ "$states_before" == "$states_after" ]] || lab_fail "NetworkManager states changed: $states_before -> $states_after"
        ! tail -n +"$((calls_before + 1))" "$LAB_WORK/calls.log" | grep -E "nmcli (device|connection) [a-z]+ .*veth-(s|m)" \
            || lab_fail "nmcli was told to touch them"
    fi
    ! pgrep -a dhclient | grep -E 'veth-(s|m)' || lab_fail "a dhclient runs on them"
    grep -q '^released veth-p' "$LAB_WORK/cwd/release.out" || lab_fail "veth-p was not released"
    grep -q '^renewed veth-p' "$LAB_WORK/cwd/renew.out" || lab_fail "veth-p was not renewed"
    ! grep -qE 'veth-(s|m)' "$LAB_WORK/cwd/release.out" "$LAB_WORK/cwd/renew.out" || lab_fail "ipconfig touched them"
    pc_has_address_in 192.168.0. || lab_fail "the DHCP adapter has no lease: $(pc_address)"
    expect_dhcp adaptor REQUEST 3
    ;;
no-rights)
    # An ordinary user whose client refuses (NetworkManager: not authorized; dhclient: root's):
    # the reason is logged and said in nicinfo.tmp, and the verdict does not claim success.
    adaptor_config_mode
    start_client "$CLIENT" root-only
    pc_has_address_in 192.168.0. || lab_die "no adaptor lease to start from: $(pc_address)"
    user=65534
    mkdir -p "$LAB_WORK/home-$user" "$LAB_WORK/run-$user"
    chown "$user" "$LAB_WORK/home-$user" "$LAB_WORK/run-$user"
    chmod 0700 "$LAB_WORK/run-$user"
    make_run_folder "$LAB_WORK/cwd" "$user"
    adaptor_normal_mode
    verdict=$(run_refresh "$LAB_WORK/cwd" "$user") || lab_fail "the refresh gave no verdict"
    expect_verdict "$verdict" "$MSG_NO_ADDRESS"
    grep -q '^renewal=failed reason=.*no rights' "$LAB_WORK/cwd/nicinfo.tmp" \
        || lab_fail "nicinfo.tmp does not give the reason: $(grep renewal "$LAB_WORK/cwd/nicinfo.tmp")"
    grep -q 'nwinf: renewal failed: .*no rights' "$LAB_WORK/home-$user/.local/state/kbr3300/log" \
        || lab_fail "the reason was not logged"
    pc_has_address_in 192.168.0. || lab_fail "the PC's address changed: $(pc_address)"
    ;;
*)
    echo "unknown scenario $SCENARIO"; exit 2 ;;
esac

[[ ! -s "$LAB_WORK/guard.log" ]] || lab_fail "a guard refused a call: $(cat "$LAB_WORK/guard.log")"
echo "lab $SCENARIO/$CLIENT: $(seconds_since "$START") s"
if [[ $LAB_FAILED -ne 0 || -n ${KBR_NETLAB_VERBOSE:-} ]]; then
    lab_dump
fi
[[ $LAB_FAILED -eq 0 ]] || exit 1
echo "PASS: $SCENARIO ($CLIENT)"
