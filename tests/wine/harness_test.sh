#!/usr/bin/env bash
# The Wine harness's own pieces that need no Wine: checks counted into the exit status,
# clean-ups run last first however a script ends, and X servers started together on
# displays of their own.
#   tests/wine/harness_test.sh
set -euo pipefail
harness=$(cd "$(dirname "$0")" && pwd)/harness.sh
scratch=$(mktemp -d /tmp/harness-test.XXXXXX)
trap 'rm -rf "$scratch"' EXIT
failures=0
expect() {  # expect DESCRIPTION EXPECTED ACTUAL
    if [ "$2" = "$3" ]; then
        echo "ok    $1"
    else
        printf 'FAIL  %s\n  expected: %s\n  actual:   %s\n' "$1" "$2" "$3"
        failures=$((failures + 1))
    fi
}
# script BODY: runs BODY in a script that sources the harness; prints its output, its exit
# status and what its clean-ups wrote to $LOG, each joined with ";".
script() {
    local status=0 output
    : >"$scratch/log"
    output=$(LOG=$scratch/log bash -c "set -euo pipefail; . '$harness'; $1" 2>&1) || status=$?
    printf '%s|%s|%s' "$(printf '%s' "$output" | paste -sd';' -)" "$status" "$(paste -sd';' - <"$scratch/log")"
}

while IFS='#' read -r description body expected; do
    expect "$description" "$expected" "$(script "$body")"
done <<'CASES'
all checks pass#check one true; check two true; wine_report t#ok    one;ok    two;t: all passed|0|
one failing check fails the script#check one false; check two true; wine_report t#FAIL  one;ok    two;t: 1 failed|1|
a failing command in a check does not end the script#check one test 1 = 2; check two true; wine_report t#FAIL  one;ok    two;t: 1 failed|1|
clean-ups last first, the exit status kept#wine_on_exit 'echo a >>$LOG'; wine_on_exit 'echo b >>$LOG'; exit 3#|3|b;a
clean-ups when set -e ends the script#wine_on_exit 'echo a >>$LOG'; false; echo not here#|1|a
a failing clean-up does not stop the others#wine_on_exit 'echo a >>$LOG'; wine_on_exit 'false'#|0|a
CASES
dir=$(bash -c ". '$harness'; wine_work harness-case; touch \$WINE_WORK/file; echo \$WINE_WORK")
expect "the scratch directory removed on exit" gone "$([ -n "$dir" ] && [ ! -e "$dir" ] && echo gone || echo "kept [$dir]")"

# Two scripts starting X servers at the same moment get a display each, usable, and ended
# with the script (a picked-number race would leave one of them a dead display).
if command -v Xvfb >/dev/null && command -v xdpyinfo >/dev/null; then
    one_display() {
        bash -c "set -euo pipefail; . '$harness'; wine_work harness-test
            wine_x_server shown Xvfb -screen 0 320x200x24
            DISPLAY=\$shown xdpyinfo >/dev/null && echo \$shown; sleep 1"
    }
    one_display >"$scratch/a" &
    one_display >"$scratch/b"
    wait
    a=$(cat "$scratch/a") b=$(cat "$scratch/b")
    expect "two scripts, two usable displays" yes \
        "$([ -n "$a" ] && [ -n "$b" ] && [ "$a" != "$b" ] && echo yes || echo "[$a] [$b]")"
    gone() {  # gone :N: whether the display's socket goes within 5 s
        for _ in $(seq 50); do
            [ -e "/tmp/.X11-unix/X${1#:}" ] || { echo gone; return; }
            sleep 0.1
        done
        echo kept
    }
    expect "their servers ended with them" "gone gone" "$(gone "$a") $(gone "$b")"
fi

echo "harness_test: $failures failed"
[ "$failures" -eq 0 ]
