#!/usr/bin/env bash
# Builds the Debian package, unpacks it into a scratch root and checks that it
# holds a program that converts the example script exactly and a manual page
# that renders without a warning.
#
#   package_test.sh BUILD_DIR SOURCE_DIR
set -euo pipefail
build=$1
source=$2
root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT

(cd "$build" && cpack -G DEB -B "$root/out" >/dev/null)
deb=$(ls "$root"/out/taletab_*.deb)
dpkg-deb -x "$deb" "$root/fs"
test -x "$root/fs/usr/bin/taletab"
test -f "$root/fs/usr/share/man/man1/taletab.1"

(cd "$root" && fs/usr/bin/taletab "$source/examples/scene.txt" scene.htm >/dev/null)
cmp "$root/scene.htm" "$source/tests/data/scene.htm"

man_page="$root/fs/usr/share/man/man1/taletab.1"
warnings=$(groff -ww -z -man "$man_page" 2>&1; LC_ALL=C.UTF-8 MANPAGER=cat man -l "$man_page" 2>&1 >/dev/null)
if [ -n "$warnings" ]; then
    echo "$warnings"
    exit 1
fi
echo "package ok: $(basename "$deb")"
