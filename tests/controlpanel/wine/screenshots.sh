#!/usr/bin/env bash
# Screenshots of KavCpl.exe's main window in English and in Simplified Chinese, against
# kavsim serve with two screens, the second calibrated, on a virtual display:
#   tests/controlpanel/wine/screenshots.sh BUILD_DIR OUT_DIR [NATIVE_BUILD_DIR]
# BUILD_DIR is a Windows build (build/windows), NATIVE_BUILD_DIR a native one for kavsim
# (default: build/native beside it); needs Xvfb, xdotool, ImageMagick's import and
# fonts-wqy-microhei.
set -euo pipefail
build=$(cd "${1:?build dir}" && pwd)
out=${2:?output dir}
native=$(cd "${3:-$build/../native}" && pwd)
bin=$(cd "$build/source/drivers/windows/controlpanel" && pwd)
kavsim=$native/source/tools/kavsim
mkdir -p "$out"
out=$(cd "$out" && pwd)

export WINEPREFIX=${WINEPREFIX:-$(mktemp -d /tmp/kavcpl-wine.XXXXXX)}
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
display_number=90
while [ -e /tmp/.X11-unix/X$display_number ]; do display_number=$((display_number + 1)); done
display=:$display_number
Xvfb "$display" -screen 0 1280x800x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
service_log=$(mktemp /tmp/kavcpl-service.XXXXXX)
"$kavsim" serve --port 0 --screens 2 >"$service_log" 2>&1 &
service=$!
trap 'wineserver -k 2>/dev/null || true; kill $xvfb $service 2>/dev/null || true; rm -f "$service_log"' EXIT
cd /tmp
DISPLAY= wineboot --init >/dev/null 2>&1
wine reg add 'HKCU\Software\Wine\Drivers' /v Audio /d '' /f >/dev/null 2>&1
wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1
wineserver -k || true
wineserver -p </dev/null >/dev/null 2>&1

for _ in $(seq 100); do grep -q '^listening on ' "$service_log" && break; sleep 0.2; done
export KAVLIB_PLATFORM=sim KAVLIB_SIM=$(sed -n 's/^listening on //p' "$service_log")
[ -n "$KAVLIB_SIM" ] || { echo "screenshots: kavsim serve did not start" >&2; exit 1; }
DISPLAY="$display" wine "$bin/kavcpl_probe.exe" set-region 1 1 >/dev/null  # the second screen calibrated

shoot() {  # shoot NAME TITLE [env...]
    local name=$1 title=$2
    shift 2
    env "$@" DISPLAY="$display" wine "$bin/KavCpl.exe" >/dev/null 2>&1 &
    local program=$!
    local window=""
    # By class and then by the UTF-8 title: Wine cannot spell a Chinese title in the plain
    # WM_NAME that xdotool matches, as the Chinese locale is not installed on the host.
    for _ in $(seq 240); do
        for candidate in $(DISPLAY="$display" xdotool search --onlyvisible --class kavcpl.exe 2>/dev/null); do
            DISPLAY="$display" xprop -id "$candidate" _NET_WM_NAME 2>/dev/null | grep -qF "= \"$title\"" &&
                window=$candidate
        done
        [ -n "$window" ] && break
        sleep 0.5
    done
    [ -n "$window" ] || { echo "screenshots: no window titled $title" >&2; exit 1; }
    sleep 1
    DISPLAY="$display" import -window "$window" "$out/$name"
    # Without /f, taskkill asks the window to close, as its close box would.
    DISPLAY="$display" wine taskkill /im KavCpl.exe >/dev/null 2>&1 || true
    wait $program || true
}

shoot kavcpl-main-en.png 'TouchScreen Control Panel'
shoot kavcpl-main-zh.png '触摸屏控制面板' LC_ALL=zh_CN.UTF-8
echo "screenshots: $out/kavcpl-main-en.png $out/kavcpl-main-zh.png"
