#!/bin/sh
# The Windows README.TXT (made from packaging/README.windows.txt) lists every exit status of
# each program that README.md's tables list, in both its halves: Russian, then English.
# Usage: check_windows_readme.sh <source dir>
set -eu
source=$1
readme="$source/packaging/README.windows.txt"
status=0
fail() { echo "FAIL: $*" >&2; status=1; }

# The status tables of README.md, program by program: "## portboot" and "## conproxy" sections.
statuses() { # <program>
    sed -n "/^## $1\$/,/^## /p" "$source/README.md" | sed -n 's/^| \([0-9][0-9]*\) |.*/\1/p'
}
russian=$(sed '/^English$/,$d' "$readme")
english=$(sed -n '/^English$/,$p' "$readme")
for program in portboot conproxy; do
    name=$(echo "$program" | tr a-z A-Z).EXE
    part_of() { # <text>: the lines from the program's name to the next program's
        echo "$1" | sed -n "/^$name /,/^[A-Z]*\.EXE \|^conclient\.exe /p" | sed '$d'
    }
    for half in russian english; do
        eval "text=\$$half"
        part=$(part_of "$text")
        for code in $(statuses "$program"); do
            # "35 -" in a sentence, or "35  text" in a table.
            echo "$part" | grep -Eq "(^|[ ;])$code( -|  )" ||
                fail "$name: status $code is not in the $half half of README.windows.txt"
        done
    done
done
[ -n "$(statuses conproxy)" ] && [ -n "$(statuses portboot)" ] || fail "no status table found in README.md"
exit $status
