#!/bin/sh
# Tests, benchmarks, fuzzers and the Windows and macOS builds are optional in a plain
# configure (each skipped with one line naming what is missing) and required
# when asked for (make test), so that a missing package can neither stop a
# user's build nor let `make test` pass without running a part.
# Everything is hidden from CMake: GoogleTest and Google Benchmark as
# packages, MinGW-w64, wine, ld64.lld and LLVM's tools as programs (found
# under an empty root), Zig by an empty cache folder, and
# libFuzzer by building with g++.  Usage: OptionalParts.sh <source folder>
set -u
root=$(cd "$1" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
status=0
n=0
configure() {
  n=$((n + 1))
  build=$work/build$n
  REGMEX_CACHE=$work/cache cmake -S "$root" -B "$build" -DCMAKE_MAKE_PROGRAM="$(command -v make)" \
    -DCMAKE_C_COMPILER="$(command -v gcc)" -DCMAKE_CXX_COMPILER="$(command -v g++)" -DREGMEX_OCTAVE=OFF \
    -DCMAKE_DISABLE_FIND_PACKAGE_GTest=ON -DCMAKE_DISABLE_FIND_PACKAGE_benchmark=ON \
    -DCMAKE_FIND_ROOT_PATH=/nonexistent -DCMAKE_FIND_ROOT_PATH_MODE_PROGRAM=ONLY "$@" >"$work/log" 2>&1
}
fail() { echo "$*"; cat "$work/log"; status=1; }

# A plain configure succeeds, says what it skipped and why, and builds none of it.
if ! configure; then
  fail "the configure without the optional parts' packages failed"
else
  for line in "tests skipped: GoogleTest not found" "benchmarks skipped: Google Benchmark not found" \
              "fuzzers skipped: they need clang with libFuzzer" \
              "Windows build skipped: MinGW-w64 (x86_64-w64-mingw32-g++-posix) and wine64 and curl and dpkg-source (OpenCV's Debian sources) not found" \
              "macOS build skipped: Zig 0.11 ($work/cache/zig-0.11.0) and ld64.lld and LLVM's Mach-O tools (llvm-otool) not found"; do
    [ "$(grep -c "^regmex: $line" "$work/log")" -eq 1 ] || fail "not one line 'regmex: $line'"
  done
  for dir in tests bench fuzz windows macos; do
    [ ! -e "$build/$dir" ] || fail "$dir was configured although skipped"
  done
fi

# Each part asked for (ON) stops the configure and names the part.
for part in TESTS:tests BENCH:benchmarks FUZZ:fuzzers "WINDOWS:Windows build" "MACOS:macOS build"; do
  var=REGMEX_${part%%:*}
  what=${part#*:}
  if configure -D$var=ON; then
    fail "$var=ON configured without what it needs"
  elif ! grep -q "regmex: $what required ($var=ON)" "$work/log"; then
    fail "$var=ON failed without saying that $what are required"
  fi
done

# OFF is obeyed without a search, and said.
if ! configure -DREGMEX_TESTS=OFF -DREGMEX_BENCH=OFF -DREGMEX_FUZZ=OFF -DREGMEX_WINDOWS=OFF -DREGMEX_MACOS=OFF; then
  fail "the configure with every part OFF failed"
elif [ "$(grep -c "^regmex: .* skipped: REGMEX_[A-Z]* is OFF" "$work/log")" -ne 5 ]; then
  fail "not one 'is OFF' line per part"
fi
exit $status
