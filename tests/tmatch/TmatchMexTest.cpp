// tmatch through the embedded host, against cvMatchTemplate on the same
// 8-bit images.
#include "CMatlabToOpenCV.h"
#include "MexHost.h"

#include <gtest/gtest.h>
#include <opencv2/core/core_c.h>
#include <opencv2/imgproc/imgproc_c.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <random>

namespace {

const double NaN = std::numeric_limits<double>::quiet_NaN();

struct Fixture : ::testing::Test {
    mexhost::Plugin plugin{mexhost::pluginPath("tmatch")};

    static std::vector<double> noise(size_t n, unsigned seed) {
        std::mt19937 rng(seed);
        std::uniform_int_distribution<int> v(0, 255);
        std::vector<double> out(n);
        for (auto& x : out) x = v(rng);
        return out;
    }

    // Expected map for a column-major image and template, searched within
    // rows [y, y+h) and columns [x, x+w) (0-based).
    static std::vector<double> expected(const std::vector<double>& img, int M, int N,
                                        const std::vector<double>& tpl, int m, int n,
                                        int x, int y, int w, int h) {
        (void)N;
        IplImage* I = cvCreateImage(cvSize(w, h), IPL_DEPTH_8U, 1);
        IplImage* T = cvCreateImage(cvSize(n, m), IPL_DEPTH_8U, 1);
        for (int r = 0; r < h; ++r)
            for (int c = 0; c < w; ++c) cvSet2D(I, r, c, cvScalar(img[(y + r) + (x + c) * M]));
        for (int r = 0; r < m; ++r)
            for (int c = 0; c < n; ++c) cvSet2D(T, r, c, cvScalar(tpl[r + c * m]));
        IplImage* R = cvCreateImage(cvSize(w - n + 1, h - m + 1), IPL_DEPTH_32F, 1);
        cvMatchTemplate(I, T, R, CV_TM_CCOEFF_NORMED);
        std::vector<double> out;
        for (int c = 0; c < R->width; ++c)
            for (int r = 0; r < R->height; ++r) out.push_back(cvGet2D(R, r, c).val[0]);
        cvReleaseImage(&I);
        cvReleaseImage(&T);
        cvReleaseImage(&R);
        return out;
    }

    mexhost::CallResult run(const mxArray* img, const mxArray* region, const mxArray* tpl, int nlhs = 1) {
        return plugin.call(nlhs, {img, region, tpl});
    }
};

}  // namespace

TEST_F(Fixture, WholeImageMapMatchesTheLibraryAndFindsTheTemplate) {
    const int M = 40, N = 30, m = 7, n = 5;
    auto imgv = noise(M * N, 1);
    std::vector<double> tplv(m * n);
    for (int c = 0; c < n; ++c)
        for (int r = 0; r < m; ++r) tplv[r + c * m] = imgv[(12 + r) + (9 + c) * M];
    auto img = mexhost::matrix(M, N, imgv);
    auto tpl = mexhost::matrix(m, n, tplv);
    auto whole = mexhost::scalar(-1);
    auto r = run(img.get(), whole.get(), tpl.get());
    ASSERT_TRUE(r.ok) << r.errorMessage;
    EXPECT_TRUE(r.leakFree());
    EXPECT_TRUE(r.output.empty());
    const mxArray* C = r.outputs[0].get();
    ASSERT_EQ(mxGetM(C), static_cast<size_t>(M - m + 1));
    ASSERT_EQ(mxGetN(C), static_cast<size_t>(N - n + 1));
    EXPECT_EQ(mexhost::values(C), expected(imgv, M, N, tplv, m, n, 0, 0, N, M));
    auto v = mexhost::values(C);
    size_t best = std::max_element(v.begin(), v.end()) - v.begin();
    EXPECT_EQ(best % (M - m + 1), 12u);
    EXPECT_EQ(best / (M - m + 1), 9u);
    EXPECT_NEAR(v[best], 1.0, 1e-6);

    // Any vector whose first element is exactly -1 means the whole image, and
    // so does the full-size region.
    auto minusOneVec = mexhost::matrix(1, 4, {-1, 5, 5, 5});
    auto full = mexhost::matrix(1, 4, {1, 1, N, M});
    EXPECT_EQ(mexhost::values(run(img.get(), minusOneVec.get(), tpl.get()).outputs[0].get()), v);
    EXPECT_EQ(mexhost::values(run(img.get(), full.get(), tpl.get()).outputs[0].get()), v);
}

