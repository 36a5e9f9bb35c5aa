// Dense maps, composition, resampling and noise fill, inside the result
// blocks, beside the way with an image of its own for each step.
#include "ReferenceInversion.h"
#include "ReferenceWarp.h"
#include "SplineProblem.h"
#include "WarpMaps.h"

#include <gtest/gtest.h>
#include <opencv2/imgproc/imgproc_c.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <random>
#include <vector>

using namespace warpmatch;

namespace {

float at(const IplImage* im, int r, int c) {
    return reinterpret_cast<const float*>(im->imageData + static_cast<size_t>(r) * im->widthStep)[c];
}
void put(IplImage* im, int r, int c, float v) {
    reinterpret_cast<float*>(im->imageData + static_cast<size_t>(r) * im->widthStep)[c] = v;
}

IplImage* filled(int M, int N, float (*f)(int r, int c)) {
    IplImage* im = cvCreateImage(cvSize(N, M), IPL_DEPTH_32F, 1);
    for (int r = 0; r < M; ++r)
        for (int c = 0; c < N; ++c) put(im, r, c, f(r, c));
    return im;
}

// A spline pair with K = 0: x' = a0x + axx*x + ayx*y, y' likewise.
struct Affine {
    double coefX[3], coefY[3];
    SplinePair pair() const { return {coefX, coefY, nullptr, nullptr, 0}; }
};

// The product's warp of an image (and previous maps) through warpBlocks,
// the noise fill and finishBlock, read back as images; w.stopped is unused.
struct Warped {
    WarpedImage w;
    bool ok = false;
    char error[256] = "";
    Warped(const SplinePair& s, const IplImage* src, const IplImage* px = nullptr, const IplImage* py = nullptr) {
        const int M = src->height, N = src->width;
        const size_t n = static_cast<size_t>(M) * static_cast<size_t>(N);
        std::vector<double> x(n), y(n), image(n);
        auto into = [&](const IplImage* from, double* block) {
            for (int r = 0; r < M; ++r)
                for (int c = 0; c < N; ++c) upperPlane(block, n)[static_cast<size_t>(r) * N + c] = at(from, r, c);
        };
        into(src, image.data());
        if (px && py) {
            into(px, x.data());
            into(py, y.data());
        }
        bool stopped = false;
        ok = warpBlocks(s, M, N, {x.data(), y.data(), image.data()}, px && py, error, sizeof error, &stopped);
        if (!ok) return;
        fillNoise(lowerPlane(image.data()), static_cast<size_t>(M), static_cast<size_t>(N), static_cast<size_t>(N));
        IplImage** images[3] = {&w.finalX, &w.finalY, &w.result};
        double* blocks[3] = {x.data(), y.data(), image.data()};
        for (int i = 0; i < 3; ++i) {
            finishBlock(blocks[i], M, N);
            *images[i] = cvCreateImage(cvSize(N, M), IPL_DEPTH_32F, 1);
            for (int r = 0; r < M; ++r)
                for (int c = 0; c < N; ++c)
                    put(*images[i], r, c, static_cast<float>(blocks[i][r + static_cast<size_t>(c) * M]));
        }
    }
    ~Warped() {
        for (IplImage* im : {w.finalX, w.finalY, w.result})
            if (im) cvReleaseImage(&im);
    }
};

bool sameImage(const IplImage* a, const IplImage* b) {
    // The reference's maps are the top-left region of larger images.
    const CvSize size = cvGetSize(a);
    if (size.width != cvGetSize(b).width || size.height != cvGetSize(b).height) return false;
    for (int r = 0; r < size.height; ++r)
        for (int c = 0; c < size.width; ++c) {
            const float u = at(a, r, c), v = at(b, r, c);
            if (std::memcmp(&u, &v, sizeof u) != 0) return false;
        }
    return true;
}

}  // namespace

