#!/bin/sh
# `cmake --install` of a built tree into a scratch prefix: exactly the programs, the client
# library with its header, the documents and the manual pages land there (no test program), and
# a client built from the installed header and library alone drives the installed conproxy.
# Usage: check_install.sh <cmake> <build dir> <c++ compiler> <c++ flags> <installed_client.cpp>
set -eu
cmake=$1 build=$2 cxx=$3 cxx_flags=$4 client_source=$5
work=$(mktemp -d "${TMPDIR:-/tmp}/check-install.XXXXXX")
trap 'rm -rf "$work"' EXIT INT TERM
prefix="$work/prefix"
status=0
fail() { echo "FAIL: $*" >&2; status=1; }

"$cmake" --install "$build" --prefix "$prefix" >"$work/install.log" 2>&1 || {
    cat "$work/install.log" >&2
    exit 1
}

(cd "$prefix" && find . ! -type d | sed 's|^\./||' | sort) >"$work/listed"
sort >"$work/expected" <<'LIST'
bin/conclient
bin/conproxy
bin/devsim
bin/portboot
include/conproxy_client.h
lib/libconproxy_client.a
share/doc/portboot-conproxy/README.md
share/doc/portboot-conproxy/changelog.gz
share/doc/portboot-conproxy/copyright
share/doc/portboot-conproxy/docs/conproxy-protocol.md
share/doc/portboot-conproxy/tools/devsim/README.md
share/man/man1/conclient.1.gz
share/man/man1/conproxy.1.gz
share/man/man1/devsim.1.gz
share/man/man1/portboot.1.gz
LIST
if ! cmp -s "$work/expected" "$work/listed"; then
    fail "installed files differ from the expected list (- missing, + extra):"
    diff "$work/expected" "$work/listed" | sed -n 's/^</  -/p; s/^>/  +/p' >&2
fi
for program in portboot conproxy conclient devsim; do
    [ -x "$prefix/bin/$program" ] || fail "bin/$program is not executable"
done

# librt for shm_open on older C libraries, as the library's own build links it.
# shellcheck disable=SC2086 # the flags are a list of words
if "$cxx" $cxx_flags -std=c++17 -I"$prefix/include" "$client_source" -L"$prefix/lib" -lconproxy_client \
    -lrt -o "$work/installed_client" 2>"$work/compile.log"; then
    timeout 20 setsid "$work/installed_client" "$prefix/bin/conproxy" </dev/null ||
        fail "the client built against the installed library could not drive bin/conproxy"
else
    cat "$work/compile.log" >&2
    fail "a client does not build from include/conproxy_client.h and lib/libconproxy_client.a"
fi
exit $status
