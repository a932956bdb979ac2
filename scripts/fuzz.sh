#!/usr/bin/env bash
# Builds the libFuzzer targets of fuzz/ (clang, AddressSanitizer and
# UndefinedBehaviorSanitizer) in build-fuzz/ and runs each one in turn.
#
#   scripts/fuzz.sh [SECONDS] [TARGET...]
#
# SECONDS per target (default 60); TARGET names a subset (default: every
# fuzz/fuzz_*.cpp). SECONDS 0 runs each target once over its seeds only, as
# a quick regression check (the test script does this). Each target keeps its corpus in build-fuzz/corpus/TARGET
# and starts from it and from fuzz/seeds/TARGET. The first crash, leak,
# sanitizer report or time-out stops the script, which prints the path of
# the input that reproduces it; run the target on that file to see it again:
#
#   build-fuzz/fuzz/TARGET build-fuzz/artifacts/TARGET/crash-...
#
# TAPEDIAG_FUZZ_CXXFLAGS is handed to the compiler before the project's own
# flags (e.g. -Wno-error=SOMETHING while a clang-only warning is open).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

seconds=${1:-60}
shift || true
case $seconds in
    '' | *[!0-9]*) echo "usage: scripts/fuzz.sh [SECONDS] [TARGET...]" >&2; exit 2 ;;
esac

scripts/install-deps.sh clang libclang-rt-14-dev

build=$root/build-fuzz
CC=clang CXX=clang++ cmake -S "$root" -B "$build" -G Ninja -DTAPEDIAG_FUZZ=ON -DTAPEDIAG_WERROR=ON \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_FLAGS="${TAPEDIAG_FUZZ_CXXFLAGS:-}" >/dev/null
cmake --build "$build" --target fuzz_targets

if [ $# -gt 0 ]; then
    targets=("$@")
else
    targets=()
    for source in "$root"/fuzz/fuzz_*.cpp; do
        targets+=("$(basename "$source" .cpp)")
    done
fi

export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-halt_on_error=1:abort_on_error=1:print_stacktrace=1}

for target in "${targets[@]}"; do
    program=$build/fuzz/$target
    if [ ! -x "$program" ]; then
        echo "no such fuzz target: $target" >&2
        exit 2
    fi
    corpus=$build/corpus/$target
    artifacts=$build/artifacts/$target
    mkdir -p "$corpus" "$artifacts"
    seeds=()
    [ -d "$root/fuzz/seeds/$target" ] && seeds=("$root/fuzz/seeds/$target")
    log=$build/logs/$target.log
    mkdir -p "$(dirname "$log")"
    status=0
    if [ "$seconds" -eq 0 ]; then
        echo "== $target: seeds (log: $log)"
        "$program" -artifact_prefix="$artifacts/" "$root/fuzz/seeds/$target"/* >"$log" 2>&1 || status=$?
    else
        echo "== $target: ${seconds}s (log: $log)"
        "$program" -max_total_time="$seconds" -timeout=20 -print_final_stats=1 \
            -artifact_prefix="$artifacts/" "$corpus" "${seeds[@]}" >"$log" 2>&1 || status=$?
    fi
    grep -E '^(#[0-9]+[[:space:]]+DONE|stat::number_of_executed_units|stat::peak_rss_mb)' "$log" || true
    if [ "$status" -ne 0 ]; then
        echo "!! $target failed (exit $status); the report is in $log:" >&2
        grep -E 'ERROR: |runtime error: |check failed: |SUMMARY: ' "$log" | head -5 >&2 || true
        reproducer=$(sed -n 's/.*Test unit written to \(.*\)$/\1/p' "$log" | tail -1)
        echo "reproducer: ${reproducer:-(none written; see the log)}" >&2
        echo "run again:  $program $reproducer" >&2
        exit 1
    fi
done
if [ "$seconds" -eq 0 ]; then
    echo "no findings in ${#targets[@]} target(s) over their seeds"
else
    echo "no findings in ${#targets[@]} target(s), ${seconds}s each"
fi
