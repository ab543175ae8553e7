#!/usr/bin/env bash
# KavCpl under Wine on a virtual display:
#   tests/controlpanel/wine/kavcpl_wine_test.sh BUILD_DIR [NATIVE_BUILD_DIR]
# BUILD_DIR is a Windows build (build/windows), NATIVE_BUILD_DIR a native one for kavsim
# (default: build/native beside it). Runs the control panel's test executable, hides and
# shows the cursor in a throwaway prefix and reads the 15 registry values back, starts
# KavCpl.exe with no touch screen (message "91", the program ends) and a second time while
# the first still shows it (the second ends at once), and presses Help where the manual is
# missing (message "92"). Then, against kavsim serve with two screens, the second
# calibrated: the list, Reset read back through another client, a second start that brings
# the first window to the front, a calibration through KavCalib driven by touches (when
# KavCalib.dll is built), unplugging both screens, and a start with no screen left at the
# service (message "91"). Needs Xvfb and xdotool. Runs in a prefix of its own, a copy of
# $KAV_WINE_TEMPLATE when set.
set -euo pipefail
build=$(cd "${1:?build dir}" && pwd)
native=$(cd "${2:-$build/../native}" && pwd)
bin=$build/source/drivers/windows/controlpanel
tests=$build/tests/controlpanel/kav_controlpanel_tests.exe
kavsim=$native/source/tools/kavsim
probe_exe=$bin/kavcpl_probe.exe
. "$(dirname "$0")/../../wine/harness.sh"
wine_need "kavcpl_wine_test" "$bin/KavCpl.exe" "$tests" "$kavsim" "$probe_exe"

KAVSIM=$kavsim
# A prefix of its own (the cursor checks change the user's scheme), a copy of
# $KAV_WINE_TEMPLATE when set.
wine_work kavcpl-files
scratch=$WINE_WORK
wine_prefix
wine_xvfb 1280x800x24
(cd /tmp && wine reg add 'HKCU\Control Panel\Cursors' /f >/dev/null 2>&1)  # a fresh prefix has none
wine_start
cd /tmp

# Focuses window $1 and types key $2 (real key events: Wine ignores synthetic ones).
press() {
    [ -n "$1" ] || return 0
    xdotool windowfocus --sync "$1" 2>/dev/null || true
    xdotool key "$2" 2>/dev/null || true
}

# Clicks the OK button of message box $1, centred near its bottom edge.
click_ok() {
    [ -n "$1" ] || return 0
    local X Y WIDTH HEIGHT SCREEN
    eval "$(xdotool getwindowgeometry --shell "$1")"
    xdotool mousemove $((X + WIDTH / 2)) $((Y + HEIGHT - 27)) click 1 || true
}

check "control panel unit tests" wine "$tests" --gtest_brief=1

cursor_values() {  # the 15 roles' data, one per line
    wine reg query 'HKCU\Control Panel\Cursors' | tr -d '\r' |
        awk '$1 ~ /^(Arrow|AppStarting|Hand|Wait|Crosshair|Help|IBeam|No|NWPen|SizeAll|SizeNESW|SizeNS|SizeNWSE|SizeWE|UpArrow)$/ && $2 == "REG_EXPAND_SZ" { print $3 }'
}
# The user's own busy cursor, which showing the cursor again must give back. Wait, as it is
# listed last: Wine's reg query prints an empty value that follows a longer one with the
# longer one's text.
own_wait='C:\cursors\mine.cur'
wine reg add 'HKCU\Control Panel\Cursors' /v Wait /t REG_EXPAND_SZ /d "$own_wait" /f >/dev/null 2>&1
KAVCPL_CURSOR_TEST=hide wine "$tests" --gtest_filter='*CursorState*' --gtest_brief=1 >/dev/null
check "15 roles hidden" test "$(cursor_values | grep -cx '%SYSTEMROOT%\\Cursors\\null.cur')" = 15
KAVCPL_CURSOR_TEST=show wine "$tests" --gtest_filter='*CursorState*' --gtest_brief=1 >/dev/null
wait_value() { wine reg query 'HKCU\Control Panel\Cursors' /v Wait | tr -d '\r' | awk '$1 == "Wait" { print $3 }'; }
check "shown: the user's busy cursor back" test "$(wait_value)" = "$own_wait"
check "shown: the other 14 roles at the default" test "$(cursor_values | grep -c '^$'; true)" = 14

# No touch screen: message "91" with caption "121" ("Error"), and the program ends.
wine "$bin/KavCpl.exe" >/dev/null 2>&1 &
first=$!
message=$(wait_window '^Error$' 60 || true)
check "no screen: error message shown" test -n "$message"
# A second start while the first holds its mutex ends at once.
wine "$bin/KavCpl.exe" >/dev/null 2>&1 &
second=$!
check "second instance ends at once" wait_exit $second 15
check "first instance still runs" kill -0 $first
click_ok "$message"
check "no screen: the program ends after the message" wait_exit $first 15

