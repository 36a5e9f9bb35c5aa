// Dense warp maps from a spline pair, composition with a previous warp, and
// resampling of an image through the maps with noise where samples fell
// outside the source.
//
// Maps are backward maps for cvRemap: map x (r, c) is the source column that
// output pixel (r, c) samples, map y the source row.
//
// The work happens inside the three blocks that end up as the results:
// each holds M*N doubles, column-major (element (r, c) at r + c*M), and is
// used until then as two float planes of M*N each, the lower and the upper
// half, row-major (pixel (r, c) at r*N + c).  So a call needs no image of
// its own beyond the coarse nodes, which sit in a half that is free at that
// time.
#ifndef REGMEX_WARPMATCH_WARPMAPS_H
#define REGMEX_WARPMATCH_WARPMAPS_H

#include "CoarseGrid.h"

#include <opencv2/core/core_c.h>

#include <cstddef>
#include <functional>

namespace warpmatch {

// Replaces every pixel below -1 by rand() / 2147483647.0 (one rand() per
// replaced pixel, rows outer); NaN stays.  Returns the number replaced.
long fillNoise(IplImage* image);
long fillNoise(float* pixels, size_t rows, size_t cols, size_t step);

// The float halves of a block of M*N doubles.
inline float* lowerPlane(double* block) { return reinterpret_cast<float*>(block); }
inline float* upperPlane(double* block, size_t pixels) { return reinterpret_cast<float*>(block) + pixels; }

// The three blocks of a warp, each of M*N doubles.
struct WarpBlocks {
    double* x;      // on entry, when composing: the previous x map in the upper plane
    double* y;      // likewise the previous y map
    double* image;  // on entry: the source in the upper plane
};

// Maps of the spline pair over an M x N frame, composed with the previous
// maps when composing (final = previous sampled at the spline maps, 0 where
// that falls outside), then the source resampled through the final maps.
// Afterwards the lower planes hold, row-major, the final x map, the final y
// map and the resampled image (samples below -1 not yet replaced: fillNoise
// on the lower image plane), and the upper planes are free.  Returns false,
// with the library's message in error, when the image library fails, and
// false with *stopped set when shouldStop (asked between the coarse node
// rows, on the calling thread) answers true.
bool warpBlocks(const SplinePair& s, int M, int N, const WarpBlocks& b, bool composing, char* error,
                size_t errorSize, bool* stopped, const std::function<bool()>& shouldStop = nullptr);

// Turns the row-major float plane in the lower half of a block of M*N
// doubles into those doubles, column-major: the results' layout.  The upper
// half is overwritten on the way.
void finishBlock(double* block, int M, int N);

}  // namespace warpmatch

#endif
