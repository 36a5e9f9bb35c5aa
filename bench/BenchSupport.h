// What every benchmark shares.  Each benchmark checks what it computes
// against its reference before it times anything, and reports how it
// compares as a counter, so a run that is fast but wrong fails instead of
// looking good.
//
// A benchmark file defines regmexbench::registerBenchmarks() and registers
// its cases there with benchmark::RegisterBenchmark, choosing small inputs
// and one iteration when smoke() is true; BenchSupport.cpp holds main.
//   <bench> --smoke        one small run of every case (ctest runs this)
//   <bench> [gbench flags] the full run (make bench)
// The process fails when any case called fail().
#ifndef REGMEX_BENCH_BENCHSUPPORT_H
#define REGMEX_BENCH_BENCHSUPPORT_H

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <vector>

namespace regmexbench {

// Defined by each benchmark file.
void registerBenchmarks();

// True in a --smoke run.
bool smoke();

// Stops the case with an error and fails the process.  Call it before the
// state loop, or break out of the loop right after.
void fail(benchmark::State& state, const std::string& why);

// Median wall time in seconds of `runs` calls of f.
template <class F>
double medianSeconds(int runs, F&& f) {
    std::vector<double> t;
    for (int i = 0; i < runs; ++i) {
        const auto t0 = std::chrono::steady_clock::now();
        f();
        t.push_back(std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count());
    }
    std::sort(t.begin(), t.end());
    return t[t.size() / 2];
}

// Times f over the state loop by wall clock, as medianSeconds cannot see
// the framework's own measurement, and returns the mean seconds per call.
template <class F>
double timeLoop(benchmark::State& state, F&& f) {
    const auto t0 = std::chrono::steady_clock::now();
    for (auto _ : state) f();
    const double total = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    return state.iterations() > 0 ? total / static_cast<double>(state.iterations()) : 0.0;
}

// Counters "<ref>_ms" (the reference's time) and "vs_<ref>" (this case's
// time over the reference's: below 1 is faster).
void reportRatio(benchmark::State& state, const std::string& ref, double seconds, double refSeconds);

}  // namespace regmexbench

#endif
