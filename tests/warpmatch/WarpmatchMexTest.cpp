// warpmatch through the embedded host: outputs, console lines, classes,
// chained calls, noise and every refusal.
#include "MexArgs.h"
#include "MexHost.h"
#include "ReferenceInversion.h"
#include "SplineProblem.h"
#include "ReferenceWarp.h"

#include <gtest/gtest.h>
#include <opencv2/core/utility.hpp>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <limits>
#include <string>
#include <vector>

using namespace warpmatch;

namespace {

using mexhost::ArrayPtr;
const double NaN = std::numeric_limits<double>::quiet_NaN();

bool sameBits(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }

ArrayPtr column(const std::vector<double>& v) { return mexhost::matrix(v.size(), 1, v); }

// The nine arguments of one call, owned.
struct Args {
    ArrayPtr a[9];
    Args(const SplineProblem& p, ArrayPtr image, ArrayPtr prevX = mexhost::matrix(0, 0),
         ArrayPtr prevY = mexhost::matrix(0, 0)) {
        a[0] = column(p.coefX);
        a[1] = column(p.coefY);
        a[2] = column(p.ctrlX);
        a[3] = column(p.ctrlY);
        a[4] = column(p.targetX);
        a[5] = column(p.targetY);
        a[6] = std::move(prevX);
        a[7] = std::move(prevY);
        a[8] = std::move(image);
    }
    std::vector<const mxArray*> list() const {
        std::vector<const mxArray*> v;
        for (const ArrayPtr& p : a) v.push_back(p.get());
        return v;
    }
};

ArrayPtr ramp(size_t M, size_t N) {
    std::vector<double> v(M * N);
    for (size_t c = 0; c < N; ++c)
        for (size_t r = 0; r < M; ++r) v[r + c * M] = 10 + 0.5 * static_cast<double>(r) + static_cast<double>(c);
    return mexhost::matrix(M, N, v);
}

// K = 0 and an affine pair x' = x + dx, y' = y + dy.
SplineProblem shift(double dx, double dy) {
    SplineProblem p;
    p.coefX = {dx, 1, 0};
    p.coefY = {dy, 0, 1};
    return p;
}

struct Fixture : ::testing::Test {
    mexhost::Plugin plugin{mexhost::pluginPath("warpmatch")};

    mexhost::CallResult run(const Args& args, int nlhs = 4) const { return plugin.call(nlhs, args.list()); }

    std::vector<std::string> lines(const std::string& out) const {
        std::vector<std::string> v;
        size_t at = 0;
        while (at < out.size()) {
            size_t nl = out.find('\n', at);
            EXPECT_NE(nl, std::string::npos) << "unterminated console line";
            if (nl == std::string::npos) break;
            v.push_back(out.substr(at, nl - at));
            at = nl + 1;
        }
        return v;
    }
};

}  // namespace

