// The block grid, point buffer size and adaptive retry rule, without a host.
#include "BlockGrid.h"

#include <gtest/gtest.h>
#include <opencv2/core/core_c.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

using namespace gridcorners;

namespace {

// Effective block rectangles after the library clips each region of interest.
std::vector<CvRect> clippedBlocks(int width, int height) {
    IplImage* header = cvCreateImageHeader(cvSize(width, height), IPL_DEPTH_8U, 1);
    const BlockGrid grid = blockGrid(width, height);
    std::vector<CvRect> out;
    for (int i = 0; i < grid.blocksY; ++i)
        for (int j = 0; j < grid.blocksX; ++j) {
            cvSetImageROI(header, blockRect(i, j, width, height));
            out.push_back(cvGetImageROI(header));
        }
    cvReleaseImageHeader(&header);
    return out;
}

// Runs the retry rule with a detector that returns the given counts in turn
// (the last one repeatedly) and records the levels it was called with.
std::vector<double> levelsTried(double quality, int limit, bool adaptive, std::vector<int> counts,
                                int* result = nullptr) {
    std::vector<double> levels;
    const int found = detectWithRetries(
        [&](double level) {
            levels.push_back(level);
            return counts[std::min(levels.size(), counts.size()) - 1];
        },
        quality, limit, adaptive);
    if (result) *result = found;
    return levels;
}

}  // namespace

TEST(BlockGrid, LayoutOfTheDocumentedSizes) {
    const BlockGrid g1 = blockGrid(120, 75);
    EXPECT_EQ(g1.blocksX, 3);
    EXPECT_EQ(g1.blocksY, 2);
    const std::vector<CvRect> b1 = clippedBlocks(120, 75);
    ASSERT_EQ(b1.size(), 6u);
    const int widths[] = {50, 50, 20}, heights[] = {50, 25};
    for (int i = 0; i < 2; ++i)
        for (int j = 0; j < 3; ++j) {
            const CvRect r = b1[static_cast<size_t>(i * 3 + j)];
            EXPECT_EQ(r.x, 50 * j);
            EXPECT_EQ(r.y, 50 * i);
            EXPECT_EQ(r.width, widths[j]);
            EXPECT_EQ(r.height, heights[i]);
        }

    // The last block asks for the full size and is clipped back to 50.
    const BlockGrid g2 = blockGrid(100, 100);
    EXPECT_EQ(g2.blocksX, 2);
    EXPECT_EQ(g2.blocksY, 2);
    EXPECT_EQ(blockRect(1, 1, 100, 100).width, 100);
    for (const CvRect& r : clippedBlocks(100, 100)) {
        EXPECT_EQ(r.width, 50);
        EXPECT_EQ(r.height, 50);
    }

    const std::vector<CvRect> b3 = clippedBlocks(49, 30);
    ASSERT_EQ(b3.size(), 1u);
    EXPECT_EQ(b3[0].x, 0);
    EXPECT_EQ(b3[0].y, 0);
    EXPECT_EQ(b3[0].width, 49);
    EXPECT_EQ(b3[0].height, 30);
}

TEST(BlockGrid, BlocksCoverEveryPixelOnce) {
    const int sizes[][2] = {{1, 1}, {50, 50}, {51, 49}, {99, 101}, {150, 1}, {237, 173}, {1000, 3}};
    for (const auto& s : sizes) {
        const int W = s[0], H = s[1];
        std::vector<int> hits(static_cast<size_t>(W * H), 0);
        for (const CvRect& r : clippedBlocks(W, H)) {
            EXPECT_LE(r.width, kBlockSize);
            EXPECT_LE(r.height, kBlockSize);
            for (int y = r.y; y < r.y + r.height; ++y)
                for (int x = r.x; x < r.x + r.width; ++x) ++hits[static_cast<size_t>(y * W + x)];
        }
        for (size_t k = 0; k < hits.size(); ++k)
            ASSERT_EQ(hits[k], 1) << W << "x" << H << " pixel " << k;
    }
}

