#!/usr/bin/env bash
# Screenshots of KavCpl.exe's main window in English and in Simplified Chinese, against
# kavsim serve with two screens, the second calibrated, on a virtual display:
#   tests/controlpanel/wine/screenshots.sh BUILD_DIR OUT_DIR [NATIVE_BUILD_DIR]
# BUILD_DIR is a Windows build (build/windows), NATIVE_BUILD_DIR a native one for kavsim
# (default: build/native beside it); needs Xvfb, xdotool, ImageMagick's import and
# fonts-wqy-microhei. Runs in a copy of $KAV_WINE_TEMPLATE when set, else in WINEPREFIX when
# set, else in a prefix of its own.
set -euo pipefail
build=$(cd "${1:?build dir}" && pwd)
out=${2:?output dir}
native=$(cd "${3:-$build/../native}" && pwd)
bin=$(cd "$build/source/drivers/windows/controlpanel" && pwd)
mkdir -p "$out"
out=$(cd "$out" && pwd)
. "$(dirname "$0")/../../wine/harness.sh"
KAVSIM=$native/source/tools/kavsim

wine_work kavcpl-shots
wine_prefix --reuse
wine_xvfb 1280x800x24
wine_start
cd /tmp
wine_serve service --screens 2
export KAVLIB_PLATFORM=sim KAVLIB_SIM=$WINE_SIM
wine "$bin/kavcpl_probe.exe" set-region 1 1 >/dev/null  # the second screen calibrated

shoot() {  # shoot NAME TITLE [env...]
    local name=$1 title=$2 window
    shift 2
    env "$@" wine "$bin/KavCpl.exe" >/dev/null 2>&1 &
    local program=$!
    window=$(window_titled "$title" 120)
    sleep 1
    screenshot "$window" "$out/$name"
    # Without /f, taskkill asks the window to close, as its close box would.
    wine taskkill /im KavCpl.exe >/dev/null 2>&1 || true
    wait $program || true
}

shoot kavcpl-main-en.png 'TouchScreen Control Panel'
shoot kavcpl-main-zh.png '触摸屏控制面板' LC_ALL=zh_CN.UTF-8
echo "screenshots: $out/kavcpl-main-en.png $out/kavcpl-main-zh.png"
