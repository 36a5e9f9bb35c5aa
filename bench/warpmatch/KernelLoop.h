// The plain loop that warpmatch's kernel sums are measured against.
#ifndef REGMEX_BENCH_WARPMATCH_KERNELLOOP_H
#define REGMEX_BENCH_WARPMATCH_KERNELLOOP_H

#include "SplineKernel.h"

#include <vector>

namespace warpmatch {

// The plain loop the kernel sums are measured against: for each position
// the squared distances to all K points, their logarithms in one pass of
// the vector logarithm, then both sums.  One thread.
inline void kernelLoop(const SplinePair& s, const std::vector<double>& xs, const std::vector<double>& ys,
                std::vector<double>& d, std::vector<double>& logs, double* vx, double* vy) {
    const int K = s.K;
    for (size_t i = 0; i < xs.size(); ++i) {
        for (int k = 0; k < K; ++k) {
            const double dx = s.ctrlX[k] - xs[i], dy = s.ctrlY[k] - ys[i];
            d[static_cast<size_t>(k)] = dx * dx + dy * dy;
            logs[static_cast<size_t>(k)] = d[static_cast<size_t>(k)] + kTpsGuard;
        }
        kernelLog(logs.data(), logs.data(), static_cast<size_t>(K));
        double sx = 0, sy = 0;
        for (int k = 0; k < K; ++k) {
            const double u = d[static_cast<size_t>(k)] * logs[static_cast<size_t>(k)];
            sx += s.coefX[k] * u;
            sy += s.coefY[k] * u;
        }
        vx[i] = sx + ((s.coefX[K + 1] * xs[i] + s.coefX[K]) + s.coefX[K + 2] * ys[i]);
        vy[i] = sy + ((s.coefY[K + 1] * xs[i] + s.coefY[K]) + s.coefY[K + 2] * ys[i]);
    }
}

}  // namespace warpmatch

#endif
