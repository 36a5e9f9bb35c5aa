// Patches of a reference image found in a moving image resampled through the
// current estimate, at one level of an image pyramid.
#ifndef REGMEX_PATCHMATCH_MATCHING_H
#define REGMEX_PATCHMATCH_MATCHING_H

#include "ThinPlate.h"

#include <opencv2/core.hpp>

#include <functional>

namespace patchmatch {

// Centre of the best pixel of each cell x cell block of `ref` by the smaller
// eigenvalue of its structure tensor (structure in two directions), at least
// `margin` pixels inside every edge; blocks whose best value is weak beside
// the others (flat areas) get none.  Writes x, y pairs (0-based) into `xy`
// when it is not null and returns how many there are.
int pickPoints(const cv::Mat& ref, int cell, int margin, double* xy);

// One matching pass.  Images are single-precision, full resolution.
struct Request {
    cv::Mat ref;
    cv::Mat mov;
    const double* points = nullptr;  // 2 x K full-resolution (x, y)
    int K = 0;
    ThinPlate estimate;
    int level = 0;
    int half = 8;    // template half-size, level pixels
    int radius = 2;  // search radius around the estimate, level pixels
    // Outputs: 2 x K each, column-major; the maps and the resampled image are
    // column-major images of the level's size, or null when not wanted.
    double* found = nullptr;
    double* quality = nullptr;
    double* mapX = nullptr;
    double* mapY = nullptr;
    double* warped = nullptr;
    std::function<bool()> shouldStop;
};

// Size of an image of `rows` x `cols` after `level` halvings by cv::pyrDown.
cv::Size levelSize(int rows, int cols, int level);

// Runs the pass; false when stopped.  Throws cv::Exception when the library
// fails.
bool matchPatches(const Request& request);

}  // namespace patchmatch

#endif
