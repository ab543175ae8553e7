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
# WINEPREFIX is used when set (a booted one); a fresh one is made otherwise.
set -euo pipefail
windows=$(cd "${1:?usage: run_under_wine.sh WINDOWS_BUILD_DIR NATIVE_BUILD_DIR}" && pwd)
native=$(cd "${2:?usage: run_under_wine.sh WINDOWS_BUILD_DIR NATIVE_BUILD_DIR}" && pwd)
program=$windows/source/drivers/windows/devicelib/listeners_wine_test.exe
kavsim=$native/source/tools/kavsim
for file in "$program" "$kavsim"; do
    [ -e "$file" ] || { echo "listeners run_under_wine: $file is missing; build it first" >&2; exit 2; }
done

export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" DISPLAY=
work=$(mktemp -d /tmp/kav-listeners-wine.XXXXXX)
if [ -z "${WINEPREFIX:-}" ]; then
    export WINEPREFIX=$work/prefix
fi
service_pid= program_pid=
cleanup() {
    [ -n "$program_pid" ] && kill "$program_pid" 2>/dev/null || true
    [ -n "$service_pid" ] && kill "$service_pid" 2>/dev/null || true
    wineserver -k >/dev/null 2>&1 || true
    rm -rf "$work"
}
trap cleanup EXIT

status=0
fail() {
    echo "FAILED: $*" >&2
    status=1
}

# wait_for FILE PATTERN [SECONDS]: until a line of FILE matches the extended regex.
wait_for() {
    local deadline=$((SECONDS + ${3:-20}))
    until grep -Eq -- "$2" "$1" 2>/dev/null; do
        [ $SECONDS -lt $deadline ] || return 1
        sleep 0.1
    done
}

[ -f "$WINEPREFIX/system.reg" ] || wineboot --init >/dev/null 2>&1 || true
# Hidden windows without a display need the null driver, which a restarted server applies.
wine reg add 'HKCU\Software\Wine\Drivers' /v Audio /d '' /f >/dev/null 2>&1
wine reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f >/dev/null 2>&1
wineserver -k >/dev/null 2>&1 || true
wineserver -p </dev/null >/dev/null 2>&1 || true
wine cmd /c exit >/dev/null 2>&1 </dev/null || true  # Wine's services start detached from our pipes

# start_service NAME SCENARIO_TEXT: a service on a free port; sets address.
start_service() {
    printf '%s\n' "$2" >"$work/$1.scn"
    "$kavsim" serve --port 0 "$work/$1.scn" >"$work/$1.log" 2>&1 &
    service_pid=$!
    wait_for "$work/$1.log" '^listening on ' || { cat "$work/$1.log" >&2; fail "$1: the service did not start"; return 1; }
    address=$(sed -n 's/^listening on //p' "$work/$1.log")
}
stop_service() {
    kill "$service_pid" 2>/dev/null || true
    wait "$service_pid" 2>/dev/null || true
    service_pid=
}

# run_steps NAME MODE STEP=LINE...: runs the program, and at each "ready STEP" it
# announces sends that control line to the service.
run_steps() {
    local name=$1 mode=$2
    shift 2
    (cd "$work" && KAVLIB_PLATFORM=sim KAVLIB_SIM=$address timeout 120 wine "$program" "$mode" \
        >"$work/$name.out" 2>"$work/$name.err") &
    program_pid=$!
    local step
    for step in "$@"; do
        if ! wait_for "$work/$name.out" "^ready ${step%%=*}[[:space:]]*\$" 60; then
            fail "$name: the program never got to '${step%%=*}'"
            break
        fi
        "$kavsim" send --address "$address" "${step#*=}" >/dev/null || fail "$name: '${step#*=}' refused"
    done
    if wait "$program_pid"; then
        echo "ok: $name ($(grep -v '^ready' "$work/$name.out" | tr '\n' ' '))"
    else
        fail "$name"
        cat "$work/$name.out" >&2
        grep -v 'wine32\|wow64' "$work/$name.err" >&2 || true
    fi
    program_pid=
}

# Digitizer reports, so that a tap makes touch reports.
if start_service packet 'set Mode 2'; then
    run_steps "listeners on a 0x0A31 screen" packet 'tap=tap 200 150' 'image=tap 300 200' \
        'plug=add-screen' 'unplug=unplug 2'
    stop_service
fi

if start_service other 'set Mode 2
device image'; then
    run_steps "a 0x0A41 screen's tap never reaches raw input" other-product 'tap=tap 200 150'
    stop_service
fi

if (cd "$work" && env -u KAVLIB_PLATFORM timeout 120 wine "$program" win32 >"$work/win32.out" 2>"$work/win32.err"); then
    echo "ok: win32 ($(tr '\n' ' ' <"$work/win32.out"))"
else
    fail "win32"
    cat "$work/win32.out" >&2
    grep -v 'wine32\|wow64' "$work/win32.err" >&2 || true
fi
exit $status
