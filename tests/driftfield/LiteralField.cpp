#include "LiteralField.h"

#include "Belief.h"
#include "Messages.h"
#include "VectorSearch.h"

#include <cmath>
#include <limits>

namespace literal {

using driftfield::Offset;

std::vector<double> pairMessage(bool senderFixed, const LabelDisc& disc, Point pR, Point pS, Point qR, Point qS,
                                const ScoreMap& map, double mode, double lambda, double beta) {
    const int L = disc.count();
    std::vector<double> m(static_cast<size_t>(L), 0.0);
    const double dx = qR.x - qS.x;
    const double dy = qR.y - qS.y;
    const double D = std::sqrt(dx * dx + dy * dy);
    for (int i = 0; i < L; ++i) {
        const Offset li = disc.offsets[static_cast<size_t>(i)];
        if (senderFixed) {
            const double ex = pR.x + li.dx - qR.x;
            const double ey = pR.y + li.dy - qR.y;
            const double t = std::sqrt(ex * ex + ey * ey) / D;
            m[static_cast<size_t>(i)] = std::exp(-lambda * (t * t));
            continue;
        }
        double best = 0.0;
        double sum = 0.0;
        for (int j = 0; j < L; ++j) {
            const Offset lj = disc.offsets[static_cast<size_t>(j)];
            const double phi = driftfield::sampleScore(map, pS.x + lj.dx - 1.0, pS.y + lj.dy - 1.0, beta);
            const double ex = (pR.x + li.dx) - (pS.x + lj.dx) - dx;
            const double ey = (pR.y + li.dy) - (pS.y + lj.dy) - dy;
            const double t = std::sqrt(ex * ex + ey * ey) / D;
            const double k = phi * std::exp(-lambda * (t * t));
            if (k > best) best = k;
            sum += k;
        }
        m[static_cast<size_t>(i)] = mode == 1.0 ? best : sum;
    }
    return m;
}

Stores passMessages(const LatticeView& lattice, const ScoreMap& map, const LabelDisc& disc, double mode,
                    double lambda, double beta) {
    const int M = lattice.rows;
    const int N = lattice.cols;
    const size_t L = static_cast<size_t>(disc.count());
    const size_t nodes = static_cast<size_t>(M) * static_cast<size_t>(N);
    Stores s;
    for (Store* st : {&s.fromLeft, &s.fromRight, &s.fromAbove, &s.fromBelow})
        st->assign(nodes, std::vector<double>(L, 1.0));
    auto step = [&](Store& store, int ry, int rx, int sy, int sx) {
        const int r = lattice.slot(ry, rx);
        const int snd = lattice.slot(sy, sx);
        if (lattice.fixed[r]) return;
        const std::vector<double> m =
            pairMessage(lattice.fixed[snd] != 0, disc, lattice.positions[r], lattice.positions[snd],
                        lattice.references[r], lattice.references[snd], map, mode, lambda, beta);
        driftfield::normalizedProduct(m.data(), store[static_cast<size_t>(snd)].data(),
                                      store[static_cast<size_t>(r)].data(), static_cast<int>(L));
    };
    for (int y = 0; y < M; ++y)
        for (int x = 1; x < N; ++x) step(s.fromLeft, y, x, y, x - 1);
    for (int y = 0; y < M; ++y)
        for (int x = N - 2; x >= 0; --x) step(s.fromRight, y, x, y, x + 1);
    for (int x = 0; x < N; ++x)
        for (int y = 1; y < M; ++y) step(s.fromAbove, y, x, y - 1, x);
    for (int x = 0; x < N; ++x)
        for (int y = M - 2; y >= 0; --y) step(s.fromBelow, y, x, y + 1, x);
    return s;
}

double gridMeanShift(const LabelDisc& disc, const std::vector<double>& b, double h, int a, Point& c, int* updates) {
    const double h2 = h * h;
    auto density = [&](Point v) {
        double d = 0.0;
        for (size_t m = 0; m < b.size(); ++m) {
            const double ex = disc.offsets[m].dx - v.x;
            const double ey = disc.offsets[m].dy - v.y;
            d += std::exp(-0.5 * (ex * ex + ey * ey) * (1.0 / h2)) * b[m];
        }
        return d;
    };
    std::vector<Point> grid;
    for (int gy = -a; gy <= a && a <= 5; ++gy)
        for (int gx = -a; gx <= a; ++gx) grid.push_back(Point{static_cast<double>(gx), static_cast<double>(gy)});
    int k = 0;
    while (k < 10) {
        if (a > 5) break;  // a grid wider than the box never fits it
        std::vector<Point> V;
        for (const Point& g : grid) V.push_back(Point{g.x + c.x, g.y + c.y});
        bool outside = false;
        for (const Point& v : V) outside = outside || v.x < -5 || v.x > 5 || v.y < -5 || v.y > 5;
        if (outside) break;
        std::vector<double> D;
        for (const Point& v : V) D.push_back(density(v));
        double T = 0.0;
        for (double d : D) T += d;
        for (double& d : D) d = d / T;
        Point next{0.0, 0.0};
        for (size_t n = 0; n < V.size(); ++n) {
            next.x += D[n] * V[n].x;
            next.y += D[n] * V[n].y;
        }
        const double s = (c.x - next.x) * (c.x - next.x) + (c.y - next.y) * (c.y - next.y);
        c = next;
        k = k + 1;
        if (!(s > 0.001)) break;
    }
    if (updates) *updates = k;
    return density(c);
}

namespace {

NodeResult estimate(int selector, const std::vector<double>& b, const LabelDisc& disc, Point P, double h, int a) {
    const int L = disc.count();
    const double nan = std::numeric_limits<double>::quiet_NaN();
    NodeResult r{nan, nan, nan};
    if (selector == 1) {
        int i = -1;
        const double best = vectorsearch::GetMax(b.data(), L, &i);
        if (i >= 0) r = NodeResult{P.x + disc.offsets[static_cast<size_t>(i)].dx, P.y + disc.offsets[static_cast<size_t>(i)].dy, best};
    } else if (selector == 0) {
        const double Sb = vectorsearch::GetSum(b.data(), L);
        std::vector<double> wx(static_cast<size_t>(L));
        std::vector<double> wy(static_cast<size_t>(L));
        double sx = 0.0;
        double sy = 0.0;
        for (size_t i = 0; i < static_cast<size_t>(L); ++i) {
            wx[i] = (disc.offsets[i].dx * b[i]) / Sb;
            wy[i] = (disc.offsets[i].dy * b[i]) / Sb;
            sx += wx[i];
            sy += wy[i];
        }
        const int near = vectorsearch::findClosest(sx, sy, disc.xs.data(), disc.ys.data(), L);
        r = NodeResult{sx + P.x, sy + P.y, near >= 0 ? b[static_cast<size_t>(near)] : nan};
    } else {
        Point c{0.0, 0.0};
        const double density = gridMeanShift(disc, b, h, a, c);
        r = NodeResult{P.x + c.x, P.y + c.y, density};
    }
    if (!std::isfinite(r.x) || !std::isfinite(r.y) || !std::isfinite(r.score)) r = NodeResult{P.x, P.y, nan};
    return r;
}

}  // namespace

std::vector<NodeResult> evaluateNodes(const LatticeView& lattice, const ScoreMap& map, const LabelDisc& disc,
                                      const Stores& stores, double mode, double beta, double h, int a,
                                      Beliefs* beliefs) {
    const int L = disc.count();
    const double nan = std::numeric_limits<double>::quiet_NaN();
    std::vector<NodeResult> out(static_cast<size_t>(lattice.rows) * static_cast<size_t>(lattice.cols),
                                NodeResult{nan, nan, nan});
    if (beliefs) beliefs->assign(out.size(), {});
    for (int y = 0; y < lattice.rows; ++y) {
        for (int x = 0; x < lattice.cols; ++x) {
            const size_t n = static_cast<size_t>(lattice.slot(y, x));
            if (lattice.fixed[n]) continue;
            const Point P = lattice.positions[n];
            std::vector<double> phi(static_cast<size_t>(L));
            for (size_t i = 0; i < phi.size(); ++i)
                phi[i] = driftfield::sampleScore(map, P.x + disc.offsets[i].dx - 1.0, P.y + disc.offsets[i].dy - 1.0,
                                                 beta);
            std::vector<double> b(static_cast<size_t>(L));
            driftfield::normalizedProduct(stores.fromAbove[n].data(), stores.fromBelow[n].data(), b.data(), L);
            driftfield::normalizedProductInPlace(stores.fromLeft[n].data(), b.data(), L);
            driftfield::normalizedProductInPlace(stores.fromRight[n].data(), b.data(), L);
            driftfield::normalizedProductInPlace(phi.data(), b.data(), L);
            double sum = 0.0;
            for (double v : b) sum += v;
            for (double& v : b) v = v / sum;
            out[n] = estimate(static_cast<int>(mode), b, disc, P, h, a);
            if (beliefs) (*beliefs)[n] = b;
        }
    }
    return out;
}

std::vector<NodeResult> refine(const LatticeView& lattice, const ScoreMap& map, double radius, double mode,
                               double lambda, double beta, double h, int a, Beliefs* beliefs) {
    const LabelDisc disc = driftfield::buildLabelDisc(radius);
    const Stores stores = passMessages(lattice, map, disc, mode, lambda, beta);
    return evaluateNodes(lattice, map, disc, stores, mode, beta, h, a, beliefs);
}

}  // namespace literal
