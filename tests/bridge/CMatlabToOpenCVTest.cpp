// Image conversion between host matrices and IplImages.
#include "CMatlabToOpenCV.h"
#include "MexArgs.h"
#include "MexHost.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <random>

namespace {

const double NaN = std::numeric_limits<double>::quiet_NaN();

double pixel(const IplImage* im, int r, int c) { return cvGet2D(im, r, c).val[0]; }

}  // namespace

TEST(CMatlabToOpenCV, OrientationRoundingAndSaturation) {
    std::vector<double> v(15, 0.0);
    v[2 + 4 * 3] = 99;  // element (2, 4) of a 3 by 5 matrix
    v[0] = -3.7;
    v[1] = 0.4;
    v[3] = 0.6;
    v[4] = 254.6;
    v[5] = 300;
    v[6] = NaN;
    auto a = mexhost::matrix(3, 5, v);
    IplImage* im = CMatlabToOpenCV::convert_copy(a.get());
    EXPECT_EQ(im->width, 5);
    EXPECT_EQ(im->height, 3);
    EXPECT_EQ(im->depth, IPL_DEPTH_8U);
    EXPECT_EQ(pixel(im, 2, 4), 99);
    EXPECT_EQ(pixel(im, 0, 0), 0);    // -3.7
    EXPECT_EQ(pixel(im, 1, 0), 0);    // 0.4
    EXPECT_EQ(pixel(im, 0, 1), 1);    // 0.6
    EXPECT_EQ(pixel(im, 1, 1), 255);  // 254.6
    EXPECT_EQ(pixel(im, 2, 1), 255);  // 300
    EXPECT_EQ(pixel(im, 0, 2), 0);    // NaN reads as 0.1
    CMatlabToOpenCV::release_iplimage(im);

    IplImage* f = CMatlabToOpenCV::convert_copy_DblTo32F(a.get());
    IplImage* g = CMatlabToOpenCV::convert_copy_DblTo64F(a.get());
    EXPECT_EQ(f->depth, IPL_DEPTH_32F);
    EXPECT_EQ(g->depth, IPL_DEPTH_32F);
    EXPECT_EQ(pixel(f, 0, 2), 0.10000000149011612);
    for (int r = 0; r < 3; ++r)
        for (int c = 0; c < 5; ++c) EXPECT_EQ(pixel(f, r, c), pixel(g, r, c));
    CMatlabToOpenCV::release_iplimage(f);
    CMatlabToOpenCV::release_iplimage(g);
}

// The conversion loop must store exactly what a per-pixel cvSet2D stores,
// including the halves that round to even, wherever the library saturates
// correctly: it casts to int first, so from 2^31 up (+Inf included) it
// gives 0 where the rule gives 255.
TEST(CMatlabToOpenCV, MatchesPerPixelSetOnRandomValues) {
    std::mt19937 rng(7);
    std::uniform_real_distribution<double> value(-20.0, 280.0);
    const int M = 37, N = 23;
    std::vector<double> v(M * N);
    for (auto& x : v) x = value(rng);
    for (int i = 0; i < 12; ++i) v[i] = i + 0.5;  // exact halves
    v[20] = NaN;
    v[21] = std::numeric_limits<double>::infinity();
    v[22] = -std::numeric_limits<double>::infinity();
    auto a = mexhost::matrix(M, N, v);
    for (int depth : {IPL_DEPTH_8U, IPL_DEPTH_32F}) {
        IplImage* fast = depth == IPL_DEPTH_8U ? CMatlabToOpenCV::convert_copy(a.get())
                                               : CMatlabToOpenCV::convert_copy_DblTo32F(a.get());
        IplImage* slow = cvCreateImage(cvSize(N, M), depth, 1);
        for (int r = 0; r < M; ++r)
            for (int c = 0; c < N; ++c) {
                double x = v[r + c * M];
                if (depth == IPL_DEPTH_8U && x >= 2147483648.0) x = 255;
                cvSet2D(slow, r, c, cvScalar(std::isnan(x) ? 0.1 : x));
            }
        for (int r = 0; r < M; ++r)
            for (int c = 0; c < N; ++c) ASSERT_EQ(pixel(fast, r, c), pixel(slow, r, c)) << r << "," << c;
        cvReleaseImage(&fast);
        cvReleaseImage(&slow);
    }
}

