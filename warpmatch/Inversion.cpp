#include "Inversion.h"

#include "SplineKernel.h"

#include <cmath>
#include <limits>

namespace warpmatch {

namespace {

constexpr int kCandidates = kGridSide * kGridSide;

bool stopped(const std::atomic<bool>* stop) { return stop && stop->load(std::memory_order_relaxed); }

// One point.  The candidate of grid index (a, b) stands at
// (x0 - s + a*h, y0 - s + b*h); a runs slowest, so ties keep the smaller a,
// then the smaller b.  False when stopped before the point was finished.
bool invertPoint(const InversionInput& in, int k, double* outX, double* outY,
                 const std::atomic<bool>* stop) {
    double x0 = std::floor(in.spline.ctrlX[k] + 0.5);
    double y0 = std::floor(in.spline.ctrlY[k] + 0.5);
    const double tx = in.targetX[k];
    const double ty = in.targetY[k];
    for (double s = kStartHalfWidth; s >= kMinHalfWidth; s *= 0.5) {
        // With K in the thousands one level is already a few milliseconds of work.
        if (stopped(stop)) return false;
        const double h = s / 5;
        double xs[kCandidates], ys[kCandidates], vx[kCandidates], vy[kCandidates];
        for (int a = 0; a < kGridSide; ++a)
            for (int b = 0; b < kGridSide; ++b) {
                xs[a * kGridSide + b] = x0 - s + a * h;
                ys[a * kGridSide + b] = y0 - s + b * h;
            }
        // All 121 candidates in one pass, so that they fill the vector lanes.
        tpsEvalPairs(in.spline, xs, ys, kCandidates, vx, vy);
        int best = -1;
        double bestScore = kNoScore;
        for (int c = 0; c < kCandidates; ++c) {
            const double score = std::fabs(vx[c] - tx) + std::fabs(vy[c] - ty);
            if (score < bestScore) {
                bestScore = score;
                best = c;
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
    for (int k = start; k < end; ++k)
        if (!invertPoint(in, k, &outX[k], &outY[k], stop)) return;
}

}  // namespace warpmatch
