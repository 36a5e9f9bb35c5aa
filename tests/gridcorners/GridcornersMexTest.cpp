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

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <limits>
#include <random>
#include <string>
#include <vector>

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

    auto number = mexhost::scalar(3);
    auto column = mexhost::cells(1, 1);
    auto empty = mexhost::text("");
    for (const mxArray* bad : {static_cast<const mxArray*>(number.get()), static_cast<const mxArray*>(column.get()),
                               static_cast<const mxArray*>(empty.get())})
        expectRefused(plugin.call(1, {bad, one.get(), q.get(), l.get(), a.get()}), "gridcorners:filename");
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