# Help without the manual: message "92" with caption "122" ("User Manual").
mkdir -p "$scratch/Language"
cp "$build/tests/controlpanel/KavCplPreview.exe" "$bin/KavCplPreview.exe" "$scratch/" 2>/dev/null || true
cp "$bin/Language/1033.ini" "$scratch/Language/"
wine "$scratch/KavCplPreview.exe" >/dev/null 2>&1 &
preview=$!
main=$(wait_window '^TouchScreen Control Panel$' 60 || true)
check "preview shows the main window" test -n "$main"
if [ -n "$main" ]; then
    eval "$(xdotool getwindowgeometry --shell "$main")"
    # The Help button, in pixels of the window as drawn with its caption.
    xdotool mousemove $((X + 279)) $((Y + 495)) click 1 || true
    manual=$(wait_window '^User Manual$' 30 || true)
    check "missing manual: message 92" test -n "$manual"
    click_ok "$manual"
    sleep 1
    press "$main" Escape  # swallowed: the window stays
    sleep 1
    check "Escape does not close the window" kill -0 $preview
    xdotool mousemove $((X + 383)) $((Y + 495)) click 1 || true  # Exit
    check "Exit ends the program" wait_exit $preview 15
fi

# Against the service: two screens, the second with a calibration of its own. Four-point
# calibrations keep the run short.
printf 'set CalibrateType 0\n' >"$scratch/screens.scn"
wine_serve service --screens 2 "$scratch/screens.scn"
address=$WINE_SIM
export KAVLIB_PLATFORM=sim KAVLIB_SIM=$address
send() { "$kavsim" send --address "$address" "$@" >/dev/null; }
probe() { wine "$probe_exe" "$@" 2>/dev/null | tr -d '\r'; }
title='TouchScreen Control Panel'
state_is() { probe window "$title" | grep -qx "$1"; }
rows() { probe window "$title" | grep '^row'; }
row_text='TouchScreen No.1|   Monitor      No.1'

check "the second screen given a calibration" test "$(probe set-region 1 5)" = 5
wine "$bin/KavCpl.exe" >/dev/null 2>&1 &
first=$!
main=$(wait_window "^$title\$" 60 || true)
check "KavCpl.exe shows its window against the service" test -n "$main"
check "both screens listed, the calibrated one with the check mark" \
    test "$(rows)" = "$(printf 'row 0 image 0 selected %s\nrow 1 image 1 %s' "$row_text" "$row_text")"
check "Region Calibrate disabled" state_is 'region-calibrate off'
check "Reset disabled on the first, uncalibrated row" state_is 'reset off'
probe select "$title" 1 || true
check "Reset enabled on the calibrated row" wait_until 10 state_is 'reset on'
probe press "$title" 1088 || true
region_is() { test "$(probe region "$1")" = "$2"; }
check "Reset wrote region byte 0, read back through the service" wait_until 15 region_is 1 0
check "after Reset: the prohibition sign, the selection back on row 0" \
    test "$(rows)" = "$(printf 'row 0 image 0 selected %s\nrow 1 image 0 %s' "$row_text" "$row_text")"

# A second start while another program is in front: it ends and the first comes forward.
wine notepad >/dev/null 2>&1 &
notepad=$(wait_window 'Notepad' 30 || true)
foreground_is() { test "$(probe foreground)" = "$1"; }
check "another program in front" wait_until 10 foreground_is 'Untitled - Notepad'
wine "$bin/KavCpl.exe" >/dev/null 2>&1 &
second=$!
check "a second KavCpl.exe ends at once" wait_exit $second 15
check "the first window comes to the front" wait_until 10 foreground_is "$title"
wine taskkill /f /im notepad.exe >/dev/null 2>&1 || true

if [ -e "$bin/KavCalib.dll" ]; then
    # Calibrate the selected first screen through KavCalib: one steady touch on each target,
    # which lie at 1/16 and 15/16 of the 400 x 300 mm screen, then OK.
    session_running() { probe session >/dev/null; }
    session_shows() { probe session | grep -qx "$1"; }
    probe press "$title" 1087 || true
    check "Calibrate opens the calibration window" wait_until 20 session_running
    for target in "25 18.75" "375 18.75" "25 281.25" "375 281.25"; do
        send "hold $target ms=1300"
        sleep 1.7
    done
    check "every target taken: the session offers OK" wait_until 10 session_shows 'button OK'
    probe session OK || true
    check "the session ends with OK" wait_until 15 eval '! session_running'
    check "the calibration stored: region byte 1, read back through the service" wait_until 10 region_is 0 1
    check "the list read again: the first screen with the check mark" \
        test "$(rows)" = "$(printf 'row 0 image 1 selected %s\nrow 1 image 0 %s' "$row_text" "$row_text")"
else
    echo "skipped: calibration, KavCalib.dll is not built"
fi

send unplug 2
sleep 2
check "unplugging one of two screens leaves the program running" kill -0 $first
send unplug 1
check "unplugging both screens ends the program" wait_exit $first 20

# The service with no screen plugged in: message "91", and the program ends.
wine "$bin/KavCpl.exe" >/dev/null 2>&1 &
alone=$!
message=$(wait_window '^Error$' 60 || true)
check "no screen at the service: error message shown" test -n "$message"
click_ok "$message"
check "no screen at the service: the program ends after the message" wait_exit $alone 15

wine_report kavcpl_wine_test
