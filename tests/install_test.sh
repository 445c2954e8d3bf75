#!/bin/sh
# Checks the tool as it is installed and shipped: install_test.sh CHECK BUILD SOURCE
# [ARG...], where CHECK is install, package, lintian, manual, size (ARG: the
# largest stripped size in bytes, 36864 unless given) or reproducible (ARGs:
# the options that configure BUILD); the others take the compiler's name. Exits with 77, which CTest counts as
# skipped, where a tool that a check needs is absent.
set -eu
check=$1 build=$2 source=$3
shift 3
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }
needs() { command -v "$1" >/dev/null || { echo "$1 is absent: skipped"; exit 77; }; }

# Builds the Debian package into $tmp/pkg; prints its path.
deb() {
    (cd "$tmp" && cpack -G DEB --config "$build/CPackConfig.cmake" -B "$tmp/pkg" >/dev/null)
    ls "$tmp"/pkg/quorvel_*.deb
}

# Runs an installed binary on the bundled example and compares the PO file.
converts_example() {
    "$1" "$source/examples/Localizable.strings" "$tmp/example.po" >"$tmp/out"
    grep -qx "$tmp/example.po: 8 messages." "$tmp/out" || fail "summary: $(cat "$tmp/out")"
    cmp "$tmp/example.po" "$source/examples/Localizable.po" || fail "$1 converts the example differently"
}

case $check in
install)
    cmake --install "$build" --prefix "$tmp/usr" --strip >/dev/null
    for f in share/man/man1/quorvel.1.gz share/doc/quorvel/copyright share/doc/quorvel/changelog.gz; do
        [ -f "$tmp/usr/$f" ] || fail "no $f under the prefix"
    done
    converts_example "$tmp/usr/bin/quorvel"
    DESTDIR="$tmp/staged" cmake --install "$build" --prefix /opt/quorvel >/dev/null
    [ -x "$tmp/staged/opt/quorvel/bin/quorvel" ] || fail "DESTDIR not honoured"
    [ -f "$tmp/staged/opt/quorvel/share/man/man1/quorvel.1.gz" ] || fail "DESTDIR not honoured"
    ;;
package)
    needs dpkg-deb
    deb=$(deb)
    dpkg-deb -c "$deb" >"$tmp/contents"
    for f in bin/quorvel share/man/man1/quorvel.1.gz share/doc/quorvel/copyright \
             share/doc/quorvel/changelog.gz; do
        grep -q " ./usr/$f\$" "$tmp/contents" || fail "package lacks $f"
    done
    dpkg-deb -x "$deb" "$tmp/root"
    converts_example "$tmp/root/usr/bin/quorvel"
    ;;
lintian)
    needs dpkg-deb
    needs lintian
    deb=$(deb)
    # Any tag fails, informational, pedantic and experimental ones too;
    # lintian's own notes go to its stderr. The exception: every call that
    # glibc fortifies has a size the compiler proves safe, so the plain
    # function is called, and lintian, which counts the checked ones it
    # imports, finds none.
    suppress=--suppress-tags=hardening-no-fortify-functions
    lintian --pedantic -I -E $suppress "$deb" 2>/dev/null >"$tmp/tags" || true
    [ ! -s "$tmp/tags" ] || fail "lintian reports: $(cat "$tmp/tags")"
    ;;
reproducible)
    # Two builds in folders of different names give the same package, with
    # SOURCE_DATE_EPOCH set and without it.
    needs dpkg-deb
    for folder in one second-build; do
        cmake -S "$source" -B "$tmp/$folder" -DQUORVEL_TESTS=OFF "$@" >/dev/null
        cmake --build "$tmp/$folder" >/dev/null
        (cd "$tmp/$folder" && env -u SOURCE_DATE_EPOCH cpack -G DEB -B "$tmp/$folder/default" >/dev/null)
        (cd "$tmp/$folder" && SOURCE_DATE_EPOCH=1700000000 cpack -G DEB -B "$tmp/$folder/set" >/dev/null)
    done
    for epoch in default set; do
        cmp "$tmp"/one/$epoch/quorvel_*.deb "$tmp"/second-build/$epoch/quorvel_*.deb ||
            fail "two builds give different packages ($epoch SOURCE_DATE_EPOCH)"
    done
    ;;
manual)
    needs groff
    groff -man -ww -z "$source/doc/quorvel.1" 2>"$tmp/warnings"
    [ ! -s "$tmp/warnings" ] || fail "groff warns: $(cat "$tmp/warnings")"
    ;;
size)
    limit=${1:-36864}
    strip -o "$tmp/quorvel" "$build/quorvel"
    size=$(wc -c <"$tmp/quorvel")
    echo "stripped executable: $size bytes"
    [ "$size" -le "$limit" ] || fail "the stripped executable is $size bytes, over $limit"
    ;;
*)
    fail "unknown check $check"
    ;;
esac
