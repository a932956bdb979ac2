#!/usr/bin/env bash
# Builds everything and runs every test: once normally, once under
# AddressSanitizer and UndefinedBehaviorSanitizer; then runs every fuzz
# target over its seed inputs.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh

run_suite() {
    local dir=$1
    shift
    cmake -S . -B "$dir" -G Ninja "$@" >/dev/null
    cmake --build "$dir"
    ctest --test-dir "$dir" --output-on-failure --timeout 600 -j2
}

run_suite build -DCMAKE_BUILD_TYPE=RelWithDebInfo
if [ "${SKIP_SANITIZERS:-0}" != 1 ]; then
    ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
        run_suite build-asan -DCMAKE_BUILD_TYPE=Debug -DTAPEDIAG_SANITIZE=ON
fi
if [ "${SKIP_FUZZ_SEEDS:-0}" != 1 ]; then
    scripts/fuzz.sh 0
fi