TEST(CoarseGrid, NodesSpanTheEnlargedFrameFromEdgeToEdge) {
    struct Row {
        int M, Mq;
        double step;
    };
    for (const Row& row : {Row{5, 2, 7}, Row{8, 2, 7}, Row{9, 3, 5.5}, Row{13, 4, 5}, Row{512, 128, 4 + 3.0 / 127}}) {
        CoarseGrid g = coarseGrid(row.M, 7 * row.M);
        EXPECT_EQ(g.Mq, row.Mq) << row.M;
        EXPECT_EQ(g.stepY, row.step) << row.M;
        // The last node sits on the last row of the enlarged frame, 4*Mq - 1.
        EXPECT_NEAR((g.Mq - 1) * g.stepY, 4 * g.Mq - 1, 1e-9) << row.M;
        EXPECT_EQ(g.Nq, static_cast<int>(std::ceil(7 * row.M / 4.0)));
    }
}

TEST(CoarseGrid, NodeValuesEqualTheLiteralEvaluation) {
    const ScalarKernel scalar;
    SplineProblem p = SplineProblem::random(40, 3, 60);
    CoarseGrid g = coarseGrid(37, 50);
    const size_t n = static_cast<size_t>(g.Mq * g.Nq);
    std::vector<float> x(n), y(n), rx(n), ry(n);
    referenceCoarseEvaluate(p.pair(), g.Mq, g.Nq, g.stepX, g.stepY, rx.data(), ry.data());
    // Node rows shared among any number of workers give the same values.
    for (int workers : {0, 1, 2, 3, 7}) {
        coarseEvaluate(p.pair(), g, x.data(), static_cast<size_t>(g.Nq), y.data(), static_cast<size_t>(g.Nq), workers);
        EXPECT_EQ(std::memcmp(x.data(), rx.data(), n * sizeof(float)), 0) << workers;
        EXPECT_EQ(std::memcmp(y.data(), ry.data(), n * sizeof(float)), 0) << workers;
    }
    // A stop hook that never says yes changes nothing; one that says yes at
    // its first question leaves the calling thread's rows unwritten.
    for (int workers : {1, 3}) {
        std::fill(x.begin(), x.end(), -7.0f);
        int asked = 0;
        EXPECT_TRUE(coarseEvaluate(p.pair(), g, x.data(), static_cast<size_t>(g.Nq), y.data(),
                                   static_cast<size_t>(g.Nq), workers, [&] { return ++asked < 0; }));
        EXPECT_EQ(std::memcmp(x.data(), rx.data(), n * sizeof(float)), 0) << workers;
        EXPECT_GE(asked, 1) << workers;
        std::fill(x.begin(), x.end(), -7.0f);
        EXPECT_FALSE(coarseEvaluate(p.pair(), g, x.data(), static_cast<size_t>(g.Nq), y.data(),
                                    static_cast<size_t>(g.Nq), workers, [] { return true; }));
        EXPECT_EQ(x[0], -7.0f) << workers;
    }
}

TEST(Maps, NodesHoldTheSplineAndAffineMapsAreInterpolatedExactlyEnough) {
    // 13 x 13: nodes at 0, 5, 10, 15, three of them inside the frame.
    SplineProblem p = SplineProblem::random(6, 21, 13);
    for (double& w : p.coefX) w *= 1e4;  // strong bending
    IplImage* src = filled(13, 13, [](int r, int c) { return static_cast<float>(r + c); });
    Warped bent(p.pair(), src);
    ASSERT_TRUE(bent.ok) << bent.error;
    for (int r : {0, 5, 10})
        for (int c : {0, 5, 10}) {
            double vx, vy;
            tpsEvalPair(p.pair(), c, r, &vx, &vy);
            EXPECT_NEAR(at(bent.w.finalX, r, c), vx, 1e-3 * (1 + std::fabs(vx))) << r << "," << c;
            EXPECT_NEAR(at(bent.w.finalY, r, c), vy, 1e-3 * (1 + std::fabs(vy))) << r << "," << c;
        }

    // K = 0 on 8 x 9: nodes at rows 0 and 7, columns 0, 5.5 and 11; a
    // bilinear scale-up reproduces an affine map everywhere, up to the
    // library's position grid of 1/32 coarse pixel (error at most half of
    // that, in node steps of 5.5 and 7 pixels).
    Affine a{{2.5, 0.75, -0.5}, {-1, 0.25, 1.5}};
    IplImage* src2 = filled(8, 9, [](int, int) { return 1.0f; });
    Warped flat(a.pair(), src2);
    ASSERT_TRUE(flat.ok) << flat.error;
    EXPECT_EQ(cvGetSize(flat.w.finalX).width, 9);
    EXPECT_EQ(cvGetSize(flat.w.finalX).height, 8);
    for (int r = 0; r < 8; ++r)
        for (int c = 0; c < 9; ++c) {
            EXPECT_NEAR(at(flat.w.finalX, r, c), 2.5 + 0.75 * c - 0.5 * r, (0.75 * 5.5 + 0.5 * 7) / 64)
                << r << "," << c;
            EXPECT_NEAR(at(flat.w.finalY, r, c), -1 + 0.25 * c + 1.5 * r, (0.25 * 5.5 + 1.5 * 7) / 64)
                << r << "," << c;
        }
    // The node at (7, 0) lies on the frame's last row.
    EXPECT_NEAR(at(flat.w.finalY, 7, 0), -1 + 1.5 * 7, 1e-5);
    cvReleaseImage(&src);
    cvReleaseImage(&src2);
}