TEST(BlockGrid, PointBufferSizeAndBound) {
    EXPECT_EQ(pointBufferBytes(blockGrid(120, 75), 10), 6 * 10 * 80.0);
    EXPECT_EQ(pointBufferBytes(blockGrid(49, 30), 1), 80.0);
    // Limits beyond what a block can hold cost no more than that.
    EXPECT_EQ(pointBufferBytes(blockGrid(100, 100), 2147483647), 4 * 2500 * 80.0);
    // Every block can store its limit, with room to spare.
    EXPECT_GE(pointBufferBytes(blockGrid(120, 75), 7), 6 * 7 * sizeof(CvPoint2D32f));
    // A 2048x2048 image accepts any limit; a huge one with a large limit does not.
    EXPECT_LE(pointBufferBytes(blockGrid(2048, 2048), 1000000), kMaxPointBufferBytes);
    EXPECT_GT(pointBufferBytes(blockGrid(3700, 3700), 2500), kMaxPointBufferBytes);
}

TEST(AdaptiveRule, LevelsFromTheCallersQuality) {
    const std::vector<double> from001 = levelsTried(0.01, 10, true, {0});
    const double expected[] = {0.01, 0.008, 0.0064, 0.00512, 0.004096};
    ASSERT_EQ(from001.size(), 5u);
    for (size_t k = 0; k < 5; ++k) EXPECT_NEAR(from001[k], expected[k], 1e-15);

    // 0.1 * 0.8^13 is still >= 0.005, 0.1 * 0.8^14 is not: 14 retries.
    const std::vector<double> from01 = levelsTried(0.1, 10, true, {0});
    EXPECT_EQ(from01.size(), 15u);
    EXPECT_LT(from01.back(), 0.005);
    EXPECT_GE(from01.back(), 0.004);

    EXPECT_EQ(levelsTried(0.0049, 10, true, {0}).size(), 1u);
    // The test comes before the lowering: a level of exactly 0.005 is lowered once.
    EXPECT_EQ(levelsTried(0.005, 10, true, {0}).size(), 2u);
    EXPECT_EQ(levelsTried(0.1, 10, false, {0}).size(), 1u);
}

TEST(AdaptiveRule, StopsWhenABlockYieldsEnough) {
    int found = -1;
    // With a limit of 10, 9 corners are too few and 10 are enough.
    EXPECT_EQ(levelsTried(0.05, 10, true, {3, 9, 10, 2}, &found).size(), 3u);
    EXPECT_EQ(found, 10);
    EXPECT_EQ(levelsTried(0.05, 10, true, {10}, &found).size(), 1u);
    // 0.9 * 3 = 2.7: two corners are too few, three enough.
    EXPECT_EQ(levelsTried(0.05, 3, true, {2, 3}, &found).size(), 2u);
    // The last call's count is the block's, even when it is lower.
    EXPECT_EQ(levelsTried(0.006, 10, true, {5, 4}, &found).size(), 2u);
    EXPECT_EQ(found, 4);
    EXPECT_EQ(levelsTried(0.05, 10, false, {3}, &found).size(), 1u);
    EXPECT_EQ(found, 3);
}

TEST(AdaptiveRule, SwitchTruncatesToOne) {
    const double inf = std::numeric_limits<double>::infinity();
    for (double on : {1.0, 1.7, 1.9999}) EXPECT_TRUE(adaptiveOn(on)) << on;
    for (double off : {0.0, 0.999, 2.0, 2.5, -1.0, -1.5, inf, -inf, std::nan("")}) EXPECT_FALSE(adaptiveOn(off)) << off;
}

TEST(Points, BlockOffsetAndOneBasedOutputInSinglePrecision) {
    std::vector<CvPoint2D32f> p = {cvPoint2D32f(3, 7), cvPoint2D32f(0, 0), cvPoint2D32f(0.1f, 49)};
    offsetPoints(p.data(), 3, 100, 50);
    std::vector<double> out(6, -1);
    writeOneBased(p.data(), 3, out.data());
    EXPECT_EQ(out[0], 104);
    EXPECT_EQ(out[1], 58);
    EXPECT_EQ(out[2], 101);
    EXPECT_EQ(out[3], 51);
    // 0.1 + 100 + 1 rounded to float at each step, not computed in double.
    EXPECT_EQ(out[4], static_cast<double>((0.1f + 100.0f) + 1.0f));
    EXPECT_NE(out[4], 0.1 + 101.0);
    EXPECT_EQ(out[5], 100);
}
