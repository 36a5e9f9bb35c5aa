#!/bin/sh
# Runs MachoCheck.sh on each MEX file of the macOS build, which must pass,
# and on files that each break one rule, which it must refuse with the
# fault named: a second exported symbol (second_export, built beside the
# plug-ins), an Apple-silicon file without its code signature (unsigned)
# and an Intel file named as an Apple-silicon one.
# Usage: files.sh <llvm tools folder> <exports folder> <macOS build folder> <MEX file>...
set -u
here=$(dirname "$0")
tools=$1
exports=$2
macos=$3
shift 3
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp "$macos/x86_64/driftfield.mexmaci64" "$work/intel.mexmaca64"

# status|file|a line the check must print
{
  for file in "$@"; do
    case $file in *.mexmaci64) cpu=X86_64 ;; *) cpu=ARM64 ;; esac
    echo "0|$file|$file: $cpu bundle, exports mexFunction, [0-9]* MATLAB names, loads /usr/lib/libSystem.B.dylib $"
  done
  for arch in x86_64 aarch64; do
    for file in "$macos/$arch"/second_export.*; do
      echo "1|$file|$file: exports _regmexSecondExport$"
    done
  done
  echo "1|$macos/aarch64/unsigned.mexmaca64|$macos/aarch64/unsigned.mexmaca64: carries no code signature$"
  echo "1|$work/intel.mexmaca64|$work/intel.mexmaca64: architecture X86_64, not ARM64$"
} >"$work/cases"

status=0
count=0
while IFS='|' read -r want file line; do
  count=$((count + 1))
  sh "$here/MachoCheck.sh" "$tools" "$exports" "$file" >"$work/out" 2>&1
  got=$?
  # A refused file must be refused for its one fault and nothing else.
  if [ "$got" -ne "$want" ] || ! grep -qx "$line" "$work/out" || [ "$(wc -l <"$work/out")" -ne 1 ]; then
    echo "FAIL: $file: status $got (wanted $want), output:"
    cat "$work/out"
    echo "wanted the one line: $line"
    status=1
  else
    cat "$work/out"
  fi
done <"$work/cases"
[ "$count" -ge 6 ] || { echo "only $count cases: the build made too few files"; status=1; }
exit $status
