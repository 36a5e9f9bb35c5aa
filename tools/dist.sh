#!/bin/sh
# Writes build/regmex-<version>.tar.gz, an Octave package:
#   DESCRIPTION, COPYING, inst/ (the plug-ins' help files, the m-functions of
#   octave/functions, the demo, its photograph),
#   src/ (Makefile, and per plug-in its Sources.txt, the files it names and
#   the folder's headers; the bridge files they name and the bridge headers).
# The plug-ins and their files come from the package's own Makefile, run
# here at the top of the tree, so that the package is packed by the reader
# that builds it; it reads the descriptions, not version control, so this
# works from a plain copy of the tree.  A missing or faulty description, a
# missing named file or a missing help file is an error.
set -eu
cd "$(dirname "$0")/.."
version=$(cat VERSION)
name=regmex-$version
dist=build/dist
stage=$dist/$name

fail() { echo "dist.sh: $*" >&2; exit 1; }
reader() { make -s --no-print-directory -f octave/package/Makefile "$1"; }
# Copies header files $2... into folder $1 (a folder may have none).
headers() {
  to=$1
  shift
  for h in "$@"; do
    if [ -f "$h" ]; then cp "$h" "$to/"; fi
  done
}

plugins=$(reader list-plugins) || fail "the plug-ins' descriptions are refused"
sources=$(reader list-sources)
[ -n "$plugins" ] || fail "no plug-in folder holds a Sources.txt"
rm -rf "$dist"
mkdir -p "$stage/inst" "$stage/src/bridge"
for p in $plugins; do
  [ -f "$p/$p.m" ] || fail "$p/$p.m is missing"
  mkdir -p "$stage/src/$p"
  cp "$p/Sources.txt" "$stage/src/$p/"
  headers "$stage/src/$p" "$p"/*.h
  cp "$p/$p.m" "$stage/inst/"
done
for f in $sources; do
  cp "$f" "$stage/src/$f"
done
headers "$stage/src/bridge" bridge/*.h
cp octave/package/Makefile "$stage/src/Makefile"
sed -e "s/@VERSION@/$version/" -e "s/@DATE@/$(date +%Y-%m-%d)/" octave/package/DESCRIPTION.in > "$stage/DESCRIPTION"
cp COPYING "$stage/COPYING"
cp octave/package/post_install.m "$stage/"
cp octave/functions/*.m octave/regmex_demo.m data/camera.png "$stage/inst/"
tar -C "$dist" -czf "build/$name.tar.gz" "$name"
echo "build/$name.tar.gz"