TEST_F(Fixture, OutputsHoldPointsMapsAndTheWarpedImage) {
    const size_t M = 40, N = 52;
    SplineProblem p = SplineProblem::random(30, 9, 45);
    Args args(p, ramp(M, N));
    auto r = run(args);
    ASSERT_TRUE(r.ok) << r.errorId << ": " << r.errorMessage;
    EXPECT_TRUE(r.leakFree());
    ASSERT_EQ(r.outputs.size(), 4u);
    const mxArray* pts = r.outputs[0].get();
    ASSERT_EQ(mxGetM(pts), 30u);
    ASSERT_EQ(mxGetN(pts), 2u);
    // The plug-in takes the same kernel path as this process.
    std::vector<double> rx(30), ry(30);
    invertRange(p.input(), 0, 30, rx.data(), ry.data());
    auto pv = mexhost::values(pts);
    for (size_t k = 0; k < 30; ++k) {
        EXPECT_TRUE(sameBits(pv[k], rx[k])) << k;
        EXPECT_TRUE(sameBits(pv[30 + k], ry[k])) << k;
    }
    for (size_t i = 1; i < 4; ++i) {
        EXPECT_EQ(mxGetM(r.outputs[i].get()), M);
        EXPECT_EQ(mxGetN(r.outputs[i].get()), N);
    }
    // Map element (r, c) at r + c*M: the node at the origin and an affine
    // check of the layout (x grows along columns, y along rows).
    auto mx = mexhost::values(r.outputs[1].get()), my = mexhost::values(r.outputs[2].get());
    double vx, vy, origin = 0;
    tpsEvalPairs(p.pair(), &origin, &origin, 1, &vx, &vy);
    EXPECT_EQ(mx[0], static_cast<double>(static_cast<float>(vx)));
    EXPECT_EQ(my[0], static_cast<double>(static_cast<float>(vy)));
    tpsEvalPair(p.pair(), 30, 7, &vx, &vy);
    EXPECT_NEAR(mx[7 + 30 * M], vx, 0.2);
    EXPECT_NEAR(my[7 + 30 * M], vy, 0.2);
    // The image is the ramp sampled at the maps, or noise in [0, 1] outside.
    auto w = mexhost::values(r.outputs[3].get());
    int noise = 0;
    for (size_t c = 0; c < N; ++c)
        for (size_t rr = 0; rr < M; ++rr) {
            const size_t i = rr + c * M;
            EXPECT_EQ(w[i], static_cast<double>(static_cast<float>(w[i])));  // single precision
            if (mx[i] >= 0.1 && mx[i] <= N - 1.1 && my[i] >= 0.1 && my[i] <= M - 1.1) {
                EXPECT_NEAR(w[i], 10 + 0.5 * my[i] + mx[i], 0.05) << rr << "," << c;
            } else if (mx[i] < -1 || mx[i] > N || my[i] < -1 || my[i] > M) {
                EXPECT_TRUE(w[i] >= 0 && w[i] <= 1) << rr << "," << c << ": " << w[i];
                ++noise;
            }
        }
    EXPECT_GT(noise, 0);
}

TEST_F(Fixture, ConsoleLinesComeFromTheCallingThreadInOrder) {
    struct Case {
        int K;
        std::vector<int> ends;
    };
    for (const Case& c : {Case{0, {}}, Case{25, {12, 25}}, Case{61, {15, 30, 45, 61}}}) {
        SplineProblem p = SplineProblem::random(c.K, 4, 30);
        Args args(p, ramp(30, 30));
        auto r = run(args);
        ASSERT_TRUE(r.ok) << r.errorMessage;
        EXPECT_TRUE(r.leakFree());
        EXPECT_EQ(mxGetM(r.outputs[0].get()), static_cast<size_t>(c.K));
        EXPECT_EQ(mxGetN(r.outputs[0].get()), 2u);
        auto ls = lines(r.output);
        ASSERT_EQ(ls.size(), 2 * c.ends.size() + 1) << r.output;
        EXPECT_EQ(ls.back(), "Thread join all");
        for (int end : c.ends) {
            size_t started = ls.size(), exited = ls.size();
            for (size_t i = 0; i + 1 < ls.size(); ++i) {
                if (ls[i] == "Thread start " + std::to_string(end)) started = i;
                if (ls[i] == "Thread Exit " + std::to_string(end)) exited = i;
            }
            EXPECT_LT(started, exited) << "K " << c.K << " worker ending at " << end << "\n" << r.output;
            EXPECT_LT(exited, ls.size() - 1);
        }
    }
}

