# Shared set-up for the scripts that run Windows programs under Wine. Source it from a
# bash script running with `set -euo pipefail`:
#
#   . "$(dirname "$0")/../wine/harness.sh"     # (path relative to the script)
#   wine_work kavsvc                # scratch dir $WINE_WORK, removed on exit
#   wine_prefix                     # a prefix of its own: a copy of $KAV_WINE_TEMPLATE if set
#   wine_headless                   # or: wine_xvfb 1280x800x24 / wine_two_monitors
#   wine_start                      # a persistent wineserver, warmed up, killed on exit
#   KAVSIM=.../kavsim wine_serve screen --screens 2 screen.scn   # sets WINE_SIM
#   check "description" command ...; ...; wine_report name
#
# KAV_WINE_TEMPLATE names a booted prefix to copy (0.4 s) instead of booting one (10-20 s);
# scripts/test makes one per run. Copies keep the scripts apart: each has its own
# wineserver and registry, so they can change settings and kill their server freely.
# The harness owns the EXIT trap: register clean-ups with wine_on_exit instead.

# wine_need SCRIPT FILE...: ends the script (status 2) when a file it runs is not built.
wine_need() {
    local file
    for file in "${@:2}"; do
        [ -e "$file" ] || { echo "$1: $file is missing; build it first" >&2; exit 2; }
    done
}

wine_cleanups=()
wine_failures=0

