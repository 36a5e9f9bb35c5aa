#include "WarpMaps.h"

#include "Resources.h"

#include <opencv2/imgproc/imgproc_c.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <exception>

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
}

}  // namespace

CoarseGrid coarseGrid(int M, int N) {
    CoarseGrid g;
    g.Mq = static_cast<int>(std::ceil(M * 0.25));
    g.Nq = static_cast<int>(std::ceil(N * 0.25));
    g.stepX = 4 + 3.0 / (g.Nq - 1);
    g.stepY = 4 + 3.0 / (g.Mq - 1);
    return g;
}

void coarseEvaluate(const SplinePair& s, const CoarseGrid& g, float* smallX, size_t strideX,
                    float* smallY, size_t strideY) {
    for (int i = 0; i < g.Mq; ++i) {
        const double Y = i * g.stepY;
        for (int j = 0; j < g.Nq; ++j) {
            double vx, vy;
            tpsEvalPair(s, j * g.stepX, Y, &vx, &vy);
            smallX[i * strideX + j] = static_cast<float>(vx);
            smallY[i * strideY + j] = static_cast<float>(vy);
        }
    }
}

long fillNoise(IplImage* image) {
    long replaced = 0;
    for (int r = 0; r < image->height; ++r) {
        float* row = rowOf(image, r);
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
            im.finalX = resources::cloneImage(im.remappedX);
            im.finalY = resources::cloneImage(im.remappedY);
            release(im.remappedX);
            release(im.remappedY);
        } else {
            im.finalX = resources::cloneImage(im.mapX);
            im.finalY = resources::cloneImage(im.mapY);
        }
        release(im.mapX);
        release(im.mapY);
        im.result = floatImage(N, M);
        cvRemap(source, im.result, im.finalX, im.finalY, kLinearFillOutliers,
                cvScalar(kOutsideSource, 0, 0, 0));
    } catch (const std::exception& e) {
        std::snprintf(error, errorSize, "%s", e.what());
        return false;
    }
    fillNoise(im.result);
    out->finalX = im.finalX;
    out->finalY = im.finalY;
    out->result = im.result;
    im.finalX = im.finalY = im.result = nullptr;
    return true;
}

}  // namespace warpmatch
