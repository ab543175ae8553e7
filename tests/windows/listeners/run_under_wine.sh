#!/usr/bin/env bash
# KavLib.dll's listeners under Wine (listeners_wine_test.exe, headless):
#   1. a screen of product 0x0A31 behind `kavsim serve`: a tap through the control channel
#      reaches the touch data and the raw-input listeners; the image listener pairs the
#      camera lines forwarded in work mode 0xF5; a screen plugged in and unplugged gives one
#      arrival and one removal per interface on the registering thread
#   2. a screen of product 0x0A41: its tap reaches the handle's listener, never raw input
#   3. the Win32 platform: SendInput's mouse WM_INPUT dropped by the raw-input window;
#      listeners stopped with reads pending on Wine's virtual HID mouse
#
#   run_under_wine.sh WINDOWS_BUILD_DIR NATIVE_BUILD_DIR
# In a copy of $KAV_WINE_TEMPLATE when set, else in WINEPREFIX when set, else in a prefix
# of its own.
set -euo pipefail
windows=$(cd "${1:?usage: run_under_wine.sh WINDOWS_BUILD_DIR NATIVE_BUILD_DIR}" && pwd)
native=$(cd "${2:?usage: run_under_wine.sh WINDOWS_BUILD_DIR NATIVE_BUILD_DIR}" && pwd)
program=$windows/source/drivers/windows/devicelib/listeners_wine_test.exe
KAVSIM=$native/source/tools/kavsim
. "$(dirname "$0")/../../wine/harness.sh"
wine_need "listeners run_under_wine" "$program" "$KAVSIM"

wine_work kav-listeners-wine
wine_prefix --reuse
# Hidden windows without a display need the null driver.
wine_headless
wine_start
work=$WINE_WORK

# start_service NAME SCENARIO_TEXT: a service on a free port.
start_service() {
    printf '%s\n' "$2" >"$work/$1.scn"
    wine_serve "$1" "$work/$1.scn" || { fail "$1: the service did not start"; return 1; }
}

# run_steps NAME MODE STEP=LINE...: runs the program, and at each "ready STEP" it
# announces sends that control line to the service.
run_steps() {
    local name=$1 mode=$2 program_pid
    shift 2
    (cd "$work" && KAVLIB_PLATFORM=sim KAVLIB_SIM=$WINE_SIM timeout 120 wine "$program" "$mode" \
        >"$work/$name.out" 2>"$work/$name.err") &
    program_pid=$!
    wine_kill_on_exit "$program_pid"
    local step
    for step in "$@"; do
        if ! wait_line "$work/$name.out" "^ready ${step%%=*}[[:space:]]*\$" 60; then
            fail "$name: the program never got to '${step%%=*}'"
            break
        fi
        "$KAVSIM" send --address "$WINE_SIM" "${step#*=}" >/dev/null || fail "$name: '${step#*=}' refused"
    done
    if wait "$program_pid"; then
        pass "$name ($(grep -v '^ready' "$work/$name.out" | tr '\n' ' '))"
    else
        fail "$name"
        cat "$work/$name.out" >&2
        grep -v 'wine32\|wow64' "$work/$name.err" >&2 || true
    fi
}

# Digitizer reports, so that a tap makes touch reports.
if start_service packet 'set Mode 2'; then
    run_steps "listeners on a 0x0A31 screen" packet 'tap=tap 200 150' 'image=tap 300 200' \
        'plug=add-screen' 'unplug=unplug 2'
    wine_serve_stop
fi

if start_service other 'set Mode 2
device image'; then
    run_steps "a 0x0A41 screen's tap never reaches raw input" other-product 'tap=tap 200 150'
    wine_serve_stop
fi

if (cd "$work" && env -u KAVLIB_PLATFORM timeout 120 wine "$program" win32 >"$work/win32.out" 2>"$work/win32.err"); then
    pass "win32 ($(tr '\n' ' ' <"$work/win32.out"))"
else
    fail "win32"
    cat "$work/win32.out" >&2
    grep -v 'wine32\|wow64' "$work/win32.err" >&2 || true
fi
wine_report listeners
