// gridcorners through the embedded host, on images written to a temporary
// folder, against the detector called directly on each block of the same
// image.
#include "MexHost.h"

#include <gtest/gtest.h>
#include <opencv2/core.hpp>
#include <opencv2/core/core_c.h>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>
#include <opencv2/imgproc/imgproc_c.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <limits>
#include <random>
#include <string>
#include <vector>
#include <sys/resource.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

const double NaN = std::numeric_limits<double>::quiet_NaN();
const double Inf = std::numeric_limits<double>::infinity();

// Smooth random grey texture, photograph-like at a small scale.
cv::Mat texture(int width, int height, unsigned seed) {
    cv::Mat noise(height, width, CV_32F);
    cv::RNG rng(seed);
    rng.fill(noise, cv::RNG::UNIFORM, 0, 255);
    cv::GaussianBlur(noise, noise, cv::Size(0, 0), 2.0);
    cv::Mat out;
    cv::normalize(noise, out, 0, 255, cv::NORM_MINMAX, CV_8U);
    return out;
}

// Squares of `square` pixels; every 50x50 block of a 25-pixel board holds
// exactly one inner crossing, at block-relative (25, 25).
cv::Mat checkerboard(int width, int height, int square) {
    cv::Mat out(height, width, CV_8U);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) out.at<uchar>(y, x) = ((x / square + y / square) % 2) ? 255 : 0;
    return out;
}

struct Fixture : ::testing::Test {
    mexhost::Plugin plugin{mexhost::pluginPath("gridcorners")};
    fs::path dir;

    void SetUp() override {
        char templ[] = "/tmp/gridcorners_test_XXXXXX";
        ASSERT_NE(mkdtemp(templ), nullptr);
        dir = templ;
    }
    void TearDown() override { fs::remove_all(dir); }

    std::string write(const std::string& name, const cv::Mat& image) {
        const std::string path = (dir / name).string();
        EXPECT_TRUE(cv::imwrite(path, image));
        return path;
    }

    mexhost::CallResult run(const std::string& path, double D, double Q, double L, double A, int nlhs = 1) {
        auto name = mexhost::text(path);
        auto d = mexhost::scalar(D), q = mexhost::scalar(Q), l = mexhost::scalar(L), a = mexhost::scalar(A);
        return plugin.call(nlhs, {name.get(), d.get(), q.get(), l.get(), a.get()});
    }

    // The 2xK result of a call that must succeed without leaking.
    std::vector<double> corners(const std::string& path, double D, double Q, double L, double A) {
        auto r = run(path, D, Q, L, A);
        EXPECT_TRUE(r.ok) << r.errorId << ": " << r.errorMessage;
        EXPECT_FALSE(r.escaped);
        EXPECT_TRUE(r.leakFree());
        EXPECT_TRUE(r.output.empty()) << r.output;
        if (!r.ok || r.outputs.empty()) return {};
        EXPECT_EQ(mxGetM(r.outputs[0].get()), 2u);
        return mexhost::values(r.outputs[0].get());
    }

    // The detector called directly on each 50x50 block (clipped at the
    // edges) of the file's grey image, trying `levels` in turn until a block
    // yields more than 0.9 * L corners; 1-based [x; y] pairs.
    static std::vector<double> direct(const std::string& path, double D, int L, const std::vector<double>& levels,
                                      std::vector<int>* perBlock = nullptr) {
        cv::Mat grey = cv::imread(path, cv::IMREAD_GRAYSCALE);
        IplImage ipl = cvIplImage(grey);
        std::vector<double> out;
        std::vector<CvPoint2D32f> pts(static_cast<size_t>(L));
        for (int y0 = 0; y0 < grey.rows; y0 += 50)
            for (int x0 = 0; x0 < grey.cols; x0 += 50) {
                cvSetImageROI(&ipl, cvRect(x0, y0, std::min(50, grey.cols - x0), std::min(50, grey.rows - y0)));
                int count = 0;
                for (double q : levels) {
                    count = L;
                    cvGoodFeaturesToTrack(&ipl, nullptr, nullptr, pts.data(), &count, q, D, nullptr, 3, 1, q);
                    if (count > 0.9 * L) break;
                }
                for (int k = 0; k < count; ++k) {
                    out.push_back(static_cast<double>((pts[k].x + static_cast<float>(x0)) + 1.0f));
                    out.push_back(static_cast<double>((pts[k].y + static_cast<float>(y0)) + 1.0f));
                }
                if (perBlock) perBlock->push_back(count);
            }
        cvResetImageROI(&ipl);  // frees the region the header was given
        return out;
    }