TEST(CMatlabToOpenCV, ImageBackToMatrix) {
    auto a = mexhost::matrix(2, 3, {0.1, 1.5, -2, 1e10, NaN, 7});
    IplImage* f = CMatlabToOpenCV::convert_copy_DblTo32F(a.get());
    auto out = mexhost::matrix(2, 3);
    CMatlabToOpenCV::ipl_to_matlab(f, out.get());
    std::vector<double> expect = {0.1f, 1.5f, -2.0f, 1e10f, 0.1f, 7.0f};
    EXPECT_EQ(mexhost::values(out.get()), expect);

    // The output's own row count is the stride: a taller matrix keeps its
    // extra row untouched.
    auto tall = mexhost::matrix(3, 3, std::vector<double>(9, -1));
    CMatlabToOpenCV::ipl_to_matlab(f, tall.get());
    EXPECT_EQ(mxGetPr(tall.get())[2], -1);
    EXPECT_EQ(mxGetPr(tall.get())[3], -2.0);
    EXPECT_EQ(mxGetPr(tall.get())[4], 1e10f);
    CMatlabToOpenCV::release_iplimage(f);

    // Other depths go through cvGet2D.
    IplImage* s = cvCreateImage(cvSize(2, 1), IPL_DEPTH_16S, 1);
    cvSet2D(s, 0, 1, cvScalar(-300));
    cvSet2D(s, 0, 0, cvScalar(5));
    auto row = mexhost::matrix(1, 2);
    CMatlabToOpenCV::ipl_to_matlab(s, row.get());
    EXPECT_EQ(mexhost::values(row.get()), (std::vector<double>{5, -300}));
    cvReleaseImage(&s);
}

TEST(CMatlabToOpenCV, HostMemoryImagesAndDivision) {
    auto r = mexhost::callEntry(
        [](int, mxArray*[], int, const mxArray*[]) {
            struct Case { int h, w, depth, step, size; };
            for (Case c : {Case{10, 5, 8, 8, 80}, Case{10, 8, 8, 12, 120}, Case{2, 5, 32, 32, 64},
                           Case{1, 3, 8, 4, 4}}) {
                IplImage* im = CMatlabToOpenCV::create_iplimage(c.h, c.w, c.depth);
                EXPECT_EQ(im->widthStep, c.step);
                EXPECT_EQ(im->imageSize, c.size);
                EXPECT_EQ(im->nChannels, 1);
                EXPECT_EQ(im->nSize, static_cast<int>(sizeof(IplImage)));
                EXPECT_EQ(im->imageData, im->imageDataOrigin);
                EXPECT_EQ(im->roi, nullptr);
                CMatlabToOpenCV::release_mx_iplimage(im);
            }
        },
        "create", 0, {});
    EXPECT_TRUE(r.ok);
    EXPECT_TRUE(r.leakFree());

    IplImage* b = cvCreateImage(cvSize(6, 1), IPL_DEPTH_8U, 1);
    const double px[] = {255, 200, 3, 0, 9, 100};
    for (int j = 0; j < 6; ++j) cvSet2D(b, 0, j, cvScalar(px[j]));
    CMatlabToOpenCV::DivS(b, 2.0f);
    EXPECT_EQ(pixel(b, 0, 0), 127);
    EXPECT_EQ(pixel(b, 0, 1), 100);
    EXPECT_EQ(pixel(b, 0, 2), 1);
    CMatlabToOpenCV::DivS(b, 0.25f);   // 127 / 0.25 = 508 saturates
    EXPECT_EQ(pixel(b, 0, 0), 255);
    EXPECT_EQ(pixel(b, 0, 2), 4);
    CMatlabToOpenCV::DivS(b, -1.0f);   // negative quotients saturate at 0
    EXPECT_EQ(pixel(b, 0, 1), 0);
    cvSet2D(b, 0, 3, cvScalar(0));
    cvSet2D(b, 0, 4, cvScalar(9));
    CMatlabToOpenCV::DivS(b, 0.0f);    // 0/0 is NaN: 0; 9/0 is +inf: 255
    EXPECT_EQ(pixel(b, 0, 3), 0);
    EXPECT_EQ(pixel(b, 0, 4), 255);
    cvReleaseImage(&b);

    IplImage* f = cvCreateImage(cvSize(1, 1), IPL_DEPTH_32F, 1);
    cvSet2D(f, 0, 0, cvScalar(1.0));
    CMatlabToOpenCV::DivS(f, 4.0f);
    EXPECT_EQ(pixel(f, 0, 0), 0.25);
    cvReleaseImage(&f);
}

