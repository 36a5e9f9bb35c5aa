// The stages one by one: label disc, score sampling, normalised product,
// searches, mean shift and node estimate.
#include "Belief.h"
#include "LabelDisc.h"
#include "LiteralField.h"
#include "MeanShift.h"
#include "Messages.h"
#include "ScoreSampling.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>
#include <vector>

using namespace driftfield;

namespace {

const double kNaN = std::numeric_limits<double>::quiet_NaN();
const double kInf = std::numeric_limits<double>::infinity();

std::vector<std::pair<int, int>> offsetsOf(const LabelDisc& d) {
    std::vector<std::pair<int, int>> v;
    for (const Offset& o : d.offsets) v.emplace_back(static_cast<int>(o.dx), static_cast<int>(o.dy));
    return v;
}

}  // namespace

TEST(LabelDisc, CountsForIntegralAndFractionalRadii) {
    const std::vector<std::pair<double, int>> cases = {{-1, 0}, {0, 0},   {0.5, 1}, {1, 1},  {1.5, 9},
                                                       {2, 9},  {2.5, 21}, {3, 25},  {5, 69}, {10, 305}};
    for (const auto& [r, L] : cases) {
        EXPECT_EQ(buildLabelDisc(r).count(), L) << "r = " << r;
        EXPECT_EQ(labelDiscCount(r), L) << "r = " << r;
    }
    EXPECT_EQ(buildLabelDisc(kNaN).count(), 0);
    EXPECT_EQ(labelDiscCount(kInf), 0);
    // The count without enumeration agrees everywhere, boundaries included.
    std::vector<double> radii = {std::sqrt(2.0), std::sqrt(5.0), std::sqrt(50.0), 7.0000000001, 6.9999999999};
    for (double r = 0.05; r < 40.0; r += 0.37) radii.push_back(r);
    for (double r : radii) EXPECT_EQ(labelDiscCount(r), buildLabelDisc(r).count()) << "r = " << r;
}

TEST(LabelDisc, OrderCircleAndLayout) {
    const std::vector<std::pair<int, int>> r15 = {{-1, -1}, {-1, 0}, {-1, 1}, {0, -1}, {0, 0},
                                                  {0, 1},   {1, -1}, {1, 0},  {1, 1}};
    EXPECT_EQ(offsetsOf(buildLabelDisc(1.5)), r15);
    // r = 2: the four offsets on the circle stay out.
    EXPECT_EQ(offsetsOf(buildLabelDisc(2.0)), r15);
    // r = 2.5 starts at -2 (truncation toward zero); (-2, -2) lies outside.
    const LabelDisc d25 = buildLabelDisc(2.5);
    EXPECT_EQ(offsetsOf(d25).front(), std::make_pair(-2, -1));
    EXPECT_EQ(offsetsOf(d25).back(), std::make_pair(2, 1));
    EXPECT_EQ(d25.reach, 2);

    for (double r : {1.0, 2.5, 3.0, 7.3, 10.0}) {
        const LabelDisc d = buildLabelDisc(r);
        ASSERT_EQ(d.xs.size(), d.offsets.size());
        int seen = 0;
        for (int k = 0; k < d.width(); ++k) {
            const int h = d.columnHalf[k];
            for (int t = 0; t <= 2 * h; ++t) {
                const Offset& o = d.offsets[d.columnFirst[k] + t];
                EXPECT_EQ(o.dx, k - d.reach);
                EXPECT_EQ(o.dy, t - h);
                EXPECT_EQ(d.xs[d.columnFirst[k] + t], o.dx);
                EXPECT_EQ(d.ys[d.columnFirst[k] + t], o.dy);
                ++seen;
            }
        }
        EXPECT_EQ(seen, d.count()) << "r = " << r;
    }
}