    static std::vector<double> lowering(double q0, int n) {
        std::vector<double> levels{q0};
        while (static_cast<int>(levels.size()) < n) levels.push_back(levels.back() * 0.8);
        return levels;
    }

    int outOfMemoryChild(const std::string& huge);

    void expectRefused(const mexhost::CallResult& r, const std::string& id, const std::string& mention = "") {
        EXPECT_FALSE(r.ok);
        EXPECT_FALSE(r.escaped) << r.errorMessage;
        EXPECT_EQ(r.errorId, id) << r.errorMessage;
        EXPECT_TRUE(r.leakFree()) << id;
        EXPECT_TRUE(r.outputs.empty() || !r.outputs[0]);
        if (!mention.empty()) {
            EXPECT_NE(r.errorMessage.find(mention), std::string::npos) << r.errorMessage;
        }
    }
};

}  // namespace

TEST_F(Fixture, EveryBlockMatchesTheDetectorOnThatBlock) {
    const int sizes[][2] = {{120, 75}, {100, 100}, {49, 30}, {173, 121}};
    for (const auto& s : sizes) {
        const std::string path = write("tex.png", texture(s[0], s[1], 7u + static_cast<unsigned>(s[0])));
        for (int L : {1, 4, 10}) {
            const std::vector<double> got = corners(path, 3.0, 0.02, L, 0);
            std::vector<int> perBlock;
            EXPECT_EQ(got, direct(path, 3.0, L, {0.02}, &perBlock)) << s[0] << "x" << s[1] << " L=" << L;
            const size_t blocks = static_cast<size_t>(std::ceil(s[0] / 50.0) * std::ceil(s[1] / 50.0));
            EXPECT_EQ(perBlock.size(), blocks);
            EXPECT_LE(got.size() / 2, blocks * static_cast<size_t>(L));
            // The limit is reached, so the bound above is a real one.
            EXPECT_GT(std::count(perBlock.begin(), perBlock.end(), L), 0);
            // Every corner lies in the image, 1-based.
            for (size_t k = 0; k < got.size(); k += 2) {
                EXPECT_GE(got[k], 1.0);
                EXPECT_LE(got[k], s[0]);
                EXPECT_GE(got[k + 1], 1.0);
                EXPECT_LE(got[k + 1], s[1]);
            }
        }
    }
}

TEST_F(Fixture, SliverAndTinyBlocksAreDetectedWithoutFailing) {
    // Edge blocks one or two pixels wide, and images smaller than the
    // detector's 3x3 neighbourhood.
    const int sizes[][2] = {{1, 1}, {3, 3}, {51, 52}, {2, 200}, {200, 2}, {101, 1}, {151, 101}};
    for (const auto& s : sizes) {
        const std::string path = write("slim.png", texture(s[0], s[1], 9));
        for (double A : {0.0, 1.0})
            EXPECT_EQ(corners(path, 1.0, 0.01, 5, A), direct(path, 1.0, 5, A == 1.0 ? lowering(0.01, 5)
                                                                                    : std::vector<double>{0.01}))
                << s[0] << "x" << s[1];
    }
}

TEST_F(Fixture, BlockOffsetIsAddedToEveryCorner) {
    // One bright 3x3 spot centred on image (103, 57), in the block at (100, 50).
    cv::Mat img(150, 200, CV_8U, cv::Scalar(0));
    cv::rectangle(img, cv::Rect(102, 56, 3, 3), cv::Scalar(255), cv::FILLED);
    const std::string path = write("spot.png", img);

    cv::Mat grey = cv::imread(path, cv::IMREAD_GRAYSCALE);
    IplImage ipl = cvIplImage(grey);
    cvSetImageROI(&ipl, cvRect(100, 50, 50, 50));
    CvPoint2D32f p[4];
    int count = 4;
    cvGoodFeaturesToTrack(&ipl, nullptr, nullptr, p, &count, 0.04, 5, nullptr, 3, 1, 0.04);
    cvResetImageROI(&ipl);
    ASSERT_EQ(count, 1);
    ASSERT_EQ(p[0].x, 3.0f);
    ASSERT_EQ(p[0].y, 7.0f);

    EXPECT_EQ(corners(path, 5, 0.04, 4, 0), (std::vector<double>{104, 58}));
    EXPECT_EQ(corners(path, 5, 0.04, 4, 1), (std::vector<double>{104, 58}));
}

