#!/usr/bin/env bash
# KavCalib.dll under Wine on a virtual display, against the simulated screen service:
#   tests/calibration/wine/kavcalib_wine_test.sh [WINDOWS_BUILD] [NATIVE_BUILD]
# (defaults build/windows and build/native). The screen's true lenses differ from its camera
# records as in the calibration accuracy benchmark. kavcalib_e2e, beside KavCalib.dll, stops
# a session after two targets; opens a region window and a quadrant window (place, size
# handles, corrections while moved and sized; English texts, and Chinese ones under a
# Simplified Chinese system) and stops them; cancels a session in its
# confirmation state (each must leave the device as it was); then calibrates with 25 and with
# 4 points, presses OK and measures touches across the screen against the benchmark's
# figures. A copy without the language folders cancels a session too. Needs Xvfb. Own prefix.
# ONLY="ok 25" runs that one session alone.
set -euo pipefail
cd "$(dirname "$0")/../../.."

windows_build=${1:-build/windows}
native_build=${2:-build/native}
calib_dir=$windows_build/source/drivers/windows/calibration
program=$calib_dir/kavcalib_e2e.exe
kavsim=$native_build/source/tools/kavsim
for file in "$program" "$calib_dir/KavCalib.dll" "$kavsim"; do
  [ -e "$file" ] || { echo "kavcalib_wine_test: $file is missing; build it first" >&2; exit 2; }
done
program=$(cd "$calib_dir" && pwd)/kavcalib_e2e.exe

work=$(mktemp -d /tmp/kavcalib-test.XXXXXX)
export WINEPREFIX=$work/prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
display_number=90
while [ -e /tmp/.X11-unix/X$display_number ]; do display_number=$((display_number + 1)); done
export DISPLAY=:$display_number
Xvfb "$DISPLAY" -screen 0 1280x800x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
service_pid=
cleanup() {
  [ -n "$service_pid" ] && kill "$service_pid" 2>/dev/null || true
  wineserver -k >/dev/null 2>&1 || true
  kill $xvfb 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

DISPLAY= wineboot --init >/dev/null 2>&1 || true
wine reg add 'HKCU\Software\Wine\Drivers' /v Audio /d '' /f >/dev/null 2>&1
wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1
wineserver -k >/dev/null 2>&1 || true
wineserver -p </dev/null >/dev/null 2>&1
# A first start brings up Wine's own services, detached from our pipes.
(cd /tmp && timeout 120 wine "$program" >/dev/null 2>&1) || true

# 400 x 300 mm; camera A's true angles +0.003 rad and 0.75 % wider than its record (the nominal
# lens), camera B's -0.002 rad and 0.5 % narrower. Digitizer reports (Mode 2) for the test
# touches after a calibration.
cat >"$work/screen.scn" <<'SCENARIO'
screen 400 300
lens A 0.003 1.158625 0 0 0 0 0 0
lens B -0.002 -1.14425 0 0 0 0 0 0
set Mode 2
SCENARIO
"$kavsim" serve --port 0 "$work/screen.scn" >"$work/service.log" 2>&1 &
service_pid=$!
for _ in $(seq 100); do grep -q '^listening on ' "$work/service.log" && break; sleep 0.1; done
address=$(sed -n 's/^listening on //p' "$work/service.log")
[ -n "$address" ] || { cat "$work/service.log" >&2; echo "kavcalib_wine_test: the service did not start" >&2; exit 1; }
export KAVLIB_PLATFORM=sim KAVLIB_SIM=$address

failures=0
run() {  # run [NAME=VALUE...] ARGS...: one session; its lines, and a failure when it fails
  local settings=()
  while [[ $1 == *=* ]]; do settings+=("$1"); shift; done
  echo "-- kavcalib_e2e $* ${settings[*]}"
  local status=0
  (cd /tmp && env "${settings[@]}" timeout 240 wine "$program" "$@" 2>/dev/null | tr -d '\r') || status=$?
  if [ $status -ne 0 ]; then
    echo "FAIL: kavcalib_e2e $* ended with status $status"
    failures=$((failures + 1))
  fi
}
run ${ONLY:-stop 25}
[ -n "${ONLY:-}" ] || run region 1
[ -n "${ONLY:-}" ] || run LC_ALL=zh_CN.UTF-8 region 4
[ -n "${ONLY:-}" ] || run cancel 4
# Without the language folders: the drawn target, the template's texts, "Cancel(n)".
bare=$work/bare
mkdir -p "$bare"
cp "$program" "$calib_dir/KavCalib.dll" "$calib_dir/KavLib.dll" "$bare/"
shipped=$program
program=$bare/kavcalib_e2e.exe
[ -n "${ONLY:-}" ] || run cancel 4
program=$shipped
[ -n "${ONLY:-}" ] || run ok 25
[ -n "${ONLY:-}" ] || run ok 4

echo "kavcalib wine tests: $failures runs failed"
[ $failures -eq 0 ]
