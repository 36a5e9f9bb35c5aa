#!/bin/sh
# Writes <build>/regmex-<version>-win64.zip: every plug-in's .mexw64 from the
# Windows build with its help file, the m-functions that go with them
# (octave/functions) and the licence, at the top of the archive, to unpack
# into a folder on MATLAB's path.  The archive's dates are fixed, so the
# same build gives the same bytes.
# Usage: windows_dist.sh [build folder] [output zip]
set -e
build=${1:-build}
version=$(cat VERSION)
out=${2:-$build/regmex-$version-win64.zip}
stage=$build/windows/dist
rm -rf "$stage"
mkdir -p "$stage"
# The plug-ins are the folders holding a Sources.txt; each must be built.
for description in */Sources.txt; do
  plugin=${description%/Sources.txt}
  mexw64=$build/windows/$plugin.mexw64
  [ -f "$mexw64" ] || { echo "windows_dist.sh: $mexw64 is missing: run make windows"; exit 1; }
  cp "$mexw64" "$plugin/$plugin.m" "$stage/"
done
cp octave/functions/*.m "$stage/"
cp COPYING "$stage/COPYING.txt"
case "$out" in
  /*) ;;
  *) out=$(pwd)/$out ;;
esac
rm -f "$out"
# Fixed dates, no extra fields (which would carry access and change times)
# and the files in a fixed order: the same files give the same archive.
export TZ=UTC LC_ALL=C
touch -t 200001010000 "$stage"/*
(cd "$stage" && ls | zip -q -X -D "$out" -@)
echo "$out"
