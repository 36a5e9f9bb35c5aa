// The literal message pass against the product's, on a 40x40 lattice (8x8
// in a smoke run), and the whole driftfield call through the embedded host.
//
// Literal: pair by pair, L*L likelihood samples and kernels per step (the
// yardstick of the tests).  Literal, hoisted: the same with each sender's
// likelihoods sampled once per step.  Product: passMessages without the
// evaluation, on one worker and on all.  The literal sweep is timed once
// per radius and mode, beside the cases that compare with it.
//
// Before anything is timed, the product's node results and the call's
// outputs are compared with the literal ones: on the whole lattice where the
// literal pass is affordable (radius up to 10), else on its 4x4 corner.
#include "BenchSupport.h"
#include "LiteralField.h"
#include "Messages.h"
#include "MexHost.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <map>
#include <random>
#include <string>
#include <utility>
#include <vector>

using namespace driftfield;

namespace {

constexpr double kSpacing = 12.0;
constexpr double kLambda = 2.0;
constexpr double kBeta = 3.0;
constexpr double kBandwidth = 1.5;
constexpr int kWindowHalf = 2;
constexpr double kLiteralRadius = 10.0;  // the largest radius the literal pass runs on the whole lattice
constexpr int kCorner = 4;

struct Scene {
    int side = 0;
    std::vector<Point> P, Q;
    std::vector<unsigned char> fixed;
    std::vector<double> map;
    LatticeView lattice;
    ScoreMap scoreMap;

    Scene(const Scene&) = delete;
    Scene& operator=(const Scene&) = delete;

    explicit Scene(int n) : side(n) {
        std::mt19937 rng(7);
        std::uniform_real_distribution<double> jitter(-2.0, 2.0);
        std::uniform_real_distribution<double> unit(0.0, 1.0);
        for (int y = 0; y < n; ++y)
            for (int x = 0; x < n; ++x) {
                const Point q{20.0 + x * kSpacing, 20.0 + y * kSpacing};
                Q.push_back(q);
                P.push_back(Point{q.x + jitter(rng), q.y + jitter(rng)});
            }
        const int width = static_cast<int>(40 + n * kSpacing);
        map.resize(static_cast<size_t>(width) * width);
        for (double& v : map) v = unit(rng);
        scoreMap = ScoreMap{map.data(), width, width};
        finish();
    }

