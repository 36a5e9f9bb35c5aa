#!/bin/sh
# Runs every benchmark executable of a build folder.
build=${1:-build}
status=0
for b in $(find "$build/bench" -type f -perm -u+x -name '*_bench' | sort); do
  echo "== $b"
  "$b" --benchmark_counters_tabular=true || status=1
done
exit $status