TEST_F(Fixture, CheckerboardGivesOneCrossingPerBlockInRasterOrder) {
    const std::string path = write("board.png", checkerboard(300, 200, 25));
    std::vector<double> expected;
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 6; ++j) {
            expected.push_back(50 * j + 26);
            expected.push_back(50 * i + 26);
        }
    EXPECT_EQ(corners(path, 5, 0.04, 4, 0), expected);
    // Adaptive lowering cannot find what is not there.
    EXPECT_EQ(corners(path, 5, 0.04, 4, 1), expected);
    // A colour file is read as grey.
    cv::Mat colour;
    cv::cvtColor(checkerboard(300, 200, 25), colour, cv::COLOR_GRAY2BGR);
    EXPECT_EQ(corners(write("board_colour.png", colour), 5, 0.04, 4, 0), expected);
}

TEST_F(Fixture, AdaptiveSwitchAndRetryLevels) {
    // A row of blocks, each with one bright spot and nine dim ones.  The dimmer
    // the spots, the lower the level at which the detector accepts them: 84
    // at 0.01, 80 at 0.008, 76 at 0.0064, 72 at 0.00512, 68 at 0.004096, 64
    // only at 0.0032768, which is never tried.
    const int dim[] = {84, 80, 76, 72, 68, 64};
    cv::Mat img(50, 300, CV_8U, cv::Scalar(0));
    for (int b = 0; b < 6; ++b) {
        cv::rectangle(img, cv::Rect(50 * b + 5, 5, 3, 3), cv::Scalar(255), cv::FILLED);
        for (int s = 0; s < 9; ++s)
            cv::rectangle(img, cv::Rect(50 * b + 15 + (s % 3) * 10, 15 + (s / 3) * 10, 3, 3), cv::Scalar(dim[b]),
                          cv::FILLED);
    }
    const std::string path = write("spots.png", img);
    auto perBlock = [](const std::vector<double>& p) {
        std::vector<int> n(6, 0);
        for (size_t k = 0; k < p.size(); k += 2) ++n[static_cast<size_t>((p[k] - 1) / 50)];
        return n;
    };

    const std::vector<double> off = corners(path, 2, 0.01, 10, 0);
    const std::vector<double> on = corners(path, 2, 0.01, 10, 1);
    EXPECT_EQ(perBlock(off), (std::vector<int>{10, 1, 1, 1, 1, 1}));
    EXPECT_EQ(perBlock(on), (std::vector<int>{10, 10, 10, 10, 10, 1}));
    EXPECT_EQ(off, direct(path, 2, 10, {0.01}));
    EXPECT_EQ(on, direct(path, 2, 10, lowering(0.01, 5)));
    // A sixth level would have found the last block's spots.
    EXPECT_EQ(perBlock(direct(path, 2, 10, lowering(0.01, 6))), (std::vector<int>(6, 10)));

    EXPECT_EQ(corners(path, 2, 0.01, 10, 1.7), on);
    EXPECT_EQ(corners(path, 2, 0.01, 10, 2), off);
    EXPECT_EQ(corners(path, 2, 0.01, 10, -1), off);
    EXPECT_EQ(corners(path, 2, 0.01, 10, NaN), off);

    // Ten corners are enough and nine too few: with a limit of 11 every
    // block is lowered to the end, and keeps its ten spots.
    EXPECT_EQ(perBlock(corners(path, 2, 0.01, 11, 1)), (std::vector<int>{10, 10, 10, 10, 10, 1}));
    EXPECT_EQ(corners(path, 2, 0.01, 11, 1), direct(path, 2, 11, {0.004096}));

    // Below 0.005 there is no retry.
    EXPECT_EQ(corners(path, 2, 0.0045, 10, 1), corners(path, 2, 0.0045, 10, 0));

    // Every block starts again from the caller's level: from 0.1, up to 14
    // retries follow in each block.
    EXPECT_EQ(corners(path, 2, 0.1, 10, 1), direct(path, 2, 10, lowering(0.1, 15)));
}

TEST_F(Fixture, ImageWithoutCornersGivesTwoByZero) {
    const std::string path = write("flat.png", cv::Mat(120, 130, CV_8U, cv::Scalar(90)));
    for (double A : {0.0, 1.0}) {
        auto r = run(path, 1, 0.01, 5, A);
        ASSERT_TRUE(r.ok) << r.errorMessage;
        EXPECT_TRUE(r.leakFree());
        EXPECT_EQ(mxGetM(r.outputs[0].get()), 2u);
        EXPECT_EQ(mxGetN(r.outputs[0].get()), 0u);
        EXPECT_FALSE(mxIsComplex(r.outputs[0].get()));
    }
}

