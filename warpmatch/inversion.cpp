#include "inversion.h"

#include <cmath>
#include <limits>

namespace {

// One point.  The candidate of grid index (a, b) stands at
// (x0 - s + a*h, y0 - s + b*h); a runs slowest, so ties keep the smaller a,
// then the smaller b.
void invertPoint(const InversionInput& in, int k, double* outX, double* outY) {
    double x0 = std::floor(in.spline.ctrlX[k] + 0.5);
    double y0 = std::floor(in.spline.ctrlY[k] + 0.5);
    const double tx = in.targetX[k];
    const double ty = in.targetY[k];
    for (double s = kStartHalfWidth; s >= kMinHalfWidth; s *= 0.5) {
        const double h = s / 5;
        int best = -1;
        double bestScore = kNoScore;
        for (int a = 0; a < kGridSide; ++a) {
            const double cx = x0 - s + a * h;
            for (int b = 0; b < kGridSide; ++b) {
                const double cy = y0 - s + b * h;
                double vx, vy;
                tpsEvalPair(in.spline, cx, cy, &vx, &vy);
                double score = std::fabs(vx - tx) + std::fabs(vy - ty);
                if (score < bestScore) {
                    bestScore = score;
                    best = a * kGridSide + b;
                }
            }
        }
        if (best < 0) {
            *outX = *outY = std::numeric_limits<double>::quiet_NaN();
            return;
        }
        x0 = x0 + (best / kGridSide - 5) * h;
        y0 = y0 + (best % kGridSide - 5) * h;
    }
    *outX = x0;
    *outY = y0;
}

}  // namespace

void invertRange(const InversionInput& in, int start, int end, double* outX, double* outY) {
    for (int k = start; k < end; ++k) invertPoint(in, k, &outX[k], &outY[k]);
}
