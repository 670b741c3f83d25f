#!/bin/bash
# One scenario of the network lab (see lab.sh): the wizard, ipconfig, nwinf and the verdict
# against a real DHCP server and a real DHCP client, all inside namespaces made for the run.
#
#   run_scenario.sh SCENARIO CLIENT
#     SCENARIO: wizard-renews | refresh-after-switch | refresh-in-config-mode | silent-device |
#               other-adapters | no-rights | planted-dhclient | swapped-record | shared-dhclient
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
# (The real tools bound into it are let go first: a mount point cannot be removed.)
trap lab_cleanup EXIT
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
    echo 1.5 > "$LAB_WORK/slow-disconnect"
    run_wizard "$LAB_WORK/cwd" || lab_fail "the wizard ended with $?"
    rm -f "$LAB_WORK/slow-disconnect"
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
planted-dhclient)
    # An ordinary user starts a look-alike named dhclient (a copy of a shell, waiting on its
    # input) whose command line names a script and a lease file of the user's for the PC's
    # interface, before the real client starts. Root's /release, /renew and nwinf 2 act on the
    # real client only: the script never runs, the user's options reach no command line and no
    # record, and the look-alike is not root's to end.
    adaptor_config_mode
    user=65534
    mkdir -p "$LAB_WORK/planted"
    cp /bin/bash "$LAB_WORK/planted/dhclient"
    printf '#!/bin/sh\ntouch %s/evil-ran\n' "$LAB_WORK" > "$LAB_WORK/evil.sh"
    chmod 0755 "$LAB_WORK/evil.sh"
    chown -R "$user" "$LAB_WORK/planted"
    ip netns exec pc setpriv --reuid="$user" --regid="$user" --clear-groups --inh-caps=-all \
        sh -c "sleep 600 | exec '$LAB_WORK/planted/dhclient' -sf '$LAB_WORK/evil.sh' -lf /tmp/x veth-p" &
    lab_wait 50 pgrep -x -u "$user" dhclient || lab_die "the look-alike did not start"
    planted=$(pgrep -x -u "$user" dhclient)
    start_client "$CLIENT"
    pc_has_address_in 192.168.0. || lab_die "no adaptor lease to start from: $(pc_address)"
    make_run_folder "$LAB_WORK/cwd"
    releases=$(dhcp_count adaptor RELEASE)
    (cd "$LAB_WORK/cwd" && in_pc ipconfig /release > release.out 2> release.err) || lab_fail "ipconfig /release failed"
    record=$(cat /run/kbr3300/released-* 2>/dev/null)
    (( $(dhcp_count adaptor RELEASE) > releases )) || lab_fail "the real dhclient released nothing"
    (cd "$LAB_WORK/cwd" && in_pc ipconfig /renew > renew.out 2> renew.err) || lab_fail "ipconfig /renew failed"
    (cd "$LAB_WORK/cwd" && in_pc ./nwinf 2 2> nwinf2.err) || lab_fail "nwinf 2 failed"
    [[ ! -e "$LAB_WORK/evil-ran" ]] || lab_fail "the user's script ran as root"
    grep -q '^released veth-p' "$LAB_WORK/cwd/release.out" || lab_fail "veth-p was not released"
    grep -q '^renewed veth-p' "$LAB_WORK/cwd/renew.out" || lab_fail "veth-p was not renewed"
    [[ $record == *veth-p* ]] || lab_fail "the release recorded nothing: '$record'"
    ! grep -qE 'evil|/tmp/x|-sf|-cf' <<< "$record" || lab_fail "the record holds the user's options: $record"
    for pid in $(pgrep -x -u 0 dhclient); do
        line=$(tr '\0' ' ' < "/proc/$pid/cmdline")
        [[ $line != *evil* && $line != */tmp/x* && $line != *-sf* ]] || lab_fail "root's dhclient runs with: $line"
        [[ $line == *"-pf /run/dhclient.veth-p.pid -lf /var/lib/dhcp/dhclient.veth-p.leases"* ]] \
            || lab_fail "root's dhclient lost its own files: $line"
    done
    [[ -n "$(pgrep -x -u 0 dhclient)" ]] || lab_fail "no dhclient serves veth-p now"
    kill -0 "$planted" 2>/dev/null || lab_fail "root ended the user's look-alike"
    pc_has_address_in 192.168.0. || lab_fail "the PC has no lease: $(pc_address)"
    ;;
