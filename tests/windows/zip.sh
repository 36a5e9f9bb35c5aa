#!/bin/sh
# Makes the Windows zip into a scratch folder, unpacks it and compares its
# files with the build's and the tree's.  Usage: zip.sh SOURCE_TREE BUILD
set -e
src=$1
build=$2
scratch=$build/windows/zip-test
rm -rf "$scratch"
mkdir -p "$scratch/unpacked"
(cd "$src" && sh tools/windows_dist.sh "$build" "$scratch/regmex.zip" >/dev/null)
(cd "$scratch/unpacked" && cmake -E tar xf ../regmex.zip)
# What it must hold: each plug-in's DLL and help file, the m-functions and
# the licence, nothing else.
expected=$( (cd "$src" && for d in */Sources.txt; do p=${d%/Sources.txt}; echo "$p.mexw64"; echo "$p.m"; done
             cd "$src/octave/functions" && ls *.m; echo COPYING.txt) | LC_ALL=C sort | tr '\n' ' ')
listing=$(cd "$scratch/unpacked" && ls | LC_ALL=C sort | tr '\n' ' ')
[ "$listing" = "$expected" ] || { echo "zip.sh: the zip holds $listing, not $expected"; exit 1; }
for f in "$scratch"/unpacked/*; do
  name=$(basename "$f")
  case "$name" in
    *.mexw64) cmp "$f" "$build/windows/$name" ;;
    COPYING.txt) cmp "$f" "$src/COPYING" ;;
    *) if [ -f "$src/octave/functions/$name" ]; then cmp "$f" "$src/octave/functions/$name"
       else cmp "$f" "$src/${name%.m}/$name"; fi ;;
  esac
done
# Made twice, a second apart, the zip is the same.
sleep 1
(cd "$src" && sh tools/windows_dist.sh "$build" "$scratch/again.zip" >/dev/null)
cmp "$scratch/regmex.zip" "$scratch/again.zip"
rm -rf "$scratch"
echo "zip.sh: $listing; the same bytes each time"
