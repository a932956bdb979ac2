#!/usr/bin/env bash
# Builds the Debian package of tapediag as a packager would: a clean Release
# build of the programs alone (no tests, warnings not fatal) with Debian's
# hardening flags (dpkg-buildflags), installed under /usr. Then checks it:
# lintian must find no error or warning that the package's overrides do not
# explain, the units must pass `systemd-analyze verify` and the server unit
# rate 3.0 or lower in `systemd-analyze security`, and the tapediag found in the package
# (unpacked into a scratch root with dpkg -x) must run on a virtual drive.
#
#   scripts/package.sh [BUILD_DIR]        (default: build-package)
#
# The package is left as BUILD_DIR/tapediag_VERSION-1_ARCH.deb; install it
# with `apt install ./BUILD_DIR/tapediag_*.deb`.
set -euo pipefail
cd "$(dirname "$0")/.."
# dpkg-shlibdeps (dpkg-dev) and file compute the package's dependencies;
# lintian and systemd-analyze (systemd) check the package.
scripts/install-deps.sh dpkg-dev file lintian systemd

build=${1:-build-package}
rm -rf "$build"
# CMake reads CXXFLAGS and LDFLAGS from the environment when it configures;
# it has no use for CPPFLAGS, which holds _FORTIFY_SOURCE, so those go with
# the compiler's flags.
eval "$(DEB_BUILD_MAINT_OPTIONS=hardening=+all dpkg-buildflags --export=sh)"
export CXXFLAGS="$CPPFLAGS $CXXFLAGS"
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF -DCMAKE_INSTALL_PREFIX=/usr >/dev/null
cmake --build "$build"
(cd "$build" && cpack -G DEB >/dev/null)
package=$(ls "$build"/tapediag_*.deb)
echo "== $package"
dpkg-deb --field "$package" Package Version Maintainer Depends

root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
dpkg -x "$package" "$root"
for file in usr/bin/tapediag usr/bin/tapediag-client usr/share/man/man8/tapediag.8.gz \
    usr/share/man/man1/tapediag-client.1.gz usr/lib/systemd/system/tapediag-server.service \
    usr/share/doc/tapediag/README.md usr/share/doc/tapediag/vtape/README.md \
    usr/share/doc/tapediag/copyright usr/share/doc/tapediag/changelog.Debian.gz \
    usr/share/bash-completion/completions/tapediag usr/share/bash-completion/completions/tapediag-client; do
    [ -e "$root/$file" ] || { echo "missing from the package: /$file" >&2; exit 1; }
done
# The password may stand in the server's defaults: root only.
contents=$(dpkg-deb --contents "$package")
grep -q '^-rw------- root/root .* ./etc/default/tapediag-server$' <<<"$contents" ||
    { echo "/etc/default/tapediag-server is not mode 0600 root:root" >&2; exit 1; }

# Every override must say why, on the comment line above it.
overrides=packaging/lintian-overrides
unexplained=$(awk '!/^#/ && NF && prev !~ /^#/ { print } { prev = $0 }' "$overrides")
[ -z "$unexplained" ] || { echo "lintian overrides without a reason in $overrides:" >&2; echo "$unexplained" >&2; exit 1; }
echo "== lintian"
lintian --fail-on error,warning "$package"
echo "lintian: no error or warning left unexplained"

units=$root/usr/lib/systemd/system
if command -v systemd-analyze >/dev/null; then
    echo "== systemd-analyze"
    # verify wants the program a unit starts where the unit names it: here
    # it is in the scratch root. It warns of an unknown key and still
    # succeeds, so any word it says fails the check.
    for name in tapediag-server.service tapediag-health.service tapediag-health.timer; do
        sed "s|/usr/bin/tapediag |$root/usr/bin/tapediag |" "$units/$name" >"$root/$name"
    done
    said=$(cd "$root" && systemd-analyze verify --man=no tapediag-server.service tapediag-health.service \
        tapediag-health.timer 2>&1) && [ -z "$said" ] ||
        { echo "systemd-analyze verify: ${said:-failed}" >&2; exit 1; }
    rating=$(systemd-analyze security --offline=yes "$root/tapediag-server.service" |
        sed -n 's/.*Overall exposure level for .*: \([0-9.]*\) .*/\1/p')
    echo "units verified; tapediag-server.service exposure $rating (at most 3.0)"
    awk -v rating="$rating" 'BEGIN { exit !(rating != "" && rating <= 3.0) }' ||
        { echo "tapediag-server.service rates ${rating:-nothing}, above 3.0" >&2; exit 1; }
else
    echo "systemd-analyze is missing: the units are not checked"
fi

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
