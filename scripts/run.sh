#!/usr/bin/env bash
# Builds everything, starts the unit simulator on 127.0.0.1:20107 and opens the configurator in
# the demo/ working folder, whose tallyconf.ini selects the "Ethernet" channel and 127.0.0.1.
# Closing the window stops the simulator. Extra arguments go to the simulator (e.g. --fault ...).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

scripts/deps.sh

build=${BUILD_DIR:-build}
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j"$(nproc)"

simulator="$root/$build/tools/unit-simulator/unit-simulator"
configurator="$root/$build/app/tallyconf"

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ] && [ -z "${QT_QPA_PLATFORM:-}" ]; then
    echo "No display to open the window on (DISPLAY is not set)." >&2
    echo "Run this from a desktop session, or under a virtual one: xvfb-run -a $0" >&2
    exit 1
fi

# The channel is stored by position: the serial ports Qt lists on this machine, then "Ethernet".
ethernet_index=$("$simulator" --serial-port-count)

mkdir -p demo
ini=demo/tallyconf.ini
if [ ! -f "$ini" ]; then
    printf '[General]\n' > "$ini"
fi
for key in portNumber deviceAddress; do
    sed -i "/^$key=/d" "$ini"
done
sed -i "/^\[General\]/a portNumber=$ethernet_index\ndeviceAddress=127.0.0.1" "$ini"

"$simulator" --listen 127.0.0.1:20107 "$@" &
simulator_pid=$!
stop_simulator() { kill "$simulator_pid" 2>/dev/null || true; wait "$simulator_pid" 2>/dev/null || true; }
trap stop_simulator EXIT
trap 'exit 130' INT TERM HUP
sleep 0.3
if ! kill -0 "$simulator_pid" 2>/dev/null; then
    echo "The unit simulator did not start (is port 20107 on 127.0.0.1 taken?)." >&2
    exit 1
fi

cd demo
"$configurator"
