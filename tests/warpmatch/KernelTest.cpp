// The vector kernel paths against the scalar one: spline values, the
// logarithm's last bits, and the point search, on random problems.
#include "Inversion.h"
#include "ReferenceInversion.h"
#include "SplineKernel.h"
#include "SplineProblem.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <iostream>
#include <limits>
#include <random>
#include <vector>

using namespace warpmatch;

namespace {

// The paths this machine can take, widest last.
std::vector<KernelPath> vectorPaths() {
    std::vector<KernelPath> paths;
    for (KernelPath p : {KernelPath::kAvx2, KernelPath::kAvx512})
        if (p <= bestKernelPath()) paths.push_back(p);
    return paths;
}

// Distance in units in the last place between two finite doubles of one sign.
int64_t ulps(double a, double b) {
    int64_t i, j;
    std::memcpy(&i, &a, sizeof a);
    std::memcpy(&j, &b, sizeof b);
    return i > j ? i - j : j - i;
}

// Centres of each level of one point's search under the current path, and
// the score of every candidate of the level.
struct Trace {
    std::vector<double> x0, y0, h;
    std::vector<std::vector<double>> scores;
};

Trace trace(const InversionInput& in, int k) {
    Trace t;
    double x0 = std::floor(in.spline.ctrlX[k] + 0.5), y0 = std::floor(in.spline.ctrlY[k] + 0.5);
    for (double s = kStartHalfWidth; s >= kMinHalfWidth; s *= 0.5) {
        const double h = s / 5;
        double xs[121], ys[121], vx[121], vy[121];
        for (int c = 0; c < 121; ++c) {
            xs[c] = x0 - s + (c / 11) * h;
            ys[c] = y0 - s + (c % 11) * h;
        }
        tpsEvalPairs(in.spline, xs, ys, 121, vx, vy);
        std::vector<double> score(121);
        int best = 0;
        for (int c = 0; c < 121; ++c) {
            score[static_cast<size_t>(c)] = std::fabs(vx[c] - in.targetX[k]) + std::fabs(vy[c] - in.targetY[k]);
            if (score[static_cast<size_t>(c)] < score[static_cast<size_t>(best)]) best = c;
        }
        t.x0.push_back(x0);
        t.y0.push_back(y0);
        t.h.push_back(h);
        t.scores.push_back(score);
        x0 += (best / 11 - 5) * h;
        y0 += (best % 11 - 5) * h;
    }
    return t;
}

}  // namespace

// Every value of a vector path lies within 1e-9 px of the scalar path's, at
// random positions, positions on control points (a zero kernel term), short
// groups and K = 0; the kernel values differ by a few ulp at most.
TEST(Kernel, VectorPathsMatchTheScalarPathWithinTheBound) {
    if (vectorPaths().empty()) GTEST_SKIP() << "no vector path on this machine";
    const KernelPath was = kernelPath();
    int64_t worstUlps = 0;
    double worstValue = 0;
    for (int K : {0, 1, 5, 200, 1000}) {
        SplineProblem p = SplineProblem::random(K, static_cast<unsigned>(K + 3), 2048);
        std::mt19937 rng(static_cast<unsigned>(K));
        std::uniform_real_distribution<double> pos(-100, 2148);
        for (int n : {1, 7, 121, 300}) {
            std::vector<double> xs(static_cast<size_t>(n)), ys(xs), sx(xs), sy(xs), vx(xs), vy(xs);
            for (size_t i = 0; i < xs.size(); ++i) {
                xs[i] = pos(rng);
                ys[i] = pos(rng);
            }
            if (K > 0) {
                xs[0] = p.ctrlX[0];
                ys[0] = p.ctrlY[0];
            }
            setKernelPath(KernelPath::kScalar);
            tpsEvalPairs(p.pair(), xs.data(), ys.data(), n, sx.data(), sy.data());
            for (KernelPath path : vectorPaths()) {
                setKernelPath(path);
                tpsEvalPairs(p.pair(), xs.data(), ys.data(), n, vx.data(), vy.data());
                for (size_t i = 0; i < xs.size(); ++i) {
                    worstValue = std::max({worstValue, std::fabs(vx[i] - sx[i]), std::fabs(vy[i] - sy[i])});
                    ASSERT_NEAR(vx[i], sx[i], 1e-9) << kernelPathName(path) << " K " << K << " at " << i;
                    ASSERT_NEAR(vy[i], sy[i], 1e-9) << kernelPathName(path) << " K " << K << " at " << i;
                }
            }
        }
    }
    // Kernel values d * ln(d + guard) over squared distances from 0 to 1e8.
    std::mt19937 rng(7);
    std::uniform_real_distribution<double> exponent(-20, 8);
    std::vector<double> d(100000), shifted(d.size()), logs(d.size());
    for (size_t i = 0; i < d.size(); ++i) {
        d[i] = i == 0 ? 0.0 : std::pow(10.0, exponent(rng));
        shifted[i] = d[i] + kTpsGuard;
    }
    for (KernelPath path : vectorPaths()) {
        setKernelPath(path);
        kernelLog(shifted.data(), logs.data(), shifted.size());
        for (size_t i = 0; i < d.size(); ++i) {
            const double got = d[i] * logs[i], want = tpsKernel(d[i]);
            if (want == 0 || std::signbit(got) != std::signbit(want)) {
                ASSERT_EQ(got, want) << i;
                continue;
            }
            worstUlps = std::max(worstUlps, ulps(got, want));
        }
        // NaN stays NaN, as in the C library.
        double nan = std::numeric_limits<double>::quiet_NaN(), out = 0;
        kernelLog(&nan, &out, 1);
        EXPECT_TRUE(std::isnan(out));
    }
    setKernelPath(was);
    std::cout << "largest kernel value difference: " << worstUlps << " ulp; largest spline value difference: "
              << worstValue << " px\n";
    EXPECT_LE(worstUlps, 4);
}

