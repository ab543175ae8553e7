#!/usr/bin/env bash
# KavSvc.exe under Wine against the simulated screen service: no visible window; the About
# box from the system menu's command, with its Simplified Chinese texts; a tap
# beeps once with BeepMode 0 and twice with BeepMode 2; a settings change written through
# the driver request report and announced with "BeepChanged" changes the next sound; a real
# left click made with SendInput reaches the program's raw input and does not beep; a
# second start ends at once while the first keeps running.
#
# Usage: tests/beepservice/kavsvc_wine_test.sh [WINDOWS_BUILD] [NATIVE_BUILD]
#   (defaults build/windows and build/native). Headless, in a copy of $KAV_WINE_TEMPLATE when
#   set, else in $WINEPREFIX when set, else in a prefix of its own. What KavSvc heard and played is read from its
#   trace (KAVSVC_TRACE); the beeps are Beep and PlaySoundW calls, which Wine makes silently.
set -euo pipefail
cd "$(dirname "$0")/../.."

windows_build=${1:-build/windows}
native_build=${2:-build/native}
kavsvc=$windows_build/source/drivers/windows/beepservice/KavSvc.exe
probe=$windows_build/tests/beepservice/win32/kavsvc_probe.exe
kavsim=$native_build/source/tools/kavsim
. tests/wine/harness.sh
wine_need "kavsvc_wine_test" "$kavsvc" "$probe" "$kavsim"

KAVSIM=$kavsim
wine_work kavsvc-test
work=$WINE_WORK
wine_prefix --reuse
# Windows without a display need the null driver.
wine_headless
wine_start

# The screen: digitizer reports, beep on touch-down with the speaker.
cat >"$work/screen.scn" <<'SCENARIO'
set Mode 2
set EnableBeep 1
set BeepType 0
set BeepMode 0
set BeepFrequency 750
set BeepDuration 50
SCENARIO
wine_serve service "$work/screen.scn"
address=$WINE_SIM
export KAVLIB_PLATFORM=sim KAVLIB_SIM=$address
send() { "$kavsim" send --address "$address" "$@" >/dev/null; }

trace=$work/trace.txt
trace_win=$(winepath -w "$trace" 2>/dev/null)
KAVSVC_TRACE=$trace_win wine "$kavsvc" >"$work/kavsvc.log" 2>&1 &
kavsvc_pid=$!
wine_kill_on_exit $kavsvc_pid
if ! wait_line "$trace" '^settings '; then
  cat "$trace" >&2 2>/dev/null || true
  echo "kavsvc_wine_test: KavSvc did not start listening" >&2
  exit 1
fi
grep -q '^registered$' "$trace" && pass "raw input registered, settings read" || fail "raw input not registered"

if wine "$probe" window >"$work/window.txt" 2>&1; then
  pass "no visible window: $(cat "$work/window.txt")"
else
  fail "the window shows: $(cat "$work/window.txt")"
fi

# The probe's text-mode output ends its lines with CRLF.
if wine "$probe" about 2>&1 | tr -d '\r' >"$work/about.txt" &&
  diff <(printf '%s\n' 'title 关于 KavSvc' 'text KavSvc，1.0 版' 'text 确定' closed) "$work/about.txt" >/dev/null; then
  pass "the system menu's About command opens the About box, OK closes it"
else
  fail "About box: $(paste -sd, - <"$work/about.txt")"
fi

# change FIELD VALUE ...: through the driver request report, then "BeepChanged".
change() {
  local before
  before=$(grep -c '^settings ' "$trace")
  wine "$probe" set "$@" >/dev/null
  wine "$probe" broadcast
  local deadline=$((SECONDS + 15))
  while [ "$(grep -c '^settings ' "$trace")" -le "$before" ]; do
    [ $SECONDS -lt $deadline ] || { fail "no configuration read after BeepChanged"; return; }
    sleep 0.2
  done
}

# played_by_tap LIFT_PATTERN: the sounds one tap made, one per line, once the trace shows
# the lift.
played_by_tap() {
  local mark deadline
  mark=$(wc -l <"$trace")
  send 'tap 200 150'
  deadline=$((SECONDS + 15))
  until tail -n +$((mark + 1)) "$trace" | grep -Eq -- "$1"; do
    [ $SECONDS -lt $deadline ] || break
    sleep 0.2
  done
  sleep 0.5  # the last reports after the lift
  tail -n +$((mark + 1)) "$trace" | sed -n 's/^play //p'
}

expect_sounds() {  # NAME EXPECTED ACTUAL
  if [ "$2" = "$3" ]; then
    pass "$1: $(echo "$3" | paste -sd, -)"
  else
    fail "$1: expected [$(echo "$2" | paste -sd, -)], played [$(echo "$3" | paste -sd, -)]"
  fi
}

