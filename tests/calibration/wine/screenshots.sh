#!/usr/bin/env bash
# Screenshots of KavCalib's window from the real KavCalib.dll under Wine on a virtual display,
# calibrating a simulated screen with 4 points: while the targets are collected, while a touch
# is sampled, and in the confirmation state with its countdown, in English and in Simplified
# Chinese:
#   tests/calibration/wine/screenshots.sh WINDOWS_BUILD NATIVE_BUILD OUT_DIR
# Writes OUT_DIR/kavcalib-{collecting,sampling,confirm}-{en,zh}.png. kavcalib_e2e captures
# the window at each moment; needs Xvfb, ImageMagick and fonts-wqy-microhei. Runs in a prefix
# of its own, a copy of $KAV_WINE_TEMPLATE when set.
set -euo pipefail
windows_build=${1:?windows build dir}
native_build=${2:?native build dir}
out=${3:?output dir}
. "$(dirname "$0")/../../wine/harness.sh"
wine_need screenshots "$windows_build/source/drivers/windows/calibration/kavcalib_e2e.exe" \
    "$native_build/source/tools/kavsim"
program=$(cd "$windows_build/source/drivers/windows/calibration" && pwd)/kavcalib_e2e.exe
KAVSIM=$(cd "$native_build/source/tools" && pwd)/kavsim
mkdir -p "$out"
out=$(cd "$out" && pwd)

wine_work kavcalib-shots
work=$WINE_WORK
wine_prefix
wine_xvfb 1024x640x24
wine_start "$program"
cd /tmp

printf 'screen 400 300\nset Mode 2\n' >"$work/screen.scn"
wine_serve screen "$work/screen.scn"
export KAVLIB_PLATFORM=sim KAVLIB_SIM=$WINE_SIM

shoot() {  # shoot LANGUAGE [NAME=VALUE...]
  local language=$1
  shift
  mkdir -p "$work/$language"
  env "$@" wine "$program" shoot "$(winepath -w "$work/$language")" | tr -d '\r' | grep -v '^ok' || true
  for state in collecting sampling confirm; do
    [ -s "$work/$language/$state.bmp" ] || { echo "screenshots: no $state picture in $language" >&2; exit 1; }
    convert "$work/$language/$state.bmp" -alpha off -define png:exclude-chunks=date,time \
        "$out/kavcalib-$state-$language.png"
  done
}
shoot en
shoot zh LC_ALL=zh_CN.UTF-8
echo "screenshots: $(cd "$out" && ls kavcalib-*.png | tr '\n' ' ')"
