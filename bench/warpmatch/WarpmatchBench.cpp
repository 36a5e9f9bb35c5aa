// The point inversion, literal (two logarithms per kernel value, per-level
// allocation) beside the product's (one kernel value for both splines, no
// allocation), on one thread and the same points; then the whole call on a
// 512x512 image through the embedded host.  Both inversions are compared bit
// for bit before they are timed.
#include "MexHost.h"
#include "ReferenceInversion.h"
#include "SplineProblem.h"

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <cstring>
#include <vector>

using namespace warpmatch;

namespace {

const int kPoints = 8;  // points inverted per iteration

using Inverter = void (*)(const InversionInput&, int, int, double*, double*);

bool identical(const SplineProblem& p) {
    std::vector<double> x(kPoints), y(kPoints), rx(kPoints), ry(kPoints);
    invertRange(p.input(), 0, kPoints, x.data(), y.data());
    referenceInvertRange(p.input(), 0, kPoints, rx.data(), ry.data());
    return std::memcmp(x.data(), rx.data(), sizeof(double) * kPoints) == 0 &&
           std::memcmp(y.data(), ry.data(), sizeof(double) * kPoints) == 0;
}

void invert(benchmark::State& state, Inverter f) {
    const int K = static_cast<int>(state.range(0));
    SplineProblem p = SplineProblem::random(K, 77);
    if (!identical(p)) {
        state.SkipWithError("literal and product inversions differ");
        return;
    }
    std::vector<double> x(static_cast<size_t>(K)), y(x);
    for (auto _ : state) {
        f(p.input(), 0, kPoints, x.data(), y.data());
        benchmark::DoNotOptimize(x.data());
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * kPoints);
}

void LiteralInversion(benchmark::State& state) { invert(state, referenceInvertRange); }
void ProductInversion(benchmark::State& state) { invert(state, invertRange); }

void WholeCall512(benchmark::State& state) {
    const int K = static_cast<int>(state.range(0));
    const size_t M = 512, N = 512;
    setenv("REGMEX_PLUGIN_DIR", REGMEX_PLUGIN_DIR_BENCH, 0);
    mexhost::Plugin plugin(mexhost::pluginPath("warpmatch"));
    SplineProblem p = SplineProblem::random(K, 5, 512);
    auto column = [](const std::vector<double>& v) { return mexhost::matrix(v.size(), 1, v); };
    auto cx = column(p.coefX), cy = column(p.coefY), px = column(p.ctrlX), py = column(p.ctrlY);
    auto tx = column(p.targetX), ty = column(p.targetY), none = mexhost::matrix(0, 0);
    std::vector<double> pixels(M * N);
    for (size_t i = 0; i < pixels.size(); ++i) pixels[i] = static_cast<double>((i * 7919) % 256);
    auto image = mexhost::matrix(M, N, pixels);
    for (auto _ : state) {
        auto r = plugin.call(4, {cx.get(), cy.get(), px.get(), py.get(), tx.get(), ty.get(), none.get(),
                                 none.get(), image.get()});
        if (!r.ok) {
            state.SkipWithError(r.errorMessage.c_str());
            break;
        }
        benchmark::DoNotOptimize(r.outputs.data());
    }
}

}  // namespace

BENCHMARK(LiteralInversion)->Arg(50)->Arg(200)->Arg(1000)->Unit(benchmark::kMillisecond);
BENCHMARK(ProductInversion)->Arg(50)->Arg(200)->Arg(1000)->Unit(benchmark::kMillisecond);
BENCHMARK(WholeCall512)->Arg(200)->Unit(benchmark::kMillisecond)->UseRealTime();

BENCHMARK_MAIN();
