#!/bin/bash
# The product as a user gets it, in the network lab (lab.sh): the Debian package made from this
# build by cpack, installed with dpkg, started from its desktop entry's Exec line under Xvfb in the
# lab's PC namespace, against real dnsmasq, NetworkManager or dhclient and the simulated adaptor.
# dpkg installs into the lab's own mount namespace: overlays over /usr and dpkg's folders take
# every write, so this machine's files and package database never change.
#
#   installed_product.sh CASE BUILD_DIR
#     user-nm            an ordinary user (uid 65534, its own 0700 XDG_RUNTIME_DIR, umask 022)
#                        whom NetworkManager lets control the network, as polkit does for an active
#                        desktop session
#     user-nm-no-rights  the same user where NetworkManager refuses (auth-polkit=root-only)
#     root-dhclient      root on a PC whose lease ISC dhclient holds (an ifupdown system)
#   LAB_DEVSIM from the environment: the adaptor's simulator.
# Exit 0 passed, 1 failed, 77 skipped (the reason on one line).
set -u
CASE=${1:?case} BUILD=${2:?build folder}
HERE=$(cd "$(dirname "$0")" && pwd)

if [[ "${LAB_INSIDE:-}" != 1 ]]; then
    [[ $(id -u) -eq 0 ]] || { echo "SKIP: the network lab needs root (it runs DHCP clients and servers)"; exit 77; }
    for tool in ip unshare dnsmasq dbus-daemon dbus-send setpriv cpack dpkg dpkg-deb Xvfb xdotool /usr/bin/python3 tesseract; do
        command -v $tool > /dev/null || { echo "SKIP: $tool is missing (scripts/install-deps installs it)"; exit 77; }
    done
    case $CASE in
    root-dhclient) command -v dhclient > /dev/null || { echo "SKIP: dhclient is missing (isc-dhcp-client)"; exit 77; } ;;
    *) command -v NetworkManager > /dev/null || { echo "SKIP: NetworkManager is missing (network-manager)"; exit 77; } ;;
    esac
    [[ -x $LAB_DEVSIM && -f $BUILD/CPackConfig.cmake ]] || { echo "SKIP: the build is not complete"; exit 77; }
    # The package as a user gets it: made from this build, nothing laid out by hand.
    PACKAGES=$(mktemp -d /tmp/kbr-package.XXXXXX)
    trap 'rm -rf "$PACKAGES"' EXIT
    if ! (cd "$PACKAGES" && cpack --config "$BUILD/CPackConfig.cmake" -G DEB -B "$PACKAGES" > cpack.log 2>&1); then
        cat "$PACKAGES/cpack.log"; echo "FAIL: cpack"; exit 1
    fi
    LAB_INSIDE=1 NETNS_RUN_ROOT=1 LAB_PACKAGES=$PACKAGES "$HERE/../../scripts/netns-run" --bare "$0" "$@"
    exit $?
fi

LAB_WORK=$(mktemp -d /tmp/kbr-netlab.XXXXXX)
LAB_FAILED=0
# shellcheck source=lab.sh
source "$HERE/lab.sh"
trap lab_cleanup EXIT
START=$(date +%s.%N)
seconds_since() { awk -v a="$1" -v b="$(date +%s.%N)" 'BEGIN { printf "%.1f", b - a }'; }

# ---- the package, installed where a user has it -----------------------------------------------------
for folder in /usr /var/lib/dpkg /var/log; do
    mkdir -p "$LAB_WORK/overlay$folder/upper" "$LAB_WORK/overlay$folder/work"
    mount -t overlay overlay -o "lowerdir=$folder,upperdir=$LAB_WORK/overlay$folder/upper,workdir=$LAB_WORK/overlay$folder/work" \
        "$folder" || { echo "FAIL: cannot lay an overlay over $folder"; exit 1; }
done
deb=$(ls "$LAB_PACKAGES"/kbr3300_*.deb)
t0=$(date +%s.%N)
dpkg -i --no-triggers "$deb" > "$LAB_WORK/dpkg.log" 2>&1 || { cat "$LAB_WORK/dpkg.log"; echo "FAIL: dpkg -i $(basename "$deb")"; exit 1; }
echo "installed $(basename "$deb") in $(seconds_since "$t0") s"
DESKTOP_FILE=$(dpkg -L kbr3300 | grep '/share/applications/[^/]*\.desktop$')
HELPERS=$(dirname "$(dpkg -L kbr3300 | grep '/KBR3300_Wizardd$')")
EXEC=$(sed -n 's/^Exec=//p' "$DESKTOP_FILE")
WINDOW_CLASS=$(sed -n 's/^StartupWMClass=//p' "$DESKTOP_FILE")
[[ -n $EXEC ]] || { echo "FAIL: the desktop entry has no Exec line"; exit 1; }
# What lab.sh gives the user's search path: the installed helpers, not the build's.
LAB_IPCONFIG=$HELPERS/ipconfig LAB_NWINF=$HELPERS/nwinf

