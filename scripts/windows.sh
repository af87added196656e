#!/usr/bin/env bash
# The Windows build, from Linux: installs what is missing, builds Qt for Windows once into its
# cache (scripts/windows-qt.sh; about a quarter of an hour on two cores), cross-builds the three
# programs and the tests into build-windows/ with cmake/mingw-w64-x86_64.cmake, runs the suite
# under Wine (the Qt Test programs, tallyctl.exe in a console and on a COM port, the zip and the
# installer tried out) and leaves the packages in build-windows/:
#     tallyconf-VERSION-win64.zip           to run from any folder
#     tallyconf-VERSION-win64-setup.exe     the installer (/S for a silent install)
# Run as root on Debian 12.
#
# Usage: scripts/windows.sh            all of it
#        scripts/windows.sh --suite    the build and the suite only, with the Qt already cached
#                                      (never builds Qt; scripts/test.sh runs this)
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

suite_only=false
case "${1:-}" in
    "") ;;
    --suite) suite_only=true ;;
    *) echo "usage: scripts/windows.sh [--suite]" >&2; exit 2 ;;
esac

started=$(date +%s)
step_started=$started
steps=()
step_done() {
    local now
    now=$(date +%s)
    steps+=("$1: $((now - step_started)) s")
    step_started=$now
}

# The Linux packages too: the COM port test runs the Linux simulator and compares with the Linux
# tallyctl. Wine comes as wine64 only (its loader is /usr/lib/wine/wine64; the wine package's
# /usr/bin/wine would add nothing but a warning about a missing 32-bit Wine on every start).
scripts/deps.sh g++-mingw-w64-x86-64-posix wine64 nsis xvfb xauth xdotool unzip
step_done "packages"

if $suite_only; then
    qt=$(scripts/windows-qt.sh --print)
    if [ ! -f "$qt/.complete" ]; then
        echo "windows: no Qt for Windows in the cache; scripts/windows-qt.sh builds it" >&2
        exit 1
    fi
else
    qt=$(scripts/windows-qt.sh | tail -n1)
fi
step_done "Qt for Windows ($(cat "$qt/.build-seconds" 2>/dev/null || echo '?') s when it was built)"

build=build-windows
host=$build/host
export WINEPREFIX=$root/$build/wineprefix
export WINEDEBUG=-all
# Wine's menu builder would put entries for the installer's shortcuts into this machine's own
# desktop menus (~/.local/share/applications/wine, ~/.config/menus); nothing of a run is left
# outside the build tree and the Qt cache.
export WINEDLLOVERRIDES=winemenubuilder.exe=d
# Wine keeps its server's socket in a folder of its own under TMPDIR and leaves it there; the
# run's temporary files, Wine's and the tests' alike, go into one folder that goes at the end.
TMPDIR=$(mktemp -d "${TMPDIR:-/tmp}/tallyconf-windows.XXXXXX")
export TMPDIR
trap 'rm -rf "$TMPDIR"' EXIT
# The suite's own loopback addresses (tests/common/testaddress.h): Wine numbers the programs of
# every prefix alike, so the run takes its number from this script's Linux process id.
export TALLYCONF_TEST_RUN=$$
wine=/usr/lib/wine/wine64
wineserver=/usr/lib/wine/wineserver

# Linux builds of the simulator and of tallyctl for the COM port test.
cmake -S . -B "$host" -DCMAKE_BUILD_TYPE=Release -DTALLYCONF_BUILD_TESTS=OFF \
    -DTALLYCONF_BUILD_BENCH=OFF > /dev/null
cmake --build "$host" -j2 --target unit-simulator tallyctl > /dev/null
step_done "Linux unit-simulator and tallyctl"

cmake -S . -B "$build" -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake \
    -DCMAKE_BUILD_TYPE=Release -DTALLYCONF_WINDOWS_QT="$qt" -DTALLYCONF_HOST_BUILD="$root/$host" \
    > /dev/null
cmake --build "$build" -j2
step_done "cross build"

# The Wine prefix of the tests, made once: Wine brings no fonts of its own here, so the window's
# (Tahoma, MS Shell Dlg, Segoe UI) are DejaVu Sans, which has Cyrillic.
if [ ! -f "$WINEPREFIX/.tallyconf-ready" ]; then
    rm -rf "$WINEPREFIX"
    "$wine" wineboot -i > /dev/null 2>&1
    for font in "MS Shell Dlg" "MS Shell Dlg 2" "Tahoma" "Segoe UI" "Arial" "Microsoft Sans Serif"; do
        "$wine" reg add 'HKCU\Software\Wine\Fonts\Replacements' /v "$font" /t REG_SZ \
            /d "DejaVu Sans" /f > /dev/null
    done
    "$wineserver" -w
    touch "$WINEPREFIX/.tallyconf-ready"
fi
# One Wine server for the whole suite: Wine's background services then belong to it, not to the
# first test, which CTest would otherwise wait for until they end.
# Its own messages (it lists its objects when a terminal it never had hangs up) go to a log.
# A server left on this prefix by an earlier run that was cut off would refuse the new one.
"$wineserver" -k 2>/dev/null || true
"$wineserver" -w 2>/dev/null || true
"$wineserver" -p > "$build/wineserver.log" 2>&1
trap '"$wineserver" -k 2>/dev/null || true; "$wineserver" -w 2>/dev/null || true; rm -rf "$TMPDIR"' EXIT
"$wine" wineboot > /dev/null 2>&1
# The first program that opens a window (and talks COM) starts Wine's desktop process (and its
# RPC service), which live on with the standard handles of that program: started by the first
# test, they would keep its output pipe open and CTest would wait for them until its time-out.
# One program started here with nothing to inherit starts both.
"$wine" "$build/bin/tst_frame.exe" -functions > /dev/null 2>&1
step_done "Wine prefix"

ctest --test-dir "$build" --output-on-failure -j2 | tee "$build/suite.log"
step_done "suite under Wine"
# What the Qt Test programs did inside, skips included (each QSKIP gives its reason in the log).
grep -a '^Totals:' "$build/Testing/Temporary/LastTest.log" \
    | awk '{p += $2; f += $4; s += $6} END {printf "== Qt Test cases under Wine: %d passed, %d failed, %d skipped\n", p, f, s}'

if ! $suite_only; then
    (cd "$build" && cpack -G ZIP > /dev/null)
    cmake --build "$build" --target installer > /dev/null
    step_done "packages"
fi

echo "== Windows build: $(( $(date +%s) - started )) s"
printf '   %s\n' "${steps[@]}"
if ! $suite_only; then
    ls -1 "$root/$build"/tallyconf-*-win64.zip "$root/$build"/tallyconf-*-win64-setup.exe
fi
