#include "Belief.h"

#include "MeanShift.h"
#include "Messages.h"
#include "VectorSearch.h"

#include <cmath>
#include <limits>

namespace driftfield {

NodeResult estimateNode(Estimator estimator, const double* belief, const LabelDisc& disc, Point p, double h, int a,
                        MeanShiftScratch& scratch) {
    const int L = disc.count();
    const double nan = std::numeric_limits<double>::quiet_NaN();
    NodeResult result{nan, nan, nan};
    switch (estimator) {
    case Estimator::ArgMax: {
        int best = -1;
        const double value = vectorsearch::GetMax(belief, L, &best);
        if (best >= 0) {
            const Offset& o = disc.offsets[static_cast<size_t>(best)];
            result = NodeResult{p.x + o.dx, p.y + o.dy, value};
        }
        break;
    }
    case Estimator::WeightedMean: {
        const double total = vectorsearch::GetSum(belief, L);
        double mx = 0.0;
        double my = 0.0;
        for (int i = 0; i < L; ++i) {
            mx += (disc.xs[static_cast<size_t>(i)] * belief[i]) / total;
            my += (disc.ys[static_cast<size_t>(i)] * belief[i]) / total;
        }
        const int nearest = vectorsearch::findClosest(mx, my, disc.xs.data(), disc.ys.data(), L);
        result = NodeResult{mx + p.x, my + p.y, nearest >= 0 ? belief[nearest] : nan};
        break;
    }
    case Estimator::MeanShift: {
        Point c{0.0, 0.0};
        const double density = gridMeanShift(disc, belief, h, a, c, scratch);
        result = NodeResult{p.x + c.x, p.y + c.y, density};
        break;
    }
    }
    if (!std::isfinite(result.x) || !std::isfinite(result.y) || !std::isfinite(result.score))
        result = NodeResult{p.x, p.y, nan};
    return result;
}

NodeResult evaluateNode(const double* above, const double* below, const double* left, const double* right,
                        const double* likelihoods, const LabelDisc& disc, Point p, const FieldParams& params,
                        double* belief, MeanShiftScratch& scratch) {
    const int L = disc.count();
    normalizedProduct(above, below, belief, L);
    normalizedProductInPlace(left, belief, L);
    normalizedProductInPlace(right, belief, L);
    normalizedProductInPlace(likelihoods, belief, L);
    double total = 0.0;
    for (int i = 0; i < L; ++i) total += belief[i];
    for (int i = 0; i < L; ++i) belief[i] /= total;
    return estimateNode(params.estimator, belief, disc, p, params.bandwidth, params.windowHalf, scratch);
}

}  // namespace driftfield