// The point search on a vector path finds the scalar path's points within
// 1e-9 px, except where at some level two candidates tied within rounding
// (their scalar scores within 1e-9 px): there the paths may part, by at most
// that level's grid step.  Such cases are counted.
TEST(Kernel, VectorPathsFindTheScalarPathsPoints) {
    if (vectorPaths().empty()) GTEST_SKIP() << "no vector path on this machine";
    const KernelPath was = kernelPath();
    int points = 0, ties = 0;
    double worst = 0;
    for (int K : {3, 40, 150}) {
        for (unsigned seed : {1u, 2u}) {
            SplineProblem p = SplineProblem::random(K, seed * 1000 + static_cast<unsigned>(K));
            for (double& w : p.coefX) w *= 50;  // bending of tens of pixels
            const size_t n = static_cast<size_t>(std::min(K, 40));
            std::vector<double> sx(n), sy(n), vx(n), vy(n);
            setKernelPath(KernelPath::kScalar);
            invertRange(p.input(), 0, static_cast<int>(n), sx.data(), sy.data());
            for (KernelPath path : vectorPaths()) {
                setKernelPath(path);
                invertRange(p.input(), 0, static_cast<int>(n), vx.data(), vy.data());
                for (size_t k = 0; k < n; ++k) {
                    ++points;
                    const double dx = std::fabs(vx[k] - sx[k]), dy = std::fabs(vy[k] - sy[k]);
                    worst = std::max({worst, dx, dy});
                    if (dx <= 1e-9 && dy <= 1e-9) continue;
                    // Where did the two searches part, and was it a tie?
                    const Trace vector = trace(p.input(), static_cast<int>(k));
                    setKernelPath(KernelPath::kScalar);
                    const Trace scalar = trace(p.input(), static_cast<int>(k));
                    setKernelPath(path);
                    size_t level = 0;
                    while (level + 1 < scalar.x0.size() && scalar.x0[level + 1] == vector.x0[level + 1] &&
                           scalar.y0[level + 1] == vector.y0[level + 1])
                        ++level;
                    ASSERT_LT(level + 1, scalar.x0.size()) << "point " << k << " parted nowhere";
                    const double h = scalar.h[level];
                    const int a = static_cast<int>(std::lround((vector.x0[level + 1] - scalar.x0[level]) / h)) + 5;
                    const int b = static_cast<int>(std::lround((vector.y0[level + 1] - scalar.y0[level]) / h)) + 5;
                    const double chosen = *std::min_element(scalar.scores[level].begin(), scalar.scores[level].end());
                    EXPECT_LE(scalar.scores[level][static_cast<size_t>(a * 11 + b)] - chosen, 1e-9)
                        << kernelPathName(path) << " K " << K << " point " << k << " parted without a tie";
                    EXPECT_LE(dx, h) << kernelPathName(path) << " K " << K << " point " << k;
                    EXPECT_LE(dy, h) << kernelPathName(path) << " K " << K << " point " << k;
                    ++ties;
                }
            }
        }
    }
    setKernelPath(was);
    std::cout << points << " points, " << ties << " parted at a tie; largest difference " << worst << " px\n";
}