swapped-record)
    # (a) Where the record would go is not private: a link to another folder, another user's
    # folder, a file. /release gives nothing up (the lease stays, no RELEASE, no disconnect), says
    # why, and creates or removes nothing there. (b) Root with a user's XDG_RUNTIME_DIR (su, sudo
    # -E) records in /run/kbr3300 and never in the user's folder. (c) and (d) below.
    adaptor_config_mode
    start_client "$CLIENT"
    pc_has_address_in 192.168.0. || lab_die "no adaptor lease to start from: $(pc_address)"
    user=65534
    make_run_folder "$LAB_WORK/cwd"
    mkdir -p "$LAB_WORK/elsewhere"
    for planted in link others file; do
        rm -rf /run/kbr3300
        case $planted in
        link) ln -s "$LAB_WORK/elsewhere" /run/kbr3300 ;;
        others) mkdir -m 0755 /run/kbr3300 && chown "$user" /run/kbr3300 ;;
        file) echo "not a folder" > /run/kbr3300 ;;
        esac
        before=$(ls -la /run/kbr3300/ "$LAB_WORK/elsewhere" 2>&1; stat -c '%F %U %a' /run/kbr3300)
        releases=$(dhcp_count adaptor RELEASE)
        calls=$({ wc -l < "$LAB_WORK/calls.log"; } 2>/dev/null || echo 0)
        (cd "$LAB_WORK/cwd" && in_pc ipconfig /release > release.out 2> release.err) \
            && lab_fail "/release with a $planted record folder succeeded"
        grep -q 'nothing was released' "$LAB_WORK/cwd/release.err" \
            || lab_fail "/release with a $planted record folder did not say why: $(cat "$LAB_WORK/cwd/release.err")"
        [[ ! -s "$LAB_WORK/cwd/release.out" ]] || lab_fail "$planted: released $(cat "$LAB_WORK/cwd/release.out")"
        after=$(ls -la /run/kbr3300/ "$LAB_WORK/elsewhere" 2>&1; stat -c '%F %U %a' /run/kbr3300)
        [[ "$before" == "$after" ]] || lab_fail "$planted: the record folder changed: $before -> $after"
        [[ -z "$(ls -A "$LAB_WORK/elsewhere")" ]] || lab_fail "$planted: a file was made where the link leads"
        (( $(dhcp_count adaptor RELEASE) == releases )) || lab_fail "$planted: the lease was released"
        ! tail -n +"$((calls + 1))" "$LAB_WORK/calls.log" 2>/dev/null | grep -q 'device disconnect' \
            || lab_fail "$planted: nmcli was told to disconnect"
        pc_has_address_in 192.168.0. || lab_fail "$planted: the PC lost its lease: $(pc_address)"
    done
    rm -rf /run/kbr3300
    mkdir -p "$LAB_WORK/run-$user"
    chown "$user" "$LAB_WORK/run-$user"
    chmod 0700 "$LAB_WORK/run-$user"
    (cd "$LAB_WORK/cwd" && in_pc env XDG_RUNTIME_DIR="$LAB_WORK/run-$user" ipconfig /release > release.out 2> release.err) \
        || lab_fail "/release as root with a user's runtime folder failed: $(cat "$LAB_WORK/cwd/release.err")"
    [[ -z "$(ls -A "$LAB_WORK/run-$user")" ]] || lab_fail "root made files in the user's folder: $(ls -A "$LAB_WORK/run-$user")"
    grep -q veth-p /run/kbr3300/released-* 2>/dev/null || lab_fail "root did not record in /run/kbr3300"
    [[ $(stat -c '%U %a' /run/kbr3300) == "root 700" ]] || lab_fail "/run/kbr3300 is $(stat -c '%U %a' /run/kbr3300)"
    (cd "$LAB_WORK/cwd" && in_pc env XDG_RUNTIME_DIR="$LAB_WORK/run-$user" ipconfig /renew > renew.out 2> renew.err) \
        || lab_fail "/renew failed: $(cat "$LAB_WORK/cwd/renew.err")"
    [[ -z "$(ls -A "$LAB_WORK/run-$user")" ]] || lab_fail "root made files in the user's folder"
    lab_wait 150 pc_has_address_in 192.168.0. || lab_fail "the PC did not get its lease back: $(pc_address)"
    # (c) A run that never lets go of the lock: /release waits for it at most 30 s, then gives up
    # and releases nothing.
    flock -o /run/kbr3300/ipconfig.lock sleep 120 &  # (-o: the lock goes with flock itself)
    holder=$!
    lab_wait 50 bash -c "! flock -n /run/kbr3300/ipconfig.lock true" || lab_die "the lock was not taken"
    releases=$(dhcp_count adaptor RELEASE)
    t0=$(date +%s.%N)
    (cd "$LAB_WORK/cwd" && in_pc ipconfig /release > release.out 2> release.err) \
        && lab_fail "/release succeeded while another run held the lock"
    took=$(seconds_since "$t0")
    kill "$holder"
    grep -q 'still working.*nothing was released' "$LAB_WORK/cwd/release.err" \
        || lab_fail "/release did not say why: $(cat "$LAB_WORK/cwd/release.err")"
    awk -v t="$took" 'BEGIN { exit !(t >= 29 && t < 60) }' || lab_fail "/release waited $took s for the lock (expected 30 s)"
    (( $(dhcp_count adaptor RELEASE) == releases )) || lab_fail "the lease was released without the lock"
    pc_has_address_in 192.168.0. || lab_fail "the PC lost its lease: $(pc_address)"
    # (d) What /renew cannot bring back stays recorded, and is said: here the connection that
    # /release disconnected has been deleted meanwhile.
    (cd "$LAB_WORK/cwd" && in_pc ipconfig /release > release.out 2> release.err) \
        || lab_fail "/release failed: $(cat "$LAB_WORK/cwd/release.err")"
    grep -q $'^nm\tveth-p\t' /run/kbr3300/released-* || lab_fail "/release recorded nothing"
    in_pc nmcli connection delete lab-wired > /dev/null || lab_die "cannot delete the lab's connection"
    (cd "$LAB_WORK/cwd" && in_pc ipconfig /renew > renew.out 2> renew.err) \
        && lab_fail "/renew succeeded without the connection"
    grep -q 'renewal failed on veth-p' "$LAB_WORK/cwd/renew.err" || lab_fail "/renew did not say: $(cat "$LAB_WORK/cwd/renew.err")"
    grep -q $'^nm\tveth-p\t6d0a3c5e' /run/kbr3300/released-* 2>/dev/null \
        || lab_fail "/renew forgot what it could not bring back"
    ;;
