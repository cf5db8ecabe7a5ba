#!/bin/sh
# The Wine prefix of one test run. "setup" makes a fresh prefix under /tmp, starts its
# wineserver for the whole run and writes the prefix's path to PATHFILE; "cleanup" stops that
# server and removes the prefix and PATHFILE. Every Wine step has a time limit.
# WINE is the loader the tests run the programs with (default: wine); the prefix is made with
# the same one, since Debian's wine script picks the 32-bit loader whenever wine32 is installed,
# also where it cannot start.
set -eu
action=$1
pathfile=$2
wine=${3:-wine}
export WINEDEBUG=-all
# No Mono or Gecko installers: the tests run console programs only, often with no display.
export WINEDLLOVERRIDES="mscoree=;mshtml="

remove_prefix() {
    prefix=$(cat "$pathfile" 2>/dev/null || true)
    case "$prefix" in
    /tmp/portboot-wine-*)
        WINEPREFIX=$prefix timeout -k 5 20 wineserver -k </dev/null >/dev/null 2>&1 || true
        # Let the server let go of the prefix before it is removed.
        WINEPREFIX=$prefix timeout -k 5 20 wineserver -w </dev/null >/dev/null 2>&1 || true
        rm -rf "$prefix"
        ;;
    "") ;;
    *) echo "refusing to remove '$prefix' named in $pathfile" >&2; exit 1 ;;
    esac
    rm -f "$pathfile"
}

case "$action" in
setup)
    # A prefix left behind by a run that was stopped before its cleanup.
    remove_prefix
    prefix=$(mktemp -d /tmp/portboot-wine-XXXXXX)
    echo "$prefix" >"$pathfile"
    export WINEPREFIX="$prefix"
    # In a session of its own and with no descriptor of ctest's, so no test's process group
    # holds it and ctest does not wait for it; -p keeps it up between tests until cleanup.
    timeout -k 5 30 setsid -w wineserver -p </dev/null >/dev/null 2>&1
    # What Wine says stays hidden unless the prefix cannot be made.
    if ! timeout -k 5 150 setsid -w "$wine" wineboot -i </dev/null >"$prefix.log" 2>&1; then
        echo "$wine wineboot -i failed in $prefix:" >&2
        cat "$prefix.log" >&2
        rm -f "$prefix.log"
        exit 1
    fi
    rm -f "$prefix.log"
    # The tests link the COM ports they use; none is left pointing at the machine's own ports.
    rm -f "$prefix"/dosdevices/com[0-9]*
    test -d "$prefix/drive_c/windows/system32"
    echo "Wine prefix $prefix"
    ;;
cleanup)
    remove_prefix
    ;;
*)
    echo "usage: $0 setup|cleanup PATHFILE [WINE]" >&2
    exit 2
    ;;
esac
