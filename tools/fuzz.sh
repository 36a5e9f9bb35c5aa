#!/bin/sh
# Builds the libFuzzer targets with clang (address and undefined-behaviour
# sanitizers) and runs each for a bounded time from its checked-in seeds
# (fuzz/corpus/<plugin>, where there are any).
# Usage: fuzz.sh <seconds per fuzzer> [build folder]
# The calls are built from structured bytes, so inputs get their full length
# from the start (-len_control=0), and quick inputs are preferred over the
# slow ones (large point counts) so that more calls run.  A failing input is
# kept as <build>/fuzz_<plugin>-crash-<hash> (or -leak-, -oom-, -timeout-);
# REGMEX_FUZZ_DUMP=1 <build>/fuzz/fuzz_<plugin> <file> prints the call.
set -e
seconds=${1:-30}
build=${2:-build-fuzz}
jobs=${JOBS:-$(nproc 2>/dev/null || echo 2)}
CC=clang CXX=clang++ cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DREGMEX_FUZZ=ON \
  -DREGMEX_SANITIZE=address,undefined -DREGMEX_OCTAVE=OFF -DREGMEX_BENCH=OFF -DREGMEX_TESTS=OFF -DREGMEX_WINDOWS=OFF -DREGMEX_MACOS=OFF >/dev/null
cmake --build "$build" -j "$jobs"
status=0
# Every plug-in (a top-level folder holding a Sources.txt) with a fuzzer,
# fuzz/Fuzz<Plugin>.cpp.
for description in */Sources.txt; do
  plugin=$(dirname "$description")
  first=$(printf %.1s "$plugin" | tr '[:lower:]' '[:upper:]')
  [ -f "fuzz/Fuzz$first${plugin#?}.cpp" ] || continue
  name=fuzz_$plugin
  fuzzer="$build/fuzz/$name"
  [ -x "$fuzzer" ] || { echo "fuzz.sh: $fuzzer was not built"; exit 1; }
  work="$build/corpus/$plugin"
  mkdir -p "$work"
  seeds=fuzz/corpus/$plugin
  [ -d "$seeds" ] || seeds=
  echo "== $name for ${seconds}s"
  if ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
     "$fuzzer" -max_total_time="$seconds" -rss_limit_mb=4096 -timeout=20 \
       -len_control=0 -entropic_scale_per_exec_time=1 \
       -artifact_prefix="$build/$name-" -print_final_stats=1 "$work" $seeds >"$build/$name.log" 2>&1; then
    grep -E '^stat::number_of_executed_units' "$build/$name.log" || true
  else
    status=1
    tail -n 40 "$build/$name.log"
  fi
done
exit $status
