#include "Messages.h"

#include "Belief.h"
#include "Parallel.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <memory>

namespace driftfield {

void normalizedProduct(const double* a, const double* b, double* out, int L) {
    double sa = 0.0;
    double sb = 0.0;
    for (int k = 0; k < L; ++k) sa += a[k];
    for (int k = 0; k < L; ++k) sb += b[k];
    if (!(sa >= kProductFloor)) sa = kProductFloor;
    if (!(sb >= kProductFloor)) sb = kProductFloor;
    double t = 0.0;
    for (int k = 0; k < L; ++k) {
        out[k] = (a[k] / sa) * (b[k] / sb);
        t += out[k];
    }
    if (!(t >= kProductFloor)) t = kProductFloor;
    for (int k = 0; k < L; ++k) out[k] /= t;
}

void normalizedProductInPlace(const double* a, double* b, int L) { normalizedProduct(a, b, b, L); }

MessageScratch::MessageScratch(const LabelDisc& disc) {
    const size_t w = static_cast<size_t>(disc.reach >= 0 ? disc.width() : 0);
    rowFactor.resize(w * w);
    columnFactor.resize(w * w);
    partial.resize(w * w);
    diagonal.resize(w > 0 ? 4 * w - 2 : 0);
}

namespace {

// Past these magnitudes squares of displacements could overflow, in one form
// and not the other.
constexpr double kSafeMagnitude = 1.0e150;

double squared(double v) { return v * v; }

void literalPairMessage(const LabelDisc& disc, Point pR, Point pS, Point d, double D, const double* phi,
                        bool maxProduct, double lambda, double* out) {
    const int L = disc.count();
    for (int i = 0; i < L; ++i) {
        const Offset& li = disc.offsets[static_cast<size_t>(i)];
        double m = 0.0;
        for (int j = 0; j < L; ++j) {
            const Offset& lj = disc.offsets[static_cast<size_t>(j)];
            const double ex = (pR.x + li.dx) - (pS.x + lj.dx) - d.x;
            const double ey = (pR.y + li.dy) - (pS.y + lj.dy) - d.y;
            const double k = phi[j] * std::exp(-lambda * squared(std::sqrt(ex * ex + ey * ey) / D));
            if (maxProduct) {
                if (k > m) m = k;
            } else {
                m += k;
            }
        }
        out[i] = m;
    }
}

// factor[i*W + j] = exp(-lambda * (e/D)^2) for the axis displacement
// e = (receiver + i - reach) - (sender + j - reach) - d, formed exactly as the
// pair-by-pair kernel forms it.  e usually depends on i - j alone (whenever
// the additions are exact), so the exponential of a diagonal's first element
// serves every element of the diagonal with the very same e.  False when a
// displacement is out of the safe range.
bool axisFactor(double receiver, double sender, double d, double D, double lambda, int reach, bool transposed,
                std::vector<double>& factor, std::vector<double>& diagonal) {
    const int W = 2 * reach + 1;
    double* diagE = diagonal.data();
    double* diagG = diagonal.data() + (2 * W - 1);
    for (int i = 0; i < W; ++i) {
        const double a = receiver + static_cast<double>(i - reach);
        // Element (i, j) at i*W + j, or at j*W + i when transposed.
        const size_t step = transposed ? static_cast<size_t>(W) : 1;
        double* row = factor.data() + static_cast<size_t>(i) * (transposed ? 1 : static_cast<size_t>(W));
        for (int j = 0; j < W; ++j) {
            const double e = a - (sender + static_cast<double>(j - reach)) - d;
            const double t = e / D;
            if (!(std::fabs(e) <= kSafeMagnitude) || !(std::fabs(t) <= kSafeMagnitude)) return false;
            const int k = i - j + W - 1;
            if (i == 0 || j == 0) {
                diagE[k] = e;
                diagG[k] = std::exp(-lambda * (t * t));
                row[j * step] = diagG[k];
            } else {
                row[j * step] = e == diagE[k] ? diagG[k] : std::exp(-lambda * (t * t));
            }
        }
    }
    return true;
}

// acc := acc + v, or the larger of the two (v on a strict improvement).
template <bool kMax>
inline double combine(double acc, double v) {
    if (kMax) return v > acc ? v : acc;
    return acc + v;
}

// Both passes run along contiguous rows, one accumulator per output element,
// so each element is still formed in a fixed order and the loops vectorise.
template <bool kMax>
void separablePass(const LabelDisc& disc, const double* phi, MessageScratch& s, double* out) {
    const int reach = disc.reach;
    const int W = 2 * reach + 1;
    const size_t w = static_cast<size_t>(W);
    // Pass 1, down each sender column k: partial[k][iy] combines the column's
    // likelihoods with the y factors of receiver row iy.
    for (int k = 0; k < W; ++k) {
        const int h = disc.columnHalf[static_cast<size_t>(k)];
        const double* ph = phi + disc.columnFirst[static_cast<size_t>(k)];
        double* acc = s.partial.data() + static_cast<size_t>(k) * w;
        for (int iy = 0; iy < W; ++iy) acc[iy] = 0.0;
        for (int t = 0; t <= 2 * h; ++t) {
            const double c = ph[t];
            const double* g = s.rowFactor.data() + static_cast<size_t>(reach - h + t) * w;  // [jy][iy]
            for (int iy = 0; iy < W; ++iy) acc[iy] = combine<kMax>(acc[iy], c * g[iy]);
        }
    }
    // Pass 2, across the sender columns, for each receiver column at once.
    for (int ix = 0; ix < W; ++ix) {
        const int h = disc.columnHalf[static_cast<size_t>(ix)];
        double* acc = out + disc.columnFirst[static_cast<size_t>(ix)];
        const int n = 2 * h + 1;
        for (int t = 0; t < n; ++t) acc[t] = 0.0;
        const double* g = s.columnFactor.data() + static_cast<size_t>(ix) * w;  // [ix][jx]
        for (int k = 0; k < W; ++k) {
            const double c = g[k];
            const double* p = s.partial.data() + static_cast<size_t>(k) * w + static_cast<size_t>(reach - h);
            for (int t = 0; t < n; ++t) acc[t] = combine<kMax>(acc[t], c * p[t]);
        }
    }
}

}  // namespace

void pairMessage(bool senderFixed, const LabelDisc& disc, Point pR, Point pS, Point qR, Point qS,
                 const double* senderLikelihoods, bool maxProduct, double lambda, MessageScratch& scratch,
                 double* out) {
    const int L = disc.count();
    const Point d{qR.x - qS.x, qR.y - qS.y};
    const double D = std::sqrt(d.x * d.x + d.y * d.y);
    if (senderFixed) {
        for (int i = 0; i < L; ++i) {
            const Offset& li = disc.offsets[static_cast<size_t>(i)];
            const double ex = pR.x + li.dx - qR.x;
            const double ey = pR.y + li.dy - qR.y;
            out[i] = std::exp(-lambda * squared(std::sqrt(ex * ex + ey * ey) / D));
        }
        return;
    }
    bool separable = std::isfinite(lambda) && lambda >= 0.0 && D > 0.0 && std::isfinite(D);
    for (int j = 0; separable && j < L; ++j) separable = std::isfinite(senderLikelihoods[j]);
    separable = separable &&
                axisFactor(pR.x, pS.x, d.x, D, lambda, disc.reach, false, scratch.columnFactor, scratch.diagonal) &&
                axisFactor(pR.y, pS.y, d.y, D, lambda, disc.reach, true, scratch.rowFactor, scratch.diagonal);
    if (!separable) {
        literalPairMessage(disc, pR, pS, d, D, senderLikelihoods, maxProduct, lambda, out);
        return;
    }
    if (maxProduct)
        separablePass<true>(disc, senderLikelihoods, scratch, out);
    else
        separablePass<false>(disc, senderLikelihoods, scratch, out);
}

int defaultThreadCount() { return parallel::coreCount(); }

namespace {

struct Workspace {
    explicit Workspace(const LabelDisc& disc)
        : scratch(disc),
          message(static_cast<size_t>(disc.count())),
          runA(static_cast<size_t>(disc.count())),
          runB(static_cast<size_t>(disc.count())),
          belief(static_cast<size_t>(disc.count())),
          meanShift(disc) {}
    MessageScratch scratch;
    std::vector<double> message;
    std::vector<double> runA;
    std::vector<double> runB;
    std::vector<double> belief;
    MeanShiftScratch meanShift;
};

// Hands lines 0 .. count-1 to the pool's workers one at a time, the calling
// thread among them.  Should a thread fail to start (no thread, or no memory
// for its state), the ones running (at least the calling thread) take its
// share.
template <typename Work>
void forEachLine(int count, std::vector<Workspace>& spaces, parallel::Pool& pool, Work work) {
    std::atomic<int> next{0};
    // The stop is looked at before a line is taken, so the calling thread
    // asks at least once however quickly the others take every line.
    auto run = [&](Workspace& space) {
        while (!pool.stopping()) {
            const int line = next.fetch_add(1);
            if (line >= count) break;
            work(line, space);
        }
    };
    const size_t wanted = std::min(spaces.size(), static_cast<size_t>(count > 0 ? count : 1));
    pool.start(1, static_cast<int>(wanted), [&](int t) { run(spaces[static_cast<size_t>(t)]); });
    run(spaces[0]);
    pool.wait();
}

}  // namespace

double passMemoryBytes(double nodes, double L, double width, int threads) {
    const double d = sizeof(double);
    const double stores = 4.0 * nodes * L * d;
    const double disc = L * (sizeof(Offset) + 2.0 * d) + 2.0 * width * sizeof(int);
    const double scratch = (3.0 * width * width + 4.0 * width) * d;  // MessageScratch
    const double vectors = 4.0 * L * d;                                // message, runs, belief
    const double meanShift = MeanShiftScratch::doublesFor(width) * d;
    return stores + disc + threads * (scratch + vectors + meanShift);
}

namespace {

// A store of L doubles per node, left unset: each sweep sets the slots of its
// own line as it takes the line, so that no pass spends its first moments
// filling hundreds of megabytes before it can notice a stop, and the pages
// are first touched by the workers that use them.
std::unique_ptr<double[]> unsetStore(size_t doubles) { return std::unique_ptr<double[]>(new double[doubles]); }

}  // namespace

bool passMessages(const LatticeView& lattice, const ScoreMap& map, const LabelDisc& disc, const FieldParams& params,
                  NodeResult* results, int threads, const std::function<bool()>& shouldStop) {
    const int M = lattice.rows;
    const int N = lattice.cols;
    const int L = disc.count();
    if (M <= 0 || N <= 0 || L <= 0) return true;
    parallel::Pool pool(shouldStop);
    if (pool.stopping()) return false;
    const size_t nodes = static_cast<size_t>(M) * static_cast<size_t>(N);
    const size_t stride = static_cast<size_t>(L);

    // Likelihoods are set for free nodes only, and only those are read.
    const std::unique_ptr<double[]> likelihood = unsetStore(nodes * stride);
    const std::unique_ptr<double[]> fromLeft = unsetStore(nodes * stride);
    const std::unique_ptr<double[]> fromRight = unsetStore(nodes * stride);
    const std::unique_ptr<double[]> fromAbove = unsetStore(nodes * stride);
    // fromBelow is never stored: the last sweep evaluates each node as soon
    // as its message from below is known.
    std::vector<Workspace> spaces;
    const int workers = std::max(1, threads);
    spaces.reserve(static_cast<size_t>(workers));
    for (int t = 0; t < workers && !pool.stopping(); ++t) spaces.emplace_back(disc);
    if (pool.stopped()) return false;

    const Point* P = lattice.positions;
    const Point* Q = lattice.references;
    const unsigned char* fixed = lattice.fixed;
    auto at = [stride](const std::unique_ptr<double[]>& v, int slot) {
        return v.get() + static_cast<size_t>(slot) * stride;
    };
    auto step = [&](int receiver, int sender, const double* senderStore, double* receiverStore, Workspace& w) {
        pairMessage(fixed[sender] != 0, disc, P[receiver], P[sender], Q[receiver], Q[sender], at(likelihood, sender),
                    params.maxProduct, params.pairWeight, w.scratch, w.message.data());
        normalizedProduct(w.message.data(), senderStore, receiverStore, L);
    };

    // Every message starts as 1 (a first node's, a fixed node's stay so).
    forEachLine(M, spaces, pool, [&](int y, Workspace& w) {
        for (int x = 0; x < N && !pool.stopping(); ++x) {
            const int n = lattice.slot(y, x);
            std::fill(at(fromLeft, n), at(fromLeft, n) + L, 1.0);
            std::fill(at(fromRight, n), at(fromRight, n) + L, 1.0);
            if (!fixed[n]) discLikelihoods(map, disc, P[n], params.dataWeight, at(likelihood, n));
        }
        for (int x = 1; x < N && !pool.stopping(); ++x) {
            const int r = lattice.slot(y, x);
            const int s = lattice.slot(y, x - 1);
            if (!fixed[r]) step(r, s, at(fromLeft, s), at(fromLeft, r), w);
        }
        for (int x = N - 2; x >= 0 && !pool.stopping(); --x) {
            const int r = lattice.slot(y, x);
            const int s = lattice.slot(y, x + 1);
            if (!fixed[r]) step(r, s, at(fromRight, s), at(fromRight, r), w);
        }
    });
    if (pool.stopped()) return false;

    forEachLine(N, spaces, pool, [&](int x, Workspace& w) {
        for (int y = 0; y < M && !pool.stopping(); ++y) {
            const int n = lattice.slot(y, x);
            std::fill(at(fromAbove, n), at(fromAbove, n) + L, 1.0);
        }
        for (int y = 1; y < M && !pool.stopping(); ++y) {
            const int r = lattice.slot(y, x);
            const int s = lattice.slot(y - 1, x);
            if (!fixed[r]) step(r, s, at(fromAbove, s), at(fromAbove, r), w);
        }
        double* below = w.runA.data();  // fromBelow of the node under the current one
        double* current = w.runB.data();
        for (int y = M - 1; y >= 0 && !pool.stopping(); --y) {
            const int r = lattice.slot(y, x);
            if (y == M - 1 || fixed[r])
                std::fill(current, current + L, 1.0);
            else
                step(r, lattice.slot(y + 1, x), below, current, w);
            if (results && !fixed[r])
                results[r] = evaluateNode(at(fromAbove, r), current, at(fromLeft, r), at(fromRight, r),
                                          at(likelihood, r), disc, P[r], params, w.belief.data(), w.meanShift);
            std::swap(below, current);
        }
    });
    return !pool.stopped();
}

bool moveNodes(const LatticeView& lattice, const ScoreMap& map, double radius, const FieldParams& params,
               NodeResult* results, int threads, const std::function<bool()>& shouldStop) {
    bool stopped = false;
    const std::function<bool()> stopDisc = [&] { return stopped = shouldStop && shouldStop(); };
    const LabelDisc disc = buildLabelDisc(radius, stopDisc);
    if (stopped) return false;
    return passMessages(lattice, map, disc, params, results, threads, shouldStop);
}

}  // namespace driftfield
