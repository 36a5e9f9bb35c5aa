// patchmatch through the embedded host: a known shift found below a pixel
// at every level, its quality measures, the points it picks, and each
// refusal.
#include "MexHost.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <string>
#include <vector>

namespace {

const double NaN = std::numeric_limits<double>::quiet_NaN();

// A smooth textured image, column-major, value at (x, y) = texture(x, y).
double texture(double x, double y) {
    return 128 + 40 * std::sin(0.61 * x + 0.25 * y) + 30 * std::cos(0.47 * y - 0.31 * x) +
           20 * std::sin(0.19 * x + 0.83 * y);
}

std::vector<double> image(int M, int N, double shiftX, double shiftY) {
    std::vector<double> v(static_cast<size_t>(M) * N);
    for (int j = 0; j < N; ++j)
        for (int i = 0; i < M; ++i) v[i + static_cast<size_t>(j) * M] = texture(j - shiftX, i - shiftY);
    return v;
}

struct Patchmatch : ::testing::Test {
    mexhost::Plugin plugin{mexhost::pluginPath("patchmatch")};
    mexhost::ArrayPtr identityCtrl = mexhost::matrix(2, 0);
    mexhost::ArrayPtr identityCoef = mexhost::matrix(3, 2, {0, 1, 0, 0, 0, 1});
};

}  // namespace

TEST_F(Patchmatch, FindsAKnownShiftBelowAPixelAtEveryLevel) {
    const int M = 120, N = 160;
    const double sx = 3.3, sy = -2.6;
    auto ref = mexhost::matrix(M, N, image(M, N, 0, 0));
    auto mov = mexhost::matrix(M, N, image(M, N, sx, sy));
    auto points = mexhost::matrix(2, 3, {60, 50, 80, 60, 100, 70});
    struct Case {
        int level, half, radius;
        double tolerance;
    } cases[] = {{0, 8, 5, 0.02}, {1, 6, 3, 0.05}};
    for (const Case& c : cases) {
        auto level = mexhost::scalar(c.level), half = mexhost::scalar(c.half), radius = mexhost::scalar(c.radius);
        auto r = plugin.call(5, {ref.get(), mov.get(), points.get(), identityCtrl.get(), identityCoef.get(),
                                 level.get(), half.get(), radius.get()});
        ASSERT_TRUE(r.ok) << r.errorMessage;
        EXPECT_TRUE(r.leakFree());
        const auto found = mexhost::values(r.outputs[0].get());
        const auto quality = mexhost::values(r.outputs[1].get());
        const auto given = mexhost::values(points.get());
        for (int k = 0; k < 3; ++k) {
            EXPECT_NEAR(found[2 * k], given[2 * k] + sx, c.tolerance) << "level " << c.level << " point " << k;
            EXPECT_NEAR(found[2 * k + 1], given[2 * k + 1] + sy, c.tolerance) << "level " << c.level;
            EXPECT_GT(quality[2 * k], 0.95);
            EXPECT_LT(quality[2 * k + 1], quality[2 * k]);
        }
        // The maps of the identity estimate at the level: x and y themselves.
        const auto mapX = mexhost::values(r.outputs[3].get());
        const size_t Ml = mxGetM(r.outputs[3].get());
        EXPECT_EQ(Ml, static_cast<size_t>((M + (1 << c.level) - 1) >> c.level));
        EXPECT_NEAR(mapX[Ml * 7 + 3], 7, 1e-4);
    }
}

