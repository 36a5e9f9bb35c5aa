#include "BenchSupport.h"

#include <atomic>
#include <cstring>

namespace regmexbench {

namespace {
bool smokeRun = false;
std::atomic<bool> failed{false};
}  // namespace

bool smoke() { return smokeRun; }

void fail(benchmark::State& state, const std::string& why) {
    failed = true;
    state.SkipWithError(why.c_str());
}

void reportRatio(benchmark::State& state, const std::string& ref, double seconds, double refSeconds) {
    state.counters[ref + "_ms"] = refSeconds * 1e3;
    state.counters["vs_" + ref] = refSeconds > 0 ? seconds / refSeconds : 0.0;
}

}  // namespace regmexbench

int main(int argc, char** argv) {
    int kept = 1;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--smoke") == 0)
            regmexbench::smokeRun = true;
        else
            argv[kept++] = argv[i];
    }
    argc = kept;
    regmexbench::registerBenchmarks();
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 2;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return regmexbench::failed ? 1 : 0;
}
