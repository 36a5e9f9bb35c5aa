#include "WarpMaps.h"

#include "Parallel.h"
#include "Resources.h"
#include "StageClock.h"

#include <opencv2/imgproc/imgproc_c.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <utility>
#include <vector>

namespace warpmatch {

namespace {

constexpr int kLinearFillOutliers = CV_INTER_LINEAR + CV_WARP_FILL_OUTLIERS;  // 9
constexpr double kOutsideSource = -100.0;

float* rowOf(IplImage* image, int r) {
    return reinterpret_cast<float*>(image->imageData + static_cast<size_t>(r) * image->widthStep);
}

IplImage* floatImage(int width, int height) {
    return resources::createImage(cvSize(width, height), IPL_DEPTH_32F, 1);
}

void release(IplImage*& image) { resources::releaseImage(image); }

// An x map and a y map of one size, made, filled and released together.
struct MapPair {
    IplImage* x = nullptr;
    IplImage* y = nullptr;

    void make(int width, int height) {
        x = floatImage(width, height);
        y = floatImage(width, height);
    }
    void releaseBoth() {
        release(x);
        release(y);
    }
};

// Every image one warpImage call makes, so a library failure halfway can
// release exactly what exists.
struct Images {
    MapPair small, maps, remapped, finalMaps;
    IplImage* result = nullptr;
    CvMat* scale = nullptr;

    ~Images() {
        for (MapPair* pair : {&small, &maps, &remapped, &finalMaps}) pair->releaseBoth();
        release(result);
        if (scale) cvReleaseMat(&scale);
    }
};

// Spline maps at full resolution: coarse nodes, scaled up bilinearly by an
// affine warp; the maps are the N x M region at the top left of the result.
// False when shouldStop ended the coarse evaluation.
bool splineMaps(const SplinePair& s, int M, int N, Images& im, const std::function<bool()>& shouldStop) {
    const CoarseGrid g = coarseGrid(M, N);
    im.small.make(g.Nq, g.Mq);
    if (!coarseEvaluate(s, g, reinterpret_cast<float*>(im.small.x->imageData),
                        static_cast<size_t>(im.small.x->widthStep) / sizeof(float),
                        reinterpret_cast<float*>(im.small.y->imageData),
                        static_cast<size_t>(im.small.y->widthStep) / sizeof(float), 0, shouldStop))
        return false;
    markStage(kStageCoarse);

    const float lastX = static_cast<float>(g.Nq - 1), lastY = static_cast<float>(g.Mq - 1);
    const float bigLastX = static_cast<float>(4 * g.Nq - 1), bigLastY = static_cast<float>(4 * g.Mq - 1);
    CvPoint2D32f from[3] = {{0.f, 0.f}, {lastX, 0.f}, {lastX, lastY}};
    CvPoint2D32f to[3] = {{0.f, 0.f}, {bigLastX, 0.f}, {bigLastX, bigLastY}};
    im.scale = cvCreateMat(2, 3, CV_32FC1);
    cvGetAffineTransform(from, to, im.scale);
    im.maps.make(4 * g.Nq, 4 * g.Mq);
    cvWarpAffine(im.small.x, im.maps.x, im.scale, kLinearFillOutliers, cvScalarAll(0));
    cvWarpAffine(im.small.y, im.maps.y, im.scale, kLinearFillOutliers, cvScalarAll(0));
    cvReleaseMat(&im.scale);

    im.small.releaseBoth();
    // The maps are the frame's corner of the scaled-up nodes, used in place.
    cvSetImageROI(im.maps.x, cvRect(0, 0, N, M));
    cvSetImageROI(im.maps.y, cvRect(0, 0, N, M));
    markStage(kStageScaleUp);
    return true;
}

}  // namespace

long fillNoise(IplImage* image) {
    // Finding the rows to fill runs on all cores; the filling stays on this
    // thread, so rand() is called once per replaced pixel, rows outer, as
    // in a plain scan.
    const size_t H = static_cast<size_t>(image->height);
    std::vector<unsigned char> hasFill(H, 0);
    parallel::forRanges(H, parallel::workersFor(H * static_cast<size_t>(image->width), size_t(1) << 18),
                        [&](size_t begin, size_t end) {
                            for (size_t r = begin; r < end; ++r) {
                                const float* row = rowOf(image, static_cast<int>(r));
                                bool any = false;
                                for (int c = 0; c < image->width; ++c) any |= row[c] < -1.0f;
                                hasFill[r] = any;
                            }
                        });
    long replaced = 0;
    for (size_t r = 0; r < H; ++r) {
        if (!hasFill[r]) continue;
        float* row = rowOf(image, static_cast<int>(r));
        for (int c = 0; c < image->width; ++c) {
            if (row[c] < -1.0f) {
                row[c] = static_cast<float>(std::rand() / 2147483647.0);
                ++replaced;
            }
        }
    }
    return replaced;
}

bool warpImage(const SplinePair& s, const IplImage* source, const IplImage* prevX,
               const IplImage* prevY, WarpedImage* out, char* error, size_t errorSize,
               const std::function<bool()>& shouldStop, bool withNoise) {
    const int M = source->height, N = source->width;
    Images im;
    try {
        if (!splineMaps(s, M, N, im, shouldStop)) {
            out->stopped = true;
            return false;  // im releases what exists
        }
        if (prevX && prevY) {
            im.remapped.make(N, M);
            cvRemap(prevX, im.remapped.x, im.maps.x, im.maps.y, kLinearFillOutliers, cvScalarAll(0));
            cvRemap(prevY, im.remapped.y, im.maps.x, im.maps.y, kLinearFillOutliers, cvScalarAll(0));
            // The final maps are these images themselves: a copy would hold
            // the same pixels.
            std::swap(im.finalMaps, im.remapped);
        } else {
            std::swap(im.finalMaps, im.maps);
        }
        im.maps.releaseBoth();
        markStage(kStageCompose);
        im.result = floatImage(N, M);
        cvRemap(source, im.result, im.finalMaps.x, im.finalMaps.y, kLinearFillOutliers,
                cvScalar(kOutsideSource, 0, 0, 0));
        markStage(kStageResample);
    } catch (const std::exception& e) {
        std::snprintf(error, errorSize, "%s", e.what());
        return false;
    }
    if (withNoise) {
        fillNoise(im.result);
        markStage(kStageNoise);
    }
    out->finalX = im.finalMaps.x;
    out->finalY = im.finalMaps.y;
    out->result = im.result;
    im.finalMaps.x = im.finalMaps.y = im.result = nullptr;
    return true;
}

}  // namespace warpmatch