TEST_F(Fixture, OtherRealClassesAreReadByValue) {
    SplineProblem p = shift(2, -1);
    p.ctrlX = {10, 20, 30};
    p.ctrlY = {5, 15, 25};
    p.targetX = {14, 20.5, 30};
    p.targetY = {5, 16, 20};
    p.coefX.insert(p.coefX.begin(), 3, 0.0);
    p.coefY.insert(p.coefY.begin(), 3, 0.0);
    auto img = ramp(24, 36);
    std::vector<double> rounded = mexhost::values(img.get());
    for (double& v : rounded) v = std::round(v);
    Args mixed(p, mexhost::numeric(mxUINT8_CLASS, {24, 36}, rounded));
    Args dblRounded(p, mexhost::matrix(24, 36, rounded));
    mixed.a[0] = mexhost::numeric(mxSINGLE_CLASS, {1, 6}, p.coefX);
    mixed.a[2] = mexhost::numeric(mxINT16_CLASS, {3, 1}, p.ctrlX);
    mixed.a[3] = mexhost::numeric(mxINT32_CLASS, {3, 1}, p.ctrlY);
    mixed.a[4] = mexhost::numeric(mxSINGLE_CLASS, {3, 1}, p.targetX);
    auto a = run(dblRounded), b = run(mixed);
    ASSERT_TRUE(a.ok && b.ok) << b.errorId << ": " << b.errorMessage;
    EXPECT_TRUE(b.leakFree());
    for (int i = 0; i < 3; ++i) EXPECT_EQ(mexhost::values(a.outputs[i].get()), mexhost::values(b.outputs[i].get()));
    // The shifted identity: x moves back by 2 and y forward by 1.
    const std::vector<double> expected{12, 18.5, 28, 6, 17, 21};
    auto pts = mexhost::values(b.outputs[0].get());
    ASSERT_EQ(pts.size(), expected.size());
    for (size_t i = 0; i < pts.size(); ++i) EXPECT_NEAR(pts[i], expected[i], 1e-9) << i;
}

TEST_F(Fixture, FewerOutputsWriteOnlyTheirSlots) {
    SplineProblem p = SplineProblem::random(5, 2, 20);
    for (int nlhs : {0, 1, 2, 3}) {
        Args args(p, ramp(20, 20));
        auto r = run(args, nlhs);
        ASSERT_TRUE(r.ok) << nlhs << ": " << r.errorMessage;
        EXPECT_TRUE(r.leakFree()) << nlhs;
        EXPECT_EQ(r.outputs.size(), static_cast<size_t>(nlhs > 0 ? nlhs : 1));
        EXPECT_EQ(mxGetM(r.outputs[0].get()), 5u);
        EXPECT_EQ(r.output.substr(r.output.size() - 16), "Thread join all\n");
    }
}

TEST_F(Fixture, MapsOfOneCallComposeIntoTheNext) {
    const size_t M = 24, N = 30;
    Args first(shift(4, 0), ramp(M, N));
    auto a = run(first);
    ASSERT_TRUE(a.ok) << a.errorMessage;
    auto ax = mexhost::values(a.outputs[1].get()), ay = mexhost::values(a.outputs[2].get());
    // Second warp: 3 rows down; composing gives x from the first maps at
    // row + 3.
    Args second(shift(0, 3), ramp(M, N), mexhost::matrix(M, N, ax), mexhost::matrix(M, N, ay));
    auto b = run(second);
    ASSERT_TRUE(b.ok) << b.errorId << ": " << b.errorMessage;
    EXPECT_TRUE(b.leakFree());
    auto bx = mexhost::values(b.outputs[1].get()), by = mexhost::values(b.outputs[2].get());
    // The last column's samples may reach a little past the previous maps'
    // edge, where they blend with the fill value.
    for (size_t c = 0; c + 1 < N; ++c)
        for (size_t r = 0; r + 4 < M; ++r) {
            EXPECT_NEAR(bx[r + c * M], ax[r + 3 + c * M], 0.15) << r << "," << c;
            EXPECT_NEAR(by[r + c * M], ay[r + 3 + c * M], 0.25) << r << "," << c;
            EXPECT_NEAR(by[r + c * M], static_cast<double>(r) + 3, 0.25) << r << "," << c;
        }
    // Past the bottom of the previous maps the composed maps hold 0.
    EXPECT_EQ(bx[(M - 1) + 5 * M], 0.0);
    EXPECT_EQ(by[(M - 1) + 5 * M], 0.0);

    // A larger, 3-D previous warp: the first page is read with its own rows.
    std::vector<double> big(static_cast<size_t>((M + 2) * (N + 1) * 2), -7.0), bigY(big);
    for (size_t c = 0; c < N; ++c)
        for (size_t r = 0; r < M; ++r) {
            big[r + c * (M + 2)] = ax[r + c * M];
            bigY[r + c * (M + 2)] = ay[r + c * M];
        }
    Args third(shift(0, 3), ramp(M, N), mexhost::numeric(mxDOUBLE_CLASS, {M + 2, N + 1, 2}, big),
               mexhost::numeric(mxSINGLE_CLASS, {M + 2, N + 1, 2}, bigY));
    auto c3 = run(third);
    ASSERT_TRUE(c3.ok) << c3.errorId << ": " << c3.errorMessage;
    auto cx = mexhost::values(c3.outputs[1].get());
    for (size_t c = 0; c + 1 < N; ++c)
        for (size_t r = 0; r + 4 < M; ++r) EXPECT_NEAR(cx[r + c * M], bx[r + c * M], 1e-4) << r << "," << c;
}

