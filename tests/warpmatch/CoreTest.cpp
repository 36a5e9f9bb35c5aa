// The host-free core of warpmatch: distances, spline values, the point
// inversion, the partition and the worker threads.
#include "Inversion.h"
#include "Partition.h"
#include "ReferenceInversion.h"
#include "Spline.h"
#include "SplineProblem.h"
#include "Threads.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <limits>
#include <vector>

using namespace warpmatch;

namespace {

const double NaN = std::numeric_limits<double>::quiet_NaN();

bool sameBits(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }

// A pair of splines given by their affine parts alone, over K control points
// with zero weights.
struct AffinePair {
    std::vector<double> coefX, coefY, ctrlX, ctrlY, targetX, targetY;
    AffinePair(std::vector<double> cx, std::vector<double> cy, double a0x, double axx, double ayx,
               double a0y, double axy, double ayy, std::vector<double> tx, std::vector<double> ty)
        : ctrlX(cx), ctrlY(cy), targetX(tx), targetY(ty) {
        coefX.assign(cx.size(), 0.0);
        coefY.assign(cx.size(), 0.0);
        coefX.insert(coefX.end(), {a0x, axx, ayx});
        coefY.insert(coefY.end(), {a0y, axy, ayy});
    }
    InversionInput input() const {
        return {{coefX.data(), coefY.data(), ctrlX.data(), ctrlY.data(), static_cast<int>(ctrlX.size())},
                targetX.data(), targetY.data()};
    }
    std::vector<double> invert() const {
        size_t K = ctrlX.size();
        std::vector<double> x(K), y(K), out;
        invertRange(input(), 0, static_cast<int>(K), x.data(), y.data());
        for (size_t k = 0; k < K; ++k) out.insert(out.end(), {x[k], y[k]});
        return out;
    }
};

const double kReach = 127.984375;  // 64 + 32 + ... + 0.015625

}  // namespace

TEST(Dist2, TableRowsBelongToTheFirstSetAndOnePointFormMatches) {
    const double xa[] = {0, 1}, ya[] = {0, 2};
    const double xb[] = {3, -1, 5}, yb[] = {4, 0, -2};
    double* t = dist2(xa, ya, 2, xb, yb, 3);
    ASSERT_NE(t, nullptr);
    const double expected[] = {25, 1, 29, 8, 8, 32};
    for (int i = 0; i < 6; ++i) EXPECT_EQ(t[i], expected[i]) << "entry " << i;
    // Entry 1*3 + 2: second point of the first set to the third of the second.
    EXPECT_EQ(t[1 * 3 + 2], (1.0 - 5) * (1.0 - 5) + (2.0 + 2) * (2.0 + 2));
    double one[3];
    dist2(xb, yb, 3, 1, 2, one);
    for (int j = 0; j < 3; ++j) EXPECT_EQ(one[j], t[3 + j]);
    std::free(t);

    // Empty sets write nothing but still give a block to free.
    double* none = dist2(xa, ya, 0, xb, yb, 3);
    ASSERT_NE(none, nullptr);
    std::free(none);
    double sentinel[2] = {7, 7};
    dist2(xb, yb, 0, 1, 2, sentinel);
    dist2(xb, yb, -3, 1, 2, sentinel);
    EXPECT_EQ(sentinel[0], 7);
}

TEST(TpsEval, ControlPointAffineAloneStrideAndNaN) {
    // Two control points; weights 2 and -3; a0 = 1, ax = 0.5, ay = -0.25.
    const double cx[] = {10, 13}, cy[] = {20, 24};
    const double coef[] = {2, -3, 1, 0.5, -0.25};
    // At the first control point its own term is 0 (not NaN), the other's is
    // 25 ln 25 (up to the guard).
    double d[2];
    dist2(cx, cy, 2, 10, 20, d);
    const double v = tpsEval(coef, d, 1, 2, 10, 20);
    EXPECT_FALSE(std::isnan(v));
    EXPECT_NEAR(v, -3 * 25 * std::log(25.0) + (1 + 0.5 * 10 - 0.25 * 20), 1e-9);
    EXPECT_EQ(tpsKernel(0.0), 0.0);

    // K = 0: the affine part alone, formed as (ax*x + a0) + ay*y.
    const double affine[] = {1, 0.5, -0.25};
    EXPECT_EQ(tpsEval(affine, nullptr, 1, 0, 3, 8), (0.5 * 3 + 1) + -0.25 * 8);

    // A strided column of a table gives the same value as a plain vector.
    const double px[] = {7, 10}, py[] = {1, 20};
    double* table = dist2(cx, cy, 2, px, py, 2);
    EXPECT_TRUE(sameBits(tpsEval(coef, table + 1, 2, 2, 10, 20), v));
    std::free(table);

    const double nanCoef[] = {NaN, -3, 1, 0.5, -0.25};
    EXPECT_TRUE(std::isnan(tpsEval(nanCoef, d, 1, 2, 10, 20)));
    double vx, vy;
    tpsEvalPair({nanCoef, coef, cx, cy, 2}, 10, 20, &vx, &vy);
    EXPECT_TRUE(std::isnan(vx));
    EXPECT_TRUE(sameBits(vy, v));
}

