// Coarse-to-fine inversion of a spline pair: for each control point, the
// output-frame position whose image under the pair comes closest (L1) to the
// point's target, found by a greedy 11x11 grid search that halves its window
// from 64 pixels down to 0.015625 (13 levels).
#ifndef REGMEX_WARPMATCH_INVERSION_H
#define REGMEX_WARPMATCH_INVERSION_H

#include "Spline.h"

#include <atomic>

namespace warpmatch {

constexpr int kGridSide = 11;
constexpr double kStartHalfWidth = 64.0;
constexpr double kMinHalfWidth = 0.01;
constexpr double kNoScore = 1000000.0;

struct InversionInput {
    SplinePair spline;
    const double* targetX;  // K values
    const double* targetY;  // K values
};

// Inverts points start .. end-1 into outX/outY.  A point for which some level
// has no candidate scoring below 1,000,000 (NaN coefficients or coordinates)
// gets NaN for x and y.  Allocates nothing.  Once *stop is set (checked
// between levels, every 121*K kernel values) it returns, leaving the
// points not finished as they were.
void invertRange(const InversionInput& in, int start, int end, double* outX, double* outY,
                 const std::atomic<bool>* stop = nullptr);

}  // namespace warpmatch

#endif