// Other classes convert by value, as their doubles would, NaN included.
TEST(CMatlabToOpenCV, OtherClassesConvertByValue) {
    const std::vector<double> v = {0, 1, 254.5, 255, 7, -3, 300, 0.5, NaN};
    auto asDouble = mexhost::matrix(3, 3, v);
    for (mxClassID cls : {mxUINT8_CLASS, mxINT16_CLASS, mxSINGLE_CLASS, mxLOGICAL_CLASS}) {
        auto other = mexhost::numeric(cls, {3, 3}, v);
        std::vector<double> expected(9);
        for (size_t i = 0; i < 9; ++i) expected[i] = mexargs::elementValue(other.get(), i);
        auto reference = mexhost::matrix(3, 3, expected);
        for (bool eight : {true, false}) {
            IplImage* a = eight ? CMatlabToOpenCV::convert_copy(other.get())
                                : CMatlabToOpenCV::convert_copy_DblTo32F(other.get());
            IplImage* b = eight ? CMatlabToOpenCV::convert_copy(reference.get())
                                : CMatlabToOpenCV::convert_copy_DblTo32F(reference.get());
            for (int r = 0; r < 3; ++r)
                for (int c = 0; c < 3; ++c) EXPECT_EQ(pixel(a, r, c), pixel(b, r, c)) << cls << " " << r << "," << c;
            cvReleaseImage(&a);
            cvReleaseImage(&b);
        }
    }
    // A single NaN reads as 0.1 like a double one.
    auto s = mexhost::numeric(mxSINGLE_CLASS, {1, 1}, {NaN});
    IplImage* f = CMatlabToOpenCV::convert_copy_DblTo32F(s.get());
    EXPECT_EQ(pixel(f, 0, 0), 0.10000000149011612);
    cvReleaseImage(&f);
}

namespace {

// The 8-bit rule, literally: NaN read as 0.1, at most 0 gives 0, at least
// 255 gives 255, otherwise the nearest integer with halves to the even one.
double byteRule(double v) {
    if (std::isnan(v)) v = 0.1;
    if (v <= 0) return 0;
    if (v >= 255) return 255;
    const double f = std::floor(v);
    if (v - f > 0.5) return f + 1;
    if (v - f < 0.5) return f;
    return std::fmod(f, 2.0) == 0 ? f : f + 1;
}

// DivS on one 8-bit pixel: the quotient in single precision, truncated;
// NaN and everything at most 0 give 0, everything at least 255 gives 255.
double divRule(unsigned char p, float divisor) {
    const float q = static_cast<float>(p) / divisor;
    if (std::isnan(q) || q <= 0) return 0;
    if (q >= 255) return 255;
    return std::trunc(q);
}

template <typename T>
mexhost::ArrayPtr raw(mxClassID cls, const std::vector<T>& v) {
    auto a = mexhost::numeric(cls, {1, v.size()});
    std::memcpy(mxGetData(a.get()), v.data(), v.size() * sizeof(T));
    return a;
}

}  // namespace