TEST(ScoreSampling, SamplingRuleAndEdges) {
    // 3 rows, 4 columns, column-major; E(row, col) = 10*row + col over 100.
    const int rows = 3, cols = 4;
    std::vector<double> v(rows * cols);
    for (int c = 0; c < cols; ++c)
        for (int r = 0; r < rows; ++r) v[c * rows + r] = (10.0 * r + c) / 100.0;
    ScoreMap map{v.data(), rows, cols};
    auto E = [&](int r, int c) { return v[c * rows + r]; };
    auto like = [](double value, double beta) { return std::exp(-(1.0 - value) * beta); };
    const double beta = 1.3;

    EXPECT_EQ(sampleScore(map, -0.25, 1.0, beta), 0.5);
    EXPECT_EQ(sampleScore(map, 1.0, rows, beta), 0.5);
    EXPECT_EQ(sampleScore(map, cols, 0.0, beta), 0.5);
    EXPECT_EQ(sampleScore(map, kNaN, 1.0, beta), 0.5);
    EXPECT_EQ(sampleScoreAtPixel(map, 1.0, -1.0, beta), 0.5);

    EXPECT_DOUBLE_EQ(sampleScore(map, 2.0, 1.0, beta), like(E(1, 2), beta));
    // Fraction below 0.5: both samples from column 2.
    EXPECT_DOUBLE_EQ(sampleScore(map, 2.3, 1.0, beta), like(E(1, 2), beta));
    EXPECT_DOUBLE_EQ(sampleScore(map, 2.5, 1.0, beta), like(0.5 * E(1, 2) + 0.5 * E(1, 3), beta));
    EXPECT_DOUBLE_EQ(sampleScore(map, 2.7, 1.0, beta), like(0.3 * E(1, 2) + 0.7 * E(1, 3), beta));
    // Integral x, fractional y: the blend along y.
    EXPECT_DOUBLE_EQ(sampleScore(map, 1.0, 0.6, beta), like(0.4 * E(0, 1) + 0.6 * E(1, 1), beta));
    EXPECT_DOUBLE_EQ(sampleScore(map, 1.6, 0.7, beta),
                     like(0.3 * (0.4 * E(0, 1) + 0.6 * E(0, 2)) + 0.7 * (0.4 * E(1, 1) + 0.6 * E(1, 2)), beta));
    // The last half column and row: the second sample stays on the last one.
    EXPECT_DOUBLE_EQ(sampleScore(map, 3.7, 1.0, beta), like(E(1, 3), beta));
    EXPECT_DOUBLE_EQ(sampleScore(map, 1.0, 2.8, beta), like(E(2, 1), beta));
    EXPECT_DOUBLE_EQ(sampleScore(map, 3.6, 2.6, beta), like(E(2, 3), beta));
    EXPECT_DOUBLE_EQ(sampleScoreAtPixel(map, 2.9, 1.2, beta), like(E(1, 2), beta));

    // beta = 0: 1 inside, 0.5 outside.
    EXPECT_EQ(sampleScore(map, 1.4, 1.9, 0.0), 1.0);
    EXPECT_EQ(sampleScore(map, -1.0, 1.9, 0.0), 0.5);

    // NaN reads as 0.1; a value above 1 gives a likelihood above 1.
    v[1 * rows + 2] = kNaN;
    v[3 * rows + 0] = 2.5;
    EXPECT_DOUBLE_EQ(sampleScore(map, 1.0, 2.0, 2.0), std::exp(-0.9 * 2.0));
    EXPECT_DOUBLE_EQ(sampleScore(map, 1.5, 2.0, 2.0), like(0.5 * 0.1 + 0.5 * E(2, 2), 2.0));
    EXPECT_GT(sampleScore(map, 3.0, 0.0, 1.0), 1.0);
}

TEST(NormalizedProduct, ProductFloorsAndInPlace) {
    const double a[3] = {1, 2, 3}, b[3] = {3, 2, 1};
    double out[3];
    normalizedProduct(a, b, out, 3);
    // t = (3, 4, 3)/36, T = 10/36.
    EXPECT_DOUBLE_EQ(out[0], 0.3);
    EXPECT_DOUBLE_EQ(out[1], 0.4);
    EXPECT_DOUBLE_EQ(out[2], 0.3);
    double inPlace[3] = {3, 2, 1};
    normalizedProductInPlace(a, inPlace, 3);
    for (int k = 0; k < 3; ++k) EXPECT_EQ(inPlace[k], out[k]);

    // A zero message: every t is 0, T is floored, the result is all zero.
    const double zero[3] = {0, 0, 0};
    normalizedProduct(zero, b, out, 3);
    for (double x : out) EXPECT_EQ(x, 0.0);

    // Sums below the floor are replaced by it: a tiny message stays tiny
    // (both Sa and T are floored here) ...
    const double tiny[2] = {1e-33, 3e-33}, one[2] = {0.5, 0.5};
    normalizedProduct(tiny, one, out, 2);
    EXPECT_DOUBLE_EQ(out[0], ((1e-33 / kProductFloor) * 0.5) / kProductFloor);
    EXPECT_DOUBLE_EQ(out[1], ((3e-33 / kProductFloor) * 0.5) / kProductFloor);
    // ... while one above the floor of T is normalised as usual.
    const double small[2] = {1e-17, 3e-17};
    normalizedProduct(small, one, out, 2);
    EXPECT_DOUBLE_EQ(out[0], 0.25);
    EXPECT_DOUBLE_EQ(out[1], 0.75);
    EXPECT_EQ(kProductFloor, 2.2204e-16);

    // A NaN sum is floored as well; the NaN stays where it was.
    const double withNaN[2] = {kNaN, 1.0};
    normalizedProduct(withNaN, one, out, 2);
    EXPECT_TRUE(std::isnan(out[0]));
    EXPECT_DOUBLE_EQ(out[1], ((1.0 / kProductFloor) * 0.5) / kProductFloor);
}