TEST(TpsEval, PairEqualsTwoSingleEvaluationsBitForBit) {
    for (int K : {1, 7, 60}) {
        SplineProblem p = SplineProblem::random(K, 11u + static_cast<unsigned>(K));
        std::vector<double> d(static_cast<size_t>(K));
        std::mt19937 rng(5);
        std::uniform_real_distribution<double> pos(-50, 550);
        for (int i = 0; i < 200; ++i) {
            // Include the control points themselves, where a kernel is 0.
            double x = i < K ? p.ctrlX[static_cast<size_t>(i)] : pos(rng);
            double y = i < K ? p.ctrlY[static_cast<size_t>(i)] : pos(rng);
            dist2(p.ctrlX.data(), p.ctrlY.data(), K, x, y, d.data());
            double vx, vy;
            tpsEvalPair(p.pair(), x, y, &vx, &vy);
            ASSERT_TRUE(sameBits(vx, tpsEval(p.coefX.data(), d.data(), 1, K, x, y))) << K << " " << i;
            ASSERT_TRUE(sameBits(vy, tpsEval(p.coefY.data(), d.data(), 1, K, x, y))) << K << " " << i;
        }
    }
}

TEST(Inversion, IdentityReachesTargetsWithinReachAndStopsAtTheReach) {
    // Identity pair over the two points inverted.
    AffinePair id({100.2, 100.2}, {50.7, 50.7}, 0, 1, 0, 0, 0, 1, {107, 300}, {45, 51});
    auto r = id.invert();
    EXPECT_NEAR(r[0], 107, 1e-9);
    EXPECT_NEAR(r[1], 45, 1e-9);
    // x stops at the rounded start (100) plus the reach; y reaches 51.
    EXPECT_EQ(r[2], 227.984375);
    EXPECT_NEAR(r[3], 51, 1e-9);
    EXPECT_EQ(100 + kReach, 227.984375);
}

TEST(Inversion, StartIsRoundedHalfUpAndTiesKeepTheEarlierCandidate) {
    // A constant pair: every candidate ties, so candidate (a, b) = (0, 0)
    // wins every level and the centre walks the full reach down and left.
    AffinePair constant({10.5, -0.5, 3.49}, {-0.5, 10.5, -2.5}, 4, 0, 0, 9, 0, 0, {0, 0, 0}, {0, 0, 0});
    auto r = constant.invert();
    EXPECT_EQ(r[0], 11 - kReach);
    EXPECT_EQ(r[1], 0 - kReach);
    EXPECT_EQ(r[2], 0 - kReach);
    EXPECT_EQ(r[3], 11 - kReach);
    EXPECT_EQ(r[4], 3 - kReach);
    EXPECT_EQ(r[5], -2 - kReach);

    // Tx = x + y, Ty = 0, target (0, 0): the whole anti-diagonal scores 0,
    // and the smaller x index wins over the smaller y index.
    AffinePair diagonal({0}, {0}, 0, 1, 1, 0, 0, 0, {0}, {0});
    r = diagonal.invert();
    EXPECT_EQ(r[0], -kReach);
    EXPECT_EQ(r[1], kReach);

    // Ty constant: the y index ties at every level, so b = 0 wins while x
    // still converges.
    AffinePair flat({20}, {30}, 0, 1, 0, 5, 0, 0, {23.5}, {0});
    r = flat.invert();
    EXPECT_NEAR(r[0], 23.5, 1e-9);
    EXPECT_EQ(r[1], 30 - kReach);

    // A target equal to T of the rounded start: the centre scores 0 throughout.
    AffinePair shifted({40.4}, {9.6}, 3, 1, 0, -2, 0, 1, {43}, {8});
    r = shifted.invert();
    EXPECT_EQ(r[0], 40);
    EXPECT_EQ(r[1], 10);
}

