#!/usr/bin/env bash
# KavCpl's Settings dialog under Wine on a virtual display, against kavsim serve:
#   tests/controlpanel/wine/settings_wine_test.sh [WINDOWS_BUILD] [NATIVE_BUILD]
# (defaults build/windows and build/native). Opens Settings from the main window, chooses
# Click on Release, moves the beep duration, presses Enter in the trackbar (the dialog stays),
# chooses Sound Card and presses OK; then reads back through another KavLib client the
# driver's record (driver request report) and its registry parameters, and checks that a
# top-level window of another Wine process received "BeepChanged". Then, as a system older
# than Windows 7, checks Hide Cursor and presses OK: the user's 15 cursor roles are hidden.
# Own prefix (a copy of $KAV_WINE_TEMPLATE when set) and display; needs Xvfb and xdotool.
set -euo pipefail
cd "$(dirname "$0")/../../.."

windows_build=${1:-build/windows}
native_build=${2:-build/native}
bin=$windows_build/source/drivers/windows/controlpanel
kavcpl=$bin/KavCpl.exe
probe=$bin/settings_probe.exe
kavsim=$native_build/source/tools/kavsim
. tests/wine/harness.sh
wine_need "settings_wine_test" "$kavcpl" "$probe" "$kavsim"

KAVSIM=$kavsim
wine_work kavcpl-settings
work=$WINE_WORK

window_shown() { wait_window "$@" >/dev/null; }

window_gone() {  # TITLE-REGEX [SECONDS]
    local deadline=$((SECONDS + ${2:-15}))
    while xdotool search --onlyvisible --name "$1" >/dev/null 2>&1; do
        [ $SECONDS -lt $deadline ] || return 1
        sleep 0.3
    done
}

# click TITLE ID [PERCENT]: a real pointer click on control ID of window TITLE, PERCENT of
# its width across (default the middle).
click() {
    local at
    at=$(wine "$probe" control "$1" "$2" "${3:-50}" | tr -d '\r') || return 1
    xdotool mousemove $at click 1
}

# field RECORD NAME: the value of NAME in a probe's record line.
field() { echo "$1" | tr ' ' '\n' | grep -A1 -x "$2" | tail -1; }

wine_prefix
wine_xvfb 1280x800x24
wine_start

cat >"$work/screen.scn" <<'SCENARIO'
set Mode 2
set EnableBeep 1
set BeepType 0
set BeepMode 0
set BeepFrequency 750
set BeepDuration 50
SCENARIO
wine_serve service "$work/screen.scn"
export KAVLIB_PLATFORM=sim KAVLIB_SIM=$WINE_SIM

before=$(wine "$probe" config | tr -d '\r')
check "the driver's record is readable before: $before" test -n "$before"

wine "$kavcpl" >"$work/kavcpl.log" 2>&1 &
kavcpl_pid=$!
wine_kill_on_exit $kavcpl_pid
main_title='TouchScreen Control Panel'
check "main window shown" window_shown "^$main_title\$" 60
click "$main_title" 1083  # Settings
check "Settings opens" window_shown '^Settings$' 30

wine "$probe" listen "$(winepath -w "$work/listener.txt")" 60 >/dev/null 2>&1 &
wine_kill_on_exit $!
check "listener ready" wait_line "$work/listener.txt" '^ready' 30

click Settings 1102  # Click on Release
click Settings 1115 85  # the duration trackbar, right of its thumb: a page up from 50
sleep 0.5
duration=$(wine "$probe" text Settings 1136 | tr -d '\r')
check "the duration moved: $duration" test "$duration" != 50
xdotool key Return  # focus is on the trackbar: Enter must not close the dialog
sleep 1
check "Enter in a trackbar leaves the dialog open" window_shown '^Settings$' 1
click Settings 1116  # Sound Card
click Settings 1077  # OK
check "OK closes the dialog" window_gone '^Settings$' 15

check "another process's window received BeepChanged" wait_line "$work/listener.txt" '^BeepChanged 0 0' 20

after=$(wine "$probe" config | tr -d '\r')
registry=$(wine "$probe" registry | tr -d '\r')
for record in after registry; do
    line=${!record}
    check "$record: Mode 1" test "$(field "$line" Mode)" = 1
    check "$record: BeepType 1" test "$(field "$line" BeepType)" = 1
    check "$record: BeepDuration $duration" test "$(field "$line" BeepDuration)" = "$duration"
    check "$record: BeepMode kept at 0" test "$(field "$line" BeepMode)" = 0
    check "$record: BeepFrequency kept at 750" test "$(field "$line" BeepFrequency)" = 750
done

click "$main_title" 1377 || true  # Exit
check "Exit ends KavCpl" timeout 15 tail --pid="$kavcpl_pid" -f /dev/null
kavcpl_pid=

# A system older than Windows 7: OK with Hide Cursor checked hides the cursor through the
# user's cursor scheme, which a fresh prefix does not have yet.
wine reg add 'HKCU\Software\Wine' /v Version /d winxp64 /f >/dev/null 2>&1
wine reg add 'HKCU\Control Panel\Cursors' /f >/dev/null 2>&1
wine "$kavcpl" >>"$work/kavcpl.log" 2>&1 &
kavcpl_pid=$!
wine_kill_on_exit $kavcpl_pid
check "main window shown on the older system" window_shown "^$main_title\$" 60
click "$main_title" 1083
check "Settings opens on the older system" window_shown '^Settings$' 30
click Settings 1105  # Hide Cursor, usable only here
click Settings 1077
check "OK closes the dialog on the older system" window_gone '^Settings$' 15
hidden=$(wine reg query 'HKCU\Control Panel\Cursors' | tr -d '\r' | grep -c 'REG_EXPAND_SZ *%SYSTEMROOT%\\Cursors\\null.cur$' || true)
check "the 15 cursor roles hidden: $hidden" test "$hidden" = 15
check "the record says HideCursor 1" test "$(field "$(wine "$probe" config | tr -d '\r')" HideCursor)" = 1
click "$main_title" 1377 || true
timeout 15 tail --pid="$kavcpl_pid" -f /dev/null || true
kavcpl_pid=
"$kavsim" send --address "$KAVLIB_SIM" quit >/dev/null 2>&1 || true

[ "$wine_failures" -eq 0 ] || echo "records before [$before] after [$after] registry [$registry]" >&2
wine_report settings_wine_test
