#!/bin/sh
# Builds the unit and host-level tests with AddressSanitizer and
# UndefinedBehaviorSanitizer (leak detection on) and runs them; any report
# fails the run.
set -e
build=${1:-build-san}
jobs=${JOBS:-$(nproc 2>/dev/null || echo 2)}
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DREGMEX_SANITIZE=address,undefined \
  -DREGMEX_TESTS=ON -DREGMEX_OCTAVE=OFF -DREGMEX_BENCH=OFF -DREGMEX_FUZZ=OFF -DREGMEX_WINDOWS=OFF -DREGMEX_MACOS=OFF >/dev/null
cmake --build "$build" -j "$jobs"
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:strict_string_checks=1 \
UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
  ctest --test-dir "$build" --output-on-failure -j "$jobs" -LE no-asan