TEST_F(Fixture, NumericArgumentsOfOtherClassesAreReadByValue) {
    const std::string path = write("tex.png", texture(140, 90, 5));
    auto name = mexhost::text(path);
    auto d = mexhost::numeric(mxUINT8_CLASS, {1, 1}, {3});
    auto q = mexhost::numeric(mxSINGLE_CLASS, {1, 1}, {0.0625});
    auto l = mexhost::numeric(mxINT32_CLASS, {1, 1}, {6});
    auto a = mexhost::numeric(mxLOGICAL_CLASS, {1, 1}, {1});
    auto r = plugin.call(1, {name.get(), d.get(), q.get(), l.get(), a.get()});
    ASSERT_TRUE(r.ok) << r.errorMessage;
    EXPECT_TRUE(r.leakFree());
    const std::vector<double> expected = corners(path, 3, 0.0625, 6, 1);
    EXPECT_FALSE(expected.empty());
    EXPECT_EQ(mexhost::values(r.outputs[0].get()), expected);
    // The limit is truncated toward zero.
    EXPECT_EQ(corners(path, 3, 0.0625, 6.9, 0), corners(path, 3, 0.0625, 6, 0));
    EXPECT_NE(corners(path, 3, 0.0625, 7, 0), corners(path, 3, 0.0625, 6, 0));
    // Distances far beyond a block keep one corner per block, without failing.
    EXPECT_EQ(corners(path, 1e12, 0.0625, 6, 0), corners(path, 100, 0.0625, 6, 0));
    EXPECT_EQ(corners(path, 100, 0.0625, 6, 0).size(), 2u * 6u);
}

TEST_F(Fixture, BadCountsAndFileNamesAreRefused) {
    const std::string good = write("ok.png", checkerboard(60, 60, 25));
    auto name = mexhost::text(good);
    auto one = mexhost::scalar(1), q = mexhost::scalar(0.04), l = mexhost::scalar(3), a = mexhost::scalar(0);
    expectRefused(plugin.call(1, {name.get(), one.get(), q.get(), l.get()}), "gridcorners:nargin");
    expectRefused(plugin.call(1, {}), "gridcorners:nargin");
    expectRefused(plugin.call(1, {name.get(), one.get(), q.get(), l.get(), a.get(), a.get()}), "gridcorners:nargin");
    expectRefused(plugin.call(2, {name.get(), one.get(), q.get(), l.get(), a.get()}), "gridcorners:nargout");
    EXPECT_TRUE(plugin.call(0, {name.get(), one.get(), q.get(), l.get(), a.get()}).ok);

    auto column = mexhost::cells(1, 1);
    auto empty = mexhost::text("");
    for (const mxArray* bad : {static_cast<const mxArray*>(column.get()), static_cast<const mxArray*>(empty.get())})
        expectRefused(plugin.call(1, {bad, one.get(), q.get(), l.get(), a.get()}), "gridcorners:filename");
    // A number is a one-pixel image, which holds no corner.
    auto number = mexhost::scalar(3);
    auto pixel = plugin.call(1, {number.get(), one.get(), q.get(), l.get(), a.get()});
    ASSERT_TRUE(pixel.ok) << pixel.errorMessage;
    EXPECT_EQ(mxGetN(pixel.outputs[0].get()), 0u);
    // Two rows of characters are not one name.
    mwSize dims[2] = {2, 3};
    mxArray* twoRows = mxCreateCharArray(2, dims);
    expectRefused(plugin.call(1, {twoRows, one.get(), q.get(), l.get(), a.get()}), "gridcorners:filename");
    mxDestroyArray(twoRows);
    // A name with a NUL inside would otherwise be cut to the existing file.
    const std::string nul = good + std::string(1, '\0') + "x";
    dims[0] = 1;
    dims[1] = nul.size();
    mxArray* withNul = mxCreateCharArray(2, dims);
    for (size_t k = 0; k < nul.size(); ++k) static_cast<mxChar*>(mxGetData(withNul))[k] = static_cast<mxChar>(nul[k]);
    expectRefused(plugin.call(1, {withNul, one.get(), q.get(), l.get(), a.get()}), "gridcorners:filename", "NUL");
    mxDestroyArray(withNul);

    // 1023 characters fit, 1024 are refused rather than cut to an existing name.
    std::string longName = (dir / "").string();
    longName += std::string(1023 - longName.size(), 'a');
    expectRefused(run(longName, 1, 0.04, 3, 0), "gridcorners:fileNotFound");
    const std::string cutToGood = good + std::string(1024 - good.size(), 'x');
    expectRefused(run(cutToGood.substr(0, 1024), 1, 0.04, 3, 0), "gridcorners:filenameLength");

    expectRefused(run((dir / "missing.png").string(), 1, 0.04, 3, 0), "gridcorners:fileNotFound", "missing.png");
    expectRefused(run(dir.string(), 1, 0.04, 3, 0), "gridcorners:fileNotFound", "directory");

    const std::string junk = (dir / "junk.png").string();
    std::ofstream(junk) << "this is not an image";
    expectRefused(run(junk, 1, 0.04, 3, 0), "gridcorners:imageRead", "junk.png");
    const std::string emptyFile = (dir / "empty.jpg").string();
    std::ofstream(emptyFile).close();
    expectRefused(run(emptyFile, 1, 0.04, 3, 0), "gridcorners:imageRead", "empty.jpg");
}

