#!/bin/sh
# Runs the driftfield calls on the Linux build, then the same calls on
# driftfield.mexw64 under wine, which compares them with the Linux record.
# Usage: wine.sh WINE WINDOWS_BUILD LINUX_PROGRAM LINUX_PLUGIN
# Wine gets a prefix of its own inside the build folder, no display and no
# debug output; the prefix is made on the first run.
set -e
wine=$1
dir=$2
"$3" "$4" --write "$dir/linux_calls.txt"

WINEPREFIX="$dir/wine"
WINEDEBUG=-all
WINEDLLOVERRIDES="mscoree,mshtml="
export WINEPREFIX WINEDEBUG WINEDLLOVERRIDES
unset DISPLAY WAYLAND_DISPLAY
status=0
(cd "$dir" && "$wine" driftfield_calls.exe driftfield.mexw64 --compare linux_calls.txt) || status=$?
# Wait for this prefix's wine server to go, so that nothing outlives the test.
server="$(dirname "$wine")/wineserver"
[ -x "$server" ] || server=wineserver
"$server" -w || true
exit $status
