// Where one warpmatch call spends its time: the plug-in's own sources are
// compiled in, so the stage clock can be switched on, and one whole call on
// a 2048x2048 image (64x64 in a smoke run) runs through the embedded host.  Before timing, the
// points and maps are compared with those of the built plug-in.  Counters
// give the median milliseconds of each stage.
#include "BenchSupport.h"
#include "MexHost.h"
#include "SplineProblem.h"
#include "StageClock.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <vector>

extern "C" void mexFunction(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]);

using namespace warpmatch;

namespace {


struct Call {
    std::vector<mexhost::ArrayPtr> args;
    std::vector<const mxArray*> list() const {
        std::vector<const mxArray*> v;
        for (const auto& a : args) v.push_back(a.get());
        return v;
    }
};

Call makeCall(int K, size_t side) {
    SplineProblem p = SplineProblem::random(K, 11, static_cast<double>(side));
    auto column = [](const std::vector<double>& v) { return mexhost::matrix(v.size(), 1, v); };
    Call c;
    for (const auto* v : {&p.coefX, &p.coefY, &p.ctrlX, &p.ctrlY, &p.targetX, &p.targetY})
        c.args.push_back(column(*v));
    c.args.push_back(mexhost::matrix(0, 0));
    c.args.push_back(mexhost::matrix(0, 0));
    std::vector<double> pixels(side * side);
    for (size_t i = 0; i < pixels.size(); ++i) pixels[i] = static_cast<double>((i * 7919) % 256);
    c.args.push_back(mexhost::matrix(side, side, pixels));
    return c;
}

bool sameOutputs(const mexhost::CallResult& a, const mexhost::CallResult& b) {
    if (!a.ok || !b.ok) return false;
    for (int i = 0; i < 3; ++i) {
        const mxArray* x = a.outputs[static_cast<size_t>(i)].get();
        const mxArray* y = b.outputs[static_cast<size_t>(i)].get();
        if (mxGetNumberOfElements(x) != mxGetNumberOfElements(y) ||
            std::memcmp(mxGetPr(x), mxGetPr(y), mxGetNumberOfElements(x) * sizeof(double)) != 0)
            return false;
    }
    return true;
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0.0 : v[v.size() / 2];
}

void Stages(benchmark::State& state) {
    const int K = static_cast<int>(state.range(0));
    const size_t side = static_cast<size_t>(state.range(1));
    mexhost::setArgumentCheck(false);
    setenv("REGMEX_PLUGIN_DIR", REGMEX_PLUGIN_DIR_BENCH, 0);
    const Call call = makeCall(K, side);
    {
        mexhost::Plugin plugin(mexhost::pluginPath("warpmatch"));
        if (!sameOutputs(mexhost::callEntry(mexFunction, "warpmatch", 4, call.list()), plugin.call(4, call.list()))) {
            mexhost::setArgumentCheck(true);
            return regmexbench::fail(state, "points or maps differ from the built plug-in");
        }
    }
    std::vector<std::vector<double>> seconds(kStageCount);
    std::vector<double> whole;
    for (auto _ : state) {
        StageTimes times;
        stageTimes = &times;
        auto r = mexhost::callEntry(mexFunction, "warpmatch", 4, call.list());
        stageTimes = nullptr;
        if (!r.ok) {
            regmexbench::fail(state, r.errorMessage);
            break;
        }
        double sum = 0;
        for (int s = 0; s < kStageCount; ++s) {
            seconds[static_cast<size_t>(s)].push_back(times.seconds[s]);
            sum += times.seconds[s];
        }
        whole.push_back(sum);
    }
    const char* names[kStageCount] = {"convert", "coarse", "scaleUp", "compose",
                                      "resample", "noise", "inversion", "outputs"};
    for (int s = 0; s < kStageCount; ++s)
        state.counters[names[s]] = 1e3 * median(seconds[static_cast<size_t>(s)]);
    state.counters["stages"] = 1e3 * median(whole);
    mexhost::setArgumentCheck(true);
}

}  // namespace

void regmexbench::registerBenchmarks() {
    auto* b = benchmark::RegisterBenchmark("Stages", Stages)->Unit(benchmark::kMillisecond)->UseRealTime();
    if (smoke())
        b->Args({5, 64})->Iterations(1);
    else
        b->Args({0, 2048})->Args({200, 2048})->Iterations(5);
}
