#!/bin/bash
# Runs the wizard's test build once, as a user would start it, inside a private network and
# process namespace where 192.168.0.20 sits on the namespace's own loopback. Nothing here reaches
# the machine's network: the namespace has no other interface, `ipconfig` is a recording stub
# found first on the search path, and `KBR3300` is a recording stub in the current directory.
#
#   run_wizard_case.sh CASE WIZARD LISTENER
# Exit 0: passed; 77: skipped (no namespaces here); anything else: failed.
set -u
CASE=$1 WIZARD=$2 LISTENER=$3

if [[ -z "${KBR_WIZARD_IN_NAMESPACE:-}" ]]; then
    # The namespace's loopback holds 192.168.0.20 and is all there is (77 where none can be made).
    KBR_WIZARD_IN_NAMESPACE=1 exec "$(dirname "$0")/../../scripts/netns-run" "$0" "$@"
fi

WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT
mkdir -p "$WORK/cwd" "$WORK/bin" "$WORK/elsewhere"
BOXES=$WORK/boxes.log          # message boxes and failure-dialog steps (test hook)
IPCONFIG_LOG=$WORK/ipconfig.log
LAUNCH_LOG=$WORK/launch.log
LISTEN_LOG=$WORK/listener.log
STDERR_LOG=$WORK/stderr.log
FAILED=0

fail() { echo "FAIL: $*"; FAILED=1; }
count() {
    if [[ -f $2 ]]; then grep -c -- "$1" "$2"; else echo 0; fi
}
expect_count() {  # PATTERN FILE N WHAT
    local n; n=$(count "$1" "$2")
    [[ $n -eq $3 ]] || fail "$4: expected $3, got $n"
}

start_listener() {
    "$LISTENER" 192.168.0.20 52121 "$LISTEN_LOG" &
    for _ in $(seq 100); do
        grep -q listening "$LISTEN_LOG" 2>/dev/null && return 0
        sleep 0.05
    done
    echo "FAIL: the listener did not start"; exit 1
}

# The recording address-renewal stub; with RENEW_STARTS_DEVICE the device comes up on /renew.
cat > "$WORK/bin/ipconfig" <<STUB
#!/bin/bash
echo "\$*" >> "$IPCONFIG_LOG"
if [[ "\$1" == /renew && -n "\${RENEW_STARTS_DEVICE:-}" ]]; then
    exec "$LISTENER" 192.168.0.20 52121 "$LISTEN_LOG"
fi
STUB
# The recording configuration-program stub: where it was started from, with what, and whether a
# wizard was still there to find (the real program requires one).
cat > "$WORK/KBR3300.stub" <<STUB
#!/bin/bash
wizard=no
for exe in /proc/[0-9]*/exe; do
    [[ "\$(basename "\$(readlink "\$exe" 2>/dev/null)")" == KBR3300_Wizardd ]] && wizard=yes
done
echo "started \$(date +%s%3N) cwd=\$PWD args=\$# wizard=\$wizard" >> "$LAUNCH_LOG"
STUB
chmod +x "$WORK/bin/ipconfig" "$WORK/KBR3300.stub"

# A process that the instance check sees under NAME (its executable's base name).
start_named_process() {
    cp "$(command -v sleep)" "$WORK/elsewhere/$1"
    "$WORK/elsewhere/$1" 60 &
    for _ in $(seq 100); do
        for exe in /proc/[0-9]*/exe; do
            [[ "$(basename "$(readlink "$exe" 2>/dev/null)")" == "$1" ]] && return 0
        done
        sleep 0.05
    done
    echo "FAIL: could not start $1"; exit 1
}

run_wizard() {  # [program]
    local program=${1:-$WIZARD}
    (cd "$WORK/cwd" && PATH="$WORK/bin:$PATH" QT_QPA_PLATFORM=offscreen KBR_WIZARD_TEST_LOG="$BOXES" \
        timeout 60 "$program" 2>"$STDERR_LOG")
    local rc=$?
    [[ $rc -eq 0 ]] || fail "the wizard ended with $rc"
    grep -q '^CSimpleWizardApp::CSimpleWizardApp()$' "$STDERR_LOG" || fail "no constructor trace line"
}

expect_launch_from_cwd() {
    expect_count '^started' "$LAUNCH_LOG" 1 "configuration program starts"
    # From the current directory, without arguments, while a wizard is still there to find.
    grep -q "cwd=$WORK/cwd args=0 wizard=yes" "$LAUNCH_LOG" || fail "wrong launch: $(cat "$LAUNCH_LOG" 2>/dev/null)"
}

# The probe connection stays open while the wizard waits after the launch: measured from the
# moment the listener accepted it (just before the launch) to the moment the wizard closed it.
expect_connection_held_ms() {  # MIN
    local accepted closed
    accepted=$(awk '/^accept/ {print $2}' "$LISTEN_LOG")
    closed=$(awk '/^close/ {print $2}' "$LISTEN_LOG")
    [[ -n $accepted && -n $closed ]] || { fail "no accept or no close logged"; return; }
    (( closed - accepted >= $1 )) || fail "connection closed $((closed - accepted)) ms after it was made (< $1)"
}

