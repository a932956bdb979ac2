#!/usr/bin/env bash
# Builds everything and runs every test: once normally, once under
# AddressSanitizer and UndefinedBehaviorSanitizer, once in a Release build;
# builds the Debian package and runs the tapediag it holds; then runs every
# fuzz target over its seed inputs. Warnings are errors in every build here.
# After the normal build's tests, the kernel suite (scripts/kernel-test.sh)
# runs that build on the real st and sg drivers in a virtual machine.
#
# SKIP_SANITIZERS=1, SKIP_RELEASE=1, SKIP_PACKAGE=1, SKIP_FUZZ_SEEDS=1 and
# SKIP_KERNEL=1 leave out a stage.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh

# The tree keeps the style of .clang-format.
git ls-files -z '*.cpp' '*.h' | xargs -0 clang-format --dry-run --Werror

run_suite() {
    local dir=$1
    shift
    cmake -S . -B "$dir" -G Ninja "$@" >/dev/null
    cmake --build "$dir"
    ctest --test-dir "$dir" --output-on-failure --timeout 600 -j2
}

run_suite build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTAPEDIAG_WERROR=ON
# The guest needs root on the host (CI has it), as the tgt tests do.
if [ "${SKIP_KERNEL:-0}" != 1 ]; then
    if [ "$(id -u)" -eq 0 ]; then
        scripts/kernel-test.sh build
    else
        echo "kernel suite skipped: scripts/kernel-test.sh needs root"
    fi
fi
if [ "${SKIP_SANITIZERS:-0}" != 1 ]; then
    ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
        run_suite build-asan -DCMAKE_BUILD_TYPE=Debug -DTAPEDIAG_SANITIZE=ON -DTAPEDIAG_WERROR=ON
fi
# The optimiser of a Release build warns of things the others do not see.
if [ "${SKIP_RELEASE:-0}" != 1 ]; then
    run_suite build-release -DCMAKE_BUILD_TYPE=Release -DTAPEDIAG_WERROR=ON
fi
if [ "${SKIP_PACKAGE:-0}" != 1 ]; then
    scripts/package.sh build-package
fi
if [ "${SKIP_FUZZ_SEEDS:-0}" != 1 ]; then
    scripts/fuzz.sh 0
fi
