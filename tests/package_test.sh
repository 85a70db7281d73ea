#!/usr/bin/env bash
# Builds the Debian package, has lintian check it, unpacks it into a scratch
# root and checks that it holds a program that converts the example script
# exactly and a manual page that renders without a warning.
#
#   package_test.sh BUILD_DIR SOURCE_DIR
set -euo pipefail
build=$1
source=$2
root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
# lintian leaves files of its own in TMPDIR: they go with the scratch root.
export TMPDIR=$root

(cd "$build" && cpack -G DEB -B "$root/out" >/dev/null)
deb=$(ls "$root"/out/taletab_*.deb)

# Any tag fails, informational ones too: a tag that stays on purpose is
# overridden, with its reason, in cmake/debian/lintian-overrides.
if ! findings=$(lintian --info --fail-on error,warning,info "$deb" 2>&1); then
    echo "$findings"
    exit 1
fi

dpkg-deb -x "$deb" "$root/fs"
test -x "$root/fs/usr/bin/taletab"
(cd "$root" && fs/usr/bin/taletab "$source/examples/scene.txt" scene.htm >/dev/null)
cmp "$root/scene.htm" "$source/tests/data/scene.htm"

man_page="$root/fs/usr/share/man/man1/taletab.1.gz"
warnings=$(zcat "$man_page" | groff -ww -z -man 2>&1; LC_ALL=C.UTF-8 MANPAGER=cat man -l "$man_page" 2>&1 >/dev/null)
if [ -n "$warnings" ]; then
    echo "$warnings"
    exit 1
fi
echo "package ok: $(basename "$deb")"
