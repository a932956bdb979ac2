#!/usr/bin/env bash
# Builds tapediag and runs a read/write test on a virtual Ultrium drive.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTAPEDIAG_WERROR=ON >/dev/null
cmake --build build --target tapediag
set +e
./build/server/tapediag rwtest -dev:sim:ultrium -id:x -nr
status=$?
set -e
echo "tapediag exit status: $status (1 means success)"
[ "$status" -eq 1 ]
