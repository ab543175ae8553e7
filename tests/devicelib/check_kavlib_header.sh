#!/usr/bin/env bash
# KavLib.h stands alone: it compiles as C99 and as C++17, natively and for Windows, with
# nothing else on the include path.
set -euo pipefail
header=$(cd "$(dirname "$0")/../.." && pwd)/source/drivers/windows/devicelib/include/KavLib.h
status=0
check() {
    local compiler=$1
    shift
    command -v "$compiler" >/dev/null || { echo "skipped: $compiler not installed"; return; }
    if "$compiler" "$@" -Wall -Wextra -Werror -fsyntax-only "$header"; then
        echo "KavLib.h: $compiler $*"
    else
        status=1
    fi
}
check gcc -std=c99 -pedantic -x c
check g++ -std=c++17 -pedantic -x c++
check x86_64-w64-mingw32-gcc -std=c99 -pedantic -x c
check x86_64-w64-mingw32-g++ -std=c++17 -pedantic -x c++
exit $status
