#!/bin/sh
# Checks the tool as it is installed and shipped: install_test.sh CHECK BUILD SOURCE,
# where CHECK is install, package, manual or size.
set -eu
check=$1 build=$2 source=$3
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

# Runs an installed binary on the bundled example and compares the PO file.
converts_example() {
    "$1" "$source/examples/Localizable.strings" "$tmp/example.po" >"$tmp/out"
    grep -qx "$tmp/example.po: 8 messages." "$tmp/out" || fail "summary: $(cat "$tmp/out")"
    cmp "$tmp/example.po" "$source/examples/Localizable.po" || fail "$1 converts the example differently"
}

case $check in
install)
    cmake --install "$build" --prefix "$tmp/usr" >/dev/null
    [ -f "$tmp/usr/share/man/man1/quorvel.1" ] || fail "no manual page under the prefix"
    converts_example "$tmp/usr/bin/quorvel"
    DESTDIR="$tmp/staged" cmake --install "$build" --prefix /opt/quorvel >/dev/null
    [ -x "$tmp/staged/opt/quorvel/bin/quorvel" ] || fail "DESTDIR not honoured"
    [ -f "$tmp/staged/opt/quorvel/share/man/man1/quorvel.1" ] || fail "DESTDIR not honoured"
    ;;
package)
    command -v dpkg-deb >/dev/null || { echo "dpkg-deb is absent: skipped"; exit 0; }
    (cd "$tmp" && cpack -G DEB --config "$build/CPackConfig.cmake" -B "$tmp/pkg" >/dev/null)
    deb=$(ls "$tmp"/pkg/quorvel_*.deb)
    dpkg-deb -c "$deb" >"$tmp/contents"
    grep -q ' ./usr/bin/quorvel$' "$tmp/contents" || fail "package lacks the binary"
    grep -q ' ./usr/share/man/man1/quorvel.1' "$tmp/contents" || fail "package lacks the manual"
    dpkg-deb -f "$deb" Depends | grep -q 'libc-bin' || fail "package does not depend on iconv's package"
    dpkg-deb -x "$deb" "$tmp/root"
    converts_example "$tmp/root/usr/bin/quorvel"
    ;;
manual)
    command -v groff >/dev/null || { echo "groff is absent: skipped"; exit 0; }
    groff -man -ww -z "$source/doc/quorvel.1" 2>"$tmp/warnings"
    [ ! -s "$tmp/warnings" ] || fail "groff warns: $(cat "$tmp/warnings")"
    ;;
size)
    strip -o "$tmp/quorvel" "$build/quorvel"
    size=$(wc -c <"$tmp/quorvel")
    echo "stripped executable: $size bytes"
    [ "$size" -le 32768 ] || fail "the stripped executable is $size bytes, over 32 KiB"
    ;;
*)
    fail "unknown check $check"
    ;;
esac
