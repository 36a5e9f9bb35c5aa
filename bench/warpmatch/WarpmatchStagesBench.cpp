// Where one warpmatch call spends its time and memory: the plug-in's own
// sources are compiled in, so the stage clock can be switched on and the
// kernel path chosen, and whole calls on 2048x2048 and 4096x4096 images
// (64x64 in a smoke run) run through the embedded host.  Before timing, the
// points and maps are compared with those of the built plug-in, and those of
// the scalar kernel path with the vector path's.  Counters give the median
// milliseconds of each stage, the peak memory a call adds (bytes per pixel,
// and over the 24 bytes per pixel of its outputs), its page faults, its
// processor time per kernel value on one core beside the plain kernel
// loop's, and the call on the scalar kernel path beside it.
#include "BenchSupport.h"
#include "CoarseGrid.h"
#include "KernelLoop.h"
#include "MexHost.h"
#include "SplineProblem.h"
#include "SplineKernel.h"
#include "StageClock.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <cstdlib>
#include <cstring>
#include <vector>

#include <sys/resource.h>
#ifdef __linux__
#include <sched.h>
#endif
#ifdef __GLIBC__
#include <malloc.h>
#endif

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

Call makeCall(const SplineProblem& p, size_t side) {
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

double seconds(std::chrono::steady_clock::time_point a, std::chrono::steady_clock::time_point b) {
    return std::chrono::duration<double>(b - a).count();
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
    const Call call = makeCall(SplineProblem::random(K, 11, static_cast<double>(side)), side);
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

// A line of /proc/self/status, in kB (0 where there is none).
double statusKb(const char* key) {
    FILE* f = std::fopen("/proc/self/status", "r");
    if (!f) return 0;
    char line[256];
    double kb = 0;
    const size_t n = std::strlen(key);
    while (std::fgets(line, sizeof line, f))
        if (std::strncmp(line, key, n) == 0) kb = std::atof(line + n);
    std::fclose(f);
    return kb;
}

// Sets the peak resident size back to the present one.
bool resetPeak() {
    FILE* f = std::fopen("/proc/self/clear_refs", "w");
    if (!f) return false;
    const bool ok = std::fputs("5", f) >= 0;
    return std::fclose(f) == 0 && ok;
}

double cpuSeconds() {
    timespec t;
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + 1e-9 * static_cast<double>(t.tv_nsec);
}

double threadCpuSeconds() {
    timespec t;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + 1e-9 * static_cast<double>(t.tv_nsec);
}

long faults() {
    rusage u;
    getrusage(RUSAGE_SELF, &u);
    return u.ru_minflt + u.ru_majflt;
}

// The points within 1e-9 px, the maps and image equal or one float apart
// (the values the vector logarithm changes are narrowed to float); noise
// (both values in [0, 1]) is drawn from each call's own second.
bool closeOutputs(const mexhost::CallResult& a, const mexhost::CallResult& b) {
    if (!a.ok || !b.ok) return false;
    for (size_t i = 0; i < 4; ++i) {
        const mxArray* x = a.outputs[i].get();
        const mxArray* y = b.outputs[i].get();
        const size_t n = mxGetNumberOfElements(x);
        if (n != mxGetNumberOfElements(y)) return false;
        for (size_t j = 0; j < n; ++j) {
            const double u = mxGetPr(x)[j], v = mxGetPr(y)[j];
            if (u == v || (std::isnan(u) && std::isnan(v))) continue;
            if (i == 3 && u >= 0 && u <= 1 && v >= 0 && v <= 1) continue;
            const float step = std::fabs(std::nextafter(static_cast<float>(u), INFINITY) - static_cast<float>(u));
            if (!(std::fabs(u - v) <= (i == 0 ? 1e-9 : 1.01 * step))) return false;
        }
    }
    return true;
}

// One whole call's time, processor time, peak added memory and page faults,
// on the best kernel path and, beside it, on the scalar path, all threads
// on one core.
void WholeCall(benchmark::State& state) {
    const int K = static_cast<int>(state.range(0));
    const size_t side = static_cast<size_t>(state.range(1));
    mexhost::setArgumentCheck(false);
#ifdef __GLIBC__
    // Blocks of a megabyte and more straight from the system and back to it
    // when freed, whatever was freed before: each call's peak and faults
    // are then its own, as in a session that holds no such block.
    mallopt(M_MMAP_THRESHOLD, 1 << 20);
#endif
    const SplineProblem p = SplineProblem::random(K, 11, static_cast<double>(side));
    const Call call = makeCall(p, side);
    const KernelPath best = kernelPath();
    auto once = [&](KernelPath path) {
        setKernelPath(path);
        auto r = mexhost::callEntry(mexFunction, "warpmatch", 4, call.list());
        setKernelPath(best);
        return r;
    };
    if (!closeOutputs(once(best), once(KernelPath::kScalar))) {
        mexhost::setArgumentCheck(true);
        return regmexbench::fail(state, "the vector kernel's outputs differ from the scalar kernel's");
    }
    // Without /proc (not Linux) there is no peak to read: no memory counters.
    const bool peaks = resetPeak();
#ifdef __linux__
    // The measure is per kernel value on one core: every thread of
    // the call shares the core this thread runs on.
    cpu_set_t all, one;
    const bool pinned = sched_getaffinity(0, sizeof all, &all) == 0;
    CPU_ZERO(&one);
    CPU_SET(sched_getcpu(), &one);
    if (pinned) sched_setaffinity(0, sizeof one, &one);
#endif
    std::vector<double> wall, cpu, added, faulted, scalarWall;
    for (auto _ : state) {
        const double rss = statusKb("VmRSS:");
        resetPeak();
        const long f0 = faults();
        const double c0 = cpuSeconds();
        const auto t0 = std::chrono::steady_clock::now();
        auto r = once(best);
        const auto t1 = std::chrono::steady_clock::now();
        const double c1 = cpuSeconds();
        const long f1 = faults();
        const double peak = statusKb("VmHWM:");
        if (!r.ok) {
            regmexbench::fail(state, r.errorMessage);
            break;
        }
        r = mexhost::CallResult();
        wall.push_back(seconds(t0, t1));
        cpu.push_back(c1 - c0);
        added.push_back(1024.0 * (peak - rss));
        faulted.push_back(static_cast<double>(f1 - f0));
        state.SetIterationTime(seconds(t0, t1));
        const auto t2 = std::chrono::steady_clock::now();
        once(KernelPath::kScalar);
        scalarWall.push_back(seconds(t2, std::chrono::steady_clock::now()));
    }
    // The plain loop over the coarse nodes, on this thread alone, for the
    // processor time per kernel value.
    const CoarseGrid g = coarseGrid(static_cast<int>(side), static_cast<int>(side));
    const size_t nodes = static_cast<size_t>(g.Mq) * static_cast<size_t>(g.Nq);
    double loopNs = 0;
    if (K > 0) {
        const size_t n = std::min<size_t>(nodes, 4096);
        std::vector<double> xs(n), ys(n), vx(n), vy(n), d(static_cast<size_t>(K)), logs(d);
        for (size_t i = 0; i < n; ++i) {
            xs[i] = static_cast<int>(i % static_cast<size_t>(g.Nq)) * g.stepX;
            ys[i] = static_cast<double>(i / static_cast<size_t>(g.Nq)) * g.stepY;
        }
        std::vector<double> spent;
        for (int run = 0; run < 3; ++run) {
            const double t0 = threadCpuSeconds();
            kernelLoop(p.pair(), xs, ys, d, logs, vx.data(), vy.data());
            spent.push_back(threadCpuSeconds() - t0);
        }
        loopNs = 1e9 * median(spent) / (static_cast<double>(n) * K);
    }
#ifdef __linux__
    if (pinned) sched_setaffinity(0, sizeof all, &all);
#endif
    const double pixels = static_cast<double>(side) * static_cast<double>(side);
    const double values = static_cast<double>(nodes) * K + 13.0 * 121 * K * K;
    if (peaks) {
        state.counters["added_B_per_px"] = median(added) / pixels;
        state.counters["added_vs_outputs"] = median(added) / (24 * pixels);
    }
    state.counters["faults"] = median(faulted);
    state.counters["cpu_s"] = median(cpu);
    if (K > 0) {
        state.counters["cpu_ns_per_value"] = 1e9 * median(cpu) / values;
        state.counters["loop_ns"] = loopNs;
        state.counters["cpu_vs_loop"] = 1e9 * median(cpu) / values / loopNs;
    }
    regmexbench::reportRatio(state, "scalar", median(wall), median(scalarWall));
    state.SetLabel(kernelPathName(best));
    mexhost::setArgumentCheck(true);
}

}  // namespace

void regmexbench::registerBenchmarks() {
    auto* b = benchmark::RegisterBenchmark("Stages", Stages)->Unit(benchmark::kMillisecond)->UseRealTime();
    auto whole = [] {
        return benchmark::RegisterBenchmark("WholeCall", WholeCall)->Unit(benchmark::kMillisecond)->UseManualTime();
    };
    if (smoke()) {
        b->Args({5, 64})->Iterations(1);
        whole()->Args({5, 64})->Iterations(1);
        return;
    }
    b->Args({0, 2048})->Args({200, 2048})->Args({1000, 2048})->Args({0, 4096})->Iterations(3);
    // The scalar calls beside the large ones take minutes: those run once.
    whole()->Args({0, 2048})->Args({200, 2048})->Args({1000, 2048})->Args({0, 4096})->Iterations(3);
    whole()->Args({200, 4096})->Args({1000, 4096})->Iterations(1);
}