# Runs the registered clean-ups, last first, whatever way the script ends.
wine_on_exit_run() {
    local i
    for ((i = ${#wine_cleanups[@]} - 1; i >= 0; i--)); do
        eval "${wine_cleanups[i]}" >/dev/null 2>&1 || true
    done
}
trap wine_on_exit_run EXIT

# wine_on_exit COMMAND: run COMMAND (a string, evaluated then) when the script ends.
wine_on_exit() { wine_cleanups+=("$1"); }

# wine_kill_on_exit PID: the process is killed when the script ends, if still running.
wine_kill_on_exit() { wine_on_exit "kill $1"; }

# wine_work NAME: a scratch directory, $WINE_WORK, removed on exit.
wine_work() {
    WINE_WORK=$(mktemp -d "/tmp/$1.XXXXXX")
    wine_on_exit "rm -rf '$WINE_WORK'"
}

# wine_prefix [--reuse]: exports WINEPREFIX as $WINE_WORK/prefix, copied from the template or
# booted. --reuse keeps a WINEPREFIX the caller set (when there is no template).
wine_prefix() {
    export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
    if [ -n "${KAV_WINE_TEMPLATE:-}" ] && [ -f "$KAV_WINE_TEMPLATE/system.reg" ]; then
        export WINEPREFIX=$WINE_WORK/prefix
        cp -a "$KAV_WINE_TEMPLATE" "$WINEPREFIX"
    elif [ "${1:-}" = --reuse ] && [ -n "${WINEPREFIX:-}" ]; then
        export WINEPREFIX
        [ -f "$WINEPREFIX/system.reg" ] || (cd /tmp && DISPLAY= wineboot --init >/dev/null 2>&1) || true
    else
        export WINEPREFIX=$WINE_WORK/prefix
        wine_boot "$WINEPREFIX"
    fi
    wine_reg 'HKCU\Software\Wine\Drivers' Audio ''  # no sound card: stops ALSA's error spam
}

# wine_boot DIR: a freshly booted prefix in DIR, fit to be a template (its server stopped,
# so the registry is on disk).
wine_boot() {
    (cd /tmp && export WINEPREFIX=$1 DISPLAY= WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" &&
        wineboot --init >/dev/null 2>&1) || true
    WINEPREFIX=$1 wineserver -k >/dev/null 2>&1 || true
    WINEPREFIX=$1 wineserver -w >/dev/null 2>&1 || true
}

# wine_reg KEY NAME DATA [TYPE]: sets a registry value in the prefix, quietly. Run from /tmp,
# so that a reg.exe in the current directory is not the one started.
wine_reg() { (cd /tmp && wine reg add "$1" /v "$2" /t "${4:-REG_SZ}" /d "$3" /f >/dev/null 2>&1); }

# wine_headless: no display; windows go to Wine's null driver.
wine_headless() {
    export DISPLAY=
    wine_reg 'HKCU\Software\Wine\Drivers' Graphics null
}

# wine_x_server VAR COMMAND...: starts an X server on a free display (its -displayfd);
# sets VAR to ":N" once it accepts connections.
wine_x_server() {
    local var=$1 numberfile=$WINE_WORK/display.$RANDOM number=
    shift
    "$@" -displayfd 3 -nolisten tcp 3>"$numberfile" >/dev/null 2>&1 &
    wine_kill_on_exit $!
    for _ in $(seq 100); do
        number=$(tr -dc 0-9 <"$numberfile" 2>/dev/null || true)
        [ -n "$number" ] && break
        sleep 0.1
    done
    [ -n "$number" ] || { echo "wine harness: $1 did not start" >&2; return 1; }
    printf -v "$var" ':%s' "$number"
}

# wine_x11_driver: Wine's X11 driver without a window manager. Managed=N draws captions
# and skips the 2 s wait when a window hides.
wine_x11_driver() { wine_reg 'HKCU\Software\Wine\X11 Driver' Managed N; }

# wine_xvfb SIZE: one virtual monitor (SIZE as 1280x800x24), exported as DISPLAY.
wine_xvfb() {
    wine_x_server DISPLAY Xvfb -screen 0 "$1"
    export DISPLAY
    wine_x11_driver
}

# wine_two_monitors: 1920x1080 at 0,0 and 1280x1024 at 1920,0 (Xephyr's Xinerama inside a
# Xvfb: plain Xvfb shows Wine one monitor), exported as DISPLAY.
wine_two_monitors() {
    local host inner
    wine_x_server host Xvfb -screen 0 3840x1200x24
    export DISPLAY=$host
    wine_x_server inner Xephyr -screen 1920x1080 -origin 1920,0 -screen 1280x1024 +xinerama
    export DISPLAY=$inner
    wait_until 10 xwininfo -root
    wine_x11_driver
    # Wine's RandR view shows one monitor; the Xinerama one shows both.
    wine_reg 'HKCU\Software\Wine\X11 Driver' UseXRandR N
}

# wine_start [WARM-UP...]: restarts the wineserver so settings apply, keeps it running
# until exit, and makes a first start (default `cmd /c exit`) that brings Wine's services up
# detached from later pipes.
wine_start() {
    wineserver -k >/dev/null 2>&1 || true
    wineserver -p </dev/null >/dev/null 2>&1
    wine_on_exit "WINEPREFIX='$WINEPREFIX' wineserver -k"
    if [ $# -eq 0 ]; then set -- cmd /c exit; fi
    (cd /tmp && timeout 120 wine "$@" </dev/null >/dev/null 2>&1) || true
}

# wine_serve NAME [SERVE-ARGS...]: `$KAVSIM serve` on a free port, logging to
# $WINE_WORK/NAME.log; sets WINE_SIM (its address) and WINE_SIM_PID once it listens.
wine_serve() {
    local log=$WINE_WORK/$1.log
    shift
    "${KAVSIM:?KAVSIM names the kavsim program}" serve --port 0 "$@" >"$log" 2>&1 &
    WINE_SIM_PID=$!
    wine_kill_on_exit $WINE_SIM_PID
    if ! wait_line "$log" '^listening on ' 30; then
        cat "$log" >&2
        echo "wine harness: kavsim serve did not start" >&2
        return 1
    fi
    WINE_SIM=$(sed -n 's/^listening on //p' "$log")
}

# wine_serve_stop: ends the service of the last wine_serve.
wine_serve_stop() {
    kill "$WINE_SIM_PID" 2>/dev/null || true
    wait "$WINE_SIM_PID" 2>/dev/null || true
}

# wait_until SECONDS COMMAND...: retries COMMAND (quietly) until it succeeds or time is up.
wait_until() {
    local deadline=$((SECONDS + $1))
    until "${@:2}" >/dev/null 2>&1; do
        [ $SECONDS -lt $deadline ] || return 1
        sleep 0.2
    done
}

# wait_line FILE REGEX [SECONDS]: until a line of FILE matches the extended regex.
wait_line() { wait_until "${3:-15}" grep -Eq -- "$2" "$1"; }

# wait_exit PID SECONDS: until the process ends.
wait_exit() { wait_until "$2" eval "! kill -0 $1"; }

# wait_window TITLE-REGEX [SECONDS]: prints the id of a visible X window so titled.
wait_window() {
    local deadline=$((SECONDS + ${2:-30})) window
    while [ $SECONDS -lt $deadline ]; do
        window=$(xdotool search --onlyvisible --name "$1" 2>/dev/null | head -1 || true)
        [ -n "$window" ] && { echo "$window"; return 0; }
        sleep 0.3
    done
    return 1
}

# window_titled TITLE [SECONDS]: prints the id of a visible window of exactly TITLE, compared
# as UTF-8 bytes (xdotool's own --name match misses Chinese titles).
window_titled() {
    local deadline=$((SECONDS + ${2:-60})) window
    while [ $SECONDS -lt $deadline ]; do
        for window in $(xdotool search --onlyvisible --name . 2>/dev/null); do
            [ "$(xdotool getwindowname "$window" 2>/dev/null)" = "$1" ] && { echo "$window"; return 0; }
        done
        sleep 0.3
    done
    echo "wine harness: no window titled $1" >&2
    return 1
}

# screenshot WINDOW FILE: the window (an X id, or "root" for the display) as a PNG.
screenshot() { import -window "$1" "$2"; }

# check DESCRIPTION COMMAND...: runs COMMAND; reports ok or FAIL and counts the failure.
check() {
    if "${@:2}"; then pass "$1"; else fail "$1"; fi
}
pass() { printf 'ok    %s\n' "$1"; }
fail() {
    printf 'FAIL  %s\n' "$1"
    wine_failures=$((wine_failures + 1))
}

# wine_report NAME: the summary line; fails when any check failed.
wine_report() {
    if [ "$wine_failures" -ne 0 ]; then
        echo "$1: $wine_failures failed" >&2
        return 1
    fi
    echo "$1: all passed"
}
