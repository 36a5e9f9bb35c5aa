#!/bin/sh
# Writes build/regmex-<version>.tar.gz, an Octave package:
#   DESCRIPTION, COPYING, inst/ (help files, tpsfit, tmatchpeak, tpsregister, demo, its
#   photograph),
#   src/ (Makefile, and per plug-in its Sources.txt, the files it names and
#   the folder's headers; the bridge files they name and the bridge headers).
# Reads the plug-ins' Sources.txt, not version control, so it works from a
# plain copy of the tree.  A missing plug-in, description or named file is
# an error.
set -eu
cd "$(dirname "$0")/.."
version=$(cat VERSION)
name=regmex-$version
dist=build/dist
stage=$dist/$name
plugins="tmatch gridcorners warpmatch driftfield patchmatch"
rm -rf "$dist"
mkdir -p "$stage/inst" "$stage/src/bridge"

fail() { echo "dist.sh: $*" >&2; exit 1; }
# The words of key $2 in description $1.
words() { sed -n "s/^$2://p" "$1"; }
# Copies header files $2... into folder $1 (a folder may have none).
headers() {
  to=$1
  shift
  for h in "$@"; do
    if [ -f "$h" ]; then cp "$h" "$to/"; fi
  done
}

bridge=""
for p in $plugins; do
  description=$p/Sources.txt
  [ -f "$description" ] || fail "$description is missing"
  [ -n "$(words "$description" shell)" ] || fail "$description names no shell: files"
  mkdir -p "$stage/src/$p"
  cp "$description" "$stage/src/$p/"
  for f in $(words "$description" shell) $(words "$description" core); do
    [ -f "$p/$f" ] || fail "$description names $p/$f, which is missing"
    cp "$p/$f" "$stage/src/$p/"
  done
  for f in $(words "$description" bridge); do
    [ -f "bridge/$f" ] || fail "$description names bridge/$f, which is missing"
    bridge="$bridge $f"
  done
  headers "$stage/src/$p" "$p"/*.h
  [ -f "octave/$p.m" ] || fail "octave/$p.m is missing"
  cp "octave/$p.m" "$stage/inst/"
done
for f in $(echo $bridge | tr ' ' '\n' | sort -u); do
  cp "bridge/$f" "$stage/src/bridge/"
done
headers "$stage/src/bridge" bridge/*.h
sed "s/@PLUGINS@/$plugins/" octave/package/Makefile > "$stage/src/Makefile"
sed -e "s/@VERSION@/$version/" -e "s/@DATE@/$(date +%Y-%m-%d)/" octave/package/DESCRIPTION.in > "$stage/DESCRIPTION"
cp COPYING "$stage/COPYING"
cp octave/package/post_install.m "$stage/"
cp octave/tpsfit.m octave/tmatchpeak.m octave/tpsregister.m octave/regmex_demo.m data/camera.png "$stage/inst/"
tar -C "$dist" -czf "build/$name.tar.gz" "$name"
echo "build/$name.tar.gz"
