#!/usr/bin/env bash
# The constant-time check of signing (test/ctime_test.cpp) under valgrind's
# memcheck: the run must end without a single error, and the control run,
# which signs with the variable-time operations, must find errors.
#
#   test/ctime.sh BINARY          runs a ctime_test that the build made
#   test/ctime.sh --compile CXX   first compiles the library (src/*.cpp but
#                                 the tools' main.cpp and cli.cpp) and
#                                 ctime_test with nothing but
#                                 CXX -std=c++20 -O2 -g -gdwarf-4
#                                 -DKLARVEX_VALGRIND and the include paths: no
#                                 flag of the project's build. (-gdwarf-4
#                                 because valgrind 3.19 cannot read the DWARF 5
#                                 of clang 14; it changes no instruction.)
#
# Exit status: 0 passed, 1 failed, 77 skipped (no valgrind, or no
# valgrind/memcheck.h to compile with).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
usage="usage: test/ctime.sh BINARY | --compile CXX"

skip() {
    echo "ctime: SKIPPED: $*"
    exit 77
}

command -v valgrind >/dev/null || skip "valgrind is not installed (apt-get install valgrind)"
if [[ ${1:-} == --compile ]]; then
    cxx=${2:?$usage}
    echo '#include <valgrind/memcheck.h>' | "$cxx" -x c++ -fsyntax-only - 2>/dev/null ||
        skip "$cxx finds no valgrind/memcheck.h (apt-get install valgrind)"
    work=$(mktemp -d)
    trap 'rm -rf "$work"' EXIT
    sources=()
    for f in "$root"/src/*.cpp; do
        case ${f##*/} in main.cpp | cli.cpp) ;; *) sources+=("$f") ;; esac
    done
    flags=(-std=c++20 -O2 -g -gdwarf-4 -DKLARVEX_VALGRIND -I"$root/src" -I"$root/test")
    echo "ctime: $cxx ${flags[*]} (${#sources[@]} library sources and ctime_test.cpp)"
    "$cxx" "${flags[@]}" "${sources[@]}" "$root/test/ctime_test.cpp" -o "$work/ctime_test"
    bin=$work/ctime_test
else
    bin=${1:?$usage}
fi

status=0
valgrind -q --error-exitcode=42 "$bin" || status=$?
if ((status != 0)); then
    echo "ctime: FAILED: memcheck found secret-dependent branches or addresses (status $status)"
    exit 1
fi
if ! valgrind -q --log-file=/dev/null "$bin" --control; then
    echo "ctime: FAILED: the control run did not show that memcheck sees a leak"
    exit 1
fi
echo "ctime: passed"
