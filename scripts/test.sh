#!/usr/bin/env bash
# Builds everything and runs every test: the Qt Test suite built with Qt 5 (build/) and with
# Qt 6 (build-qt6/), the Windows build's suite under Wine (build-windows/, when Qt for Windows is
# cached), the suite again under AddressSanitizer and UndefinedBehaviorSanitizer, and a short run
# of each fuzzer (built with Qt 5, the settings fuzzer with Qt 6 too). Installs what a fresh
# Debian 12 machine lacks first.
#
# Usage: scripts/test.sh            everything (about 10 minutes on two cores, 5 more for Windows)
#        scripts/test.sh --quick    the ordinary builds and suites only, Qt 5, Qt 6 and Windows
# FUZZ_SECONDS sets how long each fuzzer runs (default 60).
set -euo pipefail
cd "$(dirname "$0")/.."

quick=false
[ "${1:-}" = "--quick" ] && quick=true

scripts/deps.sh

logs=$(mktemp -d)
trap 'rm -rf "$logs"' EXIT

build=${BUILD_DIR:-build}
echo "== Qt 5: the suite"
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTALLYCONF_QT_MAJOR=5
cmake --build "$build" -j"$(nproc)"
ctest --test-dir "$build" --output-on-failure -j2 | tee "$logs/suite"

echo "== Qt 6: the suite"
cmake -S . -B "$build-qt6" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTALLYCONF_QT_MAJOR=6
cmake --build "$build-qt6" -j"$(nproc)"
ctest --test-dir "$build-qt6" --output-on-failure -j2 | tee "$logs/suite-qt6"

# The Windows build under Wine, when Qt for Windows is in the cache; building that Qt takes a
# quarter of an hour and is never done here.
echo "== Windows: the suite under Wine"
if [ -f "$(scripts/windows-qt.sh --print)/.complete" ]; then
    scripts/windows.sh --suite | tee "$logs/suite-windows"
else
    echo "Windows suite skipped: no Qt for Windows in the cache (bash scripts/windows-qt.sh builds it)"
fi

if ! $quick; then
    echo "== The suite under AddressSanitizer and UndefinedBehaviorSanitizer"
    scripts/sanitize.sh | tee "$logs/sanitized"
    echo "== Fuzzers"
    scripts/fuzz.sh "${FUZZ_SECONDS:-60}" | tee "$logs/fuzz"
fi

# One closing line for the whole run: test programs of the suites, and fuzzers that ran clean.
passed=0
for log in "$logs"/suite "$logs"/suite-qt6 "$logs"/suite-windows "$logs"/sanitized; do
    [ -f "$log" ] || continue
    count=$(sed -n 's/.*tests passed, 0 tests failed out of \([0-9]*\).*/\1/p' "$log" | tail -n1)
    passed=$((passed + ${count:-0}))
done
if [ -f "$logs/fuzz" ]; then
    passed=$((passed + $(grep -c '^== fuzz_' "$logs/fuzz")))
fi
echo "all: $passed passed, 0 failed"
