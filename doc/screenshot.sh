#!/usr/bin/env bash
# Makes doc/example.png, the README's picture: the example script converted by
# the built program and shown in headless Chromium (Debian's chromium, with
# fonts-ipafont-gothic for the Japanese).
#
#   doc/screenshot.sh [PROGRAM]      (default build/taletab)
set -euo pipefail
cd "$(dirname "$0")/.."
program=$(realpath "${1:-build/taletab}")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

(cd "$work" && "$program" "$OLDPWD/examples/scene.txt" scene.htm >/dev/null)
chromium --headless --no-sandbox --disable-gpu --disable-quic --no-first-run \
    --disable-background-networking --disable-component-update --disable-sync \
    --user-data-dir="$work/profile" --hide-scrollbars --window-size=720,380 \
    --screenshot="$PWD/doc/example.png" "file://$work/scene.htm" 2>/dev/null
echo "wrote doc/example.png"
