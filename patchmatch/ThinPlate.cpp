#include "ThinPlate.h"

#include "Parallel.h"

#include <cmath>

namespace patchmatch {

void ThinPlate::at(double x, double y, double* tx, double* ty) const {
    double sx = coefX[K] + coefX[K + 1] * x + coefX[K + 2] * y;
    double sy = coefY[K] + coefY[K + 1] * x + coefY[K + 2] * y;
    for (int k = 0; k < K; ++k) {
        const double ex = ctrl[2 * k] - x;
        const double ey = ctrl[2 * k + 1] - y;
        const double d = ex * ex + ey * ey;
        const double u = d * std::log(d + 2.2204e-16);
        sx += coefX[k] * u;
        sy += coefY[k] * u;
    }
    *tx = sx;
    *ty = sy;
}

bool displacementNodes(const ThinPlate& t, int rows, int cols, double step, double origin, double scale, float* dx,
                       float* dy, int workers, const std::function<bool()>& shouldStop) {
    parallel::Pool pool(shouldStop);
    parallel::forRanges(pool, static_cast<size_t>(rows), workers, [&](size_t begin, size_t end) {
        for (size_t i = begin; i < end; ++i) {
            if (pool.stopping()) return;
            const double y = (origin + static_cast<double>(i) * step) * scale;
            for (int j = 0; j < cols; ++j) {
                const double x = (origin + j * step) * scale;
                double tx, ty;
                t.at(x, y, &tx, &ty);
                dx[i * static_cast<size_t>(cols) + static_cast<size_t>(j)] = static_cast<float>((tx - x) / scale);
                dy[i * static_cast<size_t>(cols) + static_cast<size_t>(j)] = static_cast<float>((ty - y) / scale);
            }
        }
    });
    return !pool.stopped();
}

}  // namespace patchmatch
