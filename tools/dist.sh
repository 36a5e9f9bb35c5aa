#!/bin/sh
# Writes build/regmex-<version>.tar.gz, an Octave package:
#   DESCRIPTION, COPYING, inst/ (help files, tpsfit, tmatchpeak, demo, its
#   photograph),
#   src/ (Makefile and the sources of the MEX files).
set -e
version=$(cat VERSION)
name=regmex-$version
dist=build/dist
stage=$dist/$name
rm -rf "$dist"
mkdir -p "$stage/inst" "$stage/src/bridge"

plugins=""
for p in tmatch gridcorners warpmatch driftfield; do
  sources=$(git ls-files "$p" | grep -E '\.(c|cc|cpp|h|hpp)$' || true)
  [ -n "$sources" ] || continue
  plugins="$plugins $p"
  mkdir -p "$stage/src/$p"
  cp $sources "$stage/src/$p/"
  cp "octave/$p.m" "$stage/inst/"
done
cp $(git ls-files bridge | grep -E '\.(cpp|h)$') "$stage/src/bridge/"
sed "s/@PLUGINS@/$(echo $plugins)/" octave/package/Makefile > "$stage/src/Makefile"
sed -e "s/@VERSION@/$version/" -e "s/@DATE@/$(date +%Y-%m-%d)/" octave/package/DESCRIPTION.in > "$stage/DESCRIPTION"
cp COPYING "$stage/COPYING"
cp octave/package/post_install.m "$stage/"
cp octave/tpsfit.m octave/tmatchpeak.m octave/regmex_demo.m data/camera.png "$stage/inst/"
tar -C "$dist" -czf "build/$name.tar.gz" "$name"
echo "build/$name.tar.gz"
