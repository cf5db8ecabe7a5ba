#!/bin/sh
# The .debs as Debian users get them (the programs and the -dev package): lintian reports
# nothing on either (no error, no warning), and the Debian changelog each carries names the
# package's own version, so that a version raised without a changelog entry is caught here
# rather than by whoever installs it.
# Usage: check_lintian.sh <cpack> <build dir>
set -eu
cpack=$1 build=$2
work=$(mktemp -d "${TMPDIR:-/tmp}/check-lintian.XXXXXX")
trap 'rm -rf "$work"' EXIT INT TERM
status=0
fail() { echo "FAIL: $*" >&2; status=1; }

"$cpack" -G DEB --config "$build/CPackConfig.cmake" -B "$work" >"$work/cpack.log" 2>&1 || {
    cat "$work/cpack.log" >&2
    exit 1
}
[ "$(ls "$work"/*.deb | wc -l)" -eq 2 ] || fail "not two .debs: $(ls "$work")"
mkdir "$work/root"
for deb in "$work"/*.deb; do
    # Tags go to standard output; lintian's own remark about running as root to standard error.
    lintian "$deb" >"$work/lintian.out" 2>"$work/lintian.err" || true
    if [ -s "$work/lintian.out" ]; then
        fail "lintian reports on $(basename "$deb"):"
        cat "$work/lintian.out" >&2
    fi
    if grep -v 'running with root privileges' "$work/lintian.err" >&2; then
        fail "lintian did not run cleanly on $(basename "$deb")"
    fi

    package=$(dpkg-deb -f "$deb" Package)
    version=$(dpkg-deb -f "$deb" Version)
    dpkg-deb -x "$deb" "$work/root"
    changelog="$work/root/usr/share/doc/$package/changelog.gz"
    if [ -f "$changelog" ]; then
        gzip -dc "$changelog" >"$work/changelog"
        logged=$(dpkg-parsechangelog -l "$work/changelog" -S Version)
        [ "$logged" = "$version" ] ||
            fail "$package: the changelog's latest entry is $logged, the package is $version: add an entry"
    else
        fail "no /usr/share/doc/$package/changelog.gz"
    fi
done

# What `man portboot` shows: the sections a user looks for.
page="$work/root/usr/share/man/man1/portboot.1.gz"
if [ -f "$page" ]; then
    MANWIDTH=80 MANPAGER=cat man -l "$page" >"$work/portboot.txt" 2>"$work/man.err" ||
        fail "man -l portboot.1.gz failed: $(cat "$work/man.err")"
    for section in OPTIONS 'EXIT STATUS' 'LINUX DEVICE NAMES' EXAMPLES; do
        grep -q "^$section\$" "$work/portboot.txt" || fail "portboot(1) has no $section section"
    done
    grep -q '@[A-Z_]*@' "$work/portboot.txt" && fail "portboot(1) has an unfilled @VARIABLE@"
fi
exit $status
