// Random but plausible spline pairs for tests and benchmarks: control points
// over a 500-pixel frame, a near-identity affine part, small kernel weights
// (a few pixels of bending) and targets within 20 pixels of their points.
#ifndef REGMEX_TESTS_WARPMATCH_SPLINEPROBLEM_H
#define REGMEX_TESTS_WARPMATCH_SPLINEPROBLEM_H

#include "Inversion.h"

#include <random>
#include <vector>

namespace warpmatch {

struct SplineProblem {
    std::vector<double> coefX, coefY, ctrlX, ctrlY, targetX, targetY;

    int K() const { return static_cast<int>(ctrlX.size()); }
    SplinePair pair() const { return {coefX.data(), coefY.data(), ctrlX.data(), ctrlY.data(), K()}; }
    InversionInput input() const { return {pair(), targetX.data(), targetY.data()}; }

    static SplineProblem random(int K, unsigned seed, double frame = 500.0) {
        std::mt19937 rng(seed);
        std::uniform_real_distribution<double> pos(0.04 * frame, 0.96 * frame), w(-1e-6, 1e-6),
            shift(-5, 5), skew(-0.05, 0.05), near(-20, 20);
        SplineProblem p;
        for (int k = 0; k < K; ++k) {
            p.ctrlX.push_back(pos(rng));
            p.ctrlY.push_back(pos(rng));
            p.coefX.push_back(w(rng));
            p.coefY.push_back(w(rng));
        }
        p.coefX.insert(p.coefX.end(), {shift(rng), 1 + skew(rng), skew(rng)});
        p.coefY.insert(p.coefY.end(), {shift(rng), skew(rng), 1 + skew(rng)});
        for (int k = 0; k < K; ++k) {
            p.targetX.push_back(p.ctrlX[static_cast<size_t>(k)] + near(rng));
            p.targetY.push_back(p.ctrlY[static_cast<size_t>(k)] + near(rng));
        }
        return p;
    }
};

}  // namespace warpmatch

#endif
