#include "Spline.h"

#include <cmath>
#include <cstdlib>

namespace warpmatch {

double* dist2(const double* xa, const double* ya, int countA,
              const double* xb, const double* yb, int countB) {
    size_t rows = countA > 0 ? static_cast<size_t>(countA) : 0;
    size_t cols = countB > 0 ? static_cast<size_t>(countB) : 0;
    // Never ask malloc for 0 bytes: a null result must mean failure.
    double* table = static_cast<double*>(std::malloc(rows * cols * sizeof(double) + 1));
    if (!table) return nullptr;
    for (size_t i = 0; i < rows; ++i) {
        double* row = table + i * cols;
        for (size_t j = 0; j < cols; ++j) {
            double dx = xa[i] - xb[j];
            double dy = ya[i] - yb[j];
            row[j] = dx * dx + dy * dy;
        }
    }
    return table;
}

void dist2(const double* xs, const double* ys, int count, double px, double py, double* out) {
    for (int i = 0; i < count; ++i) {
        double dx = xs[i] - px;
        double dy = ys[i] - py;
        out[i] = dx * dx + dy * dy;
    }
}

double tpsEval(const double* coef, const double* d, int stride, int K, double x, double y) {
    double a0 = coef[K], ax = coef[K + 1], ay = coef[K + 2];
    double affine = (ax * x + a0) + ay * y;
    double sum = 0.0;
    for (int k = 0; k < K; ++k) sum += coef[k] * tpsKernel(d[static_cast<size_t>(k) * stride]);
    return sum + affine;
}

void tpsEvalPair(const SplinePair& s, double x, double y, double* vx, double* vy) {
    const int K = s.K;
    const double* wx = s.coefX;
    const double* wy = s.coefY;
    double sumX = 0.0, sumY = 0.0;
    for (int k = 0; k < K; ++k) {
        double dx = s.ctrlX[k] - x;
        double dy = s.ctrlY[k] - y;
        double u = tpsKernel(dx * dx + dy * dy);
        sumX += wx[k] * u;
        sumY += wy[k] * u;
    }
    *vx = sumX + ((wx[K + 1] * x + wx[K]) + wx[K + 2] * y);
    *vy = sumY + ((wy[K + 1] * x + wy[K]) + wy[K + 2] * y);
}

}  // namespace warpmatch