shared-dhclient)
    # One dhclient serves two interfaces: veth-p (the adaptor's server) and veth-q (a second server
    # of its own). Releasing and renewing veth-p alone never touches veth-q's lease: no RELEASE
    # for it, its address never goes away, and a dhclient serves it afterwards.
    ip link add veth-b type veth peer name veth-q || lab_die "cannot make the second veth pair"
    ip link set veth-b netns adaptor && ip link set veth-q netns pc
    in_adaptor ip link set veth-b up
    in_adaptor ip addr add 172.20.0.1/24 dev veth-b
    in_adaptor dnsmasq --keep-in-foreground --conf-file=/dev/null --port=0 --interface=veth-b --bind-interfaces \
        --dhcp-range=172.20.0.100,172.20.0.199,255.255.255.0,10m --dhcp-authoritative --no-ping --log-dhcp \
        --log-facility="$LAB_WORK/second.log" --dhcp-leasefile="$LAB_WORK/second.leases" --user=root --pid-file= \
        2>> "$LAB_WORK/second.err" &
    lab_wait 50 grep -q "DHCP, IP range" "$LAB_WORK/second.log" || lab_die "the second dnsmasq did not start"
    adaptor_config_mode
    ip -n pc link set veth-p up
    ip -n pc link set veth-q up
    echo "timeout 20;" > "$LAB_WORK/dhclient.conf"
    in_pc dhclient -4 -v -pf /run/dhclient.pid -lf /var/lib/dhcp/dhclient.leases -cf "$LAB_WORK/dhclient.conf" \
        veth-p veth-q 2>> "$LAB_WORK/dhclient.log" || lab_die "dhclient got no lease"
    lab_wait 100 bash -c "ip -n pc -4 -o addr show dev veth-q | grep -q 172.20.0." || lab_die "no lease on veth-q"
    pc_has_address_in 192.168.0. || lab_die "no adaptor lease to start from: $(pc_address)"
    q_before=$(pc_address veth-q)
    # Every address change all through the run.
    ip -n pc monitor address > "$LAB_WORK/addresses.log" 2>&1 &
    monitor=$!
    sleep 0.2
    make_run_folder "$LAB_WORK/cwd"
    (cd "$LAB_WORK/cwd" && in_pc ipconfig /release veth-p > release.out 2> release.err) \
        || lab_fail "ipconfig /release veth-p failed: $(cat "$LAB_WORK/cwd/release.err")"
    [[ -z "$(pc_address veth-p)" ]] || lab_fail "veth-p still holds $(pc_address veth-p)"
    (cd "$LAB_WORK/cwd" && in_pc ipconfig /renew veth-p > renew.out 2> renew.err) \
        || lab_fail "ipconfig /renew veth-p failed: $(cat "$LAB_WORK/cwd/renew.err")"
    kill "$monitor"
    pc_has_address_in 192.168.0. || lab_fail "veth-p has no lease again: $(pc_address)"
    [[ "$(pc_address veth-q)" == "$q_before" ]] || lab_fail "veth-q's address changed: $q_before -> $(pc_address veth-q)"
    ! grep -q "^Deleted.*veth-q" "$LAB_WORK/addresses.log" \
        || lab_fail "veth-q lost its address during the run: $(grep veth-q "$LAB_WORK/addresses.log")"
    grep -q "^Deleted.*veth-p" "$LAB_WORK/addresses.log" || lab_fail "the address monitor saw no change"
    ! grep -q "DHCPRELEASE(veth-b)" "$LAB_WORK/second.log" || lab_fail "veth-q's lease was released"
    expect_dhcp adaptor RELEASE
    root_clients=$(for pid in $(pgrep -x -u 0 dhclient); do tr '\0' ' ' < "/proc/$pid/cmdline"; echo; done)
    grep -q 'veth-q' <<< "$root_clients" || lab_fail "no dhclient serves veth-q now: $root_clients"
    grep -q -- '-pf /run/dhclient.veth-p.pid -lf /var/lib/dhcp/dhclient.veth-p.leases veth-p' <<< "$root_clients" \
        || lab_fail "veth-p has no dhclient of its own: $root_clients"
    [[ $(grep -c 'veth-p' <<< "$root_clients") -eq 1 ]] || lab_fail "more than one dhclient serves veth-p: $root_clients"
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
