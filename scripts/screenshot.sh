#!/usr/bin/env bash
# Takes docs/screenshot.png: the real configurator in a virtual X display, on the "Ethernet"
# channel to the unit simulator on 127.0.0.22, after a real mouse click on "Прочитать всё".
# Only the window is saved, not the screen.
# With --windows it takes docs/screenshot-windows.png the same way from the Windows build under
# Wine (tallyconf.exe and unit-simulator.exe, on 127.0.0.23); scripts/windows.sh builds that.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

if [ "${1:-}" != "--inside-display" ]; then
    scripts/deps.sh xvfb xauth xdotool imagemagick
    mkdir -p docs
    if [ "${1:-}" = "--windows" ]; then
        build=build-windows
        [ -f "$build/bin/tallyconf.exe" ] && [ -f "$build/wineprefix/.tallyconf-ready" ] \
            || { echo "screenshot: no Windows build; bash scripts/windows.sh makes it" >&2; exit 1; }
        exec xvfb-run -a -s "-screen 0 1024x900x24" "$0" --inside-display "$root/$build" windows
    fi
    build=${SCREENSHOT_BUILD_DIR:-build-bench}
    cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release >/dev/null
    cmake --build "$build" --target tallyconf unit-simulator tallyconf-widget-geometry -j2 >/dev/null
    exec xvfb-run -a -s "-screen 0 1024x900x24" "$0" --inside-display "$root/$build" linux
fi

build=$2
if [ "$3" = windows ]; then
    export WINEPREFIX=$build/wineprefix WINEDEBUG=-all WINEDLLOVERRIDES=winemenubuilder.exe=d
    wine=/usr/lib/wine/wine64
    simulator=("$wine" "$build/bin/unit-simulator.exe")
    geometry=("$wine" "$build/bin/tallyconf-widget-geometry.exe")
    configurator=("$wine" "$build/bin/tallyconf.exe")
    address=127.0.0.23
    output="$root/docs/screenshot-windows.png"
    # Wine's background services start with the first program; started here, they keep no
    # pipe of this script open.
    "$wine" wineboot > /dev/null 2>&1
else
    simulator=("$build/tools/unit-simulator/unit-simulator")
    geometry=("$build/tools/screenshot/tallyconf-widget-geometry")
    configurator=("$build/app/tallyconf")
    address=127.0.0.22
    output="$root/docs/screenshot.png"
fi
work=$(mktemp -d)
simulator_pid=""
app_pid=""
# A killed program's wait fails; under set -e that would end the clean-up there and leave the
# simulator running.
cleanup() {
    [ -n "$app_pid" ] && kill "$app_pid" 2>/dev/null && wait "$app_pid" 2>/dev/null || true
    [ -n "$simulator_pid" ] && kill "$simulator_pid" 2>/dev/null && wait "$simulator_pid" 2>/dev/null || true
    [ -n "${WINEPREFIX:-}" ] && /usr/lib/wine/wineserver -k 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

fail() {
    echo "screenshot: $*" >&2
    exit 1
}

# Waits up to ten seconds for a command to succeed.
wait_for() {
    for _ in $(seq 100); do
        "$@" && return 0
        sleep 0.1
    done
    return 1
}

# The channel is stored by position: the serial ports Qt lists here, then "Ethernet".
ethernet_index=$("${simulator[@]}" --serial-port-count | tr -d '\r')
printf '[General]\nportNumber=%s\ndeviceAddress=%s\n' "$ethernet_index" "$address" > "$work/tallyconf.ini"

"${simulator[@]}" --listen "$address:20107" --log "$work/requests.log" > "$work/simulator.out" 2>&1 &
simulator_pid=$!
wait_for grep -q listening "$work/simulator.out" || fail "the unit simulator did not start: $(cat "$work/simulator.out")"

# Where the button sits in the window, from the same window shown the same way on this display.
read -r want_width want_height x y width height < <(cd "$work" && "${geometry[@]}" pushButtonRead | tr -d '\r')

(cd "$work" && exec "${configurator[@]}") &
app_pid=$!
window=$(timeout 10 xdotool search --sync --onlyvisible --pid "$app_pid" | head -n1) || true
[ -n "$window" ] || fail "the configurator's window did not appear"
eval "$(xdotool getwindowgeometry --shell "$window")"
[ "$WIDTH" = "$want_width" ] && [ "$HEIGHT" = "$want_height" ] \
    || fail "the window is ${WIDTH}x$HEIGHT, the button was measured in ${want_width}x$want_height"
sleep 0.5

xdotool mousemove --window "$window" $((x + width / 2)) $((y + height / 2)) click 1
six_requests() { [ "$(wc -l < "$work/requests.log" 2>/dev/null || echo 0)" -ge 6 ]; }
wait_for six_requests || fail "the click on \"Прочитать всё\" did not reach the unit"
# Away from the button, so it is not drawn hovered; then give the form time to repaint.
xdotool mousemove 1020 896
sleep 1

windows=$(xdotool search --onlyvisible --pid "$app_pid" | wc -l)
[ "$windows" -eq 1 ] || fail "the configurator shows $windows windows (an error box?)"

import -window "$window" "$work/window.png"
convert "$work/window.png" -strip -colors 256 "PNG8:$output"
echo "saved $output ($(stat -c %s "$output") bytes), window ${WIDTH}x$HEIGHT"