TEST_F(Fixture, BadNumbersAreRefused) {
    const std::string path = write("ok.png", checkerboard(60, 60, 25));
    struct Case {
        double D, Q, L, A;
        const char* id;
    };
    const Case cases[] = {
        {-1, 0.04, 3, 0, "gridcorners:minDistance"},   {NaN, 0.04, 3, 0, "gridcorners:minDistance"},
        {Inf, 0.04, 3, 0, "gridcorners:minDistance"},  {1, 0, 3, 0, "gridcorners:quality"},
        {1, -0.01, 3, 0, "gridcorners:quality"},       {1, NaN, 3, 0, "gridcorners:quality"},
        {1, Inf, 3, 0, "gridcorners:quality"},         {1, 1.5, 3, 1, "gridcorners:quality"},         {1, 0.04, 0, 0, "gridcorners:limit"},
        {1, 0.04, 0.99, 0, "gridcorners:limit"},       {1, 0.04, -4, 0, "gridcorners:limit"},
        {1, 0.04, NaN, 0, "gridcorners:limit"},        {1, 0.04, Inf, 0, "gridcorners:limit"},
        {1, 0.04, 2147483648.0, 0, "gridcorners:limit"},
    };
    for (const Case& c : cases) expectRefused(run(path, c.D, c.Q, c.L, c.A), c.id);

    auto name = mexhost::text(path);
    auto one = mexhost::scalar(1);
    auto pair = mexhost::matrix(1, 2, {1, 1});
    auto cplx = mexhost::complexMatrix(1, 1);
    auto word = mexhost::text("on");
    const char* ids[] = {"gridcorners:minDistance", "gridcorners:quality", "gridcorners:limit",
                         "gridcorners:adaptive"};
    for (int arg = 1; arg <= 4; ++arg)
        for (const mxArray* bad : {static_cast<const mxArray*>(pair.get()), static_cast<const mxArray*>(cplx.get()),
                                   static_cast<const mxArray*>(word.get())}) {
            std::vector<const mxArray*> args{name.get(), one.get(), one.get(), one.get(), one.get()};
            args[static_cast<size_t>(arg)] = bad;
            expectRefused(plugin.call(1, args), ids[arg - 1], "argument " + std::to_string(arg + 1));
        }
}

TEST_F(Fixture, OversizedPointBufferIsRefusedAfterReleasingTheImage) {
    // 74x74 blocks with 2500 corners each would need more than 1 GiB.
    const std::string path = write("large.png", cv::Mat(3700, 3700, CV_8U, cv::Scalar(0)));
    expectRefused(run(path, 1, 0.04, 2500, 0), "gridcorners:tooLarge");
    expectRefused(run(path, 1, 0.04, 1e9, 0), "gridcorners:tooLarge");
    auto r = run(path, 1, 0.04, 10, 0);
    EXPECT_TRUE(r.ok) << r.errorMessage;
    EXPECT_TRUE(r.leakFree());
}

