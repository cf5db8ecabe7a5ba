#!/bin/sh
# The installed manual pages and protocol documents name the paths of the install they belong
# to: after `cmake --install` into a prefix, every path they give under that prefix is there,
# none names one of the installed files under another prefix (/usr/share/doc/... in a
# /opt install), and the protocol document's program to drive is the installed bin/conproxy.
# The same with DESTDIR: the documents name the prefix, the files lie under DESTDIR.
# Usage: check_installed_documents.sh <cmake> <build dir>
set -eu
cmake=$1 build=$2
work=$(mktemp -d "${TMPDIR:-/tmp}/check-installed-documents.XXXXXX")
trap 'rm -rf "$work"' EXIT INT TERM
status=0
fail() { echo "FAIL: $*" >&2; status=1; }

# The text of each installed page and protocol document, one file per document in $2.
extract_documents() { # <installed root, with the prefix> <out dir>
    mkdir -p "$2"
    for page in "$1"/share/man/man1/*.1.gz; do
        # roff writes a hyphen as \- : paths are compared as a reader sees them.
        gzip -dc "$page" | sed 's/\\-/-/g' >"$2/$(basename "$page" .gz)"
    done
    find "$1/share/doc" -name conproxy-protocol.md | while read -r document; do
        cp "$document" "$2/$(echo "${document#"$1"/}" | tr / _)"
    done
}

# check_paths <root: where the files are> <prefix: what the documents name> <label>
check_paths() {
    root=$1 prefix=$2 label=$3
    extract_documents "$root$prefix" "$work/text-$label"
    for document in "$work/text-$label"/*; do
        name="$label: $(basename "$document")"
        grep -o '/[A-Za-z0-9_./+-]*[A-Za-z0-9_]' "$document" | sort -u | while read -r path; do
            case $path in
            "$prefix"/*)
                [ -e "$root$path" ] || echo "$name names $path, which is not installed" ;;
            /usr/*)
                # One of our files, named where another install would put it.
                [ "$prefix" = /usr ] || [ ! -e "$root$prefix/${path#/usr/}" ] ||
                    echo "$name names $path, installed as $prefix/${path#/usr/}" ;;
            esac
        done
        grep -q 'build/bin' "$document" && echo "$name names the source tree's build/bin"
    done >"$work/$label.wrong"
    [ -s "$work/$label.wrong" ] && fail "$(cat "$work/$label.wrong")"
    for document in "$work/text-$label"/*conproxy-protocol.md; do
        grep -qF "\`$prefix/bin/conproxy\`" "$document" ||
            fail "$label: $(basename "$document") does not name $prefix/bin/conproxy"
    done
}

prefix="$work/prefix"
"$cmake" --install "$build" --prefix "$prefix" >"$work/install.log" 2>&1 || {
    cat "$work/install.log" >&2
    exit 1
}
check_paths "" "$prefix" prefix

# A packager's staged install: the documents name the final prefix.
DESTDIR="$work/stage" "$cmake" --install "$build" --prefix /opt/portboot-documents-check \
    >"$work/install.log" 2>&1 || {
    cat "$work/install.log" >&2
    exit 1
}
check_paths "$work/stage" /opt/portboot-documents-check destdir
exit $status
