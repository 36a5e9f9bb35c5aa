// Thin-plate spline pair over one set of control points.
//
// A coefficient vector holds K kernel weights, then a0, ax, ay.  The kernel
// takes the squared distance d: U(d) = d * ln(d + 2.2204e-16), which is 0 at
// a control point.  All arithmetic is in double.
#ifndef REGMEX_WARPMATCH_SPLINE_H
#define REGMEX_WARPMATCH_SPLINE_H

#include <cmath>

namespace warpmatch {

// Just below the double epsilon; keeps the logarithm finite at d = 0.
constexpr double kTpsGuard = 2.2204e-16;

// Control points and the coefficients of the x and y splines, all borrowed.
struct SplinePair {
    const double* coefX;  // K + 3 values
    const double* coefY;  // K + 3 values
    const double* ctrlX;  // K values
    const double* ctrlY;  // K values
    int K;
};

// Table of countA * countB squared distances; entry i * countB + j belongs to
// point i of the first set and point j of the second.  Allocated with malloc
// (the caller frees it); null when the allocation fails.
double* dist2(const double* xa, const double* ya, int countA,
              const double* xb, const double* yb, int countB);

// out[i] = squared distance of point i to (px, py), i < count.
void dist2(const double* xs, const double* ys, int count, double px, double py, double* out);

inline double tpsKernel(double d) { return d * std::log(d + kTpsGuard); }

// One spline at (x, y), given the K squared distances d[0], d[stride], ...
double tpsEval(const double* coef, const double* d, int stride, int K, double x, double y);

// Both splines at (x, y).  Each distance and kernel value is computed once
// and used for both sums, so the values equal two tpsEval calls bit for bit
// at half the logarithms.
void tpsEvalPair(const SplinePair& s, double x, double y, double* vx, double* vy);

}  // namespace warpmatch

#endif