TEST(Inversion, NoCandidateBelowTheInitialScoreGivesNaN) {
    AffinePair good({10, 20}, {10, 20}, 0, 1, 0, 0, 0, 1, {12, NaN}, {11, 20});
    auto r = good.invert();
    EXPECT_NEAR(r[0], 12, 1e-9);
    EXPECT_NEAR(r[1], 11, 1e-9);
    EXPECT_TRUE(std::isnan(r[2]) && std::isnan(r[3]));

    AffinePair nanCoef({10}, {10}, NaN, 1, 0, 0, 0, 1, {12}, {11});
    r = nanCoef.invert();
    EXPECT_TRUE(std::isnan(r[0]) && std::isnan(r[1]));
    // A target too far away for any candidate to score below 1,000,000.
    AffinePair far({10}, {10}, 0, 1, 0, 0, 0, 1, {3e6}, {11});
    r = far.invert();
    EXPECT_TRUE(std::isnan(r[0]) && std::isnan(r[1]));
}

TEST(Inversion, ProductEqualsTheLiteralInversionBitForBit) {
    const ScalarKernel scalar;
    // 300 control points span several blocks of the product's scratch.
    for (int K : {1, 13, 50, 300}) {
        SplineProblem p = SplineProblem::random(K, 100u + static_cast<unsigned>(K));
        if (K == 13) p.coefY[4] = NaN;  // every point lost
        if (K == 50) p.targetX[7] = p.ctrlX[7] + 400;  // beyond the reach
        const int n = K == 300 ? 4 : K;
        std::vector<double> x(static_cast<size_t>(K), -1), y(x), rx(x), ry(x);
        invertRange(p.input(), 0, n, x.data(), y.data());
        referenceInvertRange(p.input(), 0, n, rx.data(), ry.data());
        EXPECT_NE(x[static_cast<size_t>(n) - 1], -1);
        for (size_t k = 0; k < x.size(); ++k) {
            ASSERT_TRUE(sameBits(x[k], rx[k]) && sameBits(y[k], ry[k]))
                << "K " << K << " point " << k << ": " << x[k] << "," << y[k] << " vs " << rx[k] << "," << ry[k];
        }
        if (K == 50) {
            // The warp is mild, so each point within reach is a true preimage
            // of its target, up to the last step.
            for (size_t k = 0; k < x.size(); ++k) {
                if (k == 7) continue;
                double vx, vy;
                tpsEvalPair(p.pair(), x[k], y[k], &vx, &vy);
                EXPECT_NEAR(vx, p.targetX[k], 0.01) << k;
                EXPECT_NEAR(vy, p.targetY[k], 0.01) << k;
            }
            EXPECT_NEAR(std::fabs(x[7] - std::floor(p.ctrlX[7] + 0.5)), kReach, 1e-9);
        }
    }
}

TEST(Partition, WorkersAndRangesFollowTheTwentyPointRule) {
    struct Row {
        int K;
        std::vector<int> bounds;  // start0, end0, start1, end1, ...
    };
    const Row table[] = {
        {0, {}},
        {1, {0, 1}},
        {20, {0, 20}},
        {21, {0, 10, 10, 21}},
        {25, {0, 12, 12, 25}},
        {40, {0, 20, 20, 40}},
        {59, {0, 19, 19, 38, 38, 59}},
        {61, {0, 15, 15, 30, 30, 45, 45, 61}},
        {1000, {0, 250, 250, 500, 500, 750, 750, 1000}},
        {1003, {0, 250, 250, 500, 500, 750, 750, 1003}},
    };
    for (const Row& row : table) {
        int start[kMaxWorkers], end[kMaxWorkers];
        int n = partitionPoints(row.K, start, end);
        ASSERT_EQ(2 * n, static_cast<int>(row.bounds.size())) << "K " << row.K;
        for (int i = 0; i < n; ++i) {
            EXPECT_EQ(start[i], row.bounds[static_cast<size_t>(2 * i)]) << "K " << row.K << " worker " << i;
            EXPECT_EQ(end[i], row.bounds[static_cast<size_t>(2 * i + 1)]) << "K " << row.K << " worker " << i;
        }
    }
    int start[kMaxWorkers], end[kMaxWorkers];
    EXPECT_EQ(partitionPoints(-5, start, end), 0);
    EXPECT_EQ(partitionPoints(100000, start, end), 4);
}

namespace {

struct ThreadedRun {
    SplineProblem p;
    std::vector<double> x, y;
    WorkerLog log;
    ThreadRun run;

    ThreadedRun(int K, const ThreadFunctions* fns = nullptr, const std::function<bool()>& shouldStop = nullptr)
        : p(SplineProblem::random(K, 7u)) {
        x.assign(static_cast<size_t>(K), -1);
        y.assign(static_cast<size_t>(K), -1);
        run = runInversionThreads(p.input(), x.data(), y.data(), &log, fns, shouldStop);
    }
};

int failSecondCreate(ThreadHandle* t, const ThreadAttr* a, void* (*f)(void*), void* arg) {
    static int calls = 0;
    if (++calls == 2) return EAGAIN;
    return kPlatformThreads.create(t, a, f, arg);
}

// Joins, then reports a failure for the first worker.
int failFirstJoin(ThreadHandle t, void** result) {
    static int calls = 0;
    int rc = kPlatformThreads.join(t, result);
    return ++calls == 1 && rc == 0 ? EINVAL : rc;
}

}  // namespace

