#!/bin/sh
# CPack's .tar.gz and two .debs of a built tree, made under umask 077 into a scratch directory:
# the file names say platform and architecture; the .tar.gz holds everything; the programs'
# .deb the programs and their documents, the -dev .deb the header, the library (in the
# multiarch directory), the .pc, the CMake package and the protocol document; every directory
# is drwxr-xr-x; the control data is sound (valid package names, this machine's architecture,
# libc among the programs' computed dependencies and no test-only library, the -dev package
# depending on the programs of its version); and the programs' documents link only to files of
# their own package.
# Usage: check_cpack.sh <cpack> <build dir>
set -eu
cpack=$1 build=$2
work=$(mktemp -d "${TMPDIR:-/tmp}/check-cpack.XXXXXX")
trap 'rm -rf "$work"' EXIT INT TERM
status=0
fail() { echo "FAIL: $*" >&2; status=1; }

(umask 077 && "$cpack" -G "TGZ;DEB" --config "$build/CPackConfig.cmake" -B "$work") \
    >"$work/cpack.log" 2>&1 || {
    cat "$work/cpack.log" >&2
    exit 1
}

arch=$(dpkg --print-architecture)
multiarch=$(dpkg-architecture -qDEB_HOST_MULTIARCH 2>/dev/null || gcc -print-multiarch)
tgz=$(ls "$work"/*-Linux-"$arch".tar.gz 2>/dev/null || true)
deb=$(ls "$work"/portboot-conproxy_*_"$arch".deb 2>/dev/null || true)
dev=$(ls "$work"/libconproxy-client-dev_*_"$arch".deb 2>/dev/null || true)
[ -n "$tgz" ] || fail "no <name>-<version>-Linux-$arch.tar.gz among: $(ls "$work")"
[ -n "$deb" ] || fail "no portboot-conproxy_<version>_$arch.deb among: $(ls "$work")"
[ -n "$dev" ] || fail "no libconproxy-client-dev_<version>_$arch.deb among: $(ls "$work")"
[ $status -eq 0 ] || exit 1

tar -tzf "$tgz" | sed 's|^[^/]*/||' >"$work/tgz.list"
dpkg-deb -c "$deb" | awk '{print $NF}' | sed 's|^\./usr/||' >"$work/deb.list"
dpkg-deb -c "$dev" | awk '{print $NF}' | sed 's|^\./usr/||' >"$work/dev.list"
programs="bin/portboot bin/conproxy bin/conclient bin/devsim share/doc/portboot-conproxy/README.md
share/doc/portboot-conproxy/docs/windows-differences.md share/man/man1/conclient.1.gz"
library="include/conproxy_client.h include/conproxy_protocol.h include/conproxy_text.h lib/$multiarch/libconproxy_client.a
lib/$multiarch/pkgconfig/conproxy_client.pc
lib/$multiarch/cmake/conproxy_client/conproxy_client-config.cmake
share/doc/libconproxy-client-dev/conproxy-protocol.md share/doc/libconproxy-client-dev/copyright
share/doc/libconproxy-client-dev/examples/hello_client.cpp"
for path in $programs $library; do
    grep -qx "$path" "$work/tgz.list" || fail "$(basename "$tgz") lacks $path"
done
for path in $programs; do
    grep -qx "$path" "$work/deb.list" || fail "$(basename "$deb") lacks /usr/$path"
    grep -qx "$path" "$work/dev.list" && fail "$(basename "$dev") holds the programs' /usr/$path"
done
for path in $library; do
    grep -qx "$path" "$work/dev.list" || fail "$(basename "$dev") lacks /usr/$path"
    grep -qx "$path" "$work/deb.list" && fail "$(basename "$deb") holds the library's /usr/$path"
done

for package in "$deb" "$dev"; do
    name=$(basename "$package")
    dpkg-deb -c "$package" | awk '$1 ~ /^d/ && $1 != "drwxr-xr-x" {print $1, $NF}' >"$work/modes"
    [ -s "$work/modes" ] && fail "$name, built under umask 077, has directories: $(cat "$work/modes")"
    tar -tvzf "$tgz" | awk '$1 ~ /^d/ && $1 != "drwxr-xr-x" {print $1, $NF}' >"$work/modes"
    [ -s "$work/modes" ] && fail "$(basename "$tgz"), built under umask 077, has directories: $(cat "$work/modes")"
    package_name=$(dpkg-deb -f "$package" Package)
    echo "$package_name" | grep -Eqx '[a-z0-9][a-z0-9.+-]+' ||
        fail "$name: Package: '$package_name' is no Debian name"
    [ "$(dpkg-deb -f "$package" Architecture)" = "$arch" ] || fail "$name: Architecture is not $arch"
done
depends=$(dpkg-deb -f "$deb" Depends)
echo "$depends" | grep -q 'libc6' || fail "Depends lacks libc6 (shlibdeps not run?): '$depends'"
echo "$depends" | grep -Eq 'vterm|gtest|gmock' && fail "Depends names a test-only library: '$depends'"
version=$(dpkg-deb -f "$deb" Version)
[ "$(dpkg-deb -f "$dev" Depends)" = "portboot-conproxy (= $version)" ] ||
    fail "$(basename "$dev") Depends: '$(dpkg-deb -f "$dev" Depends)', not the programs of its version"

# The programs' package alone: its documents' relative links reach its own files.
mkdir "$work/root"
dpkg-deb -x "$deb" "$work/root"
find "$work/root/usr/share/doc" -name '*.md' | while read -r document; do
    grep -o '\]([^)#]*' "$document" | sed 's/^](//' | grep -v '^[a-z]*:' | while read -r target; do
        [ -e "$(dirname "$document")/$target" ] ||
            echo "${document#"$work/root"} links to $target, which the package lacks"
    done
done >"$work/dangling"
[ -s "$work/dangling" ] && fail "$(cat "$work/dangling")"
exit $status
