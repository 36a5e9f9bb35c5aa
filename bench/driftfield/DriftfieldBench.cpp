// The literal message pass against the product's, on a 40x40 lattice, and
// the whole driftfield call through the embedded host.
//
// Literal: pair by pair, L*L likelihood samples and kernels per step (the
// yardstick of the tests).  Literal, hoisted: the same with each sender's
// likelihoods sampled once per step.  Product: passMessages without the
// evaluation, on one worker and on all.
#include "LiteralField.h"
#include "Messages.h"
#include "MexHost.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <random>
#include <vector>

using namespace driftfield;

namespace {

constexpr int kSide = 40;
constexpr double kSpacing = 12.0;

struct Scene {
    std::vector<Point> P, Q;
    std::vector<unsigned char> fixed;
    std::vector<double> map;
    LatticeView lattice;
    ScoreMap scoreMap;

    Scene() {
        std::mt19937 rng(7);
        std::uniform_real_distribution<double> jitter(-2.0, 2.0);
        std::uniform_real_distribution<double> unit(0.0, 1.0);
        const int n = kSide * kSide;
        P.resize(n);
        Q.resize(n);
        fixed.assign(n, 0);
        for (int y = 0; y < kSide; ++y)
            for (int x = 0; x < kSide; ++x) {
                const int s = y * kSide + x;
                Q[s] = Point{20.0 + x * kSpacing, 20.0 + y * kSpacing};
                P[s] = Point{Q[s].x + jitter(rng), Q[s].y + jitter(rng)};
            }
        const int side = static_cast<int>(40 + kSide * kSpacing);
        map.resize(static_cast<size_t>(side) * side);
        for (double& v : map) v = unit(rng);
        lattice.rows = kSide;
        lattice.cols = kSide;
        lattice.positions = P.data();
        lattice.references = Q.data();
        lattice.fixed = fixed.data();
        scoreMap.values = map.data();
        scoreMap.rows = side;
        scoreMap.cols = side;
    }
};

const Scene& scene() {
    static const Scene s;
    return s;
}

constexpr double kLambda = 2.0;
constexpr double kBeta = 3.0;

// The literal sweep with each sender's likelihoods sampled once per step.
void hoistedSweeps(const Scene& sc, const LabelDisc& disc, bool maxProduct) {
    const int L = disc.count();
    const int M = sc.lattice.rows, N = sc.lattice.cols;
    std::vector<std::vector<double>> store(static_cast<size_t>(M * N), std::vector<double>(L, 1.0));
    std::vector<double> phi(L), m(L);
    auto step = [&](int r, int s) {
        const Point pR = sc.P[r], pS = sc.P[s], qR = sc.Q[r], qS = sc.Q[s];
        const double dx = qR.x - qS.x, dy = qR.y - qS.y, D = std::sqrt(dx * dx + dy * dy);
        for (int j = 0; j < L; ++j)
            phi[j] = sampleScore(sc.scoreMap, pS.x + disc.xs[j] - 1.0, pS.y + disc.ys[j] - 1.0, kBeta);
        for (int i = 0; i < L; ++i) {
            double acc = 0.0;
            for (int j = 0; j < L; ++j) {
                const double ex = (pR.x + disc.xs[i]) - (pS.x + disc.xs[j]) - dx;
                const double ey = (pR.y + disc.ys[i]) - (pS.y + disc.ys[j]) - dy;
                const double t = std::sqrt(ex * ex + ey * ey) / D;
                const double k = phi[j] * std::exp(-kLambda * (t * t));
                if (maxProduct) {
                    if (k > acc) acc = k;
                } else {
                    acc += k;
                }
            }
            m[i] = acc;
        }
        normalizedProduct(m.data(), store[s].data(), store[r].data(), L);
    };
    for (int y = 0; y < M; ++y)
        for (int x = 1; x < N; ++x) step(y * N + x, y * N + x - 1);
    for (int y = 0; y < M; ++y)
        for (int x = N - 2; x >= 0; --x) step(y * N + x, y * N + x + 1);
    for (int x = 0; x < N; ++x)
        for (int y = 1; y < M; ++y) step(y * N + x, (y - 1) * N + x);
    for (int x = 0; x < N; ++x)
        for (int y = M - 2; y >= 0; --y) step(y * N + x, (y + 1) * N + x);
    benchmark::DoNotOptimize(store.data());
}

// Args: radius, maxProduct (1) or sum-product (0).
void BM_LiteralSweep(benchmark::State& state) {
    const Scene& sc = scene();
    const double mode = state.range(1) ? 1.0 : 0.0;
    const LabelDisc disc = buildLabelDisc(static_cast<double>(state.range(0)));
    for (auto _ : state) {
        literal::Stores s = literal::passMessages(sc.lattice, sc.scoreMap, disc, mode, kLambda, kBeta);
        benchmark::DoNotOptimize(s.fromBelow.data());
    }
    state.counters["L"] = disc.count();
}

void BM_LiteralHoistedSweep(benchmark::State& state) {
    const Scene& sc = scene();
    const LabelDisc disc = buildLabelDisc(static_cast<double>(state.range(0)));
    for (auto _ : state) hoistedSweeps(sc, disc, state.range(1) != 0);
    state.counters["L"] = disc.count();
}

// Args: radius, maxProduct, threads (0: all).
void BM_ProductSweep(benchmark::State& state) {
    const Scene& sc = scene();
    FieldParams params;
    params.maxProduct = state.range(1) != 0;
    params.pairWeight = kLambda;
    params.dataWeight = kBeta;
    const LabelDisc disc = buildLabelDisc(static_cast<double>(state.range(0)));
    const int threads = state.range(2) ? static_cast<int>(state.range(2)) : defaultThreadCount();
    for (auto _ : state) passMessages(sc.lattice, sc.scoreMap, disc, params, nullptr, threads);
    state.counters["L"] = disc.count();
    state.counters["threads"] = threads;
}

// The whole call through mexFunction.  Args: radius, mode (1, 0 or 2).
void BM_Call(benchmark::State& state) {
    const Scene& sc = scene();
    mexhost::Plugin plugin(mexhost::pluginPath("driftfield"));
    mexhost::ArrayPtr P = mexhost::cells(kSide, kSide), Q = mexhost::cells(kSide, kSide);
    for (int y = 0; y < kSide; ++y)
        for (int x = 0; x < kSide; ++x) {
            const Point p = sc.P[y * kSide + x], q = sc.Q[y * kSide + x];
            mexhost::setCell(P.get(), y, x, mexhost::matrix(2, 1, {p.x, p.y}).get());
            mexhost::setCell(Q.get(), y, x, mexhost::matrix(2, 1, {q.x, q.y}).get());
        }
    mexhost::ArrayPtr map = mexhost::matrix(static_cast<size_t>(sc.scoreMap.rows),
                                            static_cast<size_t>(sc.scoreMap.cols), sc.map);
    mexhost::ArrayPtr mask = mexhost::matrix(kSide, kSide, std::vector<double>(kSide * kSide, 0.0));
    mexhost::ArrayPtr a = mexhost::scalar(2), mode = mexhost::scalar(static_cast<double>(state.range(1)));
    mexhost::ArrayPtr lambda = mexhost::scalar(kLambda), beta = mexhost::scalar(kBeta);
    mexhost::ArrayPtr radius = mexhost::scalar(static_cast<double>(state.range(0)));
    mexhost::ArrayPtr skip = mexhost::scalar(0), h = mexhost::scalar(1.5);
    for (auto _ : state) {
        mexhost::CallResult r = plugin.call(2, {P.get(), Q.get(), a.get(), mode.get(), lambda.get(), beta.get(),
                                                radius.get(), map.get(), skip.get(), h.get(), mask.get()});
        if (!r.ok) state.SkipWithError(r.errorMessage.c_str());
    }
}

}  // namespace

BENCHMARK(BM_LiteralSweep)->ArgsProduct({{5, 10}, {1, 0}})->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(BM_LiteralHoistedSweep)->ArgsProduct({{5, 10}, {1, 0}})->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(BM_ProductSweep)->ArgsProduct({{5, 10, 20}, {1, 0}, {1, 0}})->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Call)->ArgsProduct({{5, 10, 20}, {1, 0, 2}})->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