TEST(CMatlabToOpenCV, EightBitConversionFollowsTheRuleOverTheWholeRange) {
    const double inf = std::numeric_limits<double>::infinity();
    const std::vector<double> doubles = {
        -inf, -1e308, -9223372036854775808.0, -2147483649.0, -2147483648.0, -256, -1, -0.5, -0.4, -0.0, 0,
        0.4, 0.5, 0.6, 1.5, 2.5, 3.5, 127.5, 128.5, 253.5, 254.4, 254.5, 254.6, 255, 255.4, 255.5, 256, 1e6,
        2147483647.0, 2147483648.0, 4294967296.0, 9007199254740992.0, 1e10, 1e19, 1e308, inf, NaN};
    const size_t n = doubles.size();
    auto d = mexhost::matrix(1, n, doubles);
    // The whole matrix and a region ending at the last column.
    IplImage* whole = CMatlabToOpenCV::convert_copy(d.get());
    IplImage* part = CMatlabToOpenCV::convert_copy_region(d.get(), cvRect(3, 0, static_cast<int>(n) - 3, 1));
    for (size_t i = 0; i < n; ++i) {
        EXPECT_EQ(pixel(whole, 0, static_cast<int>(i)), byteRule(doubles[i])) << doubles[i];
        if (i >= 3) {
            EXPECT_EQ(pixel(part, 0, static_cast<int>(i - 3)), byteRule(doubles[i])) << doubles[i];
        }
    }
    cvReleaseImage(&whole);
    cvReleaseImage(&part);

    // Every other class at its extremes, by its value as a double.
    const float finf = std::numeric_limits<float>::infinity();
    std::vector<mexhost::ArrayPtr> others;
    others.push_back(raw<float>(mxSINGLE_CLASS, {-finf, -3.4e38f, -0.5f, 0.5f, 2.5f, 254.5f, 255.5f, 3.4e38f, finf,
                                                 std::numeric_limits<float>::quiet_NaN()}));
    others.push_back(raw<int8_t>(mxINT8_CLASS, {-128, -1, 0, 127}));
    others.push_back(raw<uint8_t>(mxUINT8_CLASS, {0, 1, 254, 255}));
    others.push_back(raw<int16_t>(mxINT16_CLASS, {-32768, -1, 255, 256, 32767}));
    others.push_back(raw<uint16_t>(mxUINT16_CLASS, {0, 255, 256, 65535}));
    others.push_back(raw<int32_t>(mxINT32_CLASS, {INT32_MIN, -1, 200, INT32_MAX}));
    others.push_back(raw<uint32_t>(mxUINT32_CLASS, {0, 255, 2147483648u, UINT32_MAX}));
    others.push_back(raw<int64_t>(mxINT64_CLASS, {INT64_MIN, -1, 100, 4294967296LL, INT64_MAX}));
    others.push_back(raw<uint64_t>(mxUINT64_CLASS, {0, 255, 2147483648ull, 9007199254740993ull, UINT64_MAX}));
    for (const auto& a : others) {
        IplImage* im = CMatlabToOpenCV::convert_copy(a.get());
        for (size_t i = 0; i < mxGetNumberOfElements(a.get()); ++i)
            EXPECT_EQ(pixel(im, 0, static_cast<int>(i)), byteRule(mexargs::elementValue(a.get(), i)))
                << mxGetClassName(a.get()) << " element " << i;
        cvReleaseImage(&im);
    }

    // DivS over every pixel value and divisors that send the quotient
    // anywhere, non-finite included.
    IplImage* b = cvCreateImage(cvSize(256, 1), IPL_DEPTH_8U, 1);
    for (float divisor : {1.0f, 2.0f, 3.0f, 0.5f, 0.25f, 1e-30f, 0.0f, -0.0f, -1.0f, -1e30f, 1e30f, finf, -finf,
                          std::numeric_limits<float>::quiet_NaN()}) {
        for (int p = 0; p < 256; ++p) reinterpret_cast<unsigned char*>(b->imageData)[p] = static_cast<unsigned char>(p);
        CMatlabToOpenCV::DivS(b, divisor);
        for (int p = 0; p < 256; ++p)
            ASSERT_EQ(pixel(b, 0, p), divRule(static_cast<unsigned char>(p), divisor)) << p << " / " << divisor;
    }
    cvReleaseImage(&b);
}
