// The block grid laid over an image, the point buffer that collects the
// corners of all blocks, and the rule that lowers the quality level of a
// block that yields too few corners.  Plain functions, no host.
#ifndef REGMEX_GRIDCORNERS_BLOCKGRID_H
#define REGMEX_GRIDCORNERS_BLOCKGRID_H

#include <opencv2/core/types_c.h>

namespace gridcorners {

const int kBlockSize = 50;
// A block covers at most 50x50 pixels and the detector reports a pixel at
// most once, so no block yields more corners than this whatever the limit.
const int kMaxCornersPerBlock = kBlockSize * kBlockSize;
// Room kept per block and corner: ten times the 8 bytes a point needs.
const double kBufferBytesPerCorner = 80.0;
// Calls that would need a larger point buffer are refused.
const double kMaxPointBufferBytes = 1073741824.0;  // 1 GiB

// Adaptive lowering: a block is retried while it yields at most
// kFewCorners * limit corners and the level last used is at least kLowest.
const double kFewCorners = 0.9;
const double kLowest = 0.005;
const double kLowering = 0.8;

struct BlockGrid {
    int blocksX;  // block columns
    int blocksY;  // block rows
};

// ceilf(size / 50) in single precision in each direction.
BlockGrid blockGrid(int width, int height);

// The region of interest of block (row, col): 50x50 at (50*col, 50*row),
// or the full image size in a direction where the block reaches the edge,
// which setting the region clips to what remains of the image.
CvRect blockRect(int row, int col, int width, int height);

// Size in bytes of the point buffer for the grid and corner limit.
double pointBufferBytes(const BlockGrid& grid, int limit);

// The adaptive switch: on for values that truncate to exactly 1.
bool adaptiveOn(double value);

// Runs detect(level) once at the caller's level and, in adaptive mode, again
// at lower levels while the block yields too few corners.  detect returns
// the number of corners found; the last call's corners are the block's.
template <class Detect>
int detectWithRetries(Detect&& detect, double quality, int limit, bool adaptive) {
    int found = detect(quality);
    if (!adaptive) return found;
    double level = quality;
    // Tested before lowering, so the last level can reach 0.8 * kLowest.
    while (static_cast<double>(found) <= limit * kFewCorners && level >= kLowest) {
        level *= kLowering;
        found = detect(level);
    }
    return found;
}

// Makes block-relative points image coordinates, in single precision.
void offsetPoints(CvPoint2D32f* points, int count, int x0, int y0);

// Writes points as 1-based [x; y] columns of a 2-row column-major matrix;
// the 1 is added in single precision.
void writeOneBased(const CvPoint2D32f* points, int count, double* out);

}  // namespace gridcorners

#endif
