#!/bin/sh
# Compiles every source file of every plug-in (as its Sources.txt names them)
# in each of the three API modes of MATLAB's mex command, with mex's g++
# flags and our warnings as errors, against host/include/mex.h, which names
# the functions as MATLAB's header does in each mode.  Every host symbol the
# objects import (mx..., mex..., ut...) must be one MATLAB exports.
# Usage: MatlabModes.sh <C++ compiler> <source folder> <exports folder> <OpenCV include folder>
set -u
export LC_ALL=C
cxx=$1
root=$2
exports=$3
cvinc=$4
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
status=0
cat "$exports/libmx-exports.txt" "$exports/libmex-exports.txt" | sort -u >"$work/exported"
[ -s "$work/exported" ] || { echo "no export lists in $exports"; exit 2; }

plugins=$(cd "$root" && for d in */Sources.txt; do dirname "$d"; done)
[ -n "$plugins" ] || { echo "no plug-in found in $root"; exit 2; }
words() { sed -n "s/^$2:\(.*\)/\1/p" "$root/$1/Sources.txt"; }

for mode in compatibleArrayDims R2017b R2018a; do
  case $mode in
    compatibleArrayDims) defs="-DMX_COMPAT_32" suffix=_700 ;;
    R2017b) defs="-DMATLAB_DEFAULT_RELEASE=R2017b" suffix=_730 ;;
    R2018a) defs="-DMX_COMPAT_64 -DMATLAB_MEXCMD_RELEASE=R2018a" suffix=_800 ;;
  esac
  for plugin in $plugins; do
    files=
    for f in $(words $plugin shell) $(words $plugin core); do files="$files $root/$plugin/$f"; done
    for f in $(words $plugin bridge); do files="$files $root/bridge/$f"; done
    for file in $files; do
      # A bridge file shared by several plug-ins is compiled once per mode.
      obj=$work/$mode-$(echo "${file#"$root"/}" | tr / _).o
      if [ ! -f "$obj" ] && ! "$cxx" -std=c++11 -fwrapv -D_GNU_SOURCE -DMATLAB_MEX_FILE -fPIC $defs \
          -Wall -Wextra -Werror -I"$root/$plugin" -I"$root/bridge" -I"$root/host/include" \
          -I"$cvinc" -c "$file" -o "$obj" >"$work/log" 2>&1; then
        echo "$mode: $plugin: $file does not compile:"
        cat "$work/log"
        status=1
        continue
      fi
      nm -u "$obj" | awk '{print $NF}' | grep -E '^(mx|mex|ut)' >>"$work/$mode-$plugin.imports"
    done
    [ -f "$work/$mode-$plugin.imports" ] || { echo "$mode: $plugin imports no host symbol"; status=1; continue; }
    sort -u "$work/$mode-$plugin.imports" >"$work/imports"
    for name in $(comm -23 "$work/imports" "$work/exported"); do
      echo "$mode: $plugin imports $name, which MATLAB does not export"
      status=1
    done
    # A plain name exported with meanings that differ by mode must be
    # called under this mode's name, as MATLAB's header calls it.
    for name in $(grep -v -E '_[0-9]+$' "$work/imports"); do
      if grep -qx "$name$suffix" "$work/exported"; then
        echo "$mode: $plugin imports $name, not $name$suffix"
        status=1
      fi
    done
    echo "$mode: $plugin: $(wc -l <"$work/imports") host symbols, $(grep -c "$suffix\$" "$work/imports") of them $suffix"
  done
done
exit $status