// The maps must follow the estimate itself, not only where it is straight:
// under a warp that bends by some 30 px over the frame (up to 0.23 px/px),
// as the 25 px warps a registration meets do, they stay within 0.02 level
// pixels of the spline (a tenth of a pixel and more when they were
// interpolated by the library's cubic from nodes 8 pixels apart).
TEST_F(Patchmatch, MapsFollowABendingEstimate) {
    const int M = 128, N = 128;
    auto img = mexhost::matrix(M, N, image(M, N, 0, 0));
    const double ctrl[6] = {30, 40, 90, 50, 60, 100};
    const double coefX[6] = {1e-4, -2e-4, 1e-4, 0, 1, 0}, coefY[6] = {-1e-4, 1e-4, 0, 0, 0, 1};
    auto ctrlArray = mexhost::matrix(2, 3, std::vector<double>(ctrl, ctrl + 6));
    std::vector<double> coef(coefX, coefX + 6);
    coef.insert(coef.end(), coefY, coefY + 6);
    auto coefArray = mexhost::matrix(6, 2, coef);
    // warpmatch's spline, literally.
    auto spline = [&](const double* c, double x, double y) {
        double v = c[3] + c[4] * x + c[5] * y;
        for (int k = 0; k < 3; ++k) {
            const double d = (ctrl[2 * k] - x) * (ctrl[2 * k] - x) + (ctrl[2 * k + 1] - y) * (ctrl[2 * k + 1] - y);
            v += c[k] * d * std::log(d + 2.2204e-16);
        }
        return v;
    };
    auto points = mexhost::matrix(2, 1, {64, 64});
    for (int l : {0, 1}) {
        auto level = mexhost::scalar(l), half = mexhost::scalar(4), radius = mexhost::scalar(1);
        auto r = plugin.call(5, {img.get(), img.get(), points.get(), ctrlArray.get(), coefArray.get(), level.get(),
                                 half.get(), radius.get()});
        ASSERT_TRUE(r.ok) << r.errorMessage;
        const auto mapX = mexhost::values(r.outputs[3].get()), mapY = mexhost::values(r.outputs[4].get());
        const size_t Ml = mxGetM(r.outputs[3].get()), Nl = mxGetN(r.outputs[3].get());
        const double scale = 1 << l;
        double worst = 0;
        for (size_t j = 0; j < Nl; ++j)
            for (size_t i = 0; i < Ml; ++i) {
                const double x = static_cast<double>(j) * scale, y = static_cast<double>(i) * scale;
                worst = std::max({worst, std::fabs(mapX[i + j * Ml] - spline(coefX, x, y) / scale),
                                  std::fabs(mapY[i + j * Ml] - spline(coefY, x, y) / scale)});
            }
        EXPECT_LT(worst, 0.02) << "level " << l;
    }
}

TEST_F(Patchmatch, MarksPatchesItCannotMatch) {
    const int M = 60, N = 60;
    auto ref = mexhost::matrix(M, N, image(M, N, 0, 0));
    std::vector<double> flat(M * N, 100.0);
    auto flatRef = mexhost::matrix(M, N, flat);
    auto mov = mexhost::matrix(M, N, image(M, N, 6, 0));
    // Too near the edge for a template; shifted beyond the radius; matched
    // in the border beyond the moving image.
    auto points = mexhost::matrix(2, 3, {3, 30, 30, 30, 54, 30});
    auto level = mexhost::scalar(0), half = mexhost::scalar(5), radius = mexhost::scalar(3);
    auto r = plugin.call(2, {ref.get(), mov.get(), points.get(), identityCtrl.get(), identityCoef.get(), level.get(),
                             half.get(), radius.get()});
    ASSERT_TRUE(r.ok) << r.errorMessage;
    for (double v : mexhost::values(r.outputs[0].get())) EXPECT_TRUE(std::isnan(v));
    // A flat template matches nothing.
    auto p = mexhost::matrix(2, 1, {30, 30});
    auto f = plugin.call(1, {flatRef.get(), mov.get(), p.get(), identityCtrl.get(), identityCoef.get(), level.get(),
                             half.get(), radius.get()});
    ASSERT_TRUE(f.ok);
    EXPECT_TRUE(std::isnan(mexhost::values(f.outputs[0].get())[0]));
}

TEST_F(Patchmatch, PicksSpreadCornersAndNoneOnFlatGround) {
    const int M = 100, N = 100;
    std::vector<double> img(M * N, 50.0);
    // Bright squares: four corners each, in the left half only.
    for (int s = 0; s < 2; ++s)
        for (int j = 10; j < 30; ++j)
            for (int i = 10 + 45 * s; i < 30 + 45 * s; ++i) img[i + j * M] = 200;
    auto ref = mexhost::matrix(M, N, img);
    auto cell = mexhost::scalar(25), level = mexhost::scalar(0), half = mexhost::scalar(4), radius = mexhost::scalar(2);
    auto r = plugin.call(3, {ref.get(), ref.get(), cell.get(), identityCtrl.get(), identityCoef.get(), level.get(),
                             half.get(), radius.get()});
    ASSERT_TRUE(r.ok) << r.errorMessage;
    EXPECT_TRUE(r.leakFree());
    const auto pts = mexhost::values(r.outputs[2].get());
    ASSERT_GE(pts.size(), 8u);
    for (size_t k = 0; k < pts.size() / 2; ++k) {
        EXPECT_LT(pts[2 * k], 35) << "a point on flat ground at x = " << pts[2 * k];
        EXPECT_GE(pts[2 * k], 4);
    }
    // Matched against itself, every picked point is found where it is.
    const auto found = mexhost::values(r.outputs[0].get());
    for (size_t i = 0; i < pts.size(); ++i) EXPECT_NEAR(found[i], pts[i], 0.01);
}