    // The k x k corner of a scene, on the same score map.
    Scene(const Scene& whole, int k) : side(k), map(whole.map) {
        for (int y = 0; y < k; ++y)
            for (int x = 0; x < k; ++x) {
                P.push_back(whole.P[static_cast<size_t>(y * whole.side + x)]);
                Q.push_back(whole.Q[static_cast<size_t>(y * whole.side + x)]);
            }
        scoreMap = ScoreMap{map.data(), whole.scoreMap.rows, whole.scoreMap.cols};
        finish();
    }

private:
    void finish() {
        fixed.assign(P.size(), 0);
        lattice.rows = side;
        lattice.cols = side;
        lattice.positions = P.data();
        lattice.references = Q.data();
        lattice.fixed = fixed.data();
    }
};

const Scene& scene() {
    static const Scene s(regmexbench::smoke() ? 8 : 40);
    return s;
}

const Scene& corner() {
    static const Scene s(scene(), kCorner);
    return s;
}

FieldParams paramsFor(double mode) {
    FieldParams p;
    p.maxProduct = mode == 1.0;
    const int selector = static_cast<int>(mode);
    p.estimator = selector == 1 ? Estimator::ArgMax : selector == 0 ? Estimator::WeightedMean : Estimator::MeanShift;
    p.pairWeight = kLambda;
    p.dataWeight = kBeta;
    p.bandwidth = kBandwidth;
    p.windowHalf = p.estimator == Estimator::MeanShift ? kWindowHalf : 0;
    return p;
}

// The literal pass of one radius and kind of message, run once.
struct LiteralPass {
    const Scene* scene = nullptr;  // the whole lattice or its corner
    literal::Stores stores;
    double seconds = 0.0;          // of the pass, when it ran on the whole lattice
};

const LiteralPass& literalPass(double radius, bool maxProduct) {
    static std::map<std::pair<double, bool>, LiteralPass> cache;
    const auto key = std::make_pair(radius, maxProduct);
    auto it = cache.find(key);
    if (it != cache.end()) return it->second;
    LiteralPass& pass = cache[key];
    const bool whole = radius <= kLiteralRadius;
    pass.scene = whole ? &scene() : &corner();
    const LabelDisc disc = buildLabelDisc(radius);
    const double seconds = regmexbench::medianSeconds(1, [&] {
        pass.stores = literal::passMessages(pass.scene->lattice, pass.scene->scoreMap, disc, maxProduct ? 1.0 : 0.0,
                                            kLambda, kBeta);
    });
    pass.seconds = whole ? seconds : 0.0;
    return pass;
}

std::vector<NodeResult> literalResults(const LiteralPass& pass, double radius, double mode) {
    const Scene& sc = *pass.scene;
    return literal::evaluateNodes(sc.lattice, sc.scoreMap, buildLabelDisc(radius), pass.stores, mode, kBeta,
                                  kBandwidth, kWindowHalf);
}

bool close(double a, double b) {
    if (std::isnan(a) || std::isnan(b)) return std::isnan(a) && std::isnan(b);
    return std::fabs(a - b) <= 1e-12 + 1e-9 * std::max(std::fabs(a), std::fabs(b));
}

int differences(const std::vector<NodeResult>& got, const std::vector<NodeResult>& want) {
    int bad = 0;
    for (size_t n = 0; n < want.size(); ++n)
        bad += !(close(got[n].x, want[n].x) && close(got[n].y, want[n].y) && close(got[n].score, want[n].score));
    return bad;
}

// The product's results against the literal ones; false (and the case
// failed) when any node differs.
bool checkProduct(benchmark::State& state, const LiteralPass& pass, double radius, double mode, int threads) {
    const Scene& sc = *pass.scene;
    const double nan = std::numeric_limits<double>::quiet_NaN();
    std::vector<NodeResult> got(sc.P.size(), NodeResult{nan, nan, nan});
    passMessages(sc.lattice, sc.scoreMap, buildLabelDisc(radius), paramsFor(mode), got.data(), threads);
    const int bad = differences(got, literalResults(pass, radius, mode));
    if (bad) regmexbench::fail(state, std::to_string(bad) + " nodes differ from the literal pass");
    return bad == 0;
}

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
void BM_LiteralHoistedSweep(benchmark::State& state) {
    const Scene& sc = scene();
    const double radius = static_cast<double>(state.range(0));
    const bool maxProduct = state.range(1) != 0;
    const LabelDisc disc = buildLabelDisc(radius);
    const double seconds = regmexbench::timeLoop(state, [&] { hoistedSweeps(sc, disc, maxProduct); });
    state.counters["L"] = disc.count();
    if (radius <= kLiteralRadius) regmexbench::reportRatio(state, "literal", seconds, literalPass(radius, maxProduct).seconds);
}

// Args: radius, maxProduct, threads (0: all).
void BM_ProductSweep(benchmark::State& state) {
    const Scene& sc = scene();
    const double radius = static_cast<double>(state.range(0));
    const bool maxProduct = state.range(1) != 0;
    const int threads = state.range(2) ? static_cast<int>(state.range(2)) : defaultThreadCount();
    const LiteralPass& pass = literalPass(radius, maxProduct);
    if (!checkProduct(state, pass, radius, maxProduct ? 1.0 : 0.0, threads)) return;
    const FieldParams params = paramsFor(maxProduct ? 1.0 : 0.0);
    const LabelDisc disc = buildLabelDisc(radius);
    const double seconds =
        regmexbench::timeLoop(state, [&] { passMessages(sc.lattice, sc.scoreMap, disc, params, nullptr, threads); });
    state.counters["L"] = disc.count();
    state.counters["threads"] = threads;
    if (pass.seconds > 0) regmexbench::reportRatio(state, "literal", seconds, pass.seconds);
}

// The arguments of a call on a scene.
struct CallArgs {
    std::vector<mexhost::ArrayPtr> owned;
    std::vector<const mxArray*> args;