namespace {

// The image, previous maps and outputs the way the shell used to move them:
// element by element through the literal reading rule (NaN as 0.1, narrowed
// to float; maps at r + c*R7 of prevX's rows), then the core's warp.
struct LiteralWarp {
    std::vector<double> x, y, warped;

    static IplImage* read(const mxArray* a, size_t M, size_t N, size_t stride) {
        IplImage* im = cvCreateImage(cvSize(static_cast<int>(N), static_cast<int>(M)), IPL_DEPTH_32F, 1);
        for (size_t r = 0; r < M; ++r)
            for (size_t c = 0; c < N; ++c) {
                double v = mexargs::elementValue(a, r + c * stride);
                reinterpret_cast<float*>(im->imageData + r * im->widthStep)[c] =
                    static_cast<float>(std::isnan(v) ? 0.1 : v);
            }
        return im;
    }

    LiteralWarp(const SplinePair& s, const mxArray* image, const mxArray* prevX, const mxArray* prevY) {
        const size_t M = mxGetM(image), N = mxGetN(image);
        IplImage* src = read(image, M, N, M);
        IplImage* px = prevX ? read(prevX, M, N, mxGetM(prevX)) : nullptr;
        IplImage* py = prevY ? read(prevY, M, N, mxGetM(prevX)) : nullptr;
        WarpedImage w;
        char error[256];
        EXPECT_TRUE(referenceWarpImage(s, src, px, py, &w, error, sizeof error)) << error;
        for (auto* out : {&x, &y, &warped}) out->resize(M * N);
        for (size_t r = 0; r < M; ++r)
            for (size_t c = 0; c < N; ++c) {
                x[r + c * M] = reinterpret_cast<const float*>(w.finalX->imageData + r * w.finalX->widthStep)[c];
                y[r + c * M] = reinterpret_cast<const float*>(w.finalY->imageData + r * w.finalY->widthStep)[c];
                warped[r + c * M] = reinterpret_cast<const float*>(w.result->imageData + r * w.result->widthStep)[c];
            }
        for (IplImage* im : {src, px, py, w.finalX, w.finalY, w.result})
            if (im) cvReleaseImage(&im);
    }
};

bool sameBits(const std::vector<double>& a, const mxArray* b) {
    return a.size() == mxGetNumberOfElements(b) && std::memcmp(a.data(), mxGetPr(b), a.size() * sizeof(double)) == 0;
}

}  // namespace

