// The threaded block loop under ThreadSanitizer: built with -fsanitize=thread
// from the host-free core alone.  Any race makes the sanitizer fail the run;
// the corners must also equal the one-worker loop's (3 workers cut the
// blocks from a matrix's bytes), and a failing or a stopped run must end
// with every worker joined.  The image file library stays out: its start-up
// trips the sanitizer, so the pictures are made here.
#include "BlockDetection.h"

#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <vector>

using namespace gridcorners;

namespace {

struct Result {
    BlockRun run;
    std::vector<double> corners;
};

Result detect(const cv::Mat& image, const DetectOptions& o, int workers, const std::function<bool()>& stop,
              bool fromMatrix = false) {
    IplImage ipl = cvIplImage(image);
    std::vector<unsigned char> bytes;
    if (fromMatrix)
        for (int c = 0; c < image.cols; ++c)
            for (int r = 0; r < image.rows; ++r) bytes.push_back(image.at<uchar>(r, c));
    const Pixels pixels = fromMatrix ? matrixPixels(bytes.data(), image.rows, image.cols, false) : imagePixels(&ipl);
    const BlockGrid grid = blockGrid(image.cols, image.rows);
    std::vector<char> buffer(static_cast<size_t>(slotBytes(grid, o.limit)));
    const Slots slots = slotsIn(buffer.data(), grid, o.limit);
    Result r;
    r.run = detectBlocks(pixels, o, workers, slots, stop);
    if (r.run.status == RunStatus::done) {
        r.corners.resize(2 * static_cast<size_t>(r.run.total));
        writeSlots(slots, r.corners.data());
    }
    return r;
}

// Smooth random grey texture with fine grain.
cv::Mat texture(int width, int height, unsigned seed) {
    cv::Mat noise(height, width, CV_32F), out;
    cv::RNG rng(seed);
    rng.fill(noise, cv::RNG::UNIFORM, 0, 255);
    cv::GaussianBlur(noise, noise, cv::Size(0, 0), 2.0);
    cv::normalize(noise, out, 0, 255, cv::NORM_MINMAX, CV_8U);
    return out;
}

}  // namespace

int main() {
    const cv::Mat camera = texture(512, 512, 3);
    int failures = 0;
    const cv::Mat images[] = {camera(cv::Rect(0, 0, 237, 223)).clone(), camera};
    const DetectOptions sets[] = {{3.0, 0.02, 4, false}, {1.0, 0.01, 10, true}};
    for (const cv::Mat& image : images)
        for (const DetectOptions& o : sets) {
            const Result one = detect(image, o, 1, nullptr);
            for (int workers : {2, 3, 7}) {
                std::atomic<int> polls{0};
                const Result many = detect(
                    image, o, workers,
                    [&] {
                        ++polls;
                        return false;
                    },
                    workers == 3);
                if (many.run.status != RunStatus::done || many.corners != one.corners) {
                    std::printf("%dx%d, %d workers: corners differ from one worker's\n", image.cols, image.rows,
                                workers);
                    ++failures;
                }
            }
        }

    const DetectOptions bad{-1.0, 0.01, 5, false};
    const Result failedOne = detect(camera, bad, 1, nullptr);
    const Result failedMany = detect(camera, bad, 3, nullptr);
    if (failedMany.run.status != RunStatus::failed ||
        std::strcmp(failedMany.run.message, failedOne.run.message) != 0) {
        std::printf("a failing run on 3 workers does not report the first block's error\n");
        ++failures;
    }

    const cv::Mat large = texture(1500, 1500, 4);
    const Result stopped = detect(large, sets[1], 2, [] { return true; });
    if (stopped.run.status != RunStatus::stopped) {
        std::printf("a stop request did not end the run\n");
        ++failures;
    }
    std::printf("%s\n", failures ? "FAILED" : "passed");
    return failures ? 1 : 0;
}
