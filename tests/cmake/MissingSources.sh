#!/bin/sh
# Every build refuses a tree that lacks a plug-in's Sources.txt or a file one
# names, and says which: the CMake configuration, tools/dist.sh and the
# Octave package's Makefile.  Usage: MissingSources.sh <source folder>
set -u
root=$(cd "$1" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
status=0
fail() { echo "$*"; cat "$work/log"; status=1; }
copy() {
  rm -rf "$work/tree"
  mkdir "$work/tree"
  tar -C "$root" --exclude=./.git --exclude='./build*' --exclude=./out -cf - . | tar -C "$work/tree" -xf -
}
for missing in bridge/MexArgs.cpp warpmatch/Spline.cpp driftfield/Sources.txt; do
  copy
  rm "$work/tree/$missing"
  if cmake -S "$work/tree" -B "$work/tree/build" -DREGMEX_TESTS=OFF -DREGMEX_BENCH=OFF -DREGMEX_OCTAVE=OFF \
       >"$work/log" 2>&1; then
    fail "CMake configured without $missing"
  elif ! grep -q "$missing" "$work/log"; then
    fail "CMake failed without naming $missing"
  fi
  if sh "$work/tree/tools/dist.sh" >"$work/log" 2>&1; then
    fail "dist.sh packed without $missing"
  elif ! grep -q "$missing" "$work/log"; then
    fail "dist.sh failed without naming $missing"
  fi
done
# A package whose src/ lacks a named file.
copy
sh "$work/tree/tools/dist.sh" >"$work/log" 2>&1 || fail "dist.sh failed on a whole tree"
src=$(echo "$work"/tree/build/dist/regmex-*/src)
rm "$src/bridge/MexArgs.cpp"
if make -n -C "$src" >"$work/log" 2>&1; then
  fail "the package Makefile accepted a missing bridge/MexArgs.cpp"
elif ! grep -q "bridge/MexArgs.cpp" "$work/log"; then
  fail "the package Makefile failed without naming bridge/MexArgs.cpp"
fi
exit $status
