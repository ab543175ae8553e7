#!/usr/bin/env bash
# Screenshots of the real KavCpl.exe's Settings dialog in English and Simplified Chinese,
# opened from the main window against kavsim serve on a virtual display:
#   tests/controlpanel/wine/settings_screenshots.sh WINDOWS_BUILD NATIVE_BUILD OUT_DIR
# Writes OUT_DIR/kavcpl-settings-en.png and kavcpl-settings-zh.png. Needs Xvfb, xdotool,
# ImageMagick's import and fonts-wqy-microhei.
set -euo pipefail
windows_build=$(cd "${1:?windows build}" && pwd)
native_build=$(cd "${2:?native build}" && pwd)
out=${3:?output dir}
mkdir -p "$out"
out=$(cd "$out" && pwd)
bin=$windows_build/source/drivers/windows/controlpanel
probe=$bin/settings_probe.exe
kavsim=$native_build/source/tools/kavsim

work=$(mktemp -d /tmp/kavcpl-settings-shots.XXXXXX)
export WINEPREFIX=$work/prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
display_number=90
while [ -e /tmp/.X11-unix/X$display_number ] || [ -e /tmp/.X$display_number-lock ]; do
    display_number=$((display_number + 1))
done
export DISPLAY=:$display_number
xvfb= service_pid=
cleanup() {
    [ -n "$service_pid" ] && kill "$service_pid" 2>/dev/null || true
    wineserver -k >/dev/null 2>&1 || true
    [ -n "$xvfb" ] && kill "$xvfb" 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

wait_window() {  # TITLE: prints the id of a visible window of exactly that title
    local window
    for _ in $(seq 200); do
        # Compared as bytes: xdotool's own pattern match misses Chinese titles.
        for window in $(xdotool search --onlyvisible --name . 2>/dev/null); do
            [ "$(xdotool getwindowname "$window" 2>/dev/null)" = "$1" ] && { echo "$window"; return 0; }
        done
        sleep 0.3
    done
    echo "settings_screenshots: no window titled $1" >&2
    return 1
}

Xvfb "$DISPLAY" -screen 0 1280x800x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
cd "$work"
DISPLAY= wineboot --init >/dev/null 2>&1 || true
wine reg add 'HKCU\Software\Wine\Drivers' /v Audio /d '' /f >/dev/null 2>&1
wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1
wineserver -k >/dev/null 2>&1 || true
wineserver -p </dev/null >/dev/null 2>&1

# A screen with the beep on and mouse emulation, so that most of the dialog is in use.
printf 'set Mode 2\nset EnableBeep 1\nset BeepType 0\nset BeepMode 2\nset EnableAntishake 1\n' >"$work/screen.scn"
"$kavsim" serve --port 0 "$work/screen.scn" >"$work/service.log" 2>&1 &
service_pid=$!
for _ in $(seq 100); do grep -q '^listening on ' "$work/service.log" && break; sleep 0.2; done
export KAVLIB_PLATFORM=sim KAVLIB_SIM=$(sed -n 's/^listening on //p' "$work/service.log")

shoot() {  # NAME MAIN-TITLE SETTINGS-TITLE [env...]
    local name=$1 main_title=$2 settings_title=$3 at settings
    shift 3
    env "$@" wine "$bin/KavCpl.exe" >/dev/null 2>&1 &
    local program=$!
    wait_window "$main_title" >/dev/null
    at=$(env "$@" wine "$probe" control "*" 1083 | tr -d '\r')
    xdotool mousemove $at click 1
    settings=$(wait_window "$settings_title")
    xdotool mousemove 0 0
    sleep 1
    import -window "$settings" "$out/$name"
    at=$(env "$@" wine "$probe" control "*" 1078 | tr -d '\r')  # Cancel
    xdotool mousemove $at click 1
    sleep 1
    at=$(env "$@" wine "$probe" control "*" 1377 | tr -d '\r')  # Exit
    xdotool mousemove $at click 1
    wait $program || true
}

[ -n "${SHOTS_ONLY_ZH:-}" ] || shoot kavcpl-settings-en.png 'TouchScreen Control Panel' 'Settings'
shoot kavcpl-settings-zh.png '触摸屏控制面板' '设置' LC_ALL=zh_CN.UTF-8
echo "settings_screenshots: $out/kavcpl-settings-en.png $out/kavcpl-settings-zh.png"
