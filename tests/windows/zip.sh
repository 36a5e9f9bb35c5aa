#!/bin/sh
# Makes the Windows zip into a scratch folder, unpacks it and compares its
# files with the build's.  Usage: zip.sh SOURCE_TREE BUILD
set -e
src=$1
build=$2
scratch=$build/windows/zip-test
rm -rf "$scratch"
mkdir -p "$scratch/unpacked"
(cd "$src" && sh tools/windows_dist.sh "$build" "$scratch/driftfield.zip" >/dev/null)
(cd "$scratch/unpacked" && cmake -E tar xf ../driftfield.zip)
listing=$(cd "$scratch/unpacked" && ls | tr '\n' ' ')
[ "$listing" = "COPYING.txt driftfield.m driftfield.mexw64 " ] || { echo "zip.sh: the zip holds $listing"; exit 1; }
cmp "$scratch/unpacked/driftfield.mexw64" "$build/windows/driftfield.mexw64"
cmp "$scratch/unpacked/driftfield.m" "$src/driftfield/driftfield.m"
# Made twice, a second apart, the zip is the same.
sleep 1
(cd "$src" && sh tools/windows_dist.sh "$build" "$scratch/again.zip" >/dev/null)
cmp "$scratch/driftfield.zip" "$scratch/again.zip"
rm -rf "$scratch"
echo "zip.sh: driftfield.mexw64, driftfield.m and COPYING.txt, the same bytes each time"