TEST_F(Fixture, RegionsTruncateAreOneBasedAndClipAtTheFarEdges) {
    const int M = 30, N = 40, m = 3, n = 4;
    auto imgv = noise(M * N, 2);
    auto tplv = noise(m * n, 3);
    auto img = mexhost::matrix(M, N, imgv);
    auto tpl = mexhost::matrix(m, n, tplv);

    // [2.7 3.2 10.9 5.5]: 0-based left column 1, top row 2, 10 wide, 5 high.
    auto frac = mexhost::matrix(1, 4, {2.7, 3.2, 10.9, 5.5});
    auto r = run(img.get(), frac.get(), tpl.get());
    ASSERT_TRUE(r.ok) << r.errorMessage;
    EXPECT_EQ(mxGetM(r.outputs[0].get()), 3u);
    EXPECT_EQ(mxGetN(r.outputs[0].get()), 7u);
    EXPECT_EQ(mexhost::values(r.outputs[0].get()), expected(imgv, M, N, tplv, m, n, 1, 2, 10, 5));

    // Reaching past the right and bottom edges: clipped to the image.
    auto wide = mexhost::matrix(4, 1, {35, 20, 100, 100});
    auto c = run(img.get(), wide.get(), tpl.get());
    ASSERT_TRUE(c.ok) << c.errorMessage;
    EXPECT_EQ(mxGetM(c.outputs[0].get()), static_cast<size_t>(11 - m + 1));
    EXPECT_EQ(mxGetN(c.outputs[0].get()), static_cast<size_t>(6 - n + 1));
    EXPECT_EQ(mexhost::values(c.outputs[0].get()), expected(imgv, M, N, tplv, m, n, 34, 19, 6, 11));

    // A template exactly as large as the searched area gives one value.
    auto exact = mexhost::matrix(1, 4, {5, 5, n, m});
    auto one = run(img.get(), exact.get(), tpl.get());
    ASSERT_TRUE(one.ok);
    EXPECT_EQ(mxGetNumberOfElements(one.outputs[0].get()), 1u);
}

TEST_F(Fixture, OtherClassesAreReadByValueAndNaNAsZero) {
    const int M = 12, N = 9;
    auto imgv = noise(M * N, 4);
    std::vector<double> tplv = {10, 200, 30, 40, 250, 60};
    auto asDouble = run(mexhost::matrix(M, N, imgv).get(), mexhost::scalar(-1).get(),
                        mexhost::matrix(2, 3, tplv).get());
    ASSERT_TRUE(asDouble.ok);
    auto u8 = mexhost::numeric(mxUINT8_CLASS, {size_t(M), size_t(N)}, imgv);
    auto s = mexhost::numeric(mxSINGLE_CLASS, {2, 3}, tplv);
    auto i16 = mexhost::numeric(mxINT16_CLASS, {1, 1}, {-1});
    auto r = run(u8.get(), i16.get(), s.get());
    ASSERT_TRUE(r.ok) << r.errorMessage;
    EXPECT_TRUE(r.leakFree());
    EXPECT_EQ(mexhost::values(r.outputs[0].get()), mexhost::values(asDouble.outputs[0].get()));

    // NaN pixels convert to 0, the same as zeros.
    auto withNaN = imgv;
    auto withZero = imgv;
    withNaN[5] = NaN;
    withZero[5] = 0;
    auto a = run(mexhost::matrix(M, N, withNaN).get(), mexhost::scalar(-1).get(), mexhost::matrix(2, 3, tplv).get());
    auto b = run(mexhost::matrix(M, N, withZero).get(), mexhost::scalar(-1).get(), mexhost::matrix(2, 3, tplv).get());
    EXPECT_EQ(mexhost::values(a.outputs[0].get()), mexhost::values(b.outputs[0].get()));
}