// The bridge's tiled, threaded conversions give what the element-by-element
// copies gave, on an image large enough to be split among workers, for
// other classes, 3-D previous maps with a larger stride, and NaN elements.
TEST_F(Fixture, ConversionsAndOutputCopiesEqualTheElementByElementWay) {
    const size_t M = 530, N = 515;
    SplineProblem p = SplineProblem::random(25, 4, 500);
    std::vector<double> pixels(M * N), mx((M + 3) * (N + 1) * 2), my(mx);
    for (size_t i = 0; i < pixels.size(); ++i) pixels[i] = static_cast<double>((i * 7919) % 300) - 20;
    for (size_t i = 0; i < mx.size(); ++i) {
        mx[i] = static_cast<double>(i % (M + 3)) * 0.9 + 2;  // row-driven, so the maps stay in range
        my[i] = static_cast<double>((i / (M + 3)) % (N + 1)) * 1.1 - 3;
    }
    pixels[77] = mx[5] = my[M + 9] = NaN;
    struct Case {
        mxClassID image, maps;
        bool compose;
    };
    for (Case k : {Case{mxDOUBLE_CLASS, mxDOUBLE_CLASS, false}, Case{mxSINGLE_CLASS, mxDOUBLE_CLASS, true},
                   Case{mxINT16_CLASS, mxSINGLE_CLASS, true}}) {
        auto image = mexhost::numeric(k.image, {M, N}, pixels);
        ArrayPtr prevX = k.compose ? mexhost::numeric(k.maps, {M + 3, N + 1, 2}, mx) : mexhost::matrix(0, 0);
        ArrayPtr prevY = k.compose ? mexhost::numeric(k.maps, {M + 3, N + 1, 2}, my) : mexhost::matrix(0, 0);
        const mxArray *im = image.get(), *px = prevX.get(), *py = prevY.get();
        Args args(p, std::move(image), std::move(prevX), std::move(prevY));
        for (int attempt = 0; attempt < 5; ++attempt) {
            const time_t before = std::time(nullptr);
            auto r = run(args);
            std::srand(static_cast<unsigned>(before));  // the call's noise
            LiteralWarp want(p.pair(), im, k.compose ? px : nullptr, k.compose ? py : nullptr);
            if (std::time(nullptr) != before) continue;  // straddled a second; try again
            ASSERT_TRUE(r.ok) << r.errorMessage;
            EXPECT_TRUE(sameBits(want.x, r.outputs[1].get())) << k.image << " " << k.compose;
            EXPECT_TRUE(sameBits(want.y, r.outputs[2].get())) << k.image << " " << k.compose;
            EXPECT_TRUE(sameBits(want.warped, r.outputs[3].get())) << k.image << " " << k.compose;
            break;
        }
    }
}

// A user's own image-library code in the same process must not notice us:
// the library's thread count and optimisation switch stay as the user set
// them, whatever the call splits among its own workers.
TEST_F(Fixture, LeavesTheImageLibrarySettingsAsTheyWere) {
    const int threads = cv::getNumThreads();
    const bool optimized = cv::useOptimized();
    for (int wanted : {1, 3}) {
        cv::setNumThreads(wanted);
        const int set = cv::getNumThreads();
        Args args(SplineProblem::random(25, 2, 300), ramp(520, 300), ramp(520, 300), ramp(520, 300));
        auto r = run(args);
        ASSERT_TRUE(r.ok) << r.errorMessage;
        EXPECT_EQ(cv::getNumThreads(), set);
        EXPECT_EQ(cv::useOptimized(), optimized);
    }
    cv::setNumThreads(threads);
}

TEST_F(Fixture, NaNInputsFollowTheReadingRules) {
    // A NaN coefficient loses every point but the call still succeeds.
    SplineProblem p = shift(0, 0);
    p.ctrlX = {5};
    p.ctrlY = {6};
    p.targetX = {7};
    p.targetY = {8};
    p.coefX.insert(p.coefX.begin(), 0.0);
    p.coefY.insert(p.coefY.begin(), NaN);
    Args lost(p, ramp(12, 12));
    auto r = run(lost);
    ASSERT_TRUE(r.ok) << r.errorMessage;
    auto pts = mexhost::values(r.outputs[0].get());
    ASSERT_EQ(pts.size(), 2u);
    EXPECT_TRUE(std::isnan(pts[0]) && std::isnan(pts[1]));

    // NaN elements of the image and of the previous maps read as 0.1.
    Args nanImage(shift(0, 0), mexhost::matrix(12, 12, std::vector<double>(144, NaN)));
    auto s = run(nanImage);
    ASSERT_TRUE(s.ok);
    EXPECT_NEAR(mexhost::values(s.outputs[3].get())[3 + 4 * 12], 0.1, 1e-6);
    Args nanPrev(shift(0, 0), ramp(12, 12), mexhost::matrix(12, 12, std::vector<double>(144, NaN)),
                 mexhost::matrix(12, 12, std::vector<double>(144, NaN)));
    auto t = run(nanPrev);
    ASSERT_TRUE(t.ok) << t.errorMessage;
    for (size_t i : {0u, 17u, 143u}) {
        EXPECT_NEAR(mexhost::values(t.outputs[1].get())[i], 0.1, 1e-6);
        EXPECT_NEAR(mexhost::values(t.outputs[2].get())[i], 0.1, 1e-6);
        // Every pixel samples the ramp at (0.1, 0.1).
        EXPECT_NEAR(mexhost::values(t.outputs[3].get())[i], 10 + 0.05 + 0.1, 0.02);
    }
}

