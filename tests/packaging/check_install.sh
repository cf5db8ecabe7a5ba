#!/bin/sh
# `cmake --install` of a built tree into a scratch prefix under umask 077: exactly the programs,
# the client library with its header, pkg-config file and CMake package, the documents and the
# manual pages land there (no test program, no test hooks in the library), every directory is
# 0755, and the installed documents link only to installed files. conclient, run through PATH from a folder that holds
# a decoy `conproxy`, starts the installed server; and the installed example client, built
# outside the tree from the installed files alone, through pkg-config and through find_package
# (its own CMakeLists.txt), drives it.
# Usage: check_install.sh <cmake> <build dir> <c++ compiler> <c++ flags>
set -eu
cmake=$1 build=$2 cxx=$3 cxx_flags=$4
work=$(mktemp -d "${TMPDIR:-/tmp}/check-install.XXXXXX")
trap 'rm -rf "$work"' EXIT INT TERM
prefix="$work/prefix"
status=0
fail() { echo "FAIL: $*" >&2; status=1; }

(umask 077 && "$cmake" --install "$build" --prefix "$prefix") >"$work/install.log" 2>&1 || {
    cat "$work/install.log" >&2
    exit 1
}
multiarch=$(dpkg-architecture -qDEB_HOST_MULTIARCH 2>/dev/null || gcc -print-multiarch)
libdir="lib/$multiarch"

(cd "$prefix" && find . ! -type d | sed 's|^\./||' | sort) >"$work/listed"
sed "s|@LIBDIR@|$libdir|" <<'LIST' | sort >"$work/expected"
bin/conclient
bin/conproxy
bin/devsim
bin/portboot
include/conproxy_client.h
include/conproxy_protocol.h
include/conproxy_text.h
@LIBDIR@/cmake/conproxy_client/conproxy_client-config-version.cmake
@LIBDIR@/cmake/conproxy_client/conproxy_client-config.cmake
@LIBDIR@/cmake/conproxy_client/conproxy_client-targets.cmake
@LIBDIR@/libconproxy_client.a
@LIBDIR@/pkgconfig/conproxy_client.pc
share/doc/libconproxy-client-dev/changelog.gz
share/doc/libconproxy-client-dev/conproxy-protocol.md
share/doc/libconproxy-client-dev/copyright
share/doc/libconproxy-client-dev/examples/CMakeLists.txt
share/doc/libconproxy-client-dev/examples/README.md
share/doc/libconproxy-client-dev/examples/hello_client.cpp
share/doc/portboot-conproxy/README.md
share/doc/portboot-conproxy/changelog.gz
share/doc/portboot-conproxy/copyright
share/doc/portboot-conproxy/docs/conproxy-protocol.md
share/doc/portboot-conproxy/docs/windows-differences.md
share/doc/portboot-conproxy/tools/devsim/README.md
share/man/man1/conclient.1.gz
share/man/man1/conproxy.1.gz
share/man/man1/devsim.1.gz
share/man/man1/portboot.1.gz
LIST
# The build type names one more file of the CMake package (conproxy_client-targets-<type>.cmake).
grep -v '/conproxy_client-targets-[a-z]*\.cmake$' "$work/listed" >"$work/listed.main" || true
if ! cmp -s "$work/expected" "$work/listed.main"; then
    fail "installed files differ from the expected list (- missing, + extra):"
    diff "$work/expected" "$work/listed.main" | sed -n 's/^</  -/p; s/^>/  +/p' >&2
fi
for program in portboot conproxy conclient devsim; do
    [ -x "$prefix/bin/$program" ] || fail "bin/$program is not executable"
done
# The installed archive is the library alone: the hooks of the project's own tests and
# benchmarks (ClientTestAccess) stay in the build tree.
archive="$prefix/$libdir/libconproxy_client.a"
members=$(ar t "$archive" | sort | tr '\n' ' ')
expected_members="client_commands.cpp.o client_posix.cpp.o conproxy_text_posix.cpp.o"
expected_members="$expected_members conproxy_text_utf8.cpp.o event_word_posix.cpp.o"
expected_members="$expected_members named_object_posix.cpp.o names.cpp.o "
[ "$members" = "$expected_members" ] ||
    fail "libconproxy_client.a holds other objects than the library's: $members"
if nm --defined-only -C "$archive" | grep -q 'ClientTestAccess'; then
    fail "libconproxy_client.a defines test hooks: $(nm --defined-only -C "$archive" | grep ClientTestAccess)"
fi
# The builder's umask 077 reaches no directory.
(cd "$prefix" && find . -mindepth 1 -type d ! -perm 755 -printf '%m %p\n') >"$work/modes"
[ -s "$work/modes" ] && fail "directories not 0755 after an install under umask 077: $(cat "$work/modes")"