TEST(MeanShift, StoppingRules) {
    const LabelDisc disc = buildLabelDisc(5.0);
    const int L = disc.count();
    MeanShiftScratch scratch(disc);
    std::vector<double> b(L, 0.0);
    // Mass off centre, so any update moves c.
    b[10] = 0.5;
    b[40] = 0.3;
    b[60] = 0.2;
    const double h = 1.2;
    const double invH2 = 1.0 / (h * h);

    for (int a : {0, -1, -7, 6, 9, 1000000}) {
        Point c{0, 0};
        const double density = gridMeanShift(disc, b.data(), h, a, c, scratch);
        EXPECT_EQ(c.x, 0.0) << "a = " << a;
        EXPECT_EQ(c.y, 0.0) << "a = " << a;
        EXPECT_DOUBLE_EQ(density, meanShiftDensity(disc, b.data(), invH2, Point{0, 0}));
    }
    // a = 5: the first grid touches the box, the moved one leaves it: one
    // update, to the density-weighted mean of the 121 candidates.
    {
        Point c{0, 0};
        gridMeanShift(disc, b.data(), h, 5, c, scratch);
        double T = 0, mx = 0, my = 0;
        for (int gy = -5; gy <= 5; ++gy)
            for (int gx = -5; gx <= 5; ++gx) {
                const double d = meanShiftDensity(disc, b.data(), invH2, Point{double(gx), double(gy)});
                T += d;
                mx += d * gx;
                my += d * gy;
            }
        EXPECT_NEAR(c.x, mx / T, 1e-12);
        EXPECT_NEAR(c.y, my / T, 1e-12);
        EXPECT_NE(c.x, 0.0);
    }
    // A zero belief: the densities are 0, c becomes NaN after one update.
    {
        std::vector<double> zero(L, 0.0);
        Point c{0, 0};
        gridMeanShift(disc, zero.data(), h, 2, c, scratch);
        EXPECT_TRUE(std::isnan(c.x));
        EXPECT_TRUE(std::isnan(c.y));
    }
}

TEST(MeanShift, MatchesCandidateByCandidateForm) {
    // The literal form counts its updates: the comparison covers runs that
    // stop on the box, on convergence and after ten updates.
    std::mt19937 rng(11);
    std::uniform_real_distribution<double> unit(0, 1);
    std::vector<int> stoppedAfter(11, 0);
    for (double r : {1.0, 2.5, 5.0, 7.2}) {
        const LabelDisc disc = buildLabelDisc(r);
        MeanShiftScratch scratch(disc);
        for (int trial = 0; trial < 60; ++trial) {
            std::vector<double> b(disc.count());
            double sum = 0;
            const int peak = static_cast<int>(unit(rng) * disc.count());
            for (int i = 0; i < disc.count(); ++i) {
                const double dx = disc.xs[i] - disc.xs[peak], dy = disc.ys[i] - disc.ys[peak];
                b[i] = std::exp(-(dx * dx + dy * dy) / (1 + 8 * unit(rng))) * (0.5 + unit(rng));
                sum += b[i];
            }
            for (double& x : b) x /= sum;
            const int a = static_cast<int>(unit(rng) * 8) - 1;
            const double h = 0.4 + 4 * unit(rng);
            Point cl{0, 0}, cp{0, 0};
            int updates = 0;
            const double dl = literal::gridMeanShift(disc, b, h, a, cl, &updates);
            const double dp = gridMeanShift(disc, b.data(), h, a, cp, scratch);
            ++stoppedAfter[updates];
            EXPECT_NEAR(cp.x, cl.x, 1e-9 * (1 + std::fabs(cl.x))) << "r " << r << " a " << a << " h " << h;
            EXPECT_NEAR(cp.y, cl.y, 1e-9 * (1 + std::fabs(cl.y)));
            EXPECT_NEAR(dp, dl, 1e-12 + 1e-9 * dl);
        }
    }
    EXPECT_GT(stoppedAfter[0], 0);
    EXPECT_GT(stoppedAfter[1], 0);
    EXPECT_GT(stoppedAfter[10], 0);
}

