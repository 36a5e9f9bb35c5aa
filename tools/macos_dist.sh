#!/bin/sh
# Writes <build>/regmex-<version>-maci64.zip and -maca64.zip for MATLAB on
# macOS (64-bit Intel and Apple silicon): the MEX files of the macOS build
# with their help files, the m-functions whose plug-ins are in the archive
# (an m-function calling a plug-in that is not stays out), and the licence,
# at the top of the archive, to unpack next to one's MATLAB scripts.  The
# archives' dates are fixed, so the same build gives the same bytes.  Every
# MEX file must pass tests/macos/MachoCheck.sh first.
# Usage: macos_dist.sh [build folder]
set -e
build=${1:-build}
version=$(cat VERSION)
case "$build" in
  /*) ;;
  *) build=$(pwd)/$build ;;
esac
plugins=$(for d in */Sources.txt; do dirname "$d"; done)
for pair in x86_64:maci64 aarch64:maca64; do
  arch=${pair%%:*}
  suffix=mex${pair#*:}
  out=$build/regmex-$version-${pair#*:}.zip
  stage=$build/macos/dist-${pair#*:}
  rm -rf "$stage"
  mkdir -p "$stage"
  shipped=
  for plugin in $plugins; do
    [ -f "$build/macos/$arch/$plugin.$suffix" ] || continue
    sh tests/macos/MachoCheck.sh "" tests/cmake/matlab "$build/macos/$arch/$plugin.$suffix" >&2
    cp "$build/macos/$arch/$plugin.$suffix" "$plugin/$plugin.m" "$stage/"
    shipped="$shipped $plugin"
  done
  [ -n "$shipped" ] || { echo "macos_dist.sh: no MEX file in $build/macos/$arch: run make macos"; exit 1; }
  for m in octave/functions/*.m; do
    keep=yes
    for plugin in $plugins; do
      case " $shipped " in *" $plugin "*) continue ;; esac
      # Code lines only: help text may name any plug-in.
      if grep -v '^[[:space:]]*%' "$m" | grep -qE "(^|[^A-Za-z0-9_])$plugin[[:space:]]*\\("; then keep=; fi
    done
    [ -z "$keep" ] || cp "$m" "$stage/"
  done
  cp COPYING "$stage/COPYING.txt"
  rm -f "$out"
  # Fixed dates and no extra fields (which would carry access and change
  # times): the same files give the same archive.
  export TZ=UTC
  touch -t 200001010000 "$stage"/*
  (cd "$stage" && zip -q -X -D "$out" $(ls))
  echo "$out"
done
