// The dense maps, composition and resampling on OpenCV images of their own,
// as warpmatch once made them: the reference for the product's warpBlocks.
#ifndef REGMEX_TESTS_WARPMATCH_REFERENCEWARP_H
#define REGMEX_TESTS_WARPMATCH_REFERENCEWARP_H

#include "WarpMaps.h"

namespace warpmatch {

// Three images the caller releases with resources::releaseImage.
struct WarpedImage {
    IplImage* finalX = nullptr;
    IplImage* finalY = nullptr;
    IplImage* result = nullptr;
    bool stopped = false;
};

// The maps of the spline pair over the source's frame, composed with
// prevX/prevY when both are given, and the source resampled through them,
// with the noise fill when withNoise.  False with the library's message in
// error when the image library fails.
bool referenceWarpImage(const SplinePair& s, const IplImage* source, const IplImage* prevX, const IplImage* prevY,
                        WarpedImage* out, char* error, size_t errorSize,
                        const std::function<bool()>& shouldStop = nullptr, bool withNoise = true);

}  // namespace warpmatch

#endif
