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

// Every image one warpImage call makes, so a library failure halfway can
// release exactly what exists.
struct Images {
    IplImage* smallX = nullptr;
    IplImage* smallY = nullptr;
    IplImage* bigX = nullptr;
    IplImage* bigY = nullptr;
    IplImage* mapX = nullptr;
    IplImage* mapY = nullptr;
    IplImage* remappedX = nullptr;
    IplImage* remappedY = nullptr;
    IplImage* finalX = nullptr;
    IplImage* finalY = nullptr;
    IplImage* result = nullptr;
    CvMat* scale = nullptr;

    ~Images() {
        for (IplImage** p : {&smallX, &smallY, &bigX, &bigY, &mapX, &mapY, &remappedX, &remappedY,
                             &finalX, &finalY, &result})
            release(*p);
        if (scale) cvReleaseMat(&scale);
    }
};

// Spline maps at full resolution: coarse nodes, scaled up bilinearly by an
// affine warp, cropped to the frame.
void splineMaps(const SplinePair& s, int M, int N, Images& im) {
    const CoarseGrid g = coarseGrid(M, N);
    im.smallX = floatImage(g.Nq, g.Mq);
    im.smallY = floatImage(g.Nq, g.Mq);
    coarseEvaluate(s, g, reinterpret_cast<float*>(im.smallX->imageData),
                   static_cast<size_t>(im.smallX->widthStep) / sizeof(float),
                   reinterpret_cast<float*>(im.smallY->imageData),
                   static_cast<size_t>(im.smallY->widthStep) / sizeof(float));
    markStage(kStageCoarse);

    const float lastX = static_cast<float>(g.Nq - 1), lastY = static_cast<float>(g.Mq - 1);
    const float bigLastX = static_cast<float>(4 * g.Nq - 1), bigLastY = static_cast<float>(4 * g.Mq - 1);
    CvPoint2D32f from[3] = {{0.f, 0.f}, {lastX, 0.f}, {lastX, lastY}};
    CvPoint2D32f to[3] = {{0.f, 0.f}, {bigLastX, 0.f}, {bigLastX, bigLastY}};
    im.scale = cvCreateMat(2, 3, CV_32FC1);
    cvGetAffineTransform(from, to, im.scale);
    im.bigX = floatImage(4 * g.Nq, 4 * g.Mq);
    im.bigY = floatImage(4 * g.Nq, 4 * g.Mq);
    cvWarpAffine(im.smallX, im.bigX, im.scale, kLinearFillOutliers, cvScalarAll(0));
    cvWarpAffine(im.smallY, im.bigY, im.scale, kLinearFillOutliers, cvScalarAll(0));
    cvReleaseMat(&im.scale);

    cvSetImageROI(im.bigX, cvRect(0, 0, N, M));
    cvSetImageROI(im.bigY, cvRect(0, 0, N, M));
    release(im.smallX);
    release(im.smallY);
    im.mapX = floatImage(N, M);
    im.mapY = floatImage(N, M);
    cvCopy(im.bigX, im.mapX, nullptr);
    cvCopy(im.bigY, im.mapY, nullptr);
    release(im.bigX);
    release(im.bigY);
    markStage(kStageScaleUp);
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
               const IplImage* prevY, WarpedImage* out, char* error, size_t errorSize) {
    const int M = source->height, N = source->width;
    Images im;
    try {
        splineMaps(s, M, N, im);
        if (prevX && prevY) {
            im.remappedX = floatImage(N, M);
            im.remappedY = floatImage(N, M);
            cvRemap(prevX, im.remappedX, im.mapX, im.mapY, kLinearFillOutliers, cvScalarAll(0));
            cvRemap(prevY, im.remappedY, im.mapX, im.mapY, kLinearFillOutliers, cvScalarAll(0));
            // The final maps are these images themselves: a copy would hold
            // the same pixels.
            std::swap(im.finalX, im.remappedX);
            std::swap(im.finalY, im.remappedY);
        } else {
            std::swap(im.finalX, im.mapX);
            std::swap(im.finalY, im.mapY);
        }
        release(im.mapX);
        release(im.mapY);
        markStage(kStageCompose);
        im.result = floatImage(N, M);
        cvRemap(source, im.result, im.finalX, im.finalY, kLinearFillOutliers,
                cvScalar(kOutsideSource, 0, 0, 0));
        markStage(kStageResample);
    } catch (const std::exception& e) {
        std::snprintf(error, errorSize, "%s", e.what());
        return false;
    }
    fillNoise(im.result);
    markStage(kStageNoise);
    out->finalX = im.finalX;
    out->finalY = im.finalY;
    out->result = im.result;
    im.finalX = im.finalY = im.result = nullptr;
    return true;
}

}  // namespace warpmatch