TEST_F(Fixture, TwoCallsInTheSameSecondDrawTheSameNoise) {
    Args args(shift(7, 0), ramp(16, 20));
    for (int attempt = 0; attempt < 5; ++attempt) {
        const time_t before = std::time(nullptr);
        auto a = run(args), b = run(args);
        const time_t after = std::time(nullptr);
        if (before != after) continue;  // straddled a second; try again
        ASSERT_TRUE(a.ok && b.ok);
        auto wa = mexhost::values(a.outputs[3].get()), wb = mexhost::values(b.outputs[3].get());
        EXPECT_EQ(wa, wb);
        // The noise is rand() after srand(time), one value per replaced pixel,
        // rows outer.
        std::srand(static_cast<unsigned>(before));
        int replaced = 0;
        for (size_t r = 0; r < 16; ++r)
            for (size_t c = 0; c < 20; ++c) {
                double v = wa[r + c * 16];
                if (c + 7 >= 20) {
                    EXPECT_EQ(v, static_cast<double>(static_cast<float>(std::rand() / 2147483647.0))) << r << "," << c;
                    ++replaced;
                } else if (c + 7 < 19) {
                    EXPECT_GT(v, 9) << r << "," << c;
                }
            }
        EXPECT_EQ(replaced, 16 * 7);
        return;
    }
    FAIL() << "every attempt straddled a second";
}

