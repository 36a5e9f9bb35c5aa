// The maps, composition and resampling the way warpmatch made them with
// an image of its own for each step (coarse nodes, enlarged maps, composed
// maps, result), kept as the reference that the product's work inside its
// result blocks must match bit for bit.
#include "ReferenceWarp.h"

#include "Resources.h"

#include <opencv2/imgproc/imgproc_c.h>

#include <cstdio>
#include <exception>
#include <utility>

namespace warpmatch {

namespace {

constexpr int kLinearFillOutliers = CV_INTER_LINEAR + CV_WARP_FILL_OUTLIERS;  // 9
constexpr double kOutsideSource = -100.0;

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
    return true;
}

}  // namespace

bool referenceWarpImage(const SplinePair& s, const IplImage* source, const IplImage* prevX,
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
        im.result = floatImage(N, M);
        cvRemap(source, im.result, im.finalMaps.x, im.finalMaps.y, kLinearFillOutliers,
                cvScalar(kOutsideSource, 0, 0, 0));
    } catch (const std::exception& e) {
        std::snprintf(error, errorSize, "%s", e.what());
        return false;
    }
    if (withNoise) {
        fillNoise(im.result);
    }
    out->finalX = im.finalMaps.x;
    out->finalY = im.finalMaps.y;
    out->result = im.result;
    im.finalMaps.x = im.finalMaps.y = im.result = nullptr;
    return true;
}

}  // namespace warpmatch