TEST(Resampling, NoiseReplacesExactlyTheSamplesBelowMinusOne) {
    const int M = 20, N = 24;
    // Shift 6 columns right; one sampled source pixel is itself below -1.
    Affine a{{6, 1, 0}, {0, 0, 1}};
    IplImage* src = filled(M, N, [](int r, int c) { return 40.0f + r + 2 * c; });
    put(src, 10, 9, -50);
    std::srand(12345);
    Warped w(a.pair(), src);
    ASSERT_TRUE(w.ok) << w.error;

    // What the resampling gave before the noise: the same remap again.
    IplImage* plain = cvCreateImage(cvSize(N, M), IPL_DEPTH_32F, 1);
    cvRemap(src, plain, w.w.finalX, w.w.finalY, 9, cvScalar(-100, 0, 0, 0));
    std::srand(12345);
    int replaced = 0;
    for (int r = 0; r < M; ++r)
        for (int c = 0; c < N; ++c) {
            const float before = at(plain, r, c), got = at(w.w.result, r, c);
            if (before < -1) {
                // One rand() per replaced pixel, rows outer.
                EXPECT_EQ(got, static_cast<float>(std::rand() / 2147483647.0)) << r << "," << c;
                EXPECT_TRUE(got >= 0 && got <= 1);
                ++replaced;
            } else {
                EXPECT_EQ(got, before) << r << "," << c;
            }
        }
    // Columns sampling beyond the right edge are noise, those well inside keep
    // the source, and the negative source pixel's sample is noise too.
    for (int r = 0; r < M; ++r) {
        for (int c = N - 5; c < N; ++c) EXPECT_LE(at(w.w.result, r, c), 1.0f) << r << "," << c;
        for (int c = 0; c < N - 8; ++c)
            if (!(r == 10 && c >= 2 && c <= 4)) {
                EXPECT_GT(at(w.w.result, r, c), 30.0f) << r << "," << c;
            }
    }
    EXPECT_LE(at(w.w.result, 10, 3), 1.0f);
    EXPECT_GE(replaced, 5 * M + 1);
    std::srand(12345);
    EXPECT_EQ(fillNoise(plain), replaced);
    EXPECT_EQ(std::memcmp(plain->imageData, w.w.result->imageData, static_cast<size_t>(plain->imageSize)), 0);
    EXPECT_EQ(fillNoise(plain), 0);
    cvReleaseImage(&plain);
    cvReleaseImage(&src);
}

