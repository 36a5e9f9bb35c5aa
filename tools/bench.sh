#!/bin/sh
# Runs every benchmark executable of a build folder (make bench).  Each
# checks its results against its references before timing and fails when
# they differ; a build without benchmarks is an error.
build=${1:-build}
benches=$(find "$build/bench" -type f -perm -u+x -name '*_bench' 2>/dev/null | sort)
[ -n "$benches" ] || { echo "bench.sh: no benchmarks in $build/bench (configure with REGMEX_BENCH=ON)"; exit 1; }
status=0
for b in $benches; do
  echo "== $b"
  "$b" --benchmark_counters_tabular=true || status=1
done
exit $status
