#!/bin/sh
# conclient as a user meets it: the programs installed into a fresh prefix, run through PATH from
# another folder, the server on no terminal. Options are checked before anything starts (status
# 3, the option named); a script that cannot be read says why; a bad script line is numbered and
# says the form it should have; a byte order mark is skipped; texts that are not conclient's own
# reach the output escaped.
# Usage: conclient_installed.sh <cmake> <build dir>
set -eu
cmake=$1 build=$2
work=$(mktemp -d "${TMPDIR:-/tmp}/conclient-installed.XXXXXX")
trap 'rm -rf "$work"' EXIT INT TERM
status=0
fail() { echo "FAIL: $*" >&2; status=1; }

"$cmake" --install "$build" --prefix "$work/prefix" --component programs >"$work/install.log" 2>&1 || {
    cat "$work/install.log" >&2
    exit 1
}
mkdir "$work/elsewhere"
cd "$work/elsewhere"
printf 'nop\nexit\n' >good
mkdir folder

# <status> <first line of standard error> <arguments...>: conclient with these arguments.
expect() {
    want_status=$1 want_error=$2
    shift 2
    got_status=0
    PATH="$work/prefix/bin:/usr/bin:/bin" timeout 20 setsid conclient "$@" </dev/null \
        >"$work/out" 2>"$work/err" || got_status=$?
    got_error=$(head -n 1 "$work/err")
    [ "$got_status" = "$want_status" ] && [ "$got_error" = "$want_error" ] ||
        fail "conclient $*: status $got_status, \"$got_error\" (expected $want_status, \"$want_error\")"
    if [ "$want_status" = 3 ] && [ -s "$work/out" ]; then
        fail "conclient $*: started although refused: $(cat "$work/out")"
    fi
}
number="a whole number of milliseconds from 1 to 2147483647"
expect 3 "conclient: --timeout-ms takes $number, not \"abc\"" --timeout-ms abc good
expect 3 "conclient: --timeout-ms takes $number, not \"-1\"" --timeout-ms -1 good
expect 3 "conclient: --timeout-ms takes $number, not \"-2\"" --timeout-ms -2 good
expect 3 "conclient: --timeout-ms takes $number, not \"0\"" --timeout-ms 0 good
expect 3 "conclient: --timeout-ms takes $number, not \"5s\"" --timeout-ms 5s good
expect 3 "conclient: --timeout-ms takes $number, not \"2147483648\"" --timeout-ms 2147483648 good
expect 3 "conclient: --timeout-ms needs a number of milliseconds" good --timeout-ms
expect 3 "conclient: unknown option --bogus" --bogus good
expect 3 "conclient: unknown option -\\x1b[2J" "-$(printf '\033')[2J" good
expect 3 "conclient: --server needs a PATH" good --server
expect 3 "conclient: --out needs a FILE" --out "" good
expect 3 "conclient: --attach needs three names: SUFFIX REQUEST REPLY" --attach a b
expect 3 "conclient: one script only: good and good" good good
expect 3 "conclient: cannot read nosuch.txt: No such file or directory" nosuch.txt
expect 3 "conclient: cannot read folder: Is a directory" folder
expect 3 "conclient: cannot write folder: Is a directory" --out folder good
expect 0 "" --timeout-ms 5000 good

# A script saved with a byte order mark and CR LF line ends; bad lines numbered, with the form;
# bytes that would drive a terminal, or that are no UTF-8, shown escaped.
printf '\357\273\277nop\r\n\r\ncursor x y\r\nfrobnicate\r\nwrite \364\220\200\200\r\n\233[2J\033]2;t\007 \302\233\r\nreadtext -1\r\nsleep 10 20\r\nwritehex 1FF\r\ninfo now\r\nexit\r\n' >script
expect 2 "" script
cat >"$work/expected" <<'ANSWERS'
ready
nop ok
error bad line 3: cursor x y (expected: cursor COL ROW, whole numbers from -32768 to 32767)
error bad line 4: frobnicate (unknown request: see conclient --help)
error write: byte 0xf4 is no text in this locale (UTF-8)
error bad line 6: \x9b[2J\x1b]2;t\x07 \xc2\x9b (unknown request: see conclient --help)
error bad line 7: readtext -1 (expected: readtext COUNT, a whole number from 0 to 4294967295)
error bad line 8: sleep 10 20 (expected: sleep MS, a whole number from 0 to 2147483647)
error bad line 9: writehex 1FF (expected: writehex HEX.., bytes 00 to FF)
error bad line 10: info now (expected: info)
exit status=0 server-exit=0
ANSWERS
cmp -s "$work/expected" "$work/out" || fail "script answers differ (- expected, + got):
$(diff "$work/expected" "$work/out" | sed -n 's/^</  -/p; s/^>/  +/p')"
exit $status
