#!/usr/bin/env bash
# KavSvc.exe under Wine against the simulated screen service: no visible window; the About
# box from the system menu's command, with its Simplified Chinese texts; a tap
# beeps once with BeepMode 0 and twice with BeepMode 2; a settings change written through
# the driver request report and announced with "BeepChanged" changes the next sound; a real
# left click made with SendInput reaches the program's raw input and does not beep; a
# second start ends at once while the first keeps running.
#
# Usage: tests/beepservice/kavsvc_wine_test.sh [WINDOWS_BUILD] [NATIVE_BUILD]
#   (defaults build/windows and build/native). Uses $WINEPREFIX when it is set (a booted
#   prefix), else boots a temporary one. What KavSvc heard and played is read from its
#   trace (KAVSVC_TRACE); the beeps are Beep and PlaySoundW calls, which Wine makes silently.
set -euo pipefail
cd "$(dirname "$0")/../.."

windows_build=${1:-build/windows}
native_build=${2:-build/native}
kavsvc=$windows_build/source/drivers/windows/beepservice/KavSvc.exe
probe=$windows_build/tests/beepservice/win32/kavsvc_probe.exe
kavsim=$native_build/source/tools/kavsim
for file in "$kavsvc" "$probe" "$kavsim"; do
  [ -e "$file" ] || { echo "kavsvc_wine_test: $file is missing; build it first" >&2; exit 2; }
done

work=$(mktemp -d /tmp/kavsvc-test.XXXXXX)
own_prefix=
if [ -z "${WINEPREFIX:-}" ]; then
  export WINEPREFIX=$work/prefix
  own_prefix=1
fi
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" DISPLAY=
service_pid= kavsvc_pid=

cleanup() {
  [ -n "$kavsvc_pid" ] && kill "$kavsvc_pid" 2>/dev/null || true
  [ -n "$service_pid" ] && kill "$service_pid" 2>/dev/null || true
  [ -n "$own_prefix" ] && wineserver -k >/dev/null 2>&1 || true
  rm -rf "$work"
}
trap cleanup EXIT

failures=0
pass() { printf 'ok    %s\n' "$*"; }
fail() { printf 'FAIL  %s\n' "$*"; failures=$((failures + 1)); }

# wait_for FILE PATTERN [SECONDS]: until a line of FILE matches the extended regex.
wait_for() {
  local deadline=$((SECONDS + ${3:-15}))
  until grep -Eq -- "$2" "$1" 2>/dev/null; do
    [ $SECONDS -lt $deadline ] || return 1
    sleep 0.2
  done
}

if [ -n "$own_prefix" ]; then
  wineboot --init >/dev/null 2>&1 || true
fi
wine reg add 'HKCU\Software\Wine\Drivers' /v Audio /d '' /f >/dev/null 2>&1
wine reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f >/dev/null 2>&1
# Windows without a display need the null driver, which a restarted server applies.
wineserver -k >/dev/null 2>&1 || true
wineserver -p </dev/null >/dev/null 2>&1 &
wine "$probe" broadcast >/dev/null 2>&1 || true  # starts Wine's own services, detached from our pipes

# The screen: digitizer reports, beep on touch-down with the speaker.
cat >"$work/screen.scn" <<'SCENARIO'
set Mode 2
set EnableBeep 1
set BeepType 0
set BeepMode 0
set BeepFrequency 750
set BeepDuration 50
SCENARIO
"$kavsim" serve --port 0 "$work/screen.scn" >"$work/service.log" 2>&1 &
service_pid=$!
wait_for "$work/service.log" '^listening on ' || { cat "$work/service.log" >&2; echo "kavsvc_wine_test: the service did not start" >&2; exit 1; }
address=$(sed -n 's/^listening on //p' "$work/service.log")
export KAVLIB_PLATFORM=sim KAVLIB_SIM=$address
send() { "$kavsim" send --address "$address" "$@" >/dev/null; }

trace=$work/trace.txt
trace_win=$(winepath -w "$trace" 2>/dev/null)
KAVSVC_TRACE=$trace_win wine "$kavsvc" >"$work/kavsvc.log" 2>&1 &
kavsvc_pid=$!
if ! wait_for "$trace" '^settings '; then
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
  if wait_for "$trace" '^input mouse 0x0002 .*HID#VID_845E' 5; then clicked=1; break; fi
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
wait "$service_pid" 2>/dev/null || true
service_pid=

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
if ! wait_for "$system_trace" '^settings '; then
  fail "KavSvc without the simulation did not start listening"
elif grep -q '^settings unread$' "$system_trace"; then
  echo "skip  without the simulation: KavLib cannot read the driver's registry key on this platform yet"
else
  grep -q '^settings Mode 0 EnableBeep 1 BeepType 0 BeepMode 2 BeepFrequency 440 BeepDuration 30$' "$system_trace" &&
    pass "settings from the registry" || fail "settings from the registry: $(grep '^settings' "$system_trace")"
  clicked=
  for attempt in 1 2 3; do
    wine "$probe" click >/dev/null
    if wait_for "$system_trace" '^input mouse 0x0002 .*HID#VID_845E' 5; then clicked=1; break; fi
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

if [ "$failures" -ne 0 ]; then
  echo "kavsvc_wine_test: $failures failed; KavSvc's trace:" >&2
  cat "$trace" >&2
  exit 1
fi
echo "kavsvc_wine_test: all passed"
