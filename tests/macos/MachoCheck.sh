#!/bin/sh
# Checks MEX files for MATLAB on macOS as MATLAB would load them: each must
# be a 64-bit Mach-O bundle for the architecture its suffix names
# (.mexmaci64 x86-64, .mexmaca64 arm64; signed, for arm64), export
# mexFunction and nothing
# else, take every mx/mex name it calls from MATLAB's libmx and libmex (bound
# at load time, and listed in their export lists) and everything else from
# libSystem, the only library it may load.  Prints one line per fault and
# per file checked; the status is 1 when a file has a fault.
# Usage: MachoCheck.sh <llvm tools folder or ""> <exports folder> <file>...
set -u
export LC_ALL=C
tools=$1
exports=$2
shift 2
tool() {
  for name in "$1" "$1-14"; do
    if [ -n "$tools" ] && [ -x "$tools/$name" ]; then echo "$tools/$name"; return; fi
    if command -v "$name" >/dev/null; then command -v "$name"; return; fi
  done
  echo "MachoCheck.sh: $1 not found (make deps-test installs llvm-14)" >&2
  exit 2
}
objdump=$(tool llvm-objdump) || exit 2
nm=$(tool llvm-nm) || exit 2
otool=$(tool llvm-otool) || exit 2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cat "$exports/libmx-exports.txt" "$exports/libmex-exports.txt" | sed 's/^/_/' | sort -u >"$work/matlab"
[ -s "$work/matlab" ] || { echo "no export lists in $exports"; exit 2; }
[ $# -gt 0 ] || { echo "no file to check"; exit 2; }

status=0
for file in "$@"; do
  faults=0
  fault() { echo "$file: $*"; faults=$((faults + 1)); }
  case $file in
    *.mexmaci64) cpu=X86_64 ;;
    *.mexmaca64) cpu=ARM64 ;;
    *) fault "not a .mexmaci64 or .mexmaca64 file"; status=1; continue ;;
  esac
  if ! "$objdump" --macho --private-header "$file" >"$work/header" 2>&1; then
    fault "not a Mach-O file: $(cat "$work/header")"
    status=1
    continue
  fi
  # magic cputype cpusubtype caps filetype ...
  set -- $(awk '$1 ~ /^MH_MAGIC/ {print $1, $2, $5}' "$work/header")
  [ "${1:-}" = MH_MAGIC_64 ] || fault "not a 64-bit Mach-O file (${1:-no header})"
  [ "${2:-}" = "$cpu" ] || fault "architecture ${2:-unknown}, not $cpu"
  [ "${3:-}" = BUNDLE ] || fault "file type ${3:-unknown}, not BUNDLE"

  # Apple silicon runs no unsigned code; the linker signs (ad hoc).
  if [ "${2:-}" = ARM64 ] && ! "$otool" -l "$file" | grep -q "cmd LC_CODE_SIGNATURE$"; then
    fault "carries no code signature"
  fi

  "$nm" -gUj "$file" >"$work/exported"
  for name in $(grep -vx _mexFunction "$work/exported"); do fault "exports $name"; done
  grep -qx _mexFunction "$work/exported" || fault "does not export mexFunction"

  # Bound names and where from: libSystem or, for MATLAB's, any loaded image.
  "$objdump" --macho --bind --lazy-bind --weak-bind "$file" |
    awk '$1 ~ /^__/ {print $(NF-1), $NF}' | sort -u >"$work/binds"
  "$nm" -uj "$file" | sort -u >"$work/undefined"
  while read -r name; do
    from=$(awk -v n="$name" '$2 == n {print $1}' "$work/binds" | sort -u | tr '\n' ' ')
    case $name in
      _mx*|_mex*|_ut*)
        grep -qx "$name" "$work/matlab" || fault "imports $name, which MATLAB does not export"
        [ "$from" = "flat-namespace " ] || fault "binds $name to ${from:-nothing}, not to MATLAB's loaded libraries" ;;
      *) [ "$from" = "libSystem " ] || fault "imports $name from ${from:-nowhere}, not libSystem" ;;
    esac
  done <"$work/undefined"

  "$otool" -L "$file" | tail -n +2 | awk '{print $1}' >"$work/loads"
  for lib in $(grep -vx /usr/lib/libSystem.B.dylib "$work/loads"); do fault "loads $lib"; done
  grep -qx /usr/lib/libSystem.B.dylib "$work/loads" || fault "does not load libSystem"

  if [ $faults -eq 0 ]; then
    echo "$file: $cpu bundle, exports mexFunction, $(grep -c -E '^_(mx|mex|ut)' "$work/undefined") MATLAB names, loads $(tr '\n' ' ' <"$work/loads")"
  else
    status=1
  fi
done
exit $status
