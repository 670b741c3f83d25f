# The network lab's parts, sourced by run_scenario.sh inside the private namespaces that
# scripts/netns-run makes (network, mount, pid, uts; mounts private). Inside it:
#   - a tmpfs over /run, so no socket of this machine's D-Bus, journal or NetworkManager is seen;
#   - an "adaptor" and a "pc" network namespace joined by a veth pair (veth-a, veth-p);
#   - in "adaptor": dnsmasq handing out 192.168.0.x with kbr3300-devsim on 192.168.0.20:52121
#     (configuration mode), or a "home router" dnsmasq handing out 10.0.0.x (normal mode);
#   - in "pc": dhclient (lab files only), NetworkManager or systemd-networkd (lab folders bound over
#     their own, on a private D-Bus bus); our ipconfig, nwinf, wizard and verdict run there too;
#   - the lab's own system bus at /run/dbus/system_bus_socket (inside that tmpfs, with a marker
#     /run/.kbr-netlab naming the work folder), and a tmpfs over /var/lib/dhcp;
#   - nmcli and networkctl reached through guards bound over the tools themselves (our programs
#     run them from /usr/bin, with no bus address of their own): each refuses any call unless /run
#     is the lab's and the name on the bus belongs to the daemon the lab started, then runs the
#     real tool (bound under $LAB_WORK/real) on the lab's bus.
# Everything ends with the namespaces: processes with the pid namespace, mounts with the mount
# namespace; the work folder is removed on exit.

LAB_BUS_SOCKET=""
LAB_PC_MAC=""
: "${LAB_WORK:?}"

