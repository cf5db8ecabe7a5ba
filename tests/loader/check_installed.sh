#!/bin/sh
# The behaviours of portboot that a person meets on Linux, run once more on the installed program
# as a person runs it: `cmake --install` into a fresh prefix, portboot found through PATH (the
# end-to-end tests take it from PORTBOOT_E2E_PROGRAM), started from a folder outside the tree.
# The tests are the built tree's own; only the program under them changes.
# Usage: check_installed.sh <cmake> <build dir> <loader_e2e_tests> <loader_e2e_progress_tests>
set -eu
cmake=$1 build=$2 e2e=$3 progress=$4
work=$(mktemp -d "${TMPDIR:-/tmp}/portboot-installed.XXXXXX")
trap 'rm -rf "$work"' EXIT INT TERM
# Open to every user, as an install prefix is: one test runs portboot as another user.
chmod 755 "$work"
"$cmake" --install "$build" --prefix "$work/prefix" >"$work/install.log" 2>&1 || {
    cat "$work/install.log" >&2
    exit 1
}
mkdir "$work/elsewhere"
cd "$work/elsewhere"
PATH="$work/prefix/bin:$PATH"
export PATH
found=$(command -v portboot)
if [ "$found" != "$work/prefix/bin/portboot" ]; then
    echo "FAIL: portboot through PATH is $found, not the installed one" >&2
    exit 1
fi
status=0
PORTBOOT_E2E_PROGRAM=portboot "$e2e" --gtest_brief=1 --gtest_filter='PortbootLockFiles.*:PortbootPort.*:PortbootSignals.*:PortbootNoAnswer.*:KeyWait*:PortbootCommandLine.*:CommandLine/*:Failures/*NoAnswer*' || status=1
PORTBOOT_E2E_PROGRAM=portboot "$progress" --gtest_brief=1 --gtest_filter='KeyPrompt.*' || status=1
exit $status
