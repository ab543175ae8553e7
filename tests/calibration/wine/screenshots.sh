#!/usr/bin/env bash
# Screenshots of KavCalib's window from the real KavCalib.dll under Wine on a virtual display,
# calibrating a simulated screen with 4 points: while the targets are collected, while a touch
# is sampled, and in the confirmation state with its countdown, in English and in Simplified
# Chinese:
#   tests/calibration/wine/screenshots.sh WINDOWS_BUILD NATIVE_BUILD OUT_DIR
# Writes OUT_DIR/kavcalib-{collecting,sampling,confirm}-{en,zh}.png. Needs Xvfb, ImageMagick
# and fonts-wqy-microhei.
set -euo pipefail
windows_build=${1:?windows build dir}
native_build=${2:?native build dir}
out=${3:?output dir}
program=$(cd "$windows_build/source/drivers/windows/calibration" && pwd)/kavcalib_e2e.exe
kavsim=$(cd "$native_build/source/tools" && pwd)/kavsim
mkdir -p "$out"
out=$(cd "$out" && pwd)

work=$(mktemp -d /tmp/kavcalib-shots.XXXXXX)
export WINEPREFIX=$work/prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
display_number=90
while [ -e /tmp/.X11-unix/X$display_number ]; do display_number=$((display_number + 1)); done
export DISPLAY=:$display_number
Xvfb "$DISPLAY" -screen 0 1024x640x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
service_pid=
cleanup() {
  [ -n "$service_pid" ] && kill "$service_pid" 2>/dev/null || true
  wineserver -k >/dev/null 2>&1 || true
  kill $xvfb 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
cd /tmp
DISPLAY= wineboot --init >/dev/null 2>&1 || true
wine reg add 'HKCU\Software\Wine\Drivers' /v Audio /d '' /f >/dev/null 2>&1
wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1
wineserver -k >/dev/null 2>&1 || true
wineserver -p </dev/null >/dev/null 2>&1

printf 'screen 400 300\nset Mode 2\n' >"$work/screen.scn"
"$kavsim" serve --port 0 "$work/screen.scn" >"$work/service.log" 2>&1 &
service_pid=$!
for _ in $(seq 100); do grep -q '^listening on ' "$work/service.log" && break; sleep 0.1; done
address=$(sed -n 's/^listening on //p' "$work/service.log")
[ -n "$address" ] || { echo "screenshots: the service did not start" >&2; exit 1; }
export KAVLIB_PLATFORM=sim KAVLIB_SIM=$address

shoot() {  # shoot LANGUAGE [env...]
  local language=$1
  shift
  mkdir -p "$work/$language"
  env "$@" wine "$program" shoot "$(winepath -w "$work/$language")" | tr -d '\r' | grep -v '^ok' || true
  for state in collecting sampling confirm; do
    [ -s "$work/$language/$state.bmp" ] || { echo "screenshots: no $state picture in $language" >&2; exit 1; }
    convert "$work/$language/$state.bmp" -alpha off -define png:exclude-chunks=date,time "$out/kavcalib-$state-$language.png"
  done
}
shoot en
shoot zh LC_ALL=zh_CN.UTF-8
echo "screenshots: $(cd "$out" && ls kavcalib-*.png | tr '\n' ' ')"