touch_lift='^input hid 30 06 '
expect_sounds "tap, BeepMode 0" "beep 750 50" "$(played_by_tap "$touch_lift")"

change BeepMode 2
expect_sounds "tap, BeepMode 2" "beep 750 50
beep 750 50" "$(played_by_tap "$touch_lift")"

change BeepType 1
expect_sounds "tap after BeepType 1 and BeepChanged" "wave beep.wav
wave beep.wav" "$(played_by_tap "$touch_lift")"

# The mouse path: the system's own mouse reaches raw input but lacks the device filter.
change Mode 0 BeepMode 0 BeepType 0
mark=$(wc -l <"$trace")
clicked=
for attempt in 1 2 3; do
  wine "$probe" click >/dev/null
  if wait_line "$trace" '^input mouse 0x0002 .*HID#VID_845E' 5; then clicked=1; break; fi
done
sleep 0.5
if [ -z "$clicked" ]; then
  fail "a SendInput click did not reach KavSvc's raw input"
elif tail -n +$((mark + 1)) "$trace" | grep -q '^play '; then
  fail "a SendInput click beeped"
else
  pass "a SendInput click reached raw input ($(tail -n +$((mark + 1)) "$trace" | grep -c '^input mouse') records) and did not beep"
fi
expect_sounds "tap on the mouse path, BeepMode 0" "beep 750 50" \
  "$(played_by_tap '^input mouse 0x0002 .*vid_4b1d&pid_0a31')"

second_trace=$work/second.txt
if timeout 20 env KAVSVC_TRACE="$(winepath -w "$second_trace")" wine "$kavsvc" >/dev/null 2>&1 &&
  grep -q '^another instance runs$' "$second_trace" && kill -0 "$kavsvc_pid" 2>/dev/null &&
  wine "$probe" window >/dev/null 2>&1; then
  pass "a second KavSvc ended at once; the first keeps running"
else
  fail "second start: $(cat "$second_trace" 2>/dev/null | paste -sd, -)"
fi

wine "$probe" close
if timeout 20 tail --pid="$kavsvc_pid" -f /dev/null; then
  kavsvc_pid=
  pass "KavSvc ended when its dialog was closed"
else
  fail "KavSvc did not end when its dialog was closed"
fi
send quit || true
wait "$WINE_SIM_PID" 2>/dev/null || true

# Without the simulation: the settings from the registry of the prefix through KavLib's
# Win32 platform, and only the system's raw input.
unset KAVLIB_PLATFORM KAVLIB_SIM
key='HKLM\SYSTEM\CurrentControlSet\Services\KavUSB\Parameters\DriverParameters'
for value in Mode=0 EnableBeep=1 BeepType=0 BeepMode=2 BeepFrequency=440 BeepDuration=30; do
  wine reg add "$key" /v "${value%=*}" /t REG_DWORD /d "${value#*=}" /f >/dev/null 2>&1
done
system_trace=$work/system.txt
KAVSVC_TRACE=$(winepath -w "$system_trace") wine "$kavsvc" >/dev/null 2>&1 &
kavsvc_pid=$!
wine_kill_on_exit $kavsvc_pid
if ! wait_line "$system_trace" '^settings '; then
  fail "KavSvc without the simulation did not start listening"
elif grep -q '^settings unread$' "$system_trace"; then
  echo "skip  without the simulation: KavLib cannot read the driver's registry key on this platform yet"
else
  grep -q '^settings Mode 0 EnableBeep 1 BeepType 0 BeepMode 2 BeepFrequency 440 BeepDuration 30$' "$system_trace" &&
    pass "settings from the registry" || fail "settings from the registry: $(grep '^settings' "$system_trace")"
  clicked=
  for attempt in 1 2 3; do
    wine "$probe" click >/dev/null
    if wait_line "$system_trace" '^input mouse 0x0002 .*HID#VID_845E' 5; then clicked=1; break; fi
  done
  sleep 0.5
  if [ -z "$clicked" ] || grep -q '^play ' "$system_trace"; then
    fail "without the simulation, a SendInput click: $(paste -sd, - <"$system_trace")"
  else
    pass "without the simulation, a SendInput click reached raw input and did not beep"
  fi
fi
wine "$probe" close >/dev/null 2>&1 || true
timeout 20 tail --pid="$kavsvc_pid" -f /dev/null || true
kavsvc_pid=

if [ "$wine_failures" -ne 0 ]; then
  echo "KavSvc's trace:" >&2
  cat "$trace" >&2
fi
wine_report kavsvc_wine_test
