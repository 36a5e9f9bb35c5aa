#!/bin/sh
# Writes <build>/driftfield-<version>-win64.zip: driftfield.mexw64 from the
# Windows build with its help file and licence, at the top of the archive, to
# unpack next to one's MATLAB scripts.  The archive's dates are fixed, so the
# same build gives the same bytes.
# Usage: windows_dist.sh [build folder] [output zip]
set -e
build=${1:-build}
version=$(cat VERSION)
out=${2:-$build/driftfield-$version-win64.zip}
mexw64=$build/windows/driftfield.mexw64
[ -f "$mexw64" ] || { echo "windows_dist.sh: $mexw64 is missing: run make windows"; exit 1; }
stage=$build/windows/dist
rm -rf "$stage"
mkdir -p "$stage"
cp "$mexw64" driftfield/driftfield.m "$stage/"
cp COPYING "$stage/COPYING.txt"
case "$out" in
  /*) ;;
  *) out=$(pwd)/$out ;;
esac
rm -f "$out"
# Fixed dates and no extra fields (which would carry access and change
# times): the same files give the same archive.
export TZ=UTC
touch -t 200001010000 "$stage"/*
(cd "$stage" && zip -q -X -D "$out" driftfield.mexw64 driftfield.m COPYING.txt)
echo "$out"
