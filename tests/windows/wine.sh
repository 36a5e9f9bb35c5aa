#!/bin/sh
# Runs one plug-in's calls on the Linux build, then the same calls on its
# Windows build under wine, which compares them with the Linux record.
# Usage: wine.sh WINE WINDOWS_BUILD PLUGIN LINUX_PROGRAM LINUX_PLUGIN [DATA]
#   driftfield's calls are driftfield_calls; the others' plugin_calls, run
#   in a folder of their own (calls-PLUGIN) holding the photographs of DATA
#   they read, as PNG files and as the PGM files both programs read.
# Wine gets a prefix of its own inside the build folder, no display and no
# debug output; the prefix is made on the first run.
set -e
wine=$1
dir=$(cd "$2" && pwd)
plugin=$3
program=$4
linux_plugin=$5
data=$6

if [ "$plugin" = driftfield ]; then
  work=$dir
  "$program" "$linux_plugin" --write "$work/linux_calls.txt"
  windows="driftfield_calls.exe driftfield.mexw64 --compare linux_calls.txt"
else
  work=$dir/calls-$plugin
  rm -rf "$work"
  mkdir -p "$work"
  for photo in camera coffee; do
    cp "$data/$photo.png" "$work/"
    "$program" --pgm "$work/$photo.png" "$work/$photo.pgm"
  done
  (cd "$work" && "$program" "$plugin" "$linux_plugin" --write linux_calls.txt)
  windows="$dir/plugin_calls.exe $plugin ..\\$plugin.mexw64 --compare linux_calls.txt"
fi

WINEPREFIX="$dir/wine"
WINEDEBUG=-all
WINEDLLOVERRIDES="mscoree,mshtml="
export WINEPREFIX WINEDEBUG WINEDLLOVERRIDES
unset DISPLAY WAYLAND_DISPLAY
status=0
# shellcheck disable=SC2086
(cd "$work" && "$wine" $windows) || status=$?
# Wait for this prefix's wine server to go, so that nothing outlives the test.
server="$(dirname "$wine")/wineserver"
[ -x "$server" ] || server=wineserver
"$server" -w || true
[ "$plugin" = driftfield ] || [ $status -ne 0 ] || rm -rf "$work"
exit $status