TEST_F(Fixture, EveryRefusalNamesItsArgumentAndLeavesNothingBehind) {
    SplineProblem p = SplineProblem::random(4, 1, 20);
    struct Case {
        const char* what;
        int slot;  // argument replaced, -1 for none
        ArrayPtr value;
        const char* id;
        int nlhs = 4;
        int nrhs = 9;
    };
    std::vector<Case> cases;
    auto add = [&](const char* what, int slot, ArrayPtr v, const char* id) {
        cases.push_back(Case{what, slot, std::move(v), id});
    };
    add("empty image", 8, mexhost::matrix(0, 0), "warpmatch:image");
    add("complex image", 8, mexhost::complexMatrix(10, 10), "warpmatch:image");
    add("sparse image", 8, mexhost::sparseMatrix(10, 10), "warpmatch:image");
    add("text image", 8, mexhost::text("picture.png"), "warpmatch:image");
    add("cell image", 8, mexhost::cells(10, 10), "warpmatch:image");
    add("colour image", 8, mexhost::numeric(mxUINT8_CLASS, {10, 10, 3}), "warpmatch:image");
    add("4 rows", 8, mexhost::matrix(4, 10), "warpmatch:image");
    add("4 columns", 8, mexhost::matrix(10, 4), "warpmatch:image");
    add("ctrlX row", 2, mexhost::matrix(1, 4, p.ctrlX), "warpmatch:ctrlX");
    add("ctrlX 3-D", 2, mexhost::numeric(mxDOUBLE_CLASS, {4, 1, 2}), "warpmatch:ctrlX");
    add("ctrlX complex", 2, mexhost::complexMatrix(4, 1), "warpmatch:ctrlX");
    add("ctrlX text", 2, mexhost::text("abcd"), "warpmatch:ctrlX");
    add("ctrlX no columns", 2, mexhost::matrix(4, 0), "warpmatch:ctrlX");
    // Bounds on work: the pages of these arrays are never touched, so they
    // cost address space, not memory.
    add("2^27 + 1 pixels", 8, mexhost::numeric(mxLOGICAL_CLASS, {8193, 16384}), "warpmatch:tooLarge");
    add("ctrlY short", 3, mexhost::matrix(3, 1), "warpmatch:ctrlY");
    add("ctrlY cell", 3, mexhost::cells(4, 1), "warpmatch:ctrlY");
    add("targetX short", 4, mexhost::matrix(1, 3), "warpmatch:targetX");
    add("targetX complex", 4, mexhost::complexMatrix(4, 1), "warpmatch:targetX");
    add("targetY short", 5, mexhost::matrix(0, 0), "warpmatch:targetY");
    add("targetY sparse", 5, mexhost::sparseMatrix(4, 1), "warpmatch:targetY");
    add("coefX short", 0, mexhost::matrix(6, 1), "warpmatch:coefX");
    add("coefX complex", 0, mexhost::complexMatrix(7, 1), "warpmatch:coefX");
    add("coefY short", 1, mexhost::matrix(1, 6), "warpmatch:coefY");
    add("coefY text", 1, mexhost::text("abcdefg"), "warpmatch:coefY");
    add("prevX alone", 6, mexhost::matrix(12, 12), "warpmatch:prevY");
    add("prevY alone", 7, mexhost::matrix(12, 12), "warpmatch:prevY");
    cases.push_back(Case{"prevX cell", 6, mexhost::cells(0, 0), "warpmatch:prevX"});
    for (Case& c : cases) {
        Args args(p, ramp(12, 12));
        if (c.slot >= 0) args.a[c.slot] = std::move(c.value);
        auto r = run(args);
        EXPECT_FALSE(r.ok) << c.what;
        EXPECT_FALSE(r.escaped) << c.what;
        EXPECT_EQ(r.errorId, c.id) << c.what << ": " << r.errorMessage;
        EXPECT_NE(r.errorMessage.find("argument " + std::to_string(c.slot + 1)), std::string::npos)
            << c.what << ": " << r.errorMessage;
        EXPECT_TRUE(r.leakFree()) << c.what;
        EXPECT_EQ(r.output, "") << c.what;
    }

    // Previous maps given as a pair but malformed.
    struct PrevCase {
        const char* what;
        ArrayPtr x, y;
        const char* id;
    };
    std::vector<PrevCase> prev;
    prev.push_back({"prevX too few rows", mexhost::matrix(11, 12), mexhost::matrix(12, 12), "warpmatch:prevX"});
    prev.push_back({"prevX too few columns", mexhost::matrix(12, 11), mexhost::matrix(12, 12), "warpmatch:prevX"});
    prev.push_back({"prevX complex", mexhost::complexMatrix(12, 12), mexhost::matrix(12, 12), "warpmatch:prevX"});
    prev.push_back({"prevX 4-D", mexhost::numeric(mxDOUBLE_CLASS, {12, 12, 2, 2}), mexhost::matrix(12, 12),
                    "warpmatch:prevX"});
    prev.push_back({"prevX text", mexhost::text("x"), mexhost::matrix(12, 12), "warpmatch:prevX"});
    prev.push_back({"prevY too few columns", mexhost::matrix(12, 12), mexhost::matrix(12, 11), "warpmatch:prevY"});
    prev.push_back({"prevY other rows", mexhost::matrix(20, 12), mexhost::matrix(12, 12), "warpmatch:prevY"});
    prev.push_back({"prevY sparse", mexhost::matrix(12, 12), mexhost::sparseMatrix(12, 12), "warpmatch:prevY"});
    for (PrevCase& c : prev) {
        Args args(p, ramp(12, 12), std::move(c.x), std::move(c.y));
        auto r = run(args);
        EXPECT_EQ(r.errorId, c.id) << c.what << ": " << r.errorMessage;
        EXPECT_TRUE(r.leakFree()) << c.what;
        EXPECT_EQ(r.output, "") << c.what;
    }

    // Counts.
    Args args(p, ramp(12, 12));
    auto list = args.list();
    auto few = plugin.call(4, std::vector<const mxArray*>(list.begin(), list.begin() + 8));
    EXPECT_EQ(few.errorId, "warpmatch:nargin");
    EXPECT_TRUE(few.leakFree());
    auto extra = list;
    extra.push_back(list[0]);
    auto many = plugin.call(4, extra);
    EXPECT_EQ(many.errorId, "warpmatch:nargin");
    auto outs = plugin.call(5, list);
    EXPECT_EQ(outs.errorId, "warpmatch:nargout");
    EXPECT_TRUE(outs.leakFree());
    EXPECT_EQ(few.output + many.output + outs.output, "");
}