// Only the searched area is converted; the map must be bit for bit the one
// of the whole image converted with the region set on it, for any class,
// size and region, clipped ones included.
TEST_F(Fixture, RegionAloneGivesTheMapOfTheWholeImageWithTheRegionSet) {
    std::mt19937 rng(11);
    auto uniform = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
    std::uniform_real_distribution<double> value(-40.0, 300.0);
    const mxClassID classes[] = {mxDOUBLE_CLASS, mxUINT8_CLASS, mxINT16_CLASS, mxINT64_CLASS, mxSINGLE_CLASS};
    for (int trial = 0; trial < 40; ++trial) {
        const int M = uniform(8, 90), N = uniform(8, 90);
        std::vector<double> iv(static_cast<size_t>(M) * N);
        for (auto& x : iv) x = value(rng);
        iv[static_cast<size_t>(uniform(0, M * N - 1))] = NaN;
        const mxClassID cls = classes[trial % 5];
        auto img = mexhost::numeric(cls, {size_t(M), size_t(N)}, iv);
        // Every fifth region reaches past the right and bottom edges.
        const int x = uniform(0, N - 2), y = uniform(0, M - 2);
        const bool clipped = trial % 5 == 4;
        const int w = clipped ? N - x + uniform(0, 20) : uniform(2, N - x);
        const int h = clipped ? M - y + uniform(0, 20) : uniform(2, M - y);
        const int cw = std::min(w, N - x), ch = std::min(h, M - y);
        const int m = uniform(1, ch), n = uniform(1, cw);
        std::vector<double> tv(static_cast<size_t>(m) * n);
        for (auto& t : tv) t = value(rng);
        auto tpl = mexhost::numeric(classes[(trial + 2) % 5], {size_t(m), size_t(n)}, tv);
        auto region = mexhost::matrix(1, 4, {double(x + 1), double(y + 1), double(w), double(h)});
        auto r = run(img.get(), region.get(), tpl.get());
        ASSERT_TRUE(r.ok) << r.errorMessage;

        IplImage* I = CMatlabToOpenCV::convert_copy(img.get());
        cvSetImageROI(I, cvRect(x, y, w, h));  // the library clips it
        IplImage* T = CMatlabToOpenCV::convert_copy(tpl.get());
        IplImage* R = cvCreateImage(cvSize(cw - n + 1, ch - m + 1), IPL_DEPTH_32F, 1);
        cvMatchTemplate(I, T, R, CV_TM_CCOEFF_NORMED);
        auto want = mexhost::matrix(static_cast<size_t>(R->height), static_cast<size_t>(R->width));
        CMatlabToOpenCV::ipl_to_matlab(R, want.get());
        const mxArray* got = r.outputs[0].get();
        ASSERT_EQ(mxGetM(got), mxGetM(want.get())) << trial;
        ASSERT_EQ(mxGetN(got), mxGetN(want.get())) << trial;
        EXPECT_EQ(std::memcmp(mxGetPr(got), mxGetPr(want.get()), mxGetNumberOfElements(got) * sizeof(double)), 0)
            << "trial " << trial << ": " << M << "x" << N << " region " << x << "," << y << " " << w << "x" << h;
        cvReleaseImage(&I);
        cvReleaseImage(&T);
        cvReleaseImage(&R);
    }
}