# The work folder goes with the run; the real tools bound into it must be let go first.
lab_cleanup() {
    umount "$LAB_WORK"/real/* 2> /dev/null
    rm -rf "$LAB_WORK"
}

lab_fail() { echo "FAIL: $*"; LAB_FAILED=1; }
lab_die() { echo "FAIL: $*"; lab_dump; exit 1; }
in_adaptor() { ip netns exec adaptor "$@"; }
# Runs a command in the PC's namespace with the guards and our programs first on the search path.
in_pc() { ip netns exec pc env PATH="$LAB_WORK/guard:$LAB_WORK/bin:$PATH" "$@"; }

lab_wait() {  # TENTHS COMMAND...: true once COMMAND succeeds, polling every 0.1 s
    local tenths=$1; shift
    for ((i = 0; i < tenths; i++)); do
        "$@" > /dev/null 2>&1 && return 0
        sleep 0.1
    done
    return 1
}

pc_address() {  # the IPv4 address of veth-p (or $1), empty when none
    ip -n pc -4 -o addr show dev "${1:-veth-p}" 2>/dev/null | awk '{print $4}' | cut -d/ -f1 | head -n 1
}
pc_has_address_in() { [[ "$(pc_address)" == $1* ]]; }

lab_setup() {
    mkdir -p "$LAB_WORK"/{bin,guard,bus,run,home,state,nm-etc/conf.d,nm-etc/system-connections,nm-var,nm-sys}
    chmod 0755 "$LAB_WORK" "$LAB_WORK/bus"
    mount -t tmpfs -o mode=0755 lab-run /run || lab_die "cannot hide /run"
    [[ $(findmnt -n -o SOURCE --target /run) == lab-run ]] || lab_die "/run is not the lab's tmpfs"
    mkdir -p /run/netns /run/dbus
    echo "$LAB_WORK" > /run/.kbr-netlab
    # dhclient's lease files where root keeps them, in a folder of the lab's.
    mount -t tmpfs -o mode=0755 lab-dhcp /var/lib/dhcp || lab_die "cannot cover /var/lib/dhcp"
    echo "nameserver 127.0.0.1" > "$LAB_WORK/resolv.conf"
    mount --bind "$LAB_WORK/resolv.conf" /etc/resolv.conf || lab_die "cannot cover /etc/resolv.conf"

    ip netns add adaptor && ip netns add pc || lab_die "cannot make the namespaces"
    ip link add veth-a type veth peer name veth-p || lab_die "cannot make the veth pair"
    ip link set veth-a netns adaptor && ip link set veth-p netns pc
    in_adaptor ip link set lo up && in_adaptor ip link set veth-a up
    ip -n pc link set lo up
    LAB_PC_MAC=$(ip -n pc -o link show veth-p | grep -o 'link/ether [0-9a-f:]*' | cut -d' ' -f2)

    # Our programs, as the user has them on the search path.
    ln -s "$LAB_IPCONFIG" "$LAB_WORK/bin/ipconfig"
    export HOME="$LAB_WORK/home" XDG_RUNTIME_DIR="$LAB_WORK/run"
    unset XDG_STATE_HOME
    chmod 0700 "$LAB_WORK/run"
    lab_start_bus
    lab_write_guards
    # The guards themselves: a call on any other bus is refused before nmcli runs, and so is one
    # where /run is not the lab's.
    local rc
    in_pc env DBUS_SYSTEM_BUS_ADDRESS="unix:path=$LAB_WORK/bus/other_socket" /usr/bin/nmcli general > /dev/null 2>&1
    rc=$?
    [[ $rc -eq 99 ]] || lab_die "the nmcli guard let a call to another bus through (exit $rc)"
    mv /run/.kbr-netlab /run/.kbr-netlab.away
    in_pc /usr/bin/nmcli general > /dev/null 2>&1
    rc=$?
    mv /run/.kbr-netlab.away /run/.kbr-netlab
    [[ $rc -eq 99 ]] || lab_die "the nmcli guard let a call through without the lab's /run (exit $rc)"
    rm -f "$LAB_WORK/guard.log"
}

# ---- the private system bus -------------------------------------------------------------------

lab_start_bus() {
    # The system bus's own place, in the lab's /run: programs that find the bus there by
    # themselves (ours run nmcli with no bus address) reach this bus and no other.
    LAB_BUS_SOCKET="/run/dbus/system_bus_socket"
    cat > "$LAB_WORK/bus.conf" <<EOF
<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>system</type>
  <listen>unix:path=$LAB_BUS_SOCKET</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow user="*"/>
    <allow own="*"/>
    <allow send_destination="*"/>
    <allow receive_sender="*"/>
  </policy>
</busconfig>
EOF
    dbus-daemon --config-file="$LAB_WORK/bus.conf" --nofork --nopidfile 2> "$LAB_WORK/bus.log" &
    echo $! > "$LAB_WORK/bus.pid"
    export DBUS_SYSTEM_BUS_ADDRESS="unix:path=$LAB_BUS_SOCKET"
    lab_wait 50 test -S "$LAB_BUS_SOCKET" || lab_die "the lab's bus did not start"
}

bus_owner_pid() {  # NAME: the pid of the name's owner on the lab's bus
    dbus-send --system --print-reply --dest=org.freedesktop.DBus /org/freedesktop/DBus \
        org.freedesktop.DBus.GetConnectionUnixProcessID "string:$1" 2>/dev/null | awk '/uint32/ {print $2}'
}

owns_name() { [[ "$(bus_owner_pid "$1")" == "$2" ]]; }  # NAME PID

# nmcli and networkctl reach whatever daemon the system bus leads to, namespaces or not: every
# call, ours included, goes through a guard that checks the bus and the daemon first. The guards
# are bound over the tools themselves (our programs run /usr/bin/nmcli), and also come first on
# the lab's search path; options for them come through files in the work folder, since our
# programs pass no environment on.
lab_write_guards() {
    local tool name pidfile real
    mkdir -p "$LAB_WORK/real"
    chmod 0755 "$LAB_WORK/real" "$LAB_WORK/guard"
    for tool in nmcli networkctl; do
        if [[ $tool == nmcli ]]; then
            name=org.freedesktop.NetworkManager pidfile=$LAB_WORK/nm.pid
        else
            name=org.freedesktop.network1 pidfile=$LAB_WORK/networkd.pid
        fi
        real=$(command -v $tool) || continue
        real=$(readlink -f "$real")
        cat > "$LAB_WORK/guard/$tool" <<GUARD
#!/bin/bash
# Lab guard: $tool only on the lab's private bus, and only to the daemon the lab started.
refuse() { echo "lab guard: refused $tool \$*: \$1" >> "$LAB_WORK/guard.log"; echo "lab guard: \$1" >&2; exit 99; }
# /run is the lab's tmpfs (its marker names this lab), so the bus socket in it is the lab's.
[[ "\$(cat /run/.kbr-netlab 2>/dev/null)" == "$LAB_WORK" ]] || refuse "/run is not the lab's"
[[ -z "\${DBUS_SYSTEM_BUS_ADDRESS:-}" || "\$DBUS_SYSTEM_BUS_ADDRESS" == "unix:path=$LAB_BUS_SOCKET" ]] \\
    || refuse "not the lab's bus"
export DBUS_SYSTEM_BUS_ADDRESS="unix:path=$LAB_BUS_SOCKET"
owner=\$(dbus-send --system --print-reply --dest=org.freedesktop.DBus /org/freedesktop/DBus \\
    org.freedesktop.DBus.GetConnectionUnixProcessID "string:$name" 2>/dev/null | awk '/uint32/ {print \$2}')
# Nobody on the lab's bus answers for the name: $tool finds no daemon. Anyone else is refused.
if [[ -n "\$owner" ]]; then
    [[ -s "$pidfile" && "\$owner" == "\$(cat "$pidfile" 2>/dev/null)" ]] || refuse "$name is not the lab's (owner \$owner)"
fi
if [[ $tool == nmcli && -s "$LAB_WORK/slow-disconnect" && "\$1 \$2" == "device disconnect" ]]; then
    sleep "\$(cat "$LAB_WORK/slow-disconnect")"
fi
echo "\$(date +%s.%N) $tool \$*" >> "$LAB_WORK/calls.log"
exec "$LAB_WORK/real/$tool" "\$@"
GUARD
        chmod 0755 "$LAB_WORK/guard/$tool"
        # The real tool where the guard finds it, then the guard in the tool's place (in this
        # mount namespace only).
        : > "$LAB_WORK/real/$tool"
        mount --bind "$real" "$LAB_WORK/real/$tool" || lab_die "cannot keep the real $tool"
        mount --bind "$LAB_WORK/guard/$tool" "$real" || lab_die "cannot put the guard over $real"
    done
}

# ---- the adaptor's two modes --------------------------------------------------------------------

lab_stop_adaptor() {
    local pidfile
    for pidfile in "$LAB_WORK"/adaptor-dnsmasq.pid "$LAB_WORK"/router-dnsmasq.pid "$LAB_WORK"/devsim.pid; do
        [[ -s $pidfile ]] || continue
        kill "$(cat "$pidfile")" 2>/dev/null
        lab_wait 50 bash -c "! kill -0 $(cat "$pidfile") 2>/dev/null"
        rm -f "$pidfile"
    done
    in_adaptor ip -4 addr flush dev veth-a
}

start_dnsmasq() {  # NAME RANGE [OPTIONS...]
    local name=$1 range=$2; shift 2
    in_adaptor dnsmasq --keep-in-foreground --conf-file=/dev/null --port=0 --interface=veth-a --bind-interfaces \
        --dhcp-range="$range" --dhcp-authoritative --no-ping --log-dhcp --log-facility="$LAB_WORK/$name.log" \
        --dhcp-leasefile="$LAB_WORK/$name.leases" --user=root --pid-file= "$@" 2>> "$LAB_WORK/$name.err" &
    echo $! > "$LAB_WORK/$name-dnsmasq.pid"
    lab_wait 50 grep -q "DHCP, IP range" "$LAB_WORK/$name.log" || lab_die "dnsmasq ($name) did not start"
}

# Configuration mode: the adaptor answers at 192.168.0.20 and hands out 192.168.0.x itself.
adaptor_config_mode() {
    lab_stop_adaptor
    in_adaptor ip addr add 192.168.0.20/24 dev veth-a
    # No router: the adaptor is the only thing on the cable.
    start_dnsmasq adaptor 192.168.0.100,192.168.0.199,255.255.255.0,10m --dhcp-option=3
    in_adaptor "$LAB_DEVSIM" --listen 192.168.0.20:52121 > "$LAB_WORK/devsim.log" 2>&1 &
    echo $! > "$LAB_WORK/devsim.pid"
    lab_wait 50 grep -q '^listening on ' "$LAB_WORK/devsim.log" || lab_die "the device simulator did not start"
}

# Normal mode: the adaptor only bridges; the PC's address comes from the home router (10.0.0.1).
adaptor_normal_mode() {
    lab_stop_adaptor
    in_adaptor ip addr add 10.0.0.1/24 dev veth-a
    start_dnsmasq router 10.0.0.100,10.0.0.199,255.255.255.0,10m
}

# ---- the PC's DHCP client -----------------------------------------------------------------------

start_client() {  # dhclient | nm [auth-polkit value] | networkd
    case $1 in
    networkd)
        start_networkd
        ;;
    dhclient)
        ip -n pc link set veth-p up
        echo "timeout 20;" > "$LAB_WORK/dhclient.conf"
        # Its pid and lease files where root keeps them (the lab's /run and /var/lib/dhcp); its
        # configuration is the lab's (our renewal does not keep it, and runs dhclient with the
        # system's own); its script writes only the lab's resolv.conf (bound over
        # /etc/resolv.conf) and the namespace's addresses.
        in_pc dhclient -4 -v -pf /run/dhclient.veth-p.pid -lf /var/lib/dhcp/dhclient.veth-p.leases \
            -cf "$LAB_WORK/dhclient.conf" veth-p 2>> "$LAB_WORK/dhclient.log" \
            || lab_die "dhclient got no lease"
        ;;
    nm)
        start_network_manager "${2:-false}"
        ;;
    esac
}

start_network_manager() {  # AUTH_POLKIT
    cat > "$LAB_WORK/nm-etc/NetworkManager.conf" <<EOF
[main]
plugins=keyfile
auth-polkit=$1
dns=none
rc-manager=unmanaged
hostname-mode=none
no-auto-default=*

[keyfile]
unmanaged-devices=none

[logging]
level=DEBUG

[device-lab]
match-device=interface-name:veth-*
managed=1
EOF
    cat > "$LAB_WORK/nm-etc/system-connections/lab-wired.nmconnection" <<EOF
[connection]
id=lab-wired
uuid=6d0a3c5e-1111-4222-8333-944455556666
type=ethernet
interface-name=veth-p

[ipv4]
method=auto

[ipv6]
method=ignore
EOF
    chmod 0600 "$LAB_WORK/nm-etc/system-connections/lab-wired.nmconnection"
    # Its folders are the lab's.
    mount --bind "$LAB_WORK/nm-etc" /etc/NetworkManager || lab_die "cannot cover /etc/NetworkManager"
    mount --bind "$LAB_WORK/nm-var" /var/lib/NetworkManager || lab_die "cannot cover /var/lib/NetworkManager"
    start_pc_daemon NetworkManager org.freedesktop.NetworkManager nm \
        "exec NetworkManager --no-daemon --system-config-dir=$LAB_WORK/nm-sys --config-dir=$LAB_WORK/nm-etc/conf.d"
}

# Starts a network daemon in the PC's namespace with a read-only /sys (so it does not wait for
# udev, which is not here), waits until it owns its name on the lab's bus (the guards check that
# owner), then brings the PC's link up and waits for its lease.
start_pc_daemon() {  # WHAT BUS_NAME FILE_STEM SHELL_COMMAND
    ip netns exec pc unshare -m sh -c "mount -o remount,bind,ro /sys && $4" > "$LAB_WORK/$3.log" 2>&1 &
    local pid=$!
    lab_wait 100 owns_name "$2" "$pid" || lab_die "$1 did not take its name on the lab's bus"
    echo "$pid" > "$LAB_WORK/$3.pid"
    ip -n pc link set veth-p up
    lab_wait 150 bash -c "ip -n pc -4 -o addr show dev veth-p | grep -q inet" || lab_die "$1 got no lease"
}

# ---- the programs -------------------------------------------------------------------------------

# A run folder as the launcher makes it: nwinf beside the configuration program (a stand-in that
# records its start), and the verdict's stand-in for the Reminder.
make_run_folder() {  # FOLDER [OWNER]
    mkdir -p "$1"
    ln -sf "$LAB_NWINF" "$1/nwinf"
    cat > "$1/KBR3300" <<EOF
#!/bin/bash
echo "started \$(date +%s.%N) args=\$#" >> "$1/launch.log"
EOF
    chmod 0755 "$1/KBR3300"
    [[ -z "${2:-}" ]] || chown -R "$2" "$1"
}

run_wizard() {  # FOLDER [STEPS]: the wizard's test build from FOLDER, offscreen
    (cd "$1" && in_pc env QT_QPA_PLATFORM=offscreen KBR_WIZARD_TEST_LOG="$1/boxes.log" \
        KBR_WIZARD_TEST_STEPS="${2:-}" timeout 120 "$LAB_WIZARD" 2> "$1/wizard.err")
}

run_refresh() {  # FOLDER [USER]: "Refresh IP address" in FOLDER; prints the verdict
    local as=()
    [[ -z "${2:-}" ]] || as=(setpriv --reuid="$2" --regid="$2" --clear-groups --inh-caps=-all
                            env HOME="$LAB_WORK/home-$2" XDG_RUNTIME_DIR="$LAB_WORK/run-$2")
    (cd "$1" && in_pc "${as[@]}" env QT_QPA_PLATFORM=offscreen timeout 170 "$LAB_REFRESH" 2> "$1/refresh.err")
}

# ---- checks ---------------------------------------------------------------------------------------

# dnsmasq's log NAME shows a DHCP exchange of KIND (DISCOVER, REQUEST, ACK, RELEASE) with the PC.
expect_dhcp() {  # NAME KIND [MIN]
    local n
    n=$(grep -c "DHCP$2(veth-a).*$LAB_PC_MAC" "$LAB_WORK/$1.log" 2>/dev/null)
    (( n >= ${3:-1} )) || lab_fail "no DHCP$2 from the PC on the $1's server (seen $n)"
}

dhcp_count() {  # NAME KIND
    grep -c "DHCP$2(veth-a).*$LAB_PC_MAC" "$LAB_WORK/$1.log" 2>/dev/null || true
}

lab_dump() {
    local f
    for f in guard.log calls.log adaptor.log router.log dhclient.log devsim.log; do
        [[ -s "$LAB_WORK/$f" ]] && { echo "--- $f"; tail -n 40 "$LAB_WORK/$f"; }
    done
    for f in "$LAB_WORK"/*/wizard.err "$LAB_WORK"/*/boxes.log "$LAB_WORK"/*/refresh.err "$LAB_WORK"/*/nicinfo.tmp \
             "$LAB_WORK"/*/launch.log "$LAB_WORK"/home*/.local/state/kbr3300/log; do
        [[ -s $f ]] && { echo "--- ${f#$LAB_WORK/}"; tail -n 40 "$f"; }
    done
    [[ -s "$LAB_WORK/nm.log" ]] && { echo "--- nm.log (last lines)"; grep -E "<info>|<warn>|<error>" "$LAB_WORK/nm.log" | tail -n 30; }
    echo "--- pc addresses"; ip -n pc -4 -o addr
}

# systemd-networkd without systemd or udev: its folders are the lab's, its runtime folder belongs
# to its own user.
start_networkd() {
    mkdir -p "$LAB_WORK/networkd-etc" "$LAB_WORK/networkd-lib"
    cat > "$LAB_WORK/networkd-etc/50-lab.network" <<EOF2
[Match]
Name=veth-p

[Network]
DHCP=ipv4
LinkLocalAddressing=no
IPv6AcceptRA=no
EOF2
    mkdir -p /run/systemd/netif/links /run/systemd/netif/leases /run/systemd/netif/lldp
    chown -R systemd-network:systemd-network /run/systemd/netif
    chmod 0755 /run/systemd /run/systemd/netif
    mount --bind "$LAB_WORK/networkd-etc" /etc/systemd/network || lab_die "cannot cover /etc/systemd/network"
    mount --bind "$LAB_WORK/networkd-lib" /lib/systemd/network || lab_die "cannot cover /lib/systemd/network"
    start_pc_daemon systemd-networkd org.freedesktop.network1 networkd \
        "SYSTEMD_LOG_LEVEL=debug exec /lib/systemd/systemd-networkd"
}
