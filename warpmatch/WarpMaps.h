// Dense warp maps from a spline pair, composition with a previous warp, and
// resampling of an image through the maps with noise where samples fell
// outside the source.
//
// Maps are backward maps for cvRemap: map x (r, c) is the source column that
// output pixel (r, c) samples, map y the source row.  Every image here is a
// one-channel 32-bit float IplImage, N wide and M high unless said otherwise.
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

// The result of warpImage; the caller releases the three images with
// resources::releaseImage (every image here is made through the bridge's
// counted functions).  The final maps may be the N x M region (ROI) at the
// top left of larger images: read their size with cvGetSize.
struct WarpedImage {
    IplImage* finalX = nullptr;
    IplImage* finalY = nullptr;
    IplImage* result = nullptr;
    bool stopped = false;  // shouldStop ended the call: no image, error left empty
};

// Maps of the spline pair over an M x N frame (M = source height, N = its
// width), composed with prevX/prevY when both are given (N x M images of
// the previous maps: final = previous sampled at the spline maps, 0 where
// that falls outside), then the source resampled through the final maps
// with noise in place of every value below -1.  Returns false, with the
// library's message in error and nothing left allocated, when the image
// library fails, and false with out->stopped set when shouldStop (asked
// between the coarse node rows, on the calling thread) answers true.
// withNoise false leaves the samples below -1 for the caller's fillNoise.
bool warpImage(const SplinePair& s, const IplImage* source, const IplImage* prevX,
               const IplImage* prevY, WarpedImage* out, char* error, size_t errorSize,
               const std::function<bool()>& shouldStop = nullptr, bool withNoise = true);

}  // namespace warpmatch

#endif
