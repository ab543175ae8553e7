#!/usr/bin/env bash
# KavCpl's Mapping dialog, identification window and About dialog under Wine, against
# the simulated screen service with two screens, on two monitors (Xephyr with two screens
# and Xinerama inside Xvfb):
#   tests/controlpanel/wine/mapping_about_wine_test.sh [WINDOWS_BUILD] [NATIVE_BUILD]
# (defaults build/windows and build/native). A record naming monitor 3 of 2 opens on
# monitor 1 with Apply enabled; Mapping assigns both screens numbers that a second KavLib
# client reads back through the service; Apply writes and keeps the dialog
# open, Cancel discards, Enter presses nothing while Tab and Space work, Escape cancels; Identify covers
# the chosen monitor and closes on Escape or by itself; About shows what the service's
# controller reports. Runs in a prefix of its own (a copy of $KAV_WINE_TEMPLATE when set).
# Needs Xvfb, Xephyr, xdotool, xwininfo and ImageMagick.
set -euo pipefail
cd "$(dirname "$0")/../../.."
windows_build=$(cd "${1:-build/windows}" && pwd)
native_build=$(cd "${2:-build/native}" && pwd)
bin=$windows_build/source/drivers/windows/controlpanel
kavsim=$native_build/source/tools/kavsim
. tests/wine/harness.sh
wine_need "mapping_about_wine_test" "$bin/KavCpl.exe" "$bin/mapping_probe.exe" "$kavsim"

KAVSIM=$kavsim
wine_work kavcpl-mapping
work=$WINE_WORK
wine_prefix
wine_two_monitors
# Mapping is offered only on systems older than 6.1.
wine_reg 'HKCU\Software\Wine' Version vista
wine_start
cd /tmp

wine_serve service --screens 2
export KAVLIB_PLATFORM=sim KAVLIB_SIM=$WINE_SIM

probe() { wine "$bin/mapping_probe.exe" "$@" 2>/dev/null | tr -d '\r'; }
click() {  # click TITLE CONTROL_ID
    local x y
    read -r x y < <(probe center "$1" "$2")
    xdotool mousemove "$x" "$y" click 1
    sleep 0.5
}
choose() {  # choose TITLE LIST_ID KEY: opens the drop-down list and moves by KEY
    click "$1" "$2"
    xdotool key "$3" Return
    sleep 0.5
}
visible() { xdotool search --onlyvisible --name "$1" >/dev/null 2>&1; }
main_usable() { [ "$(probe enabled "$main" 1086)" = 1 ]; }
covers() { xwininfo -root -children | grep -q "  $1  "; }  # covers GEOMETRY, as WxH+X+Y

# Screen 1's record names monitor 3, of which there is none; screen 2 is touch screen 1 on
# monitor 1.
check "screen 1 set to monitor 3" test "$(probe set-numbers 0 0 2)" = "0 2"
check "screen 2 unassigned" test "$(probe numbers 1)" = "0 0"
main='TouchScreen Control Panel'
wine "$bin/KavCpl.exe" >/dev/null 2>&1 &
wine_kill_on_exit $!
check "main window shown" wait_until 60 visible "^$main\$"
click "$main" 1086
check "Mapping opens" wait_until 15 visible '^Mapping$'
check "Mapping button disabled while it is open" test "$(probe enabled "$main" 1086)" = 0

# Monitor 3 gives way to monitor 1, a change to apply.
check "screen 1 opens on monitor 1" test "$(probe text Mapping 1170)" = " 1"
check "and Apply is enabled" test "$(probe enabled Mapping 1079)" = 1

# Screen 1 onto monitor 2, screen 2 as touch screen 2; Apply writes and stays open.
choose Mapping 1170 Down
click Mapping 1165
xdotool key Right
sleep 0.5
check "the second row shows its own numbers" test "$(probe text Mapping 1179)/$(probe text Mapping 1170)" = " 1/ 1"
choose Mapping 1179 Down
click Mapping 1079
check "Apply wrote both screens' numbers" wait_until 10 eval '[ "$(probe numbers 0) $(probe numbers 1)" = "0 1 1 0" ]'
check "Apply keeps the dialog open" visible '^Mapping$'
check "Apply disabled once written" test "$(probe enabled Mapping 1079)" = 0

# Identify on monitor 2 (the first row is selected again after Apply), then on monitor 1.
check "the first row shows monitor 2" test "$(probe text Mapping 1170)" = " 2"
click Mapping 1180
check "Identify covers monitor 2" wait_until 5 covers 1280x1024+1920+0
import -window root "$work/identify.png"
check "its window is drawn over monitor 2" test "$(convert "$work/identify.png" -format '%[hex:p{1930,1000}]' info:)" != 000000
xdotool key Escape
check "Escape closes it" wait_until 3 eval '! covers 1280x1024+1920+0'
choose Mapping 1170 Up
click Mapping 1180
check "Identify covers monitor 1" wait_until 5 covers 1920x1080+0+0
sleep 1
check "it is still there after a second" covers 1920x1080+0+0
check "it closes by itself after three ticks" wait_until 6 eval '! covers 1920x1080+0+0'

# Cancel discards the unapplied choice of monitor 1.
click Mapping 1078
check "Cancel closes Mapping" wait_until 5 eval '! visible ^Mapping$'
check "Cancel wrote nothing" test "$(probe numbers 0)" = "0 1"
check "the main window is usable again" wait_until 10 main_usable

# Enter presses nothing, even on a focused button; Tab and Space still work.
click "$main" 1086
wait_until 15 visible '^Mapping$'
xdotool key Tab Tab Tab Tab  # list, two drop-down lists, Identify: onto OK
sleep 0.3
xdotool key Return
sleep 1
check "Enter on OK keeps Mapping open" visible '^Mapping$'
xdotool key space
check "Space on OK closes it" wait_until 5 eval '! visible ^Mapping$'
check "OK gives the main window back" wait_until 10 main_usable
# Escape cancels, so the main window hears of it and is usable again.
click "$main" 1086
wait_until 15 visible '^Mapping$'
xdotool key Escape
check "Escape closes Mapping" wait_until 5 eval '! visible ^Mapping$'
check "and gives the main window back" wait_until 10 main_usable

# About shows what the controller reports, read again by the second client.
mapfile -t device < <(probe device 0)
click "$main" 1084
check "About opens" wait_until 15 visible '^About$'
check "About shows the firmware version ${device[0]}" test "$(probe text About 1163)" = "${device[0]}"
check "About shows the USB version ${device[1]}" test "$(probe text About 1226)" = "${device[1]}"
check "About shows the serial number ${device[2]}" test "$(probe text About 1228)" = "${device[2]}"
check "the values are the controller's, not the template's" test "${device[0]}/${device[1]}" = "5.01.1007/1.0"
check "About shows the driver version text" test "$(probe text About 1220)" = "1.0.0.0000"
click About 1146
check "OK closes About" wait_until 5 eval '! visible ^About$'

wine_report mapping_about_wine_test