TEST(Composition, PreviousMapsAreSampledThroughTheSplineMaps) {
    const int M = 16, N = 18;
    Affine a{{5, 1, 0}, {0, 0, 1}};  // 5 columns to the right
    IplImage* src = filled(M, N, [](int r, int c) { return static_cast<float>(100 + r * N + c); });
    IplImage* prevX = filled(M, N, [](int, int c) { return 2.0f * c + 1; });
    IplImage* prevY = filled(M, N, [](int r, int) { return 3.0f * r + 2; });
    Warped alone(a.pair(), src);
    Warped composed(a.pair(), src, prevX, prevY);
    ASSERT_TRUE(alone.ok && composed.ok);
    for (int r = 0; r < M; ++r)
        for (int c = 0; c < N; ++c) {
            const float mx = at(alone.w.finalX, r, c), my = at(alone.w.finalY, r, c);
            const float fx = at(composed.w.finalX, r, c), fy = at(composed.w.finalY, r, c);
            if (mx <= N - 1 - 0.1) {
                EXPECT_NEAR(fx, 2 * mx + 1, 0.1) << r << "," << c;
                EXPECT_NEAR(fy, 3 * my + 2, 0.2) << r << "," << c;
            } else if (mx >= N) {
                // Outside the previous maps: 0, so the pixel samples the
                // source's top-left pixel.
                EXPECT_EQ(fx, 0.0f) << r << "," << c;
                EXPECT_EQ(fy, 0.0f) << r << "," << c;
                EXPECT_EQ(at(composed.w.result, r, c), 100.0f) << r << "," << c;
            }
        }
    // The composed maps, not the spline maps, drive the resampling.
    const float fx = at(composed.w.finalX, 2, 1), fy = at(composed.w.finalY, 2, 1);
    EXPECT_NEAR(fx, 13, 0.2);
    EXPECT_NEAR(fy, 8, 0.2);
    EXPECT_NEAR(at(composed.w.result, 2, 1), 100 + fy * N + fx, 0.5);
    for (IplImage* im : {src, prevX, prevY}) cvReleaseImage(&im);
}

// The work inside the result blocks gives, bit for bit, the maps and image
// that an image per step gave: small and odd frames, a frame of several
// composition strips, bending splines, previous maps partly out of range,
// source values below -1, and the noise drawn in the same order.
TEST(WarpBlocks, EqualTheImagePerStepWayBitForBit) {
    struct Case {
        int M, N, K;
        bool compose;
    };
    for (const Case& k : {Case{5, 5, 0, false}, Case{13, 17, 6, true}, Case{64, 41, 30, false},
                          Case{300, 130, 12, true}, Case{9, 700, 3, true}}) {
        SplineProblem p = SplineProblem::random(k.K, static_cast<unsigned>(k.M + k.N), std::max(k.M, k.N));
        for (double& w : p.coefX) w *= 1e3;
        auto fill = [&](unsigned seed, float scale, float offset) {
            IplImage* im = cvCreateImage(cvSize(k.N, k.M), IPL_DEPTH_32F, 1);
            std::mt19937 rng(seed);
            std::uniform_real_distribution<float> u(0, 1);
            for (int r = 0; r < k.M; ++r)
                for (int c = 0; c < k.N; ++c) put(im, r, c, offset + scale * u(rng));
            return im;
        };
        IplImage* src = fill(1, 300, -20);
        IplImage* px = k.compose ? fill(2, 1.2f * k.N, -0.1f * k.N) : nullptr;
        IplImage* py = k.compose ? fill(3, 1.2f * k.M, -0.1f * k.M) : nullptr;
        std::srand(99);
        Warped got(p.pair(), src, px, py);
        std::srand(99);
        WarpedImage want;
        char error[256];
        ASSERT_TRUE(referenceWarpImage(p.pair(), src, px, py, &want, error, sizeof error)) << error;
        ASSERT_TRUE(got.ok) << got.error;
        EXPECT_TRUE(sameImage(got.w.finalX, want.finalX)) << k.M << "x" << k.N;
        EXPECT_TRUE(sameImage(got.w.finalY, want.finalY)) << k.M << "x" << k.N;
        EXPECT_TRUE(sameImage(got.w.result, want.result)) << k.M << "x" << k.N;
        for (IplImage* im : {src, px, py, want.finalX, want.finalY, want.result})
            if (im) cvReleaseImage(&im);
    }
}
