#include "Inversion.h"

#include <cmath>
#include <limits>

namespace warpmatch {

namespace {

// Control points are taken in blocks so that the scratch stays small and in
// cache whatever K is; each candidate's sums still run over k in increasing
// order, so the values equal tpsEval's bit for bit.
constexpr int kBlock = 128;

// One worker's scratch, kept for its whole range.
struct Scratch {
    double dx2[kBlock];                     // (ctrlX[k] - x)^2 for one grid column
    double dy2[kGridSide][kBlock];          // (ctrlY[k] - y)^2 for every grid row
    double kernel[kBlock][kGridSide];       // U(d) of one grid column, candidates innermost
    double sumX[kGridSide], sumY[kGridSide];
};

// Both spline values at the 11 candidates (x, ys[b]) of one grid column.
void evaluateColumn(const SplinePair& s, double x, const double* ys, Scratch& w, double* vx, double* vy) {
    for (int b = 0; b < kGridSide; ++b) w.sumX[b] = w.sumY[b] = 0.0;
    for (int k0 = 0; k0 < s.K; k0 += kBlock) {
        const int n = s.K - k0 < kBlock ? s.K - k0 : kBlock;
        const double* cx = s.ctrlX + k0;
        const double* cy = s.ctrlY + k0;
        for (int k = 0; k < n; ++k) {
            const double dx = cx[k] - x;
            w.dx2[k] = dx * dx;
        }
        for (int b = 0; b < kGridSide; ++b)
            for (int k = 0; k < n; ++k) {
                const double dy = cy[k] - ys[b];
                w.kernel[k][b] = tpsKernel(w.dx2[k] + dy * dy);
            }
        // Eleven independent sums per spline, so no addition waits on the last.
        const double* wx = s.coefX + k0;
        const double* wy = s.coefY + k0;
        for (int k = 0; k < n; ++k)
            for (int b = 0; b < kGridSide; ++b) {
                w.sumX[b] += wx[k] * w.kernel[k][b];
                w.sumY[b] += wy[k] * w.kernel[k][b];
            }
    }
    const int K = s.K;
    for (int b = 0; b < kGridSide; ++b) {
        vx[b] = w.sumX[b] + ((s.coefX[K + 1] * x + s.coefX[K]) + s.coefX[K + 2] * ys[b]);
        vy[b] = w.sumY[b] + ((s.coefY[K + 1] * x + s.coefY[K]) + s.coefY[K + 2] * ys[b]);
    }
}

bool stopped(const std::atomic<bool>* stop) { return stop && stop->load(std::memory_order_relaxed); }

// One point.  The candidate of grid index (a, b) stands at
// (x0 - s + a*h, y0 - s + b*h); a runs slowest, so ties keep the smaller a,
// then the smaller b.  False when stopped before the point was finished.
bool invertPoint(const InversionInput& in, int k, Scratch& w, double* outX, double* outY,
                 const std::atomic<bool>* stop) {
    double x0 = std::floor(in.spline.ctrlX[k] + 0.5);
    double y0 = std::floor(in.spline.ctrlY[k] + 0.5);
    const double tx = in.targetX[k];
    const double ty = in.targetY[k];
    for (double s = kStartHalfWidth; s >= kMinHalfWidth; s *= 0.5) {
        const double h = s / 5;
        double ys[kGridSide];
        for (int b = 0; b < kGridSide; ++b) ys[b] = y0 - s + b * h;
        int best = -1;
        double bestScore = kNoScore;
        for (int a = 0; a < kGridSide; ++a) {
            // With K in the thousands one column is already a millisecond of work.
            if (stopped(stop)) return false;
            double vx[kGridSide], vy[kGridSide];
            evaluateColumn(in.spline, x0 - s + a * h, ys, w, vx, vy);
            for (int b = 0; b < kGridSide; ++b) {
                const double score = std::fabs(vx[b] - tx) + std::fabs(vy[b] - ty);
                if (score < bestScore) {
                    bestScore = score;
                    best = a * kGridSide + b;
                }
            }
        }
        if (best < 0) {
            *outX = *outY = std::numeric_limits<double>::quiet_NaN();
            return true;
        }
        x0 = x0 + (best / kGridSide - 5) * h;
        y0 = y0 + (best % kGridSide - 5) * h;
    }
    *outX = x0;
    *outY = y0;
    return true;
}

}  // namespace

void invertRange(const InversionInput& in, int start, int end, double* outX, double* outY,
                 const std::atomic<bool>* stop) {
    Scratch scratch;  // about 24 KB, on the worker's own stack
    for (int k = start; k < end; ++k)
        if (!invertPoint(in, k, scratch, &outX[k], &outY[k], stop)) return;
}

}  // namespace warpmatch