TEST_F(Patchmatch, RefusesEachArgumentWithItsIdentifier) {
    auto img = mexhost::matrix(20, 20, image(20, 20, 0, 0));
    auto pts = mexhost::matrix(2, 1, {10, 10});
    auto zero = mexhost::scalar(0), four = mexhost::scalar(4), two = mexhost::scalar(2);
    auto nan = mexhost::scalar(NaN), half = mexhost::scalar(2.5), big = mexhost::scalar(17);
    auto threeRows = mexhost::matrix(3, 1, {1, 2, 3});
    auto badCoef = mexhost::matrix(4, 2);
    auto cube = mexhost::numeric(mxDOUBLE_CLASS, {4, 4, 3});
    auto text = mexhost::text("camera.png");
    std::vector<double> withNaN(400, 1.0);
    withNaN[17] = NaN;
    auto nanImage = mexhost::matrix(20, 20, withNaN);
    const mxArray* a[8] = {img.get(), img.get(), pts.get(), identityCtrl.get(), identityCoef.get(), zero.get(),
                           four.get(), two.get()};
    struct Case {
        int arg;
        const mxArray* value;
        const char* id;
    } cases[] = {
        {0, cube.get(), "patchmatch:ref"},       {0, nanImage.get(), "patchmatch:ref"},
        {1, text.get(), "patchmatch:mov"},       {2, threeRows.get(), "patchmatch:points"},
        {2, nan.get(), "patchmatch:points"},     {3, threeRows.get(), "patchmatch:ctrl"},
        {4, badCoef.get(), "patchmatch:coef"},   {5, big.get(), "patchmatch:level"},
        {6, half.get(), "patchmatch:patchHalf"}, {7, zero.get(), "patchmatch:radius"},
    };
    for (const Case& c : cases) {
        std::vector<const mxArray*> args(a, a + 8);
        args[c.arg] = c.value;
        auto r = plugin.call(1, args);
        EXPECT_FALSE(r.ok);
        EXPECT_EQ(r.errorId, c.id) << r.errorMessage;
        EXPECT_TRUE(r.leakFree());
    }
    auto few = plugin.call(1, std::vector<const mxArray*>(a, a + 7));
    EXPECT_EQ(few.errorId, "patchmatch:nargin");
    auto many = plugin.call(7, std::vector<const mxArray*>(a, a + 8));
    EXPECT_EQ(many.errorId, "patchmatch:nargout");
}

TEST_F(Patchmatch, StopsOnTheHostsInterruptAndReleasesEverything) {
    // Some 10,000 patches: work enough that the call is still under way at
    // its fourth look, however fast the machine.
    const int M = 600, N = 600;
    auto ref = mexhost::matrix(M, N, image(M, N, 0, 0));
    auto mov = mexhost::matrix(M, N, image(M, N, 1.5, 0));
    auto cell = mexhost::scalar(6), level = mexhost::scalar(0), half = mexhost::scalar(6), radius = mexhost::scalar(3);
    // At the first look and a few looks later (the plug-in asks the host at
    // most every 2 ms), with the work under way.
    for (unsigned long polls : {0ul, 1ul, 3ul}) {
        mexhost::raiseInterruptAfterPolls(polls);
        auto r = plugin.call(6, {ref.get(), mov.get(), cell.get(), identityCtrl.get(), identityCoef.get(), level.get(),
                                 half.get(), radius.get()});
        mexhost::clearInterrupt();
        EXPECT_FALSE(r.ok) << "after " << polls << " polls";
        EXPECT_EQ(r.errorId, "patchmatch:interrupted");
        EXPECT_TRUE(r.leakFree());
    }
}
