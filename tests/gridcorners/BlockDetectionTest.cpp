// The block loop on one and on several workers, without a host: the same
// corners, counts, errors and stops whatever the worker count and whether
// the blocks come from an image or from a matrix's bytes, and the one-worker
// loop equal to the detector called on each block in turn.
#include "BlockDetection.h"

#include <gtest/gtest.h>
#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <atomic>
#include <string>
#include <thread>
#include <vector>

using namespace gridcorners;

namespace {

// Crops and enlargements of the camera photograph, whose block counts
// (1, 2, 11, 25, 121, 289) leave remainders for 2, 3 and 7 workers.
std::vector<cv::Mat> photographs() {
    const cv::Mat camera = cv::imread(std::string(REGMEX_DATA_DIR) + "/camera.png", cv::IMREAD_GRAYSCALE);
    EXPECT_FALSE(camera.empty());
    cv::Mat big;
    cv::resize(camera, big, cv::Size(830, 820), 0, 0, cv::INTER_CUBIC);
    return {camera(cv::Rect(100, 200, 30, 49)).clone(), camera(cv::Rect(0, 0, 51, 40)).clone(),
            camera(cv::Rect(0, 300, 512, 30)).clone(), camera(cv::Rect(200, 150, 237, 223)).clone(), camera,
            big};
}

struct Outcome {
    BlockRun run;
    std::vector<int> counts;
    std::vector<double> corners;
};

// The image's bytes column by column, as a uint8 matrix holds them.
std::vector<unsigned char> columnMajor(const cv::Mat& image) {
    std::vector<unsigned char> out;
    for (int c = 0; c < image.cols; ++c)
        for (int r = 0; r < image.rows; ++r) out.push_back(image.at<uchar>(r, c));
    return out;
}

// Blocks of the image itself, or, with fromMatrix, cut from its bytes in
// column-major order.
Outcome detect(const cv::Mat& image, const DetectOptions& o, int workers,
               const std::function<bool()>& shouldStop = nullptr, bool fromMatrix = false) {
    IplImage ipl = cvIplImage(image);
    const std::vector<unsigned char> bytes = fromMatrix ? columnMajor(image) : std::vector<unsigned char>();
    const Pixels pixels = fromMatrix ? matrixPixels(bytes.data(), image.rows, image.cols, false) : imagePixels(&ipl);
    const BlockGrid grid = blockGrid(image.cols, image.rows);
    std::vector<char> buffer(static_cast<size_t>(slotBytes(grid, o.limit)));
    const Slots slots = slotsIn(buffer.data(), grid, o.limit);
    Outcome out;
    out.run = detectBlocks(pixels, o, workers, slots, shouldStop);
    if (out.run.status != RunStatus::done) return out;
    out.counts.assign(slots.counts, slots.counts + slots.blocks);
    out.corners.resize(2 * static_cast<size_t>(out.run.total));
    writeSlots(slots, out.corners.data());
    return out;
}

// The detector on each block in raster order, as the plain loop runs it.
std::vector<double> directLoop(const cv::Mat& grey, const DetectOptions& o) {
    std::vector<double> out;
    std::vector<cv::Point2f> block;
    for (int y0 = 0; y0 < grey.rows; y0 += 50)
        for (int x0 = 0; x0 < grey.cols; x0 += 50) {
            // A header of the block alone: the detector sees no pixel beyond it.
            const cv::Mat roi(std::min(50, grey.rows - y0), std::min(50, grey.cols - x0), CV_8UC1,
                              const_cast<uchar*>(grey.ptr<uchar>(y0)) + x0, grey.step);
            double q = o.quality;
            cv::goodFeaturesToTrack(roi, block, o.limit, q, o.distance, cv::noArray(), 3, true, q);
            while (o.adaptive && block.size() <= o.limit * 0.9 && q >= 0.005) {
                q *= 0.8;
                cv::goodFeaturesToTrack(roi, block, o.limit, q, o.distance, cv::noArray(), 3, true, q);
            }
            for (const cv::Point2f& p : block) {
                out.push_back(static_cast<double>((p.x + static_cast<float>(x0)) + 1.0f));
                out.push_back(static_cast<double>((p.y + static_cast<float>(y0)) + 1.0f));
            }
        }
    return out;
}

const DetectOptions kOptionSets[] = {
    {3.0, 0.02, 4, false}, {1.0, 0.01, 10, true}, {5.0, 0.1, 3, true}, {0.0, 0.04, 3000, false}};

}  // namespace

