#!/usr/bin/env bash
# KavCalib.dll under Wine on a virtual display, against the simulated screen service:
#   tests/calibration/wine/kavcalib_wine_test.sh [WINDOWS_BUILD] [NATIVE_BUILD]
# (defaults build/windows and build/native). The screen's true lenses differ from its camera
# records as in the calibration accuracy benchmark. kavcalib_e2e, beside KavCalib.dll, stops
# a session after two targets; opens a region window and a quadrant window (place, size
# handles, corrections while moved and sized; English texts, and Chinese ones under a
# Simplified Chinese system) and stops them; cancels a session in its confirmation state
# (each must leave the device as it was); then calibrates with 25 and with 4 points, presses
# OK and measures touches across the screen against the benchmark's figures. A copy without the language folders cancels a session too. Needs Xvfb. Runs in a
# prefix of its own, a copy of $KAV_WINE_TEMPLATE when set.
# ONLY="ok 25" runs that one session alone.
set -euo pipefail
cd "$(dirname "$0")/../../.."

windows_build=${1:-build/windows}
native_build=${2:-build/native}
calib_dir=$windows_build/source/drivers/windows/calibration
kavsim=$native_build/source/tools/kavsim
. tests/wine/harness.sh
wine_need kavcalib_wine_test "$calib_dir/kavcalib_e2e.exe" "$calib_dir/KavCalib.dll" "$kavsim"
program=$(cd "$calib_dir" && pwd)/kavcalib_e2e.exe
KAVSIM=$(cd "${kavsim%/*}" && pwd)/kavsim

wine_work kavcalib-test
work=$WINE_WORK
wine_prefix
wine_xvfb 1280x800x24
wine_start "$program"

# 400 x 300 mm; camera A's true angles +0.003 rad and 0.75 % wider than its record (the nominal
# lens), camera B's -0.002 rad and 0.5 % narrower. Digitizer reports (Mode 2) for the test
# touches after a calibration.
cat >"$work/screen.scn" <<'SCENARIO'
screen 400 300
lens A 0.003 1.158625 0 0 0 0 0 0
lens B -0.002 -1.14425 0 0 0 0 0 0
set Mode 2
SCENARIO
wine_serve screen "$work/screen.scn"
export KAVLIB_PLATFORM=sim KAVLIB_SIM=$WINE_SIM

run() {  # run [NAME=VALUE...] ARGS...: one session; its lines, and a failure when it fails
  local settings=()
  while [[ $1 == *=* ]]; do settings+=("$1"); shift; done
  echo "-- kavcalib_e2e $* ${settings[*]}"
  local status=0
  (cd /tmp && env "${settings[@]}" timeout 240 wine "$program" "$@" 2>/dev/null | tr -d '\r') || status=$?
  if [ $status -eq 0 ]; then pass "kavcalib_e2e $*"; else fail "kavcalib_e2e $* (status $status)"; fi
}
run ${ONLY:-stop 25}
[ -n "${ONLY:-}" ] || run region 1
[ -n "${ONLY:-}" ] || run LC_ALL=zh_CN.UTF-8 region 4
[ -n "${ONLY:-}" ] || run cancel 4
# Without the language folders: the drawn target, the template's texts, "Cancel(n)".
if [ -z "${ONLY:-}" ]; then
  shipped=$program
  mkdir -p "$work/bare"
  cp "$program" "$calib_dir/KavCalib.dll" "$calib_dir/KavLib.dll" "$work/bare/"
  program=$work/bare/kavcalib_e2e.exe
  run cancel 4
  program=$shipped
fi
[ -n "${ONLY:-}" ] || run ok 25
[ -n "${ONLY:-}" ] || run ok 4

wine_report "kavcalib wine tests"