TEST(Estimate, EstimatorsTiesAndNonFiniteBeliefs) {
    const LabelDisc disc = buildLabelDisc(1.5);  // (-1,-1) (-1,0) (-1,1) (0,-1) (0,0) (0,1) (1,-1) (1,0) (1,1)
    MeanShiftScratch scratch(disc);
    const Point P{10.5, 20.25};

    // Equal highest beliefs at indices 3 and 5: the earlier wins.
    std::vector<double> b = {0.05, 0.1, 0.05, 0.25, 0.05, 0.25, 0.1, 0.1, 0.05};
    NodeResult r = estimateNode(Estimator::ArgMax, b.data(), disc, P, 1, 0, scratch);
    EXPECT_EQ(r.x, 10.5);
    EXPECT_EQ(r.y, 19.25);
    EXPECT_EQ(r.score, 0.25);

    // Weighted mean (0.5, 0.75): equally near to (0, 1) and (1, 1); the
    // earlier, index 5, gives the score although its belief is 0.
    std::vector<double> w(9, 0.0);
    w[1] = 0.25;
    w[8] = 0.75;
    r = estimateNode(Estimator::WeightedMean, w.data(), disc, P, 1, 0, scratch);
    EXPECT_EQ(r.x, 11.0);
    EXPECT_EQ(r.y, 21.0);
    EXPECT_EQ(r.score, 0.0);
    w[1] = 0.5;
    w[8] = 0.5;  // mean (0, 0.5): (0, 0) and (0, 1) tie; (0, 0) comes first
    r = estimateNode(Estimator::WeightedMean, w.data(), disc, P, 1, 0, scratch);
    EXPECT_EQ(r.x, 10.5);
    EXPECT_EQ(r.y, 20.75);
    EXPECT_EQ(r.score, 0.0);

    // Mean shift with a = 0 stays at P; its score is the density there.
    r = estimateNode(Estimator::MeanShift, b.data(), disc, P, 0.8, 0, scratch);
    EXPECT_EQ(r.x, P.x);
    EXPECT_EQ(r.y, P.y);
    EXPECT_DOUBLE_EQ(r.score, meanShiftDensity(disc, b.data(), 1.0 / 0.64, Point{0, 0}));

    // L = 1: the belief [1] keeps P, with score 1 for arg-max and mean.
    const LabelDisc one = buildLabelDisc(1.0);
    MeanShiftScratch scratchOne(one);
    const double unit[1] = {1.0};
    for (Estimator e : {Estimator::ArgMax, Estimator::WeightedMean, Estimator::MeanShift}) {
        r = estimateNode(e, unit, one, P, 1.0, 1, scratchOne);
        EXPECT_EQ(r.x, P.x);
        EXPECT_EQ(r.y, P.y);
        EXPECT_EQ(r.score, 1.0);
    }

    // A NaN belief (what a zero belief becomes) keeps P and scores NaN.
    std::vector<double> bad(9, kNaN);
    for (Estimator e : {Estimator::ArgMax, Estimator::WeightedMean, Estimator::MeanShift}) {
        r = estimateNode(e, bad.data(), disc, P, 1.0, 1, scratch);
        EXPECT_EQ(r.x, P.x);
        EXPECT_EQ(r.y, P.y);
        EXPECT_TRUE(std::isnan(r.score));
    }
}

TEST(Estimate, NodeBeliefFromMessagesAndLikelihoods) {
    const LabelDisc disc = buildLabelDisc(1.5);
    MeanShiftScratch scratch(disc);
    std::vector<double> ones(9, 1.0), belief(9);
    std::vector<double> phi = {0.1, 0.2, 0.9, 0.3, 0.3, 0.2, 0.1, 0.5, 0.2};
    FieldParams params;
    params.estimator = Estimator::ArgMax;
    const NodeResult r = evaluateNode(ones.data(), ones.data(), ones.data(), ones.data(), phi.data(), disc,
                                      Point{4, 5}, params, belief.data(), scratch);
    // All-ones messages: the belief is the normalised likelihoods.
    EXPECT_EQ(r.x, 3.0);
    EXPECT_EQ(r.y, 6.0);
    EXPECT_DOUBLE_EQ(r.score, 0.9 / 2.8);
    double sum = 0;
    for (double x : belief) sum += x;
    EXPECT_NEAR(sum, 1.0, 1e-15);

    // A message that is zero everywhere leaves nothing to normalise.
    std::vector<double> zero(9, 0.0);
    for (Estimator e : {Estimator::ArgMax, Estimator::WeightedMean, Estimator::MeanShift}) {
        params.estimator = e;
        const NodeResult z = evaluateNode(ones.data(), ones.data(), zero.data(), ones.data(), phi.data(), disc,
                                          Point{4, 5}, params, belief.data(), scratch);
        EXPECT_EQ(z.x, 4.0);
        EXPECT_EQ(z.y, 5.0);
        EXPECT_TRUE(std::isnan(z.score));
    }
}
