#!/usr/bin/env bash
# Screenshots of the main window in English and in Simplified Chinese, taken from the preview
# (two made-up screens, the first calibrated) on a virtual display:
#   tests/controlpanel/wine/screenshots.sh BUILD_DIR OUT_DIR
# BUILD_DIR is a Windows build (build/windows); needs Xvfb, xdotool, ImageMagick's import and
# fonts-wqy-microhei.
set -euo pipefail
build=${1:?build dir}
out=${2:?output dir}
bin=$(cd "$build/source/drivers/windows/controlpanel" && pwd)
mkdir -p "$out"
out=$(cd "$out" && pwd)

export WINEPREFIX=${WINEPREFIX:-$(mktemp -d /tmp/kavcpl-wine.XXXXXX)}
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
display_number=90
while [ -e /tmp/.X11-unix/X$display_number ]; do display_number=$((display_number + 1)); done
display=:$display_number
Xvfb "$display" -screen 0 1280x800x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
trap 'wineserver -k 2>/dev/null || true; kill $xvfb 2>/dev/null || true' EXIT
cd /tmp
DISPLAY= wineboot --init >/dev/null 2>&1
wine reg add 'HKCU\Software\Wine\Drivers' /v Audio /d '' /f >/dev/null 2>&1
wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1
wineserver -k || true
wineserver -p </dev/null >/dev/null 2>&1

shoot() {  # shoot NAME TITLE [env...]
    local name=$1 title=$2
    shift 2
    env "$@" DISPLAY="$display" wine "$bin/KavCplPreview.exe" >/dev/null 2>&1 &
    local program=$!
    local window=""
    for _ in $(seq 240); do
        window=$(DISPLAY="$display" xdotool search --onlyvisible --name "$title" 2>/dev/null | head -1) && [ -n "$window" ] && break
        sleep 0.5
    done
    [ -n "$window" ] || { echo "screenshots: no window titled $title" >&2; exit 1; }
    sleep 1
    DISPLAY="$display" import -window "$window" "$out/$name"
    DISPLAY="$display" xdotool windowactivate --sync "$window" key --window "$window" alt+F4 2>/dev/null ||
        DISPLAY="$display" xdotool windowkill "$window"
    wait $program || true
}

shoot kavcpl-main-en.png 'TouchScreen Control Panel'
shoot kavcpl-main-zh.png '触摸屏控制面板' LC_ALL=zh_CN.UTF-8
echo "screenshots: $out/kavcpl-main-en.png $out/kavcpl-main-zh.png"
