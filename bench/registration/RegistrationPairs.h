// Registration pairs with known ground truth.  A pair is a grey photograph
// `ref` and a picture `mov` of it deformed by a smooth displacement d known
// at every position of ref's frame: the point p of ref lies at p + d(p) in
// mov.  Maps follow warpmatch's convention: for every pixel of ref, the
// 0-based column (x) and row (y) of where it lies in mov.
#ifndef REGMEX_BENCH_REGISTRATIONPAIRS_H
#define REGMEX_BENCH_REGISTRATIONPAIRS_H

#include <opencv2/core.hpp>

#include <string>
#include <vector>

namespace regbench {

// A dense map pair on ref's grid, CV_32F each.
struct Maps {
    cv::Mat x, y;
};

// d(p) = c + R (p + w(p) - c) + t - p: a sum of Gaussian bumps w, then a
// rotation R by `angle` about c and a shift t.  Analytic, so d is exact at
// every sub-pixel position and the inversion needs no interpolation of it.
struct Displacement {
    std::vector<cv::Point2d> centres, amplitudes;
    double sigma = 1;
    double angle = 0;  // radians
    cv::Point2d centre, shift;

    cv::Point2d operator()(cv::Point2d p) const;
};

struct Variant {
    const char* name;
    double largest;      // largest displacement of the smooth part, px
    bool shiftRotation;  // 30 px shift plus a 2 degree rotation on top
    bool gain;           // mov * 1.2 + 10
    bool noise;          // Gaussian noise of sigma 3 grey levels
};

// 3, 10 and 25 px warps; the 10 px warp under a shift and rotation, under
// a gain and offset, and under gain, offset and noise.
const std::vector<Variant>& variants();

struct Pair {
    std::string photo, variant;
    cv::Mat ref, mov;  // CV_8U, same size
    Maps truth;
};

// The frames the benchmark uses, read from data/: name and grey image.
struct Photo {
    std::string name;
    cv::Mat image;
};
std::vector<Photo> loadPhotos(const std::string& dataDir, const std::vector<std::string>& names);

// The smooth warp of a photograph, scaled so that its largest
// displacement over the frame is `largest`; drawn from `seed` (redrawn
// from the next seeds while it could fold).  Variants that share a seed
// share the warp's shape.
Displacement smoothWarp(cv::Size frame, double largest, uint64_t seed);

// mov(q) = ref(p) where p + d(p) = q, sampled bicubically, mirrored at
// the frame's edges, then gain, offset and noise as the variant says,
// rounded to 8 bits.  Throws std::runtime_error when the inversion does
// not reach 1e-3 px.
Pair makePair(const Photo& photo, const Variant& variant, const Displacement& d, uint64_t noiseSeed);

// The 6 variants of every photograph, seeded by the photograph's place in
// the list, so every run makes the same pairs.
std::vector<Pair> makePairs(const std::vector<Photo>& photos);

// A pure shift of the photograph by (dx, dy).
Pair shiftPair(const Photo& photo, double dx, double dy);

struct PairError {
    double median = 0, p95 = 0, max = 0;
};

// End-point error of `found` against `truth` over the pixels at least
// `border` px inside the frame; NaN in `found` counts as an infinite error.
PairError endPointError(const Maps& found, const Maps& truth, int border);

// How well the true maps bring mov back onto ref: the mean absolute grey
// difference between ref and mov sampled through the maps (gain and offset
// undone), over the inner pixels whose true position lies inside mov, over
// the same difference with the maps off by half a pixel along x and y.
// Well below 1 when the pair and its truth agree.
double truthMismatch(const Pair& pair, int border);

// The maps of no registration at all: every pixel where it was.
Maps identityMaps(cv::Size frame);

}  // namespace regbench

#endif
