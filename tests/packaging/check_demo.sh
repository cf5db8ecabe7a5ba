#!/bin/sh
# `make demo` as a person runs it in a fresh shell, into a scratch build directory: it succeeds,
# shows no make chatter (no "Entering directory" lines, no make[N]: lines), loads the sample
# image twice and serves the scripted client to its end; and `cmake --install` of its build
# directory then works, giving programs that run through PATH from another folder.
# Usage: check_demo.sh <source dir> <cmake>
set -eu
source_dir=$1 cmake=$2
work=$(mktemp -d "${TMPDIR:-/tmp}/check-demo.XXXXXX")
trap 'rm -rf "$work"' EXIT INT TERM
status=0
fail() { echo "FAIL: $*" >&2; status=1; }

# Not the make that runs this suite: a person's shell passes it no flags and no level.
if ! (cd "$source_dir" && env -u MAKEFLAGS -u MFLAGS -u MAKELEVEL -u MAKEOVERRIDES \
    make demo DEMO_DIR="$work/build-demo" </dev/null >"$work/demo.out" 2>&1); then
    cat "$work/demo.out" >&2
    fail "make demo failed"
    exit 1
fi
if grep -E 'Entering directory|Leaving directory|^make(\[[0-9]+\])?:' "$work/demo.out" >"$work/chatter"; then
    fail "make demo shows make's chatter: $(cat "$work/chatter")"
fi
[ "$(grep -c '^device kept the same 11 bytes as sample.bin' "$work/demo.out")" -eq 2 ] ||
    fail "make demo did not load the sample twice: $(cat "$work/demo.out")"
grep -qx 'exit status=0 server-exit=0' "$work/demo.out" ||
    fail "make demo's client did not reach its end: $(cat "$work/demo.out")"

if "$cmake" --install "$work/build-demo" --prefix "$work/prefix" >"$work/install.log" 2>&1; then
    mkdir "$work/elsewhere"
    for program in portboot conproxy conclient devsim; do
        (cd "$work/elsewhere" && PATH="$work/prefix/bin:/usr/bin:/bin" "$program" --version \
            </dev/null >"$work/version" 2>&1) ||
            fail "$program --version from the demo's install: $(cat "$work/version")"
    done
    [ -f "$work/prefix/share/man/man1/portboot.1.gz" ] ||
        fail "the demo's install has no manual page portboot(1)"
else
    fail "cmake --install of make demo's build directory failed: $(cat "$work/install.log")"
fi
exit $status
