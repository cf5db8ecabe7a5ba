#!/bin/sh
# CPack's .tar.gz and .deb of a built tree, made into a scratch directory: the file names say
# platform and architecture, both hold the programs, and the .deb's control data is sound
# (a valid package name, this machine's architecture, libc among the computed dependencies and
# no test-only library).
# Usage: check_cpack.sh <cpack> <build dir>
set -eu
cpack=$1 build=$2
work=$(mktemp -d "${TMPDIR:-/tmp}/check-cpack.XXXXXX")
trap 'rm -rf "$work"' EXIT INT TERM
status=0
fail() { echo "FAIL: $*" >&2; status=1; }

"$cpack" -G "TGZ;DEB" --config "$build/CPackConfig.cmake" -B "$work" >"$work/cpack.log" 2>&1 || {
    cat "$work/cpack.log" >&2
    exit 1
}

arch=$(dpkg --print-architecture)
tgz=$(ls "$work"/*-Linux-"$arch".tar.gz 2>/dev/null || true)
deb=$(ls "$work"/*_"$arch".deb 2>/dev/null || true)
[ -n "$tgz" ] || fail "no <name>-<version>-Linux-$arch.tar.gz among: $(ls "$work")"
[ -n "$deb" ] || fail "no <name>_<version>_$arch.deb among: $(ls "$work")"
[ $status -eq 0 ] || exit 1

tar -tzf "$tgz" | sed 's|^[^/]*/||' >"$work/tgz.list"
dpkg-deb -c "$deb" | awk '{print $NF}' | sed 's|^\./usr/||' >"$work/deb.list"
for path in bin/portboot bin/conproxy bin/conclient bin/devsim lib/libconproxy_client.a \
    include/conproxy_client.h share/doc/portboot-conproxy/README.md; do
    grep -qx "$path" "$work/tgz.list" || fail "$(basename "$tgz") lacks $path"
    grep -qx "$path" "$work/deb.list" || fail "$(basename "$deb") lacks /usr/$path"
done

package=$(dpkg-deb -f "$deb" Package)
echo "$package" | grep -Eqx '[a-z0-9][a-z0-9.+-]+' || fail "Package: '$package' is no Debian name"
[ "$(dpkg-deb -f "$deb" Architecture)" = "$arch" ] || fail "Architecture is not $arch"
depends=$(dpkg-deb -f "$deb" Depends)
echo "$depends" | grep -q 'libc6' || fail "Depends lacks libc6 (shlibdeps not run?): '$depends'"
echo "$depends" | grep -Eq 'vterm|gtest|gmock' && fail "Depends names a test-only library: '$depends'"
exit $status