// More than the 10,000 points once refused: the search would run for minutes,
// so the host interrupts it at its first question, after a few or after a
// delay.  The maps of the 12x12 image ask first and are told no.
TEST_F(Fixture, InterruptStopsTheSearchJoinsEveryWorkerAndReleasesEverything) {
    using namespace std::chrono_literals;
    struct Case {
        const char* what;
        void (*raise)();
    };
    const Case cases[] = {
        {"after the maps' poll", [] { mexhost::raiseInterruptAfterPolls(1); }},
        {"after 4 polls", [] { mexhost::raiseInterruptAfterPolls(4); }},
        {"after 150 ms", [] { mexhost::raiseInterruptAfter(150ms); }},
    };
    const SplineProblem p = SplineProblem::random(10001, 5);
    const size_t arraysBefore = mexhost::liveArrays();
    for (const Case& c : cases) {
        Args args(p, ramp(12, 12));
        c.raise();
        auto r = run(args);
        EXPECT_EQ(r.errorId, "warpmatch:interrupted") << c.what << ": " << r.errorMessage;
        EXPECT_FALSE(r.escaped) << c.what;
        // No image or malloc block when the error was raised, none after.
        EXPECT_TRUE(r.leakFree()) << c.what;
        EXPECT_EQ(r.heldAtHostCall, 0u) << c.what;
        EXPECT_EQ(plugin.liveImages(), 0u) << c.what;
        EXPECT_EQ(plugin.liveBlocks(), 0u) << c.what;
        EXPECT_GE(r.interruptPolls, 1u) << c.what;
        EXPECT_EQ(r.offThreadPolls, 0u) << c.what;
        EXPECT_FALSE(mexhost::interruptRaised()) << "the host drops the request when the call ends";
        // Four workers, each started and exited, then the join line last.
        const std::vector<std::string> got = lines(r.output);
        ASSERT_EQ(got.size(), 9u) << c.what << ":\n" << r.output;
        for (int end : {2500, 5000, 7500, 10001}) {
            const auto s = std::find(got.begin(), got.end(), "Thread start " + std::to_string(end));
            const auto e = std::find(got.begin(), got.end(), "Thread Exit " + std::to_string(end));
            EXPECT_TRUE(s < e && e < got.end() - 1) << c.what << ": worker " << end << "\n" << r.output;
        }
        EXPECT_EQ(got.back(), "Thread join all") << c.what;
        // Args and their copies gone; the next call runs in full.
        EXPECT_EQ(mexhost::liveArrays(), arraysBefore + 9) << c.what;
        Args small(SplineProblem::random(25, 2, 12), ramp(12, 12));
        auto next = run(small);
        EXPECT_TRUE(next.ok) << c.what << ": " << next.errorId << " " << next.errorMessage;
        EXPECT_TRUE(next.leakFree());
    }
    EXPECT_EQ(mexhost::liveArrays(), arraysBefore);
}

// The maps of a 2000x2000 picture with 3000 control points cost some 750
// million kernel values before the first worker starts: the interrupt stops
// them between coarse node rows, with no worker started.
TEST_F(Fixture, InterruptStopsTheMapsBeforeThePointSearch) {
    const SplineProblem p = SplineProblem::random(3000, 8, 2000);
    for (unsigned long polls : {0ul, 2ul}) {
        Args args(p, ramp(2000, 2000));
        mexhost::raiseInterruptAfterPolls(polls);
        auto r = run(args);
        EXPECT_EQ(r.errorId, "warpmatch:interrupted") << polls << ": " << r.errorMessage;
        EXPECT_NE(r.errorMessage.find("evaluating the spline"), std::string::npos) << r.errorMessage;
        EXPECT_TRUE(r.leakFree()) << polls;
        EXPECT_EQ(plugin.liveImages(), 0u) << polls;
        EXPECT_EQ(r.output, "") << "no worker was started";
        EXPECT_EQ(r.interruptPolls, polls + 1);
    }
}