lab_setup

MSG_REFRESHED="IP address was refreshed successfully."
MSG_NO_ADDRESS=$'The computer cannot get an IP address from the \nrouter. Please make sure the computer has access to \nthe router.'
ocr_words() { tr 'A-Z' 'a-z' <<< "$1" | grep -oE '[a-z0-9.]+' | tr '\n' ' ' | sed 's/ $//'; }
expect_verdict() {  # GOT WANT: the box read from the screen against the message
    [[ "$1" == *"$(ocr_words "$2")"* ]] || lab_fail "verdict: the screen shows '$1', expected '$2'"
}

# ---- the desktop ---------------------------------------------------------------------------------
export KBR_SHOTS=$LAB_WORK/shots
mkdir -p "$KBR_SHOTS"
start_display() {
    # The X server's socket folder is the lab's own: X servers of other namespaces may take the same
    # display number (each takes the other's lock file for a stale one), and the window tools reach
    # the server through this folder.
    mount -t tmpfs -o mode=1777 lab-x11 /tmp/.X11-unix || lab_die "cannot make the lab's X socket folder"
    exec {displayfd}> "$LAB_WORK/display"
    in_pc Xvfb -displayfd "$displayfd" -screen 0 1280x1024x24 -nolisten tcp -ac -noreset \
        > "$LAB_WORK/xvfb.log" 2>&1 &
    lab_wait 100 grep -q . "$LAB_WORK/display" || lab_die "Xvfb did not start"
    export DISPLAY=":$(head -n 1 "$LAB_WORK/display")"
}

# Debian's python3, whose packages scripts/install-deps installs (another python3 may come first on
# PATH).
session() { in_pc /usr/bin/python3 "$HERE/installed_session.py" "$@"; }

# Starts the desktop entry's Exec line as a desktop does: through the search path of a login
# session, in the user's own environment (nothing of the lab's), with umask 022.
start_from_desktop_entry() {  # USER (a uid, or root)
    local uid=$1 home=$LAB_WORK/home-$1 runtime=/run/user/$1
    mkdir -p "$home" "$runtime"
    chown "$uid:$uid" "$home" "$runtime" 2>/dev/null || chown "$uid" "$home" "$runtime"
    chmod 0700 "$runtime"
    local as=()
    [[ $uid == 0 ]] || as=(setpriv --reuid="$uid" --regid="$uid" --clear-groups --inh-caps=-all)
    (cd "$home" && in_pc "${as[@]}" env -i HOME="$home" USER=user LOGNAME=user XDG_RUNTIME_DIR="$runtime" \
        DISPLAY="$DISPLAY" PATH=/usr/local/bin:/usr/bin:/bin LANG=C.UTF-8 \
        QTWEBENGINE_REMOTE_DEBUGGING=127.0.0.1:9229 \
        sh -c 'umask 022; exec $0' "$EXEC" > "$LAB_WORK/programs.log" 2>&1 &)
}

program_running() { pgrep -x "$1" > /dev/null; }  # the wizard starts "./KBR3300"

# The Reminder's refresh after the adaptor went back to normal mode: the verdict on the screen.
close_and_refresh() {  # WANT
    session close-main || lab_fail "the main window did not close to the Reminder"
    adaptor_normal_mode
    t0=$(date +%s.%N)
    local out
    out=$(session refresh) || lab_fail "the Reminder did not close: $(tail -n 1 <<< "$out")"
    echo "refresh and verdict: $(seconds_since "$t0") s"
    expect_verdict "$(head -n 1 <<< "$out")" "$1"
    lab_wait 300 bash -c "! pgrep -x KBR3300" || lab_fail "the configuration program did not end"
}

wizard_renews_and_launches() {  # PASSWORD
    t0=$(date +%s.%N)
    session login "$1" || lab_fail "no login from the desktop entry"
    echo "desktop entry to logged in: $(seconds_since "$t0") s"
    session identity "^Ethernet Coax Bridge - " "$WINDOW_CLASS" || lab_fail "the main window is not the desktop entry's"
    pc_has_address_in 192.168.0. || lab_fail "the PC does not hold the adaptor's lease: $(pc_address)"
    expect_dhcp adaptor ACK
    ! program_running KBR3300_Wizardd || lab_fail "the wizard still runs beside the configuration program"
    run=$(ls -d "$2"/kbr3300 2>/dev/null)
    [[ $(stat -c %a "$run") == 700 ]] || lab_fail "the run folder is not private: $(stat -c '%a %U' "$run")"
}

