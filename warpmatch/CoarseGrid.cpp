#include "CoarseGrid.h"

#include "Parallel.h"
#include "SplineKernel.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace warpmatch {

namespace {

// Kernel terms (nodes times K + 1) below which another thread does not pay.
const size_t kMinTermsPerWorker = size_t(1) << 16;

}  // namespace

CoarseGrid coarseGrid(int M, int N) {
    CoarseGrid g;
    g.Mq = static_cast<int>(std::ceil(M * 0.25));
    g.Nq = static_cast<int>(std::ceil(N * 0.25));
    g.stepX = 4 + 3.0 / (g.Nq - 1);
    g.stepY = 4 + 3.0 / (g.Mq - 1);
    return g;
}

bool coarseEvaluate(const SplinePair& s, const CoarseGrid& g, float* smallX, size_t strideX,
                    float* smallY, size_t strideY, int workers, const std::function<bool()>& shouldStop) {
    const size_t nodes = static_cast<size_t>(g.Mq) * static_cast<size_t>(g.Nq);
    if (workers <= 0) workers = parallel::workersFor(nodes * static_cast<size_t>(s.K + 1), kMinTermsPerWorker);
    parallel::Pool pool(shouldStop);
    parallel::forRanges(pool, static_cast<size_t>(g.Mq), workers, [&](size_t begin, size_t end) {
        // One node row at a time through the kernel: its positions share the
        // vector lanes.
        const size_t Nq = static_cast<size_t>(g.Nq);
        std::vector<double> xs(Nq), ys(Nq), vx(Nq), vy(Nq);
        for (size_t j = 0; j < Nq; ++j) xs[j] = static_cast<int>(j) * g.stepX;
        for (size_t i = begin; i < end; ++i) {
            if (pool.stopping()) return;
            std::fill(ys.begin(), ys.end(), static_cast<double>(i) * g.stepY);
            tpsEvalPairs(s, xs.data(), ys.data(), g.Nq, vx.data(), vy.data());
            for (size_t j = 0; j < Nq; ++j) {
                smallX[i * strideX + j] = static_cast<float>(vx[j]);
                smallY[i * strideY + j] = static_cast<float>(vy[j]);
            }
        }
    });
    return !pool.stopped();
}

}  // namespace warpmatch
