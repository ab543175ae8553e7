#!/usr/bin/env bash
# Screenshots of the Mapping dialog, the identification window and the About dialog in
# English and Simplified Chinese, from KavCpl.exe against the simulated screen service
# with two screens, on a virtual display:
#   tests/controlpanel/wine/mapping_about_screenshots.sh WINDOWS_BUILD NATIVE_BUILD OUT_DIR
# Writes kavcpl-{mapping,identify,about}-{en,zh}.png. Needs Xvfb, xdotool, xwininfo,
# ImageMagick's import and fonts-wqy-microhei. Own prefix, a copy of $KAV_WINE_TEMPLATE
# when set.
set -euo pipefail
windows_build=$(cd "${1:?windows build}" && pwd)
native_build=$(cd "${2:?native build}" && pwd)
out=${3:?output dir}
mkdir -p "$out"
out=$(cd "$out" && pwd)
bin=$windows_build/source/drivers/windows/controlpanel

. "$(dirname "$0")/../../wine/harness.sh"
KAVSIM=$native_build/source/tools/kavsim
wine_work kavcpl-shots
wine_prefix
wine_xvfb 800x600x24
wine_reg 'HKCU\Software\Wine' Version vista  # Mapping offered
wine_start
cd /tmp

wine_serve service --screens 2
export KAVLIB_PLATFORM=sim KAVLIB_SIM=$WINE_SIM

probe() { wine "$bin/mapping_probe.exe" "$@" 2>/dev/null | tr -d '\r'; }
click() {  # click CONTROL_ID of whichever visible window has it
    local x y
    read -r x y < <(probe center '*' "$1")
    xdotool mousemove "$x" "$y" click 1
    sleep 0.5
}
# The second screen assigned as touch screen 2, so that the two rows differ.
probe set-numbers 1 1 0 >/dev/null

shoot() {  # shoot SUFFIX MAIN_TITLE MAPPING_TITLE ABOUT_TITLE [env...]
    local suffix=$1 main=$2 mapping=$3 about=$4
    shift 4
    env "$@" wine "$bin/KavCpl.exe" >/dev/null 2>&1 &
    local program=$!
    window_titled "$main" 30 >/dev/null
    sleep 2  # the window exists before it is drawn
    click 1086
    local window
    window=$(window_titled "$mapping" 30)
    sleep 1
    screenshot "$window" "$out/kavcpl-mapping-$suffix.png"
    click 1180
    sleep 1.5
    screenshot root "$out/kavcpl-identify-$suffix.png"
    xdotool key Escape
    sleep 0.5
    click 1078
    click 1084
    window=$(window_titled "$about" 30)
    sleep 1
    screenshot "$window" "$out/kavcpl-about-$suffix.png"
    click 1146
    click 1377
    wait $program || true
}

shoot en 'TouchScreen Control Panel' Mapping About
shoot zh '触摸屏控制面板' '屏幕映射' '关于' LC_ALL=zh_CN.UTF-8
echo "screenshots: $out/kavcpl-{mapping,identify,about}-{en,zh}.png"