TEST(BlockDetection, EveryWorkerCountGivesTheOneWorkerResult) {
    for (const cv::Mat& image : photographs()) {
        for (const DetectOptions& o : kOptionSets) {
            const Outcome one = detect(image, o, 1);
            ASSERT_EQ(one.run.status, RunStatus::done) << one.run.message;
            EXPECT_EQ(one.corners, directLoop(image, o)) << image.cols << "x" << image.rows << " L=" << o.limit;
            for (int workers : {1, 2, 3, 7})
                for (bool fromMatrix : {false, true}) {
                    const Outcome many = detect(image, o, workers, nullptr, fromMatrix);
                    ASSERT_EQ(many.run.status, RunStatus::done) << many.run.message;
                    EXPECT_EQ(many.run.total, one.run.total);
                    EXPECT_EQ(many.counts, one.counts)
                        << image.cols << "x" << image.rows << " workers " << workers << " matrix " << fromMatrix;
                    EXPECT_EQ(many.corners, one.corners)
                        << image.cols << "x" << image.rows << " workers " << workers << " matrix " << fromMatrix;
                }
        }
    }
}

TEST(BlockDetection, LibraryErrorsAreTheFirstBlocksWhateverTheWorkerCount) {
    // The detector refuses a negative distance in every block.
    const cv::Mat image = photographs()[4];
    const DetectOptions bad{-1.0, 0.01, 5, false};
    const Outcome one = detect(image, bad, 1);
    ASSERT_EQ(one.run.status, RunStatus::failed);
    EXPECT_NE(std::string(one.run.message).find("minDistance"), std::string::npos) << one.run.message;
    for (int workers : {1, 2, 3, 7})
        for (bool fromMatrix : {false, true}) {
            const Outcome many = detect(image, bad, workers, nullptr, fromMatrix);
            EXPECT_EQ(many.run.status, RunStatus::failed);
            EXPECT_STREQ(many.run.message, one.run.message);
        }
}

TEST(BlockDetection, StopRequestIsPolledOnTheCallingThreadAndEndsTheRun) {
    cv::Mat image;
    cv::resize(photographs()[4], image, cv::Size(2000, 2000), 0, 0, cv::INTER_CUBIC);
    const DetectOptions o{3.0, 0.01, 10, true};
    const Outcome plain = detect(image, o, 2);
    ASSERT_EQ(plain.run.status, RunStatus::done);
    for (int workers : {1, 2, 3}) {
        // A poll that never asks to stop changes nothing; one worker polls
        // between blocks, several are polled between timed waits.
        std::atomic<int> polls{0};
        const Outcome polled = detect(image, o, workers, [&] {
            ++polls;
            return false;
        });
        EXPECT_EQ(polled.corners, plain.corners) << workers;
        if (workers == 1)
            EXPECT_EQ(polls.load(), 1600);
        else
            EXPECT_GT(polls.load(), 0);

        const std::thread::id caller = std::this_thread::get_id();
        bool elsewhere = false;
        const Outcome stopped = detect(image, o, workers, [&] {
            elsewhere = elsewhere || std::this_thread::get_id() != caller;
            return true;
        });
        EXPECT_EQ(stopped.run.status, RunStatus::stopped) << workers;
        EXPECT_FALSE(elsewhere);
    }
}

TEST(BlockDetection, SlotsFitThePointBufferAndWorkersTheMachine) {
    const int sizes[][2] = {{1, 1}, {49, 30}, {120, 75}, {4096, 4096}, {3700, 3700}};
    for (const auto& s : sizes)
        for (int limit : {1, 10, 2500, 2147483647}) {
            const BlockGrid grid = blockGrid(s[0], s[1]);
            EXPECT_LE(slotBytes(grid, limit), pointBufferBytes(grid, limit));
            const int workers = machineWorkers(grid);
            EXPECT_GE(workers, 1);
            EXPECT_LE(workers, grid.blocksX * grid.blocksY);
        }
    // The pool's rule: every core, up to its cap.
    EXPECT_EQ(machineWorkers(blockGrid(4096, 4096)),
              std::min(64, std::max(1, static_cast<int>(std::thread::hardware_concurrency()))));
}