# Each relative link of an installed document leads to an installed file.
find "$prefix/share/doc" -name '*.md' | while read -r document; do
    grep -o '\]([^)#]*' "$document" | sed 's/^](//' | grep -v '^[a-z]*:' | while read -r target; do
        [ -e "$(dirname "$document")/$target" ] ||
            echo "${document#"$prefix"/} links to $target, which is not installed"
    done
done >"$work/dangling"
[ -s "$work/dangling" ] && fail "$(cat "$work/dangling")"

# conclient found through PATH, started in a folder with a decoy conproxy: it must start the
# conproxy beside it, and never a program from the current folder. The text is UTF-8 (code
# page 866 on the server's side, the terminal's UTF-8 again on its standard output).
mkdir "$work/elsewhere" "$work/lonely"
printf '#!/bin/sh\ntouch "%s/decoy-ran"\nexit 9\n' "$work" >"$work/elsewhere/conproxy"
chmod +x "$work/elsewhere/conproxy"
printf 'write Привет\nexit\n' >"$work/elsewhere/script"
run_conclient() { # <conclient> <PATH>: answers in elsewhere/answers, status returned
    (cd "$work/elsewhere" && rm -f answers && PATH="$2" timeout 20 setsid "$1" --out answers script \
        </dev/null >"$work/server.out" 2>"$work/conclient.err")
}
answers='ready
write ok
exit status=0 server-exit=0'
if run_conclient conclient "$prefix/bin:/usr/bin:/bin"; then
    [ "$(cat "$work/elsewhere/answers")" = "$answers" ] ||
        fail "conclient through PATH answered: $(cat "$work/elsewhere/answers")"
    grep -q 'Привет' "$work/server.out" || fail "conproxy did not show the UTF-8 text: $(cat "$work/server.out")"
else
    fail "conclient through PATH failed: $(cat "$work/conclient.err" "$work/elsewhere/answers" 2>/dev/null)"
fi
# Not beside its server, conclient takes conproxy from PATH; with none there, it fails.
cp "$prefix/bin/conclient" "$work/lonely/conclient"
run_conclient "$work/lonely/conclient" "/usr/bin:/bin:$prefix/bin" ||
    fail "conclient did not take conproxy from PATH: $(cat "$work/conclient.err")"
if run_conclient "$work/lonely/conclient" "/usr/bin:/bin"; then
    fail "conclient without a conproxy beside it or on PATH succeeded"
fi
[ -e "$work/decoy-ran" ] && fail "conclient ran the conproxy of the current folder"

# A client writer's build, outside the tree, from the installed files alone: the installed
# example, by its README's pkg-config line and by its own CMakeLists.txt. librt for shm_open on
# older C libraries comes from the .pc and the target. Its greeting is Russian: the text
# conversion of conproxy_text.h reaches the server's terminal as UTF-8 again.
examples="$prefix/share/doc/libconproxy-client-dev/examples"
test_client() { # <how> <program>: the program must drive the installed conproxy
    if timeout 20 setsid "$2" "$prefix/bin/conproxy" </dev/null >"$work/example.out" 2>&1; then
        grep -q 'Привет от hello_client' "$work/example.out" ||
            fail "the example built with $1 did not show its greeting: $(cat "$work/example.out")"
    else
        fail "the example built with $1 could not drive bin/conproxy: $(cat "$work/example.out")"
    fi
}
# shellcheck disable=SC2086 # the flags are lists of words
if flags=$(PKG_CONFIG_PATH="$prefix/$libdir/pkgconfig" pkg-config --cflags --libs conproxy_client) &&
    "$cxx" $cxx_flags -std=c++17 "$examples/hello_client.cpp" $flags -o "$work/client_pc" 2>"$work/compile.log"; then
    test_client pkg-config "$work/client_pc"
else
    cat "$work/compile.log" >&2 2>/dev/null || true
    fail "the example does not build with pkg-config --cflags --libs conproxy_client"
fi
grep -qF 'c++ -std=c++17 hello_client.cpp $(pkg-config --cflags --libs conproxy_client)' \
    "$examples/README.md" || fail "examples/README.md lost its pkg-config line"
cp -r "$examples" "$work/project"
if "$cmake" -S "$work/project" -B "$work/project/build" -DCMAKE_PREFIX_PATH="$prefix" \
    -DCMAKE_CXX_COMPILER="$cxx" -DCMAKE_CXX_FLAGS="$cxx_flags" >"$work/project.log" 2>&1 &&
    "$cmake" --build "$work/project/build" >>"$work/project.log" 2>&1; then
    test_client find_package "$work/project/build/hello_client"
else
    cat "$work/project.log" >&2
    fail "the example does not build with find_package(conproxy_client)"
fi
exit $status
