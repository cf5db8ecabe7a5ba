#!/bin/sh
# The installed portboot as a person runs it: `cmake --install` into a scratch prefix, the
# program found through PATH and started in a folder of its own, against the installed devsim.
# What a file name does to the run: an absolute name is shown once in the information block (no
# current folder before it); a directory is a file that cannot be opened (status 3, its name and
# the reason on standard error); an empty file is said to be empty, never "Success".
# Usage: check_installed_portboot.sh <cmake> <build dir>
set -eu
cmake=$1 build=$2
work=$(mktemp -d "${TMPDIR:-/tmp}/check-installed-portboot.XXXXXX")
devsim_pid=
cleanup() {
    [ -n "$devsim_pid" ] && kill "$devsim_pid" 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT INT TERM
prefix="$work/prefix"
status=0
fail() { echo "FAIL: $*" >&2; status=1; }

"$cmake" --install "$build" --prefix "$prefix" >"$work/install.log" 2>&1 || {
    cat "$work/install.log" >&2
    exit 1
}
export PATH="$prefix/bin:/usr/bin:/bin"
export LC_ALL=C.UTF-8

# One device for the whole run: the refused files never reach it, the last load completes it.
mkdir "$work/images" "$work/elsewhere" "$work/images/folder.bin"
printf 'abc' >"$work/images/small.bin"
: >"$work/images/empty.bin"
setsid devsim --link "$work/tty" --idle-ms 20000 --timeout-ms 30000 \
    --summary "$work/summary" </dev/null >/dev/null 2>"$work/devsim.err" &
devsim_pid=$!
tries=0
while [ ! -e "$work/tty" ] && [ $tries -lt 100 ]; do
    sleep 0.05
    tries=$((tries + 1))
done
[ -e "$work/tty" ] || { echo "devsim made no line: $(cat "$work/devsim.err")" >&2; exit 1; }

run() { # <expected status> <image> [options]: output in out and err; the status is checked
    expected=$1
    shift
    got=0
    (cd "$work/elsewhere" && timeout 20 setsid portboot "$@" </dev/null \
        >"$work/out" 2>"$work/err") || got=$?
    [ "$got" -eq "$expected" ] ||
        fail "portboot $*: status $got, not $expected; out: $(cat "$work/out") err: $(cat "$work/err")"
}

run 6 ../images/empty.bin "$work/tty"
[ "$(cat "$work/err")" = "$(printf 'Не удалось загрузить файл в буфер\n: файл пуст')" ] ||
    fail "an empty file said: $(cat "$work/err")"
grep -q Success "$work/out" "$work/err" && fail "a failure said Success"

run 3 ../images/folder.bin "$work/tty"
[ "$(cat "$work/err")" = "../images/folder.bin: Is a directory" ] ||
    fail "a directory said: $(cat "$work/err")"
[ -s "$work/out" ] && fail "a directory printed on standard output: $(cat "$work/out")"

run 0 "$work/images/small.bin" "$work/tty" R
grep -qx "Файл $work/images/small.bin" "$work/out" ||
    fail "the absolute name is not shown once: $(grep Файл "$work/out" || cat "$work/out")"

wait "$devsim_pid" || true
devsim_pid=
grep -q 'result=complete' "$work/summary" 2>/dev/null ||
    fail "the device did not get the load: $(cat "$work/summary" "$work/devsim.err" 2>/dev/null)"
[ $status -eq 0 ] && echo "installed portboot: empty file, directory and absolute name as expected"
exit $status
