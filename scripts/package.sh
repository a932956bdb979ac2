#!/usr/bin/env bash
# Builds the Debian package of tapediag as a packager would: a clean Release
# build of the programs alone (no tests, warnings not fatal), installed under
# /usr. Then unpacks the package into a scratch root (dpkg -x) and runs the
# tapediag found there on a virtual drive.
#
#   scripts/package.sh [BUILD_DIR]        (default: build-package)
#
# The package is left as BUILD_DIR/tapediag_VERSION-1_ARCH.deb; install it
# with `apt install ./BUILD_DIR/tapediag_*.deb`.
set -euo pipefail
cd "$(dirname "$0")/.."
# dpkg-shlibdeps (dpkg-dev) and file compute the package's dependencies.
scripts/install-deps.sh dpkg-dev file

build=${1:-build-package}
rm -rf "$build"
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF -DCMAKE_INSTALL_PREFIX=/usr >/dev/null
cmake --build "$build"
(cd "$build" && cpack -G DEB >/dev/null)
package=$(ls "$build"/tapediag_*.deb)
echo "== $package"
dpkg-deb --field "$package" Package Version Depends

root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
dpkg -x "$package" "$root"
for file in usr/bin/tapediag usr/bin/tapediag-client usr/share/man/man8/tapediag.8.gz \
    usr/share/man/man1/tapediag-client.1.gz usr/lib/systemd/system/tapediag-server.service \
    usr/share/doc/tapediag/README.md usr/share/doc/tapediag/vtape/README.md; do
    [ -e "$root/$file" ] || { echo "missing from the package: /$file" >&2; exit 1; }
done
# The password may stand in the server's defaults: root only.
contents=$(dpkg-deb --contents "$package")
grep -q '^-rw------- root/root .* ./etc/default/tapediag-server$' <<<"$contents" ||
    { echo "/etc/default/tapediag-server is not mode 0600 root:root" >&2; exit 1; }

set +e
"$root/usr/bin/tapediag" show -dev:sim:ultrium -nr </dev/null >"$root/show.txt"
status=$?
set -e
cat "$root/show.txt"
if [ "$status" -ne 1 ] || ! grep -q 'ULTRIUM' "$root/show.txt"; then
    echo "the packaged tapediag failed (exit status $status; 1 means success)" >&2
    exit 1
fi
echo "packaged tapediag runs: exit status $status (1 means success)"
