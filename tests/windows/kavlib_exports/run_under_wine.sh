#!/usr/bin/env bash
# KavLib.dll under Wine, known to its test program only by name:
#   1. the DLL's exports and contents (check_kavlib_dll.sh)
#   2. every export resolves, aliases share their function
#   3. the real Win32 platform: no screen, and the system's HID list walked for real
#   4. KAVLIB_PLATFORM=sim without a service: no screen, every call fails cleanly
#   5. KAVLIB_PLATFORM=sim against `kavsim serve`: the simulated screen, read and written
#
#   run_under_wine.sh WINDOWS_BUILD_DIR NATIVE_BUILD_DIR
# Headless, in a copy of $KAV_WINE_TEMPLATE when set, else in WINEPREFIX when set, else in
# a prefix of its own.
set -euo pipefail
windows=$(cd "${1:?usage: run_under_wine.sh WINDOWS_BUILD_DIR NATIVE_BUILD_DIR}" && pwd)
native=$(cd "${2:?usage: run_under_wine.sh WINDOWS_BUILD_DIR NATIVE_BUILD_DIR}" && pwd)
here=$(cd "$(dirname "$0")" && pwd)
. "$here/../../wine/harness.sh"
dll=$windows/source/drivers/windows/devicelib/KavLib.dll
program=$windows/source/drivers/windows/devicelib/kavlib_exports_test.exe
KAVSIM=$native/source/tools/kavsim

wine_work kavlib-wine-run
run() {  # run NAME COMMAND...: a check that shows the program's output when it fails
    if (cd "$WINE_WORK" && "${@:2}" >"$WINE_WORK/out" 2>"$WINE_WORK/err"); then
        pass "$1"
    else
        fail "$1"
        cat "$WINE_WORK/out" >&2
        grep -v 'wine32\|wow64' "$WINE_WORK/err" >&2 || true
    fi
}

check "the DLL's exports and contents" "$here/check_kavlib_dll.sh" "$dll"

wine_prefix --reuse
wine_headless
wine_start

run "every export by name" wine "$program" exports
run "win32: no screen" env -u KAVLIB_PLATFORM wine "$program" no-screen
run "win32: the system's HID list" env -u KAVLIB_PLATFORM wine "$program" real-hid

# A port that nothing listens on, then the service on another.
port=$((40000 + RANDOM % 20000))
run "sim without a service: no screen" env KAVLIB_PLATFORM=sim KAVLIB_SIM=127.0.0.1:$port wine "$program" no-screen

if wine_serve service; then
    run "sim against kavsim serve" env KAVLIB_PLATFORM=sim KAVLIB_SIM=$WINE_SIM wine "$program" service
else
    fail "kavsim serve did not start"
fi
wine_report kavlib_exports