namespace {

// The 8-bit pixel the documented conversion makes of a value: the nearest
// integer (halves to even, as the library rounds), saturated to 0..255, NaN
// as 0.
unsigned char ruleByte(double v) {
    if (std::isnan(v) || v <= 0.0) return 0;
    if (v >= 255.0) return 255;
    return static_cast<unsigned char>(std::nearbyint(v));
}

// Element i as the matrix's class holds it.
double heldValue(const mxArray* a, size_t i) {
    const void* p = mxGetData(a);
    switch (mxGetClassID(a)) {
    case mxDOUBLE_CLASS: return static_cast<const double*>(p)[i];
    case mxSINGLE_CLASS: return static_cast<const float*>(p)[i];
    case mxINT16_CLASS: return static_cast<const short*>(p)[i];
    case mxUINT8_CLASS: return static_cast<const unsigned char*>(p)[i];
    case mxLOGICAL_CLASS: return static_cast<const mxLogical*>(p)[i] ? 1.0 : 0.0;
    default: ADD_FAILURE() << "class not covered"; return 0.0;
    }
}

// A host matrix of the class, M rows = image height, from a CV_64F picture.
mexhost::ArrayPtr hostImage(mxClassID cls, const cv::Mat& values) {
    std::vector<double> columnMajor(static_cast<size_t>(values.rows) * static_cast<size_t>(values.cols));
    for (int c = 0; c < values.cols; ++c)
        for (int r = 0; r < values.rows; ++r)
            columnMajor[static_cast<size_t>(c) * values.rows + r] = values.at<double>(r, c);
    return mexhost::numeric(cls, {static_cast<size_t>(values.rows), static_cast<size_t>(values.cols)}, columnMajor);
}

cv::Mat camera() {
    cv::Mat grey = cv::imread(std::string(REGMEX_DATA_DIR) + "/camera.png", cv::IMREAD_GRAYSCALE);
    EXPECT_FALSE(grey.empty());
    return grey;
}

// A PNG file of 16x16 pixels whose header claims width x height, with a
// valid checksum: decoders trust the header and allocate the whole image.
std::string hugeHeaderPng(unsigned width, unsigned height) {
    std::vector<uchar> png;
    cv::imencode(".png", cv::Mat(16, 16, CV_8U, cv::Scalar(7)), png);
    // Bytes 16..23 are the IHDR width and height, 29..32 its CRC over 12..28.
    for (int k = 0; k < 4; ++k) {
        png[static_cast<size_t>(16 + k)] = static_cast<uchar>(width >> (24 - 8 * k));
        png[static_cast<size_t>(20 + k)] = static_cast<uchar>(height >> (24 - 8 * k));
    }
    unsigned crc = 0xffffffffu;
    for (size_t i = 12; i < 29; ++i) {
        crc ^= png[i];
        for (int b = 0; b < 8; ++b) crc = (crc >> 1) ^ (0xedb88320u & (0u - (crc & 1u)));
    }
    crc ^= 0xffffffffu;
    for (int k = 0; k < 4; ++k) png[static_cast<size_t>(29 + k)] = static_cast<uchar>(crc >> (24 - 8 * k));
    return std::string(png.begin(), png.end());
}

// Lets the address space of this process grow by `headroom` bytes at most.
void limitAddressSpace(size_t headroom) {
    std::ifstream status("/proc/self/status");
    std::string line;
    size_t kb = 0;
    while (std::getline(status, line))
        if (line.rfind("VmSize:", 0) == 0) kb = std::stoul(line.substr(7));
    rlimit limit;
    limit.rlim_cur = limit.rlim_max = kb * 1024 + headroom;
    setrlimit(RLIMIT_AS, &limit);
}

}  // namespace

