#!/usr/bin/env bash
# Runs a command (such as ctest for the Windows build) with a wine server
# ready: the prefix lives in the cross build's folder, is made once, and one
# server serves every test, so that no test waits for wine to start or stop.
#
#   tests/with-wine.sh BUILD_DIR COMMAND...
set -euo pipefail
build=$1
shift
export WINEPREFIX="$(cd "$build" && pwd)/wineprefix" WINEDEBUG=-all
mkdir -p "$WINEPREFIX"
trap 'wineserver -k </dev/null >/dev/null 2>&1 || true' EXIT
wineserver -p </dev/null >/dev/null 2>&1
wine wineboot -i </dev/null >/dev/null 2>&1
"$@"
