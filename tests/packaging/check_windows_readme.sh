#!/bin/sh
# The Windows README.TXT (made from packaging/README.windows.txt) lists every exit status of
# each program that README.md's tables list, in both its halves: Russian, then English. Each
# half also answers what a Windows user asks first: what the error codes after the port's
# failure text mean, how a port above COM9 gets a lower number, how numbers are read, that any
# key ends the wait, how the Windows programs differ; and the Russian half says what L does in
# the usage text's own words, taken from the program's source.
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

# <half> <what it is about> <fixed text>...: every text is in that half.
says() {
    half=$1 about=$2
    shift 2
    eval "text=\$$half"
    for phrase in "$@"; do
        echo "$text" | grep -qF -- "$phrase" ||
            fail "the $half half of README.windows.txt does not say $about (\"$phrase\")"
    done
}
# Each listed code stands at the start of its line, as "    2     no such port".
codes() { # <half>
    half=$1
    eval "text=\$$half"
    for code in 2 5 31 121; do
        echo "$text" | grep -Eq "^    $code  +[^ ]" ||
            fail "the $half half of README.windows.txt does not explain error code $code"
    done
}
says russian "which codes follow the port's failure text" "Невозможно открыть COM-порт, ошибка:"
says english "which codes follow the port's failure text" "Невозможно открыть COM-порт, ошибка:"
codes russian
codes english
says russian "how a port above COM9 is renumbered" COM10 "Номер" "COM-порта"
says english "how a port above COM9 is renumbered" COM10 "COM Port Number"
says russian "that numbers are decimal and their tails ignored" "десятичные" 0x100
says english "that numbers are decimal and their tails ignored" "decimal" 0x100
says russian "that any key ends the wait" "любой клавиши" "Ctrl+C"
says english "that any key ends the wait" "any key" "Ctrl+C"
says russian "how the Windows programs differ" "Windows и Linux"
says english "how the Windows programs differ" "Windows and Linux"
# The usage text's lines for L and R, as the program's source spells them in its comments.
usage_line() { # <mode letter>
    sed -n "s|^ *//   $1 - \(.*\)\\\\n\$|\1|p" "$source/loader/console_texts.cpp"
}
l_line=$(usage_line L)
l_more=$(sed -n 's|^ *//       \(и .*\)\\n$|\1|p' "$source/loader/console_texts.cpp")
r_line=$(usage_line R)
[ -n "$l_line" ] && [ -n "$l_more" ] && [ -n "$r_line" ] ||
    fail "the usage text's L and R lines are not found in loader/console_texts.cpp"
says russian "what L and R do in the usage text's words" "L - $l_line" "$l_more" "R - $r_line"
exit $status
