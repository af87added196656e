#!/usr/bin/env bash
# Builds the libFuzzer targets with clang into build-fuzz and runs each of them for a while:
# fuzz_link (the configurator's handling of the unit's answers), fuzz_frame (the pure frame and
# record functions), fuzz_unitengine (the simulator's request parsing, fault lines and state
# files), fuzz_settingsfile (the settings file's rewrite into the form Qt 5 reads) and
# fuzz_profile (the value rules on a profile's texts, both ways), all built with Qt 5; then fuzz_settingsfile once more, built with Qt 6 into build-fuzz-qt6, against the
# INI reader that reads raw UTF-8. Any crash, hang, sanitizer report or failed check fails the
# run; the input that did it is left in build-fuzz*/artifacts/<target>/. Once the fault is
# fixed, copy that input into fuzz/regressions/<target>/, where tst_fuzzregressions replays it on
# every test run.
#
# Usage: scripts/fuzz.sh [seconds-per-run]           (or FUZZ_SECONDS; default 60)
# Before a release, run it longer, 20 minutes a run, from seeds of its own:
#     FUZZ_SEED=0 scripts/fuzz.sh 1200
# FUZZ_SEED is libFuzzer's random seed (default 1; 0 draws one): with the same seed every run of
# the test command tries the same inputs in the same order, so a test run passes or fails alike
# on every machine of about the same speed, and only a run meant to explore looks further.
# Inputs found along the way stay in build-fuzz*/corpus/<target>/ and seed the next run.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-${FUZZ_SECONDS:-60}}
[[ "$seconds" =~ ^[0-9]+$ ]] || { echo "seconds must be a whole number: $seconds" >&2; exit 2; }
seed=${FUZZ_SEED:-1}
[[ "$seed" =~ ^[0-9]+$ ]] || { echo "FUZZ_SEED must be a whole number: $seed" >&2; exit 2; }
targets=(fuzz_link fuzz_frame fuzz_unitengine fuzz_settingsfile fuzz_profile)
build=build-fuzz

scripts/deps.sh clang libclang-rt-14-dev llvm

configure() {
    cmake -S . -B "$1" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++ \
        -DTALLYCONF_FUZZ=ON -DTALLYCONF_BUILD_TESTS=OFF -DTALLYCONF_BUILD_BENCH=OFF \
        -DTALLYCONF_QT_MAJOR="$2" >/dev/null
}
configure "$build" 5
cmake --build "$build" -j2 --target "${targets[@]}"
configure "$build-qt6" 6
cmake --build "$build-qt6" -j2 --target fuzz_settingsfile

export ASAN_OPTIONS=detect_leaks=1:halt_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1

failed=()
# run BUILD TARGET LABEL
run() {
    local build=$1 target=$2 label=$3
    local corpus="$build/corpus/$target" artifacts="$build/artifacts/$target"
    mkdir -p "$corpus" "$artifacts" fuzz/regressions/"$target"
    local options=(-max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -max_len=4096
                   -print_final_stats=1 -seed="$seed" -artifact_prefix="$artifacts/")
    [ -f fuzz/"$target".dict ] && options+=(-dict=fuzz/"$target".dict)
    local log="$build/$target.log"
    echo "== $label: $seconds s"
    # New inputs go into the first folder only; the seeds and regressions are read, not changed.
    if "$build/fuzz/$target" "${options[@]}" "$corpus" fuzz/corpus/"$target" \
            fuzz/regressions/"$target" >"$log" 2>&1; then
        grep -E '^stat::number_of_executed_units|^stat::new_units_added' "$log" || true
    else
        echo "!! $label failed, see $log and $artifacts/" >&2
        grep -E 'ERROR|runtime error|check failed|SUMMARY|Test unit written' "$log" >&2 || tail -20 "$log" >&2
        failed+=("$label")
    fi
}
for target in "${targets[@]}"; do
    run "$build" "$target" "$target"
done
run "$build-qt6" fuzz_settingsfile "fuzz_settingsfile with Qt 6"

if [ ${#failed[@]} -ne 0 ]; then
    echo "Fuzzing failed: ${failed[*]}" >&2
    exit 1
fi
echo "Fuzzing passed: ${targets[*]} and fuzz_settingsfile with Qt 6, $seconds s each"