expect_no_device_contact() {
    expect_count '^accept' "$LISTEN_LOG" 0 "connections"
    [[ ! -s $IPCONFIG_LOG ]] || fail "ipconfig was run: $(cat "$IPCONFIG_LOG")"
    [[ ! -s $LAUNCH_LOG ]] || fail "the configuration program was started"
}

case $CASE in
answers_at_once)
    cp "$WORK/KBR3300.stub" "$WORK/cwd/KBR3300"
    start_listener
    run_wizard
    expect_count '^accept' "$LISTEN_LOG" 1 "connections"
    expect_count '^close' "$LISTEN_LOG" 1 "closed connections"
    [[ ! -s $IPCONFIG_LOG ]] || fail "ipconfig was run: $(cat "$IPCONFIG_LOG")"
    expect_launch_from_cwd
    expect_connection_held_ms 2950
    [[ ! -s $BOXES ]] || fail "unexpected boxes: $(cat "$BOXES")"
    ;;
answers_after_renewal)
    cp "$WORK/KBR3300.stub" "$WORK/cwd/KBR3300"
    export RENEW_STARTS_DEVICE=1
    run_wizard
    expect_count '^/release$' "$IPCONFIG_LOG" 1 "ipconfig /release"
    expect_count '^/renew$' "$IPCONFIG_LOG" 1 "ipconfig /renew"
    expect_count '^SOCKET_ERROR$' "$STDERR_LOG" 1 "failed attempts"
    expect_count '^accept' "$LISTEN_LOG" 1 "connections"
    expect_launch_from_cwd
    [[ ! -s $BOXES ]] || fail "unexpected boxes: $(cat "$BOXES")"
    ;;
never_answers)
    cp "$WORK/KBR3300.stub" "$WORK/cwd/KBR3300"
    # Start run fails; "Try again" (Enter) fails as well and keeps the dialog; Esc ends.
    KBR_WIZARD_TEST_STEPS=enter,esc run_wizard
    expect_count '^SOCKET_ERROR$' "$STDERR_LOG" 4 "connection attempts (two per run)"
    expect_count '^/release$' "$IPCONFIG_LOG" 2 "ipconfig /release (one per run)"
    expect_count '^/renew$' "$IPCONFIG_LOG" 2 "ipconfig /renew (one per run)"
    expect_count '^failure dialog$' "$BOXES" 1 "failure dialogs"
    expect_count '^box \[KBR3300\] Can not connect to device! owner=ProbeFailedDialog$' "$BOXES" 1 "retry failure box"
    grep -A3 '^step enter' "$BOXES" | grep -q '^dialog still open$' || fail "the dialog closed after a retry"
    expect_count '^failure dialog result 2$' "$BOXES" 1 "dialog ended by Esc"
    [[ ! -s $LAUNCH_LOG ]] || fail "the configuration program was started"
    ;;
config_program_on_path_only)
    cp "$WORK/KBR3300.stub" "$WORK/bin/KBR3300"
    start_listener
    run_wizard
    expect_count '^box \[Error\] Can not execute KBR3300.exe!$' "$BOXES" 1 "launch failure box"
    [[ ! -s $LAUNCH_LOG ]] || fail "a KBR3300 from the search path was started"
    expect_count '^close' "$LISTEN_LOG" 1 "closed connections"
    ;;
config_program_running | second_wizard)
    cp "$WORK/KBR3300.stub" "$WORK/cwd/KBR3300"
    start_listener
    if [[ $CASE == config_program_running ]]; then
        start_named_process KBR3300
    else
        start_named_process KBR3300_Wizardd
    fi
    run_wizard
    expect_count '^box \[Reminder\] The program is running!$' "$BOXES" 1 "instance box"
    expect_no_device_contact
    ;;
renamed_wizard)
    cp "$WORK/KBR3300.stub" "$WORK/cwd/KBR3300"
    start_listener
    cp "$WIZARD" "$WORK/elsewhere/Setup"
    run_wizard "$WORK/elsewhere/Setup"
    expect_count '^box \[Reminder\] The program is running!$' "$BOXES" 1 "instance box"
    expect_no_device_contact
    ;;
*)
    echo "unknown case $CASE"; exit 2 ;;
esac

if [[ $FAILED -ne 0 || -n ${KBR_WIZARD_TEST_VERBOSE:-} ]]; then
    echo "--- boxes"; cat "$BOXES" 2>/dev/null
    echo "--- stderr"; cat "$STDERR_LOG" 2>/dev/null
    echo "--- listener"; cat "$LISTEN_LOG" 2>/dev/null
    echo "--- ipconfig"; cat "$IPCONFIG_LOG" 2>/dev/null
    echo "--- launch"; cat "$LAUNCH_LOG" 2>/dev/null
fi
[[ $FAILED -eq 0 ]] || exit 1
echo "PASS: $CASE"
