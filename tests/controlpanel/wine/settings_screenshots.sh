#!/usr/bin/env bash
# Screenshots of the real KavCpl.exe's Settings dialog in English and Simplified Chinese,
# opened from the main window against kavsim serve on a virtual display:
#   tests/controlpanel/wine/settings_screenshots.sh WINDOWS_BUILD NATIVE_BUILD OUT_DIR
# Writes OUT_DIR/kavcpl-settings-en.png and kavcpl-settings-zh.png. Needs Xvfb, xdotool,
# ImageMagick's import and fonts-wqy-microhei. Own prefix, a copy of $KAV_WINE_TEMPLATE
# when set.
set -euo pipefail
windows_build=$(cd "${1:?windows build}" && pwd)
native_build=$(cd "${2:?native build}" && pwd)
out=${3:?output dir}
mkdir -p "$out"
out=$(cd "$out" && pwd)
bin=$windows_build/source/drivers/windows/controlpanel
probe=$bin/settings_probe.exe

. "$(dirname "$0")/../../wine/harness.sh"
KAVSIM=$native_build/source/tools/kavsim
wine_work kavcpl-settings-shots
work=$WINE_WORK
wine_prefix
wine_xvfb 1280x800x24
wine_start
cd "$work"

# A screen with the beep on and mouse emulation, so that most of the dialog is in use.
printf 'set Mode 2\nset EnableBeep 1\nset BeepType 0\nset BeepMode 2\nset EnableAntishake 1\n' >"$work/screen.scn"
wine_serve service "$work/screen.scn"
export KAVLIB_PLATFORM=sim KAVLIB_SIM=$WINE_SIM

shoot() {  # NAME MAIN-TITLE SETTINGS-TITLE [env...]
    local name=$1 main_title=$2 settings_title=$3 at settings
    shift 3
    env "$@" wine "$bin/KavCpl.exe" >/dev/null 2>&1 &
    local program=$!
    window_titled "$main_title" >/dev/null
    at=$(env "$@" wine "$probe" control "*" 1083 | tr -d '\r')
    xdotool mousemove $at click 1
    settings=$(window_titled "$settings_title")
    xdotool mousemove 0 0
    sleep 1
    screenshot "$settings" "$out/$name"
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