TEST_F(Fixture, RefusalsNameTheArgumentAndLeaveNothingBehind) {
    auto img = mexhost::matrix(20, 20, noise(400, 5));
    auto tpl = mexhost::matrix(4, 4, noise(16, 6));
    auto whole = mexhost::scalar(-1);
    struct Case {
        const char* what;
        std::vector<const mxArray*> args;
        int nlhs;
        const char* id;
    };
    auto colour = mexhost::numeric(mxUINT8_CLASS, {20, 20, 3});
    auto empty = mexhost::matrix(0, 0);
    auto cplx = mexhost::complexMatrix(20, 20);
    auto sparse = mexhost::sparseMatrix(20, 20);
    auto str = mexhost::text("image.png");
    auto cell = mexhost::cells(2, 2);
    auto shortRegion = mexhost::matrix(1, 3, {1, 1, 5});
    auto nanRegion = mexhost::matrix(1, 4, {NaN, 1, 5, 5});
    auto infRegion = mexhost::matrix(1, 4, {1, 1, INFINITY, 5});
    auto leftOf = mexhost::matrix(1, 4, {0, 1, 10, 10});
    auto above = mexhost::matrix(1, 4, {1, -0.5 - 1, 10, 10});
    auto minusHalf = mexhost::matrix(1, 4, {-0.5, 1, 10, 10});  // truncates to 0: x = -1
    auto pastRight = mexhost::matrix(1, 4, {21, 1, 5, 5});
    auto pastBottom = mexhost::matrix(1, 4, {1, 21, 5, 5});
    auto zeroWidth = mexhost::matrix(1, 4, {1, 1, 0, 5});
    auto smallArea = mexhost::matrix(1, 4, {1, 1, 3, 10});
    auto huge = mexhost::matrix(1, 4, {1, 1, 1e12, 5});
    auto bigTpl = mexhost::matrix(21, 4);
    const Case cases[] = {
        {"two arguments", {img.get(), whole.get()}, 1, "tmatch:nargin"},
        {"four arguments", {img.get(), whole.get(), tpl.get(), whole.get()}, 1, "tmatch:nargin"},
        {"two results", {img.get(), whole.get(), tpl.get()}, 2, "tmatch:nargout"},
        {"colour image", {colour.get(), whole.get(), tpl.get()}, 1, "tmatch:image"},
        {"empty image", {empty.get(), whole.get(), tpl.get()}, 1, "tmatch:image"},
        {"complex image", {cplx.get(), whole.get(), tpl.get()}, 1, "tmatch:image"},
        {"sparse image", {sparse.get(), whole.get(), tpl.get()}, 1, "tmatch:image"},
        {"text image", {str.get(), whole.get(), tpl.get()}, 1, "tmatch:image"},
        {"cell template", {img.get(), whole.get(), cell.get()}, 1, "tmatch:template"},
        {"empty template", {img.get(), whole.get(), empty.get()}, 1, "tmatch:template"},
        {"cell region", {img.get(), cell.get(), tpl.get()}, 1, "tmatch:region"},
        {"empty region", {img.get(), empty.get(), tpl.get()}, 1, "tmatch:region"},
        {"short region", {img.get(), shortRegion.get(), tpl.get()}, 1, "tmatch:region"},
        {"NaN region", {img.get(), nanRegion.get(), tpl.get()}, 1, "tmatch:region"},
        {"infinite region", {img.get(), infRegion.get(), tpl.get()}, 1, "tmatch:region"},
        {"x below 1", {img.get(), leftOf.get(), tpl.get()}, 1, "tmatch:region"},
        {"y below 1", {img.get(), above.get(), tpl.get()}, 1, "tmatch:region"},
        {"x of -0.5", {img.get(), minusHalf.get(), tpl.get()}, 1, "tmatch:region"},
        {"past the right edge", {img.get(), pastRight.get(), tpl.get()}, 1, "tmatch:region"},
        {"past the bottom edge", {img.get(), pastBottom.get(), tpl.get()}, 1, "tmatch:region"},
        {"zero width", {img.get(), zeroWidth.get(), tpl.get()}, 1, "tmatch:region"},
        {"width beyond int", {img.get(), huge.get(), tpl.get()}, 1, "tmatch:region"},
        {"template wider than region", {img.get(), smallArea.get(), tpl.get()}, 1, "tmatch:templateSize"},
        {"template taller than image", {img.get(), whole.get(), bigTpl.get()}, 1, "tmatch:templateSize"},
    };
    for (const Case& c : cases) {
        auto r = plugin.call(c.nlhs, c.args);
        EXPECT_FALSE(r.ok) << c.what;
        EXPECT_FALSE(r.escaped) << c.what;
        EXPECT_EQ(r.errorId, c.id) << c.what << ": " << r.errorMessage;
        EXPECT_FALSE(r.errorMessage.empty()) << c.what;
        EXPECT_TRUE(r.leakFree()) << c.what;
    }
    // Messages say which argument and what was given.
    auto r = run(colour.get(), whole.get(), tpl.get());
    EXPECT_NE(r.errorMessage.find("argument 1"), std::string::npos) << r.errorMessage;
    EXPECT_NE(r.errorMessage.find("20x20x3"), std::string::npos) << r.errorMessage;
    EXPECT_NE(r.errorMessage.find("grey"), std::string::npos) << r.errorMessage;
}

TEST_F(Fixture, ExportsTheVersionString) {
    auto version = reinterpret_cast<const char* (*)()>(plugin.symbol("mexVersion"));
    ASSERT_NE(version, nullptr);
    EXPECT_STREQ(version(), "MATLAB R14 native");
}
