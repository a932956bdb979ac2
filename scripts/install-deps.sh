#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need, when missing,
# and any further packages named on the command line.
set -euo pipefail

# libiscsi reaches drives behind iSCSI targets; tgt is the independent
# iSCSI tape target the integration suite runs the diagnostic against.
# nlohmann-json writes the JSON output and libsgutils2 names sense data;
# the tests check the JSON against its schema (python3-jsonschema) and the
# metrics with the real node_exporter and promtool (prometheus).
packages=(g++ cmake ninja-build pkg-config clang-format libgtest-dev libgmock-dev libiscsi-dev libiscsi-bin tgt
          nlohmann-json3-dev libsgutils2-dev python3-jsonschema prometheus-node-exporter prometheus "$@")
missing=()
for package in "${packages[@]}"; do
    dpkg -s "$package" >/dev/null 2>&1 || missing+=("$package")
done
if [ ${#missing[@]} -gt 0 ]; then
    echo "Installing: ${missing[*]}"
    sudo_cmd=()
    [ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
    "${sudo_cmd[@]}" apt-get update -q
    DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -q "${missing[@]}"
fi
