#!/usr/bin/env bash
# Checks a built KavLib.dll without running it: it exports exactly the names of
# kavlib_exports.txt, and carries neither the simulator nor the driver.
#   check_kavlib_dll.sh path/to/KavLib.dll
set -euo pipefail
dll=${1:?usage: check_kavlib_dll.sh path/to/KavLib.dll}
here=$(cd "$(dirname "$0")" && pwd)
objdump=${OBJDUMP:-x86_64-w64-mingw32-objdump}
nm=${NM:-x86_64-w64-mingw32-nm}
status=0

exported=$("$objdump" -p "$dll" | sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' | awk 'NR > 1 && NF { print $NF }' | sort)
if ! diff <(sort "$here/kavlib_exports.txt") <(printf '%s\n' "$exported") >/tmp/kavlib_exports.$$.diff; then
    echo "KavLib.dll exports differ from kavlib_exports.txt (< missing, > extra):" >&2
    cat /tmp/kavlib_exports.$$.diff >&2
    status=1
fi
rm -f /tmp/kavlib_exports.$$.diff

# Names only the simulator, the virtual HID stack or the driver frame define.
if "$nm" -C "$dll" | grep -E 'kav::sim::|kav::kmdf::|HidStack|NerioUSBEvt|ProcessTransfer|DEVICE_CONTEXT' >&2; then
    echo "KavLib.dll carries simulator or driver code (above)" >&2
    status=1
fi
[ $status -eq 0 ] && echo "KavLib.dll: $(printf '%s\n' "$exported" | wc -l) exports as listed; no simulator, no driver"
exit $status
