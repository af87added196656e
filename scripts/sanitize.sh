#!/usr/bin/env bash
# Builds everything with AddressSanitizer and UndefinedBehaviorSanitizer (and leak checking)
# into build-asan and runs the whole test suite there. Any sanitizer report fails the run, also
# one from a child process such as the unit simulator that a test starts and a test might not
# notice dying: every report goes to a log file under build-asan/sanitizer-logs/ as well.
#
# Usage: scripts/sanitize.sh                 (clang by default: its UBSan also checks
#        CXX=g++ scripts/sanitize.sh          float-to-integer overflow; gcc's does not)
# Leaks inside Qt's own libraries (not in our code) are listed, with reasons, in
# scripts/lsan.supp; our own leaks get fixed, never suppressed.
set -euo pipefail
cd "$(dirname "$0")/.."

build=build-asan
cxx=${CXX:-clang++}
logs="$PWD/$build/sanitizer-logs"

packages=()
[ "$cxx" = clang++ ] && packages=(clang libclang-rt-14-dev llvm)
scripts/deps.sh "${packages[@]}"

# The compiler is fixed when a build folder is first configured; start afresh if it changed.
compiler=$(command -v "$cxx") || { echo "no compiler $cxx" >&2; exit 2; }
if [ -f "$build/CMakeCache.txt" ] && [ "$(sed -n 's/^CMAKE_CXX_COMPILER:[A-Z]*=//p' \
        "$build/CMakeCache.txt")" != "$compiler" ]; then
    rm -rf "$build"
fi
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_COMPILER="$compiler" \
    -DTALLYCONF_SANITIZE=ON >/dev/null
cmake --build "$build" -j2

rm -rf "$logs"
mkdir -p "$logs"
export ASAN_OPTIONS="detect_leaks=1:halt_on_error=1:log_path=$logs/report"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1:log_path=$logs/report"
export LSAN_OPTIONS="suppressions=$PWD/scripts/lsan.supp:print_suppressions=0"

status=0
ctest --test-dir "$build" --output-on-failure -j2 || status=$?

if compgen -G "$logs/*" >/dev/null; then
    echo "Sanitizer reports:" >&2
    for report in "$logs"/*; do
        echo "--- $report" >&2
        cat "$report" >&2
    done
    status=1
fi
exit $status