    CallArgs(const Scene& sc, double radius, double mode) {
        const size_t n = static_cast<size_t>(sc.side);
        mexhost::ArrayPtr P = mexhost::cells(n, n), Q = mexhost::cells(n, n);
        for (size_t y = 0; y < n; ++y)
            for (size_t x = 0; x < n; ++x) {
                const Point p = sc.P[y * n + x], q = sc.Q[y * n + x];
                mexhost::setCell(P.get(), y, x, mexhost::matrix(2, 1, {p.x, p.y}).get());
                mexhost::setCell(Q.get(), y, x, mexhost::matrix(2, 1, {q.x, q.y}).get());
            }
        add(std::move(P));
        add(std::move(Q));
        add(mexhost::scalar(kWindowHalf));
        add(mexhost::scalar(mode));
        add(mexhost::scalar(kLambda));
        add(mexhost::scalar(kBeta));
        add(mexhost::scalar(radius));
        add(mexhost::matrix(static_cast<size_t>(sc.scoreMap.rows), static_cast<size_t>(sc.scoreMap.cols), sc.map));
        add(mexhost::scalar(0));
        add(mexhost::scalar(kBandwidth));
        add(mexhost::matrix(n, n, std::vector<double>(n * n, 0.0)));
    }
    void add(mexhost::ArrayPtr a) {
        args.push_back(a.get());
        owned.push_back(std::move(a));
    }
};

// The call's scores and positions against the literal results.
bool checkCall(benchmark::State& state, const mexhost::Plugin& plugin, const LiteralPass& pass, double radius,
               double mode) {
    const Scene& sc = *pass.scene;
    const CallArgs in(sc, radius, mode);
    mexhost::CallResult r = plugin.call(2, in.args);
    if (!r.ok) {
        regmexbench::fail(state, r.errorMessage);
        return false;
    }
    const size_t n = static_cast<size_t>(sc.side);
    std::vector<NodeResult> got(n * n);
    const std::vector<double> scores = mexhost::values(r.outputs[0].get());
    for (size_t y = 0; y < n; ++y)
        for (size_t x = 0; x < n; ++x) {
            const double* p = mxGetPr(mxGetCell(r.outputs[1].get(), y + x * n));
            got[y * n + x] = NodeResult{p[0], p[1], scores[y + x * n]};
        }
    const int bad = differences(got, literalResults(pass, radius, mode));
    if (bad) regmexbench::fail(state, std::to_string(bad) + " nodes of the call differ from the literal pass");
    return bad == 0;
}

// The whole call through mexFunction.  Args: radius, mode (1, 0 or 2).
void BM_Call(benchmark::State& state) {
    const double radius = static_cast<double>(state.range(0));
    const double mode = static_cast<double>(state.range(1));
    mexhost::Plugin plugin(mexhost::pluginPath("driftfield"));
    const LiteralPass& pass = literalPass(radius, mode == 1.0);
    if (!checkCall(state, plugin, pass, radius, mode)) return;
    const CallArgs in(scene(), radius, mode);
    for (auto _ : state) {
        mexhost::CallResult r = plugin.call(2, in.args);
        if (!r.ok) {
            regmexbench::fail(state, r.errorMessage);
            break;
        }
    }
}

}  // namespace

void regmexbench::registerBenchmarks() {
    using benchmark::kMillisecond;
    if (smoke()) {
        benchmark::RegisterBenchmark("BM_LiteralHoistedSweep", BM_LiteralHoistedSweep)->Args({3, 1})->Iterations(1);
        benchmark::RegisterBenchmark("BM_ProductSweep", BM_ProductSweep)
            ->ArgsProduct({{3, 12}, {1, 0}, {1, 0}})->Iterations(1);
        benchmark::RegisterBenchmark("BM_Call", BM_Call)->ArgsProduct({{3, 12}, {1, 0, 2}})->Iterations(1);
        return;
    }
    benchmark::RegisterBenchmark("BM_LiteralHoistedSweep", BM_LiteralHoistedSweep)
        ->ArgsProduct({{5, 10}, {1, 0}})->Unit(kMillisecond)->Iterations(1);
    benchmark::RegisterBenchmark("BM_ProductSweep", BM_ProductSweep)
        ->ArgsProduct({{5, 10, 20}, {1, 0}, {1, 0}})->Unit(kMillisecond);
    benchmark::RegisterBenchmark("BM_Call", BM_Call)->ArgsProduct({{5, 10, 20}, {1, 0, 2}})->Unit(kMillisecond);
}
