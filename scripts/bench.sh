#!/usr/bin/env bash
# Builds a Release tree in build-bench and runs the benchmark: read-all and write-all against the
# unit simulator on 127.0.0.20 (a unit that answers at once, and one paced like the 9600-baud
# line), the same for tallyctl read and write as whole processes, and the time and memory the
# configurator needs to show its window. Prints one table.
# Arguments go to the benchmark: --runs N, --paced-runs N, --startup-runs N; --fleet measures only
# a thousand paced units in one simulator process (--fleet-rounds N, --fleet-units N, --fleet-talking N);
# --fleet-plan measures only tallyctl plan and apply over such a fleet (--fleet-units N).
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/deps.sh

build=${BENCH_BUILD_DIR:-build-bench}
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DTALLYCONF_BUILD_BENCH=ON >/dev/null
cmake --build "$build" --target tallyconf-bench -j2 >/dev/null

# The machine, for whoever copies the table.
model=$(lscpu 2>/dev/null | sed -n 's/^Model name: *//p' | head -n1)
os=$(. /etc/os-release 2>/dev/null && echo "$PRETTY_NAME" || uname -s)
memory=$(free -g 2>/dev/null | awk '/^Mem:/ {print $2 " GiB"}')
echo "Machine: ${model:-unknown CPU}, $(nproc) cores, ${memory:-unknown} RAM, $os, kernel $(uname -r)"

QT_QPA_PLATFORM=offscreen "$build/bench/tallyconf-bench" "$@"