TEST_F(Fixture, ImageMatrixGivesTheResultOfItsLosslessFile) {
    const cv::Mat photo = camera();
    // Doubles of every kind: outside 0..255, fractions, halves (to even),
    // NaN; and a crop whose blocks do not fill the edges.
    cv::Mat wide;
    photo.convertTo(wide, CV_64F, 2.3, -160.0);
    std::mt19937 rng(4);
    std::uniform_real_distribution<double> any(-1e4, 1e4);
    for (int k = 0; k < 4000; ++k) {
        const int r = static_cast<int>(rng() % 512), c = static_cast<int>(rng() % 512);
        const double specials[] = {any(rng), 0.5, 1.5, 2.5, 254.5, -0.4, 255.4, NaN};
        wide.at<double>(r, c) = specials[k % 8];
    }
    cv::Mat small;
    cv::Mat(wide, cv::Rect(37, 91, 237, 173)).copyTo(small);
    cv::Mat photoValues, dark, mask;
    photo.convertTo(photoValues, CV_64F);
    photo.convertTo(dark, CV_64F, 3.0, -300.0);
    cv::Mat(photo > 120).convertTo(mask, CV_64F, 1.0 / 255.0);

    struct Case {
        const char* what;
        mxClassID cls;
        cv::Mat values;
    };
    const Case cases[] = {{"uint8 photograph", mxUINT8_CLASS, photoValues},
                          {"double outside 0..255", mxDOUBLE_CLASS, wide},
                          {"double crop", mxDOUBLE_CLASS, small},
                          {"single", mxSINGLE_CLASS, wide},
                          {"int16", mxINT16_CLASS, dark},
                          {"logical", mxLOGICAL_CLASS, mask}};
    const double sets[][4] = {{5, 0.01, 5, 0}, {3, 0.02, 10, 1}, {1, 0.05, 3, 1}, {0, 0.01, 3000, 0}};
    for (const Case& c : cases) {
        auto matrix = hostImage(c.cls, c.values);
        // What the class holds, as 8 bits by the rule, through a PNG file.
        cv::Mat bytes(c.values.rows, c.values.cols, CV_8U);
        for (int r = 0; r < bytes.rows; ++r)
            for (int k = 0; k < bytes.cols; ++k)
                bytes.at<uchar>(r, k) = ruleByte(heldValue(matrix.get(), static_cast<size_t>(k) * bytes.rows + r));
        const std::string path = write("same.png", bytes);
        for (const auto& p : sets) {
            auto d = mexhost::scalar(p[0]), q = mexhost::scalar(p[1]), l = mexhost::scalar(p[2]),
                 a = mexhost::scalar(p[3]);
            auto r = plugin.call(1, {matrix.get(), d.get(), q.get(), l.get(), a.get()});
            ASSERT_TRUE(r.ok) << c.what << ": " << r.errorMessage;
            EXPECT_TRUE(r.leakFree());
            const std::vector<double> fromFile = corners(path, p[0], p[1], p[2], p[3]);
            EXPECT_FALSE(fromFile.empty()) << c.what;
            EXPECT_EQ(mexhost::values(r.outputs[0].get()), fromFile) << c.what << " L=" << p[2] << " A=" << p[3];
        }
    }
    // The uint8 photograph gives the result of the original file itself.
    auto matrix = hostImage(mxUINT8_CLASS, photoValues);
    auto d = mexhost::scalar(5), q = mexhost::scalar(0.01), l = mexhost::scalar(5), a = mexhost::scalar(1);
    auto r = plugin.call(1, {matrix.get(), d.get(), q.get(), l.get(), a.get()});
    ASSERT_TRUE(r.ok) << r.errorMessage;
    EXPECT_EQ(mexhost::values(r.outputs[0].get()), corners(std::string(REGMEX_DATA_DIR) + "/camera.png", 5, 0.01, 5, 1));
}

TEST_F(Fixture, MatricesThatAreNotGreyImagesAreRefused) {
    auto one = mexhost::scalar(1), q = mexhost::scalar(0.04), l = mexhost::scalar(3), a = mexhost::scalar(0);
    auto colour = mexhost::numeric(mxUINT8_CLASS, {60, 80, 3});
    auto empty = mexhost::matrix(0, 0);
    auto emptyRow = mexhost::numeric(mxUINT8_CLASS, {1, 0});
    auto cplx = mexhost::complexMatrix(60, 60);
    auto sparse = mexhost::sparseMatrix(60, 60);
    // Rows of 2^31 bytes do not fit an image of the library.
    auto tooWide = mexhost::numeric(mxUINT8_CLASS, {1, 2147483648u});
    struct Case {
        const mxArray* image;
        const char* mention;
    };
    const Case cases[] = {{colour.get(), "grey"}, {empty.get(), "empty"}, {emptyRow.get(), "empty"},
                          {cplx.get(), "complex"}, {sparse.get(), "sparse"}, {tooWide.get(), "2147483647"}};
    for (const Case& c : cases)
        expectRefused(plugin.call(1, {c.image, one.get(), q.get(), l.get(), a.get()}), "gridcorners:image",
                      c.mention);
    // A bad option is still reported for a good matrix, and the buffer bound holds.
    auto board = hostImage(mxDOUBLE_CLASS, [] {
        cv::Mat v;
        checkerboard(60, 60, 25).convertTo(v, CV_64F);
        return v;
    }());
    auto negative = mexhost::scalar(-1);
    expectRefused(plugin.call(1, {board.get(), negative.get(), q.get(), l.get(), a.get()}), "gridcorners:minDistance");
    // Sizes read rows x columns, as the host shows them.
    auto large = mexhost::numeric(mxUINT8_CLASS, {3700, 3750});
    auto many = mexhost::scalar(2500);
    expectRefused(plugin.call(1, {large.get(), one.get(), q.get(), many.get(), a.get()}), "gridcorners:tooLarge",
                  "a 3700x3750 image");
}

