#!/usr/bin/env bash
# Screenshots of the Mapping dialog, the identification window and the About dialog in
# English and Simplified Chinese, from KavCpl.exe against the simulated screen service
# with two screens, on a virtual display:
#   tests/controlpanel/wine/mapping_about_screenshots.sh WINDOWS_BUILD NATIVE_BUILD OUT_DIR
# Writes kavcpl-{mapping,identify,about}-{en,zh}.png. Needs Xvfb, xdotool, xwininfo,
# ImageMagick's import and fonts-wqy-microhei.
set -euo pipefail
windows_build=$(cd "${1:?windows build}" && pwd)
native_build=$(cd "${2:?native build}" && pwd)
out=${3:?output dir}
mkdir -p "$out"
out=$(cd "$out" && pwd)
bin=$windows_build/source/drivers/windows/controlpanel
kavsim=$native_build/source/tools/kavsim

work=$(mktemp -d /tmp/kavcpl-shots.XXXXXX)
export WINEPREFIX=$work/prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
display_number=130
while [ -e /tmp/.X11-unix/X$display_number ] || [ -e /tmp/.X$display_number-lock ]; do
    display_number=$((display_number + 1))
done
Xvfb :$display_number -screen 0 800x600x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
service=
cleanup() {
    wineserver -k 2>/dev/null || true
    [ -n "$service" ] && kill "$service" 2>/dev/null || true
    kill $xvfb 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT
cd /tmp

wait_for() {  # wait_for SECONDS COMMAND...
    local deadline=$((SECONDS + $1))
    until "${@:2}" >/dev/null 2>&1; do
        [ $SECONDS -lt $deadline ] || return 1
        sleep 0.3
    done
}

DISPLAY= wineboot --init >/dev/null 2>&1 || true
wine reg add 'HKCU\Software\Wine\Drivers' /v Audio /d '' /f >/dev/null 2>&1
wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1
wine reg add 'HKCU\Software\Wine' /v Version /d vista /f >/dev/null 2>&1  # Mapping offered
wineserver -k 2>/dev/null || true
export DISPLAY=:$display_number

"$kavsim" serve --port 0 --screens 2 >"$work/service.log" 2>&1 &
service=$!
wait_for 15 grep -q '^listening on ' "$work/service.log" || { cat "$work/service.log" >&2; exit 1; }
export KAVLIB_PLATFORM=sim KAVLIB_SIM=$(sed -n 's/^listening on //p' "$work/service.log")
wineserver -p </dev/null >/dev/null 2>&1

probe() { wine "$bin/mapping_probe.exe" "$@" 2>/dev/null | tr -d '\r'; }
click() {  # click CONTROL_ID of whichever visible window has it
    local x y
    read -r x y < <(probe center '*' "$1")
    xdotool mousemove "$x" "$y" click 1
    sleep 0.5
}
window_of() {  # the X window titled exactly $1
    local window=""
    for _ in $(seq 60); do
        # xwininfo, as xdotool does not match Chinese titles
        window=$(xwininfo -root -children | grep -F "\"$1\": (" | awk '{ print $1; exit }' || true)
        [ -n "$window" ] && break
        sleep 0.5
    done
    [ -n "$window" ] || { echo "screenshots: no window titled $1" >&2; exit 1; }
    echo "$window"
}

# The second screen assigned as touch screen 2, so that the two rows differ.
probe set-numbers 1 1 0 >/dev/null

shoot() {  # shoot SUFFIX MAIN_TITLE MAPPING_TITLE ABOUT_TITLE [env...]
    local suffix=$1 main=$2 mapping=$3 about=$4
    shift 4
    env "$@" wine "$bin/KavCpl.exe" >/dev/null 2>&1 &
    local program=$!
    window_of "$main" >/dev/null
    sleep 2  # the window exists before it is drawn
    click 1086
    local window
    window=$(window_of "$mapping")
    sleep 1
    import -window "$window" "$out/kavcpl-mapping-$suffix.png"
    click 1180
    sleep 1.5
    import -window root "$out/kavcpl-identify-$suffix.png"
    xdotool key Escape
    sleep 0.5
    click 1078
    click 1084
    window=$(window_of "$about")
    sleep 1
    import -window "$window" "$out/kavcpl-about-$suffix.png"
    click 1146
    click 1377
    wait $program || true
}

shoot en 'TouchScreen Control Panel' Mapping About
shoot zh '触摸屏控制面板' '屏幕映射' '关于' LC_ALL=zh_CN.UTF-8
echo "screenshots: $out/kavcpl-{mapping,identify,about}-{en,zh}.png"
