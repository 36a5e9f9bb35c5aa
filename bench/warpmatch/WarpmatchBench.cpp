// The point inversion, literal (two logarithms per kernel value, per-level
// allocation) beside the product's (one kernel value for both splines, no
// allocation), on one thread and the same points; then the whole call on a
// 512x512 image through the embedded host.  Both inversions are compared bit
// for bit before they are timed, and the call's points with the literal
// inversion of the same targets.  A smoke run takes a 64x64 image and fewer
// control points.
#include "BenchSupport.h"
#include "MexHost.h"
#include "ReferenceInversion.h"
#include "SplineProblem.h"

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

using namespace warpmatch;

namespace {

const int kPoints = 8;  // points inverted per iteration

using Inverter = void (*)(const InversionInput&, int, int, double*, double*);

bool sameBits(const std::vector<double>& a, const double* b, size_t n) {
    return a.size() >= n && std::memcmp(a.data(), b, sizeof(double) * n) == 0;
}

bool identical(const SplineProblem& p) {
    std::vector<double> x(kPoints), y(kPoints), rx(kPoints), ry(kPoints);
    invertRange(p.input(), 0, kPoints, x.data(), y.data());
    referenceInvertRange(p.input(), 0, kPoints, rx.data(), ry.data());
    return sameBits(x, rx.data(), kPoints) && sameBits(y, ry.data(), kPoints);
}

// Times f on the problem's first points; returns seconds per call.
double invert(benchmark::State& state, const SplineProblem& p, Inverter f) {
    std::vector<double> x(static_cast<size_t>(p.K())), y(x);
    const double seconds = regmexbench::timeLoop(state, [&] {
        f(p.input(), 0, kPoints, x.data(), y.data());
        benchmark::DoNotOptimize(x.data());
        benchmark::ClobberMemory();
    });
    state.SetItemsProcessed(state.iterations() * kPoints);
    return seconds;
}

void LiteralInversion(benchmark::State& state) {
    SplineProblem p = SplineProblem::random(static_cast<int>(state.range(0)), 77);
    invert(state, p, referenceInvertRange);
}

void ProductInversion(benchmark::State& state) {
    SplineProblem p = SplineProblem::random(static_cast<int>(state.range(0)), 77);
    if (!identical(p)) return regmexbench::fail(state, "literal and product inversions differ");
    std::vector<double> x(kPoints), y(kPoints);
    const double literal = regmexbench::medianSeconds(regmexbench::smoke() ? 1 : 5, [&] {
        referenceInvertRange(p.input(), 0, kPoints, x.data(), y.data());
    });
    regmexbench::reportRatio(state, "literal", invert(state, p, invertRange), literal);
}

void WholeCall(benchmark::State& state) {
    const int K = static_cast<int>(state.range(0));
    const size_t M = static_cast<size_t>(state.range(1)), N = M;
    setenv("REGMEX_PLUGIN_DIR", REGMEX_PLUGIN_DIR_BENCH, 0);
    mexhost::Plugin plugin(mexhost::pluginPath("warpmatch"));
    SplineProblem p = SplineProblem::random(K, 5, static_cast<double>(M));
    auto column = [](const std::vector<double>& v) { return mexhost::matrix(v.size(), 1, v); };
    auto cx = column(p.coefX), cy = column(p.coefY), px = column(p.ctrlX), py = column(p.ctrlY);
    auto tx = column(p.targetX), ty = column(p.targetY), none = mexhost::matrix(0, 0);
    std::vector<double> pixels(M * N);
    for (size_t i = 0; i < pixels.size(); ++i) pixels[i] = static_cast<double>((i * 7919) % 256);
    auto image = mexhost::matrix(M, N, pixels);
    const std::vector<const mxArray*> args = {cx.get(), cy.get(), px.get(), py.get(), tx.get(),
                                              ty.get(), none.get(), none.get(), image.get()};
    auto first = plugin.call(4, args);
    if (!first.ok) return regmexbench::fail(state, first.errorMessage);
    std::vector<double> rx(static_cast<size_t>(K)), ry(rx);
    referenceInvertRange(p.input(), 0, K, rx.data(), ry.data());
    const std::vector<double> pts = mexhost::values(first.outputs[0].get());
    if (pts.size() != 2 * rx.size() || !sameBits(pts, rx.data(), rx.size()) ||
        std::memcmp(pts.data() + K, ry.data(), sizeof(double) * ry.size()) != 0)
        return regmexbench::fail(state, "the call's points differ from the literal inversion");
    for (auto _ : state) {
        auto r = plugin.call(4, args);
        if (!r.ok) {
            regmexbench::fail(state, r.errorMessage);
            break;
        }
        benchmark::DoNotOptimize(r.outputs.data());
    }
}

}  // namespace

void regmexbench::registerBenchmarks() {
    using benchmark::kMillisecond;
    if (smoke()) {
        benchmark::RegisterBenchmark("LiteralInversion", LiteralInversion)->Arg(20)->Iterations(1);
        benchmark::RegisterBenchmark("ProductInversion", ProductInversion)->Arg(20)->Iterations(1);
        benchmark::RegisterBenchmark("WholeCall", WholeCall)->Args({20, 64})->Iterations(1);
        return;
    }
    benchmark::RegisterBenchmark("LiteralInversion", LiteralInversion)->Arg(50)->Arg(200)->Arg(1000)->Unit(kMillisecond);
    benchmark::RegisterBenchmark("ProductInversion", ProductInversion)->Arg(50)->Arg(200)->Arg(1000)->Unit(kMillisecond);
    benchmark::RegisterBenchmark("WholeCall", WholeCall)->Args({200, 512})->Unit(kMillisecond)->UseRealTime();
}