check_removal() {
    t0=$(date +%s.%N)
    dpkg -r kbr3300 > "$LAB_WORK/dpkg-remove.log" 2>&1 || lab_fail "dpkg -r kbr3300: $(cat "$LAB_WORK/dpkg-remove.log")"
    echo "removed in $(seconds_since "$t0") s"
    for program in kbr3300 kbr3300ctl ipconfig nwinf KBR3300 KBR3300_Wizardd; do
        ! PATH=/usr/local/bin:/usr/bin:/bin command -v "$program" > /dev/null || lab_fail "$program is still on the PATH"
    done
    [[ ! -e $HELPERS ]] || lab_fail "$HELPERS is still there"
    for program in KBR3300 KBR3300_Wizardd nwinf ipconfig; do
        ! pgrep -ax "$program" || lab_fail "$program still runs"
    done
}

start_display
case $CASE in
user-nm)
    adaptor_normal_mode
    start_client nm false
    pc_has_address_in 10.0.0. || lab_die "no router lease to start from: $(pc_address)"
    adaptor_config_mode
    start_from_desktop_entry 65534
    wizard_renews_and_launches admin /run/user/65534
    close_and_refresh "$MSG_REFRESHED"
    pc_has_address_in 10.0.0. || lab_fail "the PC did not get the router's lease back: $(pc_address)"
    expect_dhcp router ACK
    ;;
user-nm-no-rights)
    # The wizard: the first probe fails, the release is refused, and nothing is given up: the
    # failure dialog shows and the PC keeps the router's lease.
    adaptor_normal_mode
    start_client nm root-only
    pc_has_address_in 10.0.0. || lab_die "no router lease to start from: $(pc_address)"
    adaptor_config_mode
    start_from_desktop_entry 65534
    session wait-window "Connection failed" || lab_fail "no failure dialog"
    session identity "^Connection failed\$" "$WINDOW_CLASS" || lab_fail "the wizard's window is not the desktop entry's"
    pc_has_address_in 10.0.0. || lab_fail "the PC lost its lease: $(pc_address)"
    grep -q 'ipconfig: release failed.*no rights' "$LAB_WORK/home-65534/.local/state/kbr3300/log" \
        || lab_fail "the reason was not logged: $(cat "$LAB_WORK/home-65534/.local/state/kbr3300/log" 2>/dev/null)"
    session key "Connection failed" Escape
    lab_wait 100 bash -c "! pgrep -x KBR3300_Wizardd" || lab_fail "the wizard did not end"
    # The Reminder's refresh: the PC holds the adaptor's lease (root renewed it), the user cannot
    # renew, and the verdict says the PC has no address from the router.
    in_pc nmcli device connect veth-p > /dev/null || lab_die "root could not renew the lease"
    pc_has_address_in 192.168.0. || lab_die "no adaptor lease: $(pc_address)"
    start_from_desktop_entry 65534
    session login admin || lab_fail "no login from the desktop entry"
    close_and_refresh "$MSG_NO_ADDRESS"
    pc_has_address_in 192.168.0. || lab_fail "the PC's address changed: $(pc_address)"
    ;;
root-dhclient)
    adaptor_normal_mode
    start_client dhclient
    pc_has_address_in 10.0.0. || lab_die "no router lease to start from: $(pc_address)"
    adaptor_config_mode
    start_from_desktop_entry 0
    wizard_renews_and_launches admin /run/user/0
    close_and_refresh "$MSG_REFRESHED"
    pc_has_address_in 10.0.0. || lab_fail "the PC did not get the router's lease back: $(pc_address)"
    expect_dhcp router ACK
    ;;
*)
    echo "unknown case $CASE"; exit 2 ;;
esac
check_removal

[[ ! -s "$LAB_WORK/guard.log" ]] || lab_fail "a guard refused a call: $(cat "$LAB_WORK/guard.log")"
echo "lab installed/$CASE: $(seconds_since "$START") s"
if [[ $LAB_FAILED -ne 0 || -n ${KBR_NETLAB_VERBOSE:-} ]]; then
    lab_dump
    echo "--- programs.log"; tail -n 60 "$LAB_WORK/programs.log"
    echo "--- run folders"; ls -la /run/user/*/kbr3300 2>/dev/null
fi
[[ $LAB_FAILED -eq 0 ]] || exit 1
echo "PASS: installed product ($CASE)"