// In the child of the test below: the calls that must run out of memory
// under the limit, and one that must still work; returns the failures.
int Fixture::outOfMemoryChild(const std::string& huge) {
    // Made before the limit: a matrix whose 8-bit image needs 400 MB more.
    // (A uint8 matrix needs no image: its blocks are cut from it directly.)
    auto big = mexhost::numeric(mxSINGLE_CLASS, {20000, 20000});
    const std::string small = write("small.png", checkerboard(60, 60, 25));
    limitAddressSpace(size_t(256) << 20);
    int failures = 0;
    auto check = [&](const mexhost::CallResult& r, const char* what) {
        if (r.ok || r.escaped || r.errorId != "gridcorners:outOfMemory" || !r.leakFree()) {
            std::fprintf(stderr, "%s: %s %s\n", what, r.errorId.c_str(), r.errorMessage.c_str());
            ++failures;
        }
    };
    auto fromFile = run(huge, 1, 0.04, 3, 0);
    check(fromFile, "decoder");
    if (fromFile.errorMessage.find("huge.png") == std::string::npos) ++failures;
    auto one = mexhost::scalar(1), q = mexhost::scalar(0.04), l = mexhost::scalar(3), a = mexhost::scalar(0);
    check(plugin.call(1, {big.get(), one.get(), q.get(), l.get(), a.get()}), "conversion");
    // Within the limit everything still works.
    if (!run(small, 5, 0.04, 4, 0).ok) ++failures;
    fs::remove_all(dir);
    std::fflush(stderr);
    return failures == 0 ? 0 : 1;
}

TEST_F(Fixture, RunningOutOfMemoryIsNotAnUnreadableFile) {
    // 30000 x 30000 pixels claimed in a tiny file: with memory to spare the
    // decoder finds the data missing; in an address space that cannot take
    // the 900 MB image, the decoder's allocation fails.
    const std::string huge = (dir / "huge.png").string();
    std::ofstream(huge, std::ios::binary) << hugeHeaderPng(30000, 30000);
    expectRefused(run(huge, 1, 0.04, 3, 0), "gridcorners:imageRead", "huge.png");

    // The limit is set in a child process.  Under AddressSanitizer a failing
    // allocation must return null, as malloc does, instead of aborting.
    const char* asan = std::getenv("ASAN_OPTIONS");
    const std::string saved = asan ? asan : "";
    setenv("ASAN_OPTIONS", (saved + (saved.empty() ? "" : ":") + "allocator_may_return_null=1").c_str(), 1);
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(_exit(outOfMemoryChild(huge)), ::testing::ExitedWithCode(0), "");
    setenv("ASAN_OPTIONS", saved.c_str(), 1);
    if (!asan) unsetenv("ASAN_OPTIONS");
}

TEST_F(Fixture, WorkersThatCannotStartLeaveTheirBlocksToTheOthers) {
    const std::string path = std::string(REGMEX_DATA_DIR) + "/camera.png";
    const std::vector<double> expected = corners(path, 3, 0.02, 10, 1);
    ASSERT_FALSE(expected.empty());
    auto failThread = reinterpret_cast<void (*)(int)>(plugin.symbol("regmexFailThreadCreation"));
    ASSERT_NE(failThread, nullptr);
    // The first or the second thread refused; past the machine's workers the
    // seam is never reached and is switched off again below.
    for (int n : {1, 2}) {
        failThread(n);
        EXPECT_EQ(corners(path, 3, 0.02, 10, 1), expected) << "thread " << n;
        failThread(0);
    }
}

// A 2000x2000 texture (1,600 blocks, adaptive): the host interrupts the
// blocks at once, after a few polls or after a delay.
TEST_F(Fixture, InterruptStopsTheBlocksAndReleasesEverything) {
    using namespace std::chrono_literals;
    struct Case {
        const char* what;
        void (*raise)();
    };
    const Case cases[] = {
        {"raised before the blocks", [] { mexhost::raiseInterrupt(); }},
        {"after 3 polls", [] { mexhost::raiseInterruptAfterPolls(3); }},
        {"after 40 ms", [] { mexhost::raiseInterruptAfter(40ms); }},
    };
    const std::string path = write("texture.png", texture(2000, 2000, 3));
    for (const Case& c : cases) {
        c.raise();
        auto r = run(path, 2, 0.3, 40, 1);
        expectRefused(r, "gridcorners:interrupted");
        EXPECT_EQ(r.heldAtHostCall, 0u) << c.what;
        EXPECT_EQ(plugin.liveImages(), 0u) << c.what;
        EXPECT_EQ(plugin.liveBlocks(), 0u) << c.what;
        EXPECT_GE(r.interruptPolls, 1u) << c.what;
        EXPECT_EQ(r.offThreadPolls, 0u) << c.what;
    }
    const std::string small = write("small.png", texture(120, 75, 4));
    EXPECT_EQ(corners(small, 2, 0.01, 5, 1), direct(small, 2, 5, lowering(0.01, 5)));
}
