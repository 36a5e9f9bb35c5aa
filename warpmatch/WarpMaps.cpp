#include "WarpMaps.h"

#include "Parallel.h"
#include "StageClock.h"

#include <opencv2/core.hpp>
#include <opencv2/imgproc/imgproc_c.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <vector>

namespace warpmatch {

namespace {

constexpr int kLinearFillOutliers = CV_INTER_LINEAR + CV_WARP_FILL_OUTLIERS;  // 9
constexpr double kOutsideSource = -100.0;
// Rows of composed maps made at a time: two such strips are the only
// buffers of a call.
constexpr size_t kStripPixels = size_t(1) << 15;

float* rowOf(IplImage* image, int r) {
    return reinterpret_cast<float*>(image->imageData + static_cast<size_t>(r) * image->widthStep);
}

// An image header over rows x cols floats of our own, row-major.
struct Plane {
    IplImage header;
    Plane(float* pixels, int rows, int cols) {
        cvInitImageHeader(&header, cvSize(cols, rows), IPL_DEPTH_32F, 1);
        cvSetData(&header, pixels, cols * static_cast<int>(sizeof(float)));
    }
    IplImage* image() { return &header; }
};

}  // namespace

long fillNoise(float* pixels, size_t rows, size_t cols, size_t step) {
    // Finding the rows to fill runs on all cores; the filling stays on this
    // thread, so rand() is called once per replaced pixel, rows outer, as
    // in a plain scan.
    std::vector<unsigned char> hasFill(rows, 0);
    parallel::forRanges(rows, parallel::workersFor(rows * cols, size_t(1) << 18), [&](size_t begin, size_t end) {
        for (size_t r = begin; r < end; ++r) {
            const float* row = pixels + r * step;
            bool any = false;
            for (size_t c = 0; c < cols; ++c) any |= row[c] < -1.0f;
            hasFill[r] = any;
        }
    });
    long replaced = 0;
    for (size_t r = 0; r < rows; ++r) {
        if (!hasFill[r]) continue;
        float* row = pixels + r * step;
        for (size_t c = 0; c < cols; ++c) {
            if (row[c] < -1.0f) {
                row[c] = static_cast<float>(std::rand() / 2147483647.0);
                ++replaced;
            }
        }
    }
    return replaced;
}

long fillNoise(IplImage* image) {
    return fillNoise(rowOf(image, 0), static_cast<size_t>(image->height), static_cast<size_t>(image->width),
                     static_cast<size_t>(image->widthStep) / sizeof(float));
}

bool warpBlocks(const SplinePair& s, int M, int N, const WarpBlocks& b, bool composing, char* error,
                size_t errorSize, bool* stopped, const std::function<bool()>& shouldStop) {
    const size_t pixels = static_cast<size_t>(M) * static_cast<size_t>(N);
    *stopped = false;
    try {
        // The coarse nodes sit where the resampled image goes later.
        const CoarseGrid g = coarseGrid(M, N);
        const size_t nodes = static_cast<size_t>(g.Mq) * static_cast<size_t>(g.Nq);
        Plane smallX(lowerPlane(b.image), g.Mq, g.Nq), smallY(lowerPlane(b.image) + nodes, g.Mq, g.Nq);
        if (!coarseEvaluate(s, g, lowerPlane(b.image), static_cast<size_t>(g.Nq), lowerPlane(b.image) + nodes,
                            static_cast<size_t>(g.Nq), 0, shouldStop)) {
            *stopped = true;
            return false;
        }
        markStage(kStageCoarse);

        // The scale-up writes the frame's N x M corner of the enlarged maps
        // straight into the map planes: each pixel depends only on its
        // position, so the corner is the same as the top-left region of the
        // whole enlarged image.
        const float lastX = static_cast<float>(g.Nq - 1), lastY = static_cast<float>(g.Mq - 1);
        const float bigLastX = static_cast<float>(4 * g.Nq - 1), bigLastY = static_cast<float>(4 * g.Mq - 1);
        CvPoint2D32f from[3] = {{0.f, 0.f}, {lastX, 0.f}, {lastX, lastY}};
        CvPoint2D32f to[3] = {{0.f, 0.f}, {bigLastX, 0.f}, {bigLastX, bigLastY}};
        float scaleData[6];
        CvMat scale = cvMat(2, 3, CV_32FC1, scaleData);
        cvGetAffineTransform(from, to, &scale);
        Plane mapX(lowerPlane(b.x), M, N), mapY(lowerPlane(b.y), M, N);
        cvWarpAffine(smallX.image(), mapX.image(), &scale, kLinearFillOutliers, cvScalarAll(0));
        cvWarpAffine(smallY.image(), mapY.image(), &scale, kLinearFillOutliers, cvScalarAll(0));
        markStage(kStageScaleUp);

        if (composing) {
            // Previous maps sampled through the spline maps, a strip of rows
            // at a time; a strip's spline maps are read by both remaps and
            // then replaced by the composed ones.
            Plane prevX(upperPlane(b.x, pixels), M, N), prevY(upperPlane(b.y, pixels), M, N);
            const int rows = static_cast<int>(std::max<size_t>(1, kStripPixels / static_cast<size_t>(N)));
            std::vector<float> strips(2 * static_cast<size_t>(std::min(rows, M)) * static_cast<size_t>(N));
            for (int r0 = 0; r0 < M; r0 += rows) {
                const int h = std::min(rows, M - r0);
                const size_t at = static_cast<size_t>(r0) * static_cast<size_t>(N);
                const size_t size = static_cast<size_t>(h) * static_cast<size_t>(N);
                Plane rowsX(lowerPlane(b.x) + at, h, N), rowsY(lowerPlane(b.y) + at, h, N);
                Plane outX(strips.data(), h, N), outY(strips.data() + size, h, N);
                cvRemap(prevX.image(), outX.image(), rowsX.image(), rowsY.image(), kLinearFillOutliers, cvScalarAll(0));
                cvRemap(prevY.image(), outY.image(), rowsX.image(), rowsY.image(), kLinearFillOutliers, cvScalarAll(0));
                std::memcpy(lowerPlane(b.x) + at, strips.data(), size * sizeof(float));
                std::memcpy(lowerPlane(b.y) + at, strips.data() + size, size * sizeof(float));
            }
        }
        markStage(kStageCompose);

        Plane source(upperPlane(b.image, pixels), M, N), result(lowerPlane(b.image), M, N);
        cvRemap(source.image(), result.image(), mapX.image(), mapY.image(), kLinearFillOutliers, cvScalar(kOutsideSource, 0, 0, 0));
        markStage(kStageResample);
    } catch (const std::exception& e) {
        std::snprintf(error, errorSize, "%s", e.what());
        return false;
    }
    return true;
}

void finishBlock(double* block, int M, int N) {
    const size_t pixels = static_cast<size_t>(M) * static_cast<size_t>(N);
    // Column-major floats into the upper half ...
    const cv::Mat rowMajor(M, N, CV_32F, lowerPlane(block));
    cv::Mat columnMajor(N, M, CV_32F, upperPlane(block, pixels));
    cv::transpose(rowMajor, columnMajor);
    // ... then widened in place from the front: double i covers floats 2i
    // and 2i + 1 of the block, which lie before upper float i, so each write
    // lands on floats already read.  The copies go through byte buffers, as
    // the block changes type under the loop.
    const size_t chunk = 1024;
    float in[chunk];
    double out[chunk];
    const char* from = reinterpret_cast<const char*>(upperPlane(block, pixels));
    char* to = reinterpret_cast<char*>(block);
    for (size_t i = 0; i < pixels; i += chunk) {
        const size_t n = std::min(chunk, pixels - i);
        std::memcpy(in, from + i * sizeof(float), n * sizeof(float));
        for (size_t j = 0; j < n; ++j) out[j] = in[j];
        std::memcpy(to + i * sizeof(double), out, n * sizeof(double));
    }
}

}  // namespace warpmatch