TEST(Threads, WorkersCoverEveryPointAndLogStartBeforeExit) {
    const ScalarKernel scalar;
    for (int K : {0, 25, 61}) {
        ThreadedRun t(K);
        ASSERT_TRUE(t.run.ok());
        std::vector<double> rx(t.x.size()), ry(t.x.size());
        referenceInvertRange(t.p.input(), 0, K, rx.data(), ry.data());
        for (size_t k = 0; k < rx.size(); ++k)
            ASSERT_TRUE(sameBits(t.x[k], rx[k]) && sameBits(t.y[k], ry[k])) << "K " << K << " point " << k;

        int start[kMaxWorkers], end[kMaxWorkers];
        const int n = partitionPoints(K, start, end);
        EXPECT_EQ(t.run.workers, n);
        EXPECT_EQ(t.run.started, n);
        ASSERT_EQ(t.log.count, 2 * n);
        EXPECT_EQ(t.log.exits, n);
        for (int i = 0; i < n; ++i) {
            EXPECT_EQ(param[i].start, start[i]);
            EXPECT_EQ(param[i].end, end[i]);
            EXPECT_EQ(param[i].count, K);
            // Each worker's start event precedes its exit event.
            int startAt = -1, exitAt = -1;
            for (int e = 0; e < t.log.count; ++e) {
                if (t.log.events[e].value != end[i]) continue;
                (t.log.events[e].kind == kWorkerStart ? startAt : exitAt) = e;
            }
            EXPECT_GE(startAt, 0);
            EXPECT_GT(exitAt, startAt) << "worker " << i;
        }
    }
}

TEST(Threads, FailedCreationOrJoinIsReportedAfterEveryStartedWorkerFinished) {
    const ThreadFunctions createFails = {failSecondCreate, kPlatformThreads.join};
    ThreadedRun c(61, &createFails);
    EXPECT_FALSE(c.run.ok());
    EXPECT_EQ(c.run.createError, EAGAIN);
    EXPECT_EQ(c.run.failedWorker, 1);
    EXPECT_EQ(c.run.started, 1);
    EXPECT_EQ(c.run.workers, 4);
    // The one started worker ran to its end before the run returned.
    EXPECT_EQ(c.log.exits, 1);
    EXPECT_NE(c.x[14], -1);
    EXPECT_EQ(c.x[15], -1);

    const ThreadFunctions joinFails = {kPlatformThreads.create, failFirstJoin};
    ThreadedRun j(25, &joinFails);
    EXPECT_FALSE(j.run.ok());
    EXPECT_EQ(j.run.joinError, EINVAL);
    EXPECT_EQ(j.run.failedWorker, 0);
    EXPECT_EQ(j.run.started, 2);
    EXPECT_EQ(j.log.exits, 2);
}

TEST(Threads, StopAskedWhileWaitingEndsEveryWorkerEarly) {
    struct Case {
        int K;
        int yesAt;  // the question answered yes; 0: never
    };
    for (const Case c : {Case{61, 0}, Case{2000, 1}, Case{2000, 3}}) {
        int asked = 0;
        ThreadedRun t(c.K, nullptr, [&] { return ++asked == c.yesAt; });
        EXPECT_TRUE(t.run.ok()) << c.K;
        EXPECT_EQ(t.run.stopped, c.yesAt > 0) << c.K;
        // Every worker started and exited before the run returned.
        EXPECT_EQ(t.log.exits, t.run.workers);
        EXPECT_EQ(t.log.count, 2 * t.run.workers);
        if (c.yesAt == 0) {
            std::vector<double> rx(t.x.size()), ry(t.x.size());
            referenceInvertRange(t.p.input(), 0, c.K, rx.data(), ry.data());
            for (size_t k = 0; k < rx.size(); ++k)
                ASSERT_TRUE(sameBits(t.x[k], rx[k]) && sameBits(t.y[k], ry[k])) << "point " << k;
            continue;
        }
        // No question after the yes; each worker's range ends unfinished,
        // minutes of work short.
        EXPECT_EQ(asked, c.yesAt);
        for (int i = 0; i < t.run.workers; ++i) EXPECT_EQ(t.x[static_cast<size_t>(param[i].end) - 1], -1) << i;
    }
}
