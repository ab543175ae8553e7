#!/usr/bin/env bash
# KavLib.dll under Wine, known to its test program only by name:
#   1. the DLL's exports and contents (check_kavlib_dll.sh)
#   2. every export resolves, aliases share their function
#   3. the real Win32 platform: no screen, and the system's HID list walked for real
#   4. KAVLIB_PLATFORM=sim without a service: no screen, every call fails cleanly
#   5. KAVLIB_PLATFORM=sim against `kavsim serve`: the simulated screen, read and written
#
#   run_under_wine.sh WINDOWS_BUILD_DIR NATIVE_BUILD_DIR
# WINEPREFIX is used when set (a fresh one is made otherwise); its wineserver is started
# and stopped here.
set -euo pipefail
windows=$(cd "${1:?usage: run_under_wine.sh WINDOWS_BUILD_DIR NATIVE_BUILD_DIR}" && pwd)
native=$(cd "${2:?usage: run_under_wine.sh WINDOWS_BUILD_DIR NATIVE_BUILD_DIR}" && pwd)
here=$(cd "$(dirname "$0")" && pwd)
dll=$windows/source/drivers/windows/devicelib/KavLib.dll
program=$windows/source/drivers/windows/devicelib/kavlib_exports_test.exe
kavsim=$native/source/tools/kavsim

export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" DISPLAY=
if [ -z "${WINEPREFIX:-}" ]; then
    WINEPREFIX=$(mktemp -d /tmp/kavlib-wine.XXXXXX)
    export WINEPREFIX
fi
work=$(mktemp -d /tmp/kavlib-wine-run.XXXXXX)
serve_pid=
cleanup() {
    [ -n "$serve_pid" ] && kill "$serve_pid" 2>/dev/null || true
    wineserver -k 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

status=0
run() {
    local name=$1
    shift
    if (cd "$work" && "$@" >"$work/out" 2>"$work/err"); then
        echo "ok: $name"
    else
        echo "FAILED: $name" >&2
        cat "$work/out" >&2
        grep -v 'wine32\|wow64' "$work/err" >&2 || true
        status=1
    fi
}

"$here/check_kavlib_dll.sh" "$dll" || status=1

[ -f "$WINEPREFIX/system.reg" ] || wineboot --init >/dev/null 2>&1
wine reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f >/dev/null 2>&1
wine reg add 'HKCU\Software\Wine\Drivers' /v Audio /d '' /f >/dev/null 2>&1
wineserver -k 2>/dev/null || true
wineserver -p </dev/null >/dev/null 2>&1
wine cmd /c exit >/dev/null 2>&1 </dev/null || true  # services start detached from our pipes

run "every export by name" wine "$program" exports
run "win32: no screen" env -u KAVLIB_PLATFORM wine "$program" no-screen
run "win32: the system's HID list" env -u KAVLIB_PLATFORM wine "$program" real-hid

# A port that nothing listens on, then the service on another.
port=$((40000 + RANDOM % 20000))
run "sim without a service: no screen" env KAVLIB_PLATFORM=sim KAVLIB_SIM=127.0.0.1:$port wine "$program" no-screen

"$kavsim" serve --port "$port" >"$work/serve.log" 2>&1 &
serve_pid=$!
for _ in $(seq 100); do
    grep -q '^listening' "$work/serve.log" 2>/dev/null && break
    sleep 0.1
done
if grep -q '^listening' "$work/serve.log"; then
    run "sim against kavsim serve" env KAVLIB_PLATFORM=sim KAVLIB_SIM=127.0.0.1:$port wine "$program" service
else
    echo "FAILED: kavsim serve did not start:" >&2
    cat "$work/serve.log" >&2
    status=1
fi
exit $status
