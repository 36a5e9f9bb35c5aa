#include "MeanShift.h"

#include <cmath>

namespace driftfield {

namespace {

constexpr int kMaxUpdates = 10;
constexpr double kBox = 5.0;
constexpr double kConverged = 0.001;
// A grid wider than the box (a >= 6) can never be inside it, so the grid
// buffers need at most (2*5 + 1)^2 entries.
constexpr int kLargestFittingHalf = 5;
constexpr int kGridSide = 2 * kLargestFittingHalf + 1;
constexpr int kGridCapacity = kGridSide * kGridSide;
// Below this every term is near or in the subnormal range, where the two
// ways of forming a density round differently.
constexpr double kTinyDensity = 1.0e-280;

// The grid's extreme candidates decide the box test.
bool gridLeavesBox(int a, Point c) {
    if (a < 0) return false;
    const double ad = a;
    return -ad + c.x < -kBox || ad + c.x > kBox || -ad + c.y < -kBox || ad + c.y > kBox;
}

double gaussian(double e, double invH2) { return std::exp(-0.5 * (e * e) * invH2); }

// density[(gy + a)*(2a+1) + gx + a] for the candidates (gx + c.x, gy + c.y);
// returns the largest.
double separableDensities(const LabelDisc& disc, const double* belief, double invH2, int a, Point c,
                          MeanShiftScratch& s, double* density) {
    const int side = 2 * a + 1;
    const int W = disc.width();
    const size_t w = static_cast<size_t>(W);
    for (int g = 0; g < side; ++g) {
        const double vx = static_cast<double>(g - a) + c.x;
        const double vy = static_cast<double>(g - a) + c.y;
        for (int k = 0; k < W; ++k) {
            const double l = static_cast<double>(k - disc.reach);
            s.xFactor[static_cast<size_t>(g) * w + static_cast<size_t>(k)] = gaussian(l - vx, invH2);
            s.yFactor[static_cast<size_t>(g) * w + static_cast<size_t>(k)] = gaussian(l - vy, invH2);
        }
    }
    for (int gy = 0; gy < side; ++gy) {
        const double* fy = s.yFactor.data() + static_cast<size_t>(gy) * w;
        double* sum = s.columnSum.data() + static_cast<size_t>(gy) * w;
        for (int k = 0; k < W; ++k) {
            const int h = disc.columnHalf[static_cast<size_t>(k)];
            const double* b = belief + disc.columnFirst[static_cast<size_t>(k)];
            const double* f = fy + (disc.reach - h);
            double acc = 0.0;
            for (int t = 0; t <= 2 * h; ++t) acc += f[t] * b[t];
            sum[k] = acc;
        }
    }
    double largest = 0.0;
    for (int gy = 0; gy < side; ++gy) {
        const double* sum = s.columnSum.data() + static_cast<size_t>(gy) * w;
        for (int gx = 0; gx < side; ++gx) {
            const double* fx = s.xFactor.data() + static_cast<size_t>(gx) * w;
            double acc = 0.0;
            for (int k = 0; k < W; ++k) acc += fx[k] * sum[k];
            density[gy * side + gx] = acc;
            if (acc > largest) largest = acc;
        }
    }
    return largest;
}

}  // namespace

double MeanShiftScratch::doublesFor(double width) { return 3.0 * kGridSide * width; }

MeanShiftScratch::MeanShiftScratch(const LabelDisc& disc) {
    const size_t n = static_cast<size_t>(kGridSide) * static_cast<size_t>(disc.reach >= 0 ? disc.width() : 0);
    xFactor.resize(n);
    yFactor.resize(n);
    columnSum.resize(n);
}

double meanShiftDensity(const LabelDisc& disc, const double* belief, double invH2, Point v) {
    double d = 0.0;
    const int L = disc.count();
    for (int m = 0; m < L; ++m) {
        const double ex = disc.xs[static_cast<size_t>(m)] - v.x;
        const double ey = disc.ys[static_cast<size_t>(m)] - v.y;
        d += std::exp(-0.5 * (ex * ex + ey * ey) * invH2) * belief[m];
    }
    return d;
}

double gridMeanShift(const LabelDisc& disc, const double* belief, double h, int a, Point& c,
                     MeanShiftScratch& scratch) {
    const double h2 = h * h;
    const double invH2 = 1.0 / h2;
    Point candidates[kGridCapacity];
    double density[kGridCapacity];
    for (int k = 0; k < kMaxUpdates; ++k) {
        // A wider grid never fits the box; the first test also keeps the
        // buffers safe should c be NaN.
        if (a > kLargestFittingHalf || gridLeavesBox(a, c)) break;
        int n = 0;
        for (int gy = -a; gy <= a; ++gy)
            for (int gx = -a; gx <= a; ++gx) candidates[n++] = Point{gx + c.x, gy + c.y};
        if (n > 0 && disc.count() > 0 && !(separableDensities(disc, belief, invH2, a, c, scratch, density) >= kTinyDensity))
            for (int i = 0; i < n; ++i) density[i] = meanShiftDensity(disc, belief, invH2, candidates[i]);
        double total = 0.0;
        for (int i = 0; i < n; ++i) total += density[i];
        for (int i = 0; i < n; ++i) density[i] /= total;
        Point next{0.0, 0.0};
        for (int i = 0; i < n; ++i) {
            next.x += density[i] * candidates[i].x;
            next.y += density[i] * candidates[i].y;
        }
        const double s = (c.x - next.x) * (c.x - next.x) + (c.y - next.y) * (c.y - next.y);
        c = next;
        if (!(s > kConverged)) break;
    }
    return meanShiftDensity(disc, belief, invH2, c);
}

}  // namespace driftfield
