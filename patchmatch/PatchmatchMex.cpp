// patchmatch: patches of a reference image found in a moving image, many per
// call, at one level of an image pyramid, around the positions a current
// estimate (a thin-plate spline pair) predicts.
//
//   [found, quality, points, mapX, mapY, warped] =
//       patchmatch(ref, mov, points, ctrl, coef, level, patchHalf, radius)
#include "Interrupt.h"
#include "Matching.h"
#include "MexArgs.h"
#include "MexVersion.h"
#include "mex.h"

#include <opencv2/core.hpp>

#include <cmath>
#include <cstdio>
#include <exception>
#include <functional>
#include <vector>

namespace {

// The arguments in call order, each with its name in messages and the
// mnemonic of its identifier.
enum Input { kRef, kMov, kPoints, kCtrl, kCoef, kLevel, kPatchHalf, kRadius, kArgCount };
enum Output { kFound, kQuality, kPointsOut, kMapX, kMapY, kWarped, kOutCount };
constexpr mexargs::ArgTable<kArgCount> kArgs{
    "patchmatch",
    "[found, quality, points, mapX, mapY, warped] = patchmatch(ref, mov, points, ctrl, coef, level, patchHalf, radius)",
    kOutCount,
    {mexargs::required("ref", "ref"), mexargs::required("mov", "mov"), mexargs::required("points", "points"),
     mexargs::required("ctrl", "ctrl"), mexargs::required("coef", "coef"), mexargs::required("level", "level"),
     mexargs::required("patchHalf", "patchHalf"), mexargs::required("radius", "radius")}};
static_assert(kArgs.wellFormed(), "patchmatch's argument table");
// Above this many pixels the working images of a call would pass 2 GiB.
constexpr size_t kMaxPixels = size_t(1) << 26;
// Magnitudes beyond this do not survive single precision.
constexpr double kMaxValue = 1e30;

// Calls f(i, value) for every element, by value as a double.  The data
// pointer and class are asked once: Octave answers either with a lookup.
template <typename F>
void forEachValue(const mxArray* a, F f) {
    const size_t n = mxGetNumberOfElements(a);
    const void* p = mxGetData(a);
    switch (mxGetClassID(a)) {
    case mxDOUBLE_CLASS:
        for (size_t i = 0; i < n; ++i) f(i, static_cast<const double*>(p)[i]);
        break;
    case mxSINGLE_CLASS:
        for (size_t i = 0; i < n; ++i) f(i, static_cast<double>(static_cast<const float*>(p)[i]));
        break;
    case mxUINT8_CLASS:
        for (size_t i = 0; i < n; ++i) f(i, static_cast<double>(static_cast<const unsigned char*>(p)[i]));
        break;
    default:
        for (size_t i = 0; i < n; ++i) f(i, mexargs::elementValue(a, i));
    }
}

void requireFinite(const mexargs::Arg& arg, const mxArray* a) {
    size_t bad = 0;
    double badValue = 0;
    forEachValue(a, [&](size_t i, double v) {
        if (!bad && !(std::fabs(v) < kMaxValue)) {
            bad = i + 1;
            badValue = v;
        }
    });
    if (bad)
        mexargs::failArg(arg, ": element %zu is %g; values must be finite and below 1e30 in magnitude", bad, badValue);
}

void requireImage(const mexargs::Arg& arg, const mxArray* a) {
    mexargs::requireImage2D(arg, a);
    if (mxGetNumberOfElements(a) > kMaxPixels)
        mexargs::refuse(arg, a, " must have at most %zu pixels", kMaxPixels);
    requireFinite(arg, a);
}

// An integer scalar in [lo, hi].
int integerIn(const mexargs::Arg& arg, const mxArray* a, int lo, int hi) {
    const double v = mexargs::realScalar(arg, a);
    if (!(v >= lo && v <= hi && v == std::floor(v)))
        mexargs::failArg(arg, " must be an integer from %d to %d, got %g", lo, hi, v);
    return static_cast<int>(v);
}

// A real numeric matrix of `rows` rows (any number of columns when cols < 0).
void requireMatrix(const mexargs::Arg& arg, const mxArray* a, size_t rows, long cols, const char* what) {
    if (!mexargs::isRealNumeric(a) || mxGetNumberOfDimensions(a) > 2 || mxGetM(a) != rows ||
        (cols >= 0 && mxGetN(a) != static_cast<size_t>(cols)))
        mexargs::refuse(arg, a, " must be %s", what);
    requireFinite(arg, a);
}

// Column-major host matrix -> row-major single-precision image.
cv::Mat toImage(const mxArray* a) {
    const int M = static_cast<int>(mxGetM(a)), N = static_cast<int>(mxGetN(a));
    cv::Mat columns(N, M, CV_32F);
    float* c = columns.ptr<float>(0);
    forEachValue(a, [c](size_t i, double v) { c[i] = static_cast<float>(v); });
    return columns.t();
}

std::vector<double> toValues(const mxArray* a) {
    std::vector<double> out(mxGetNumberOfElements(a));
    forEachValue(a, [&out](size_t i, double v) { out[i] = v; });
    return out;
}

}  // namespace

void mexFunction(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]) {
    const mexargs::Inputs args = kArgs.parse(nlhs, nrhs, prhs);
    const mxArray* refArg = kArgs[kRef].of(args);
    const mxArray* movArg = kArgs[kMov].of(args);
    const mxArray* pointsArg = kArgs[kPoints].of(args);
    requireImage(kArgs[kRef], refArg);
    requireImage(kArgs[kMov], movArg);
    const int M = static_cast<int>(mxGetM(refArg)), N = static_cast<int>(mxGetN(refArg));
    const int half = integerIn(kArgs[kPatchHalf], kArgs[kPatchHalf].of(args), 1, 1000);
    const int radius = integerIn(kArgs[kRadius], kArgs[kRadius].of(args), 1, 1000);
    const int level = integerIn(kArgs[kLevel], kArgs[kLevel].of(args), 0, 16);
    int cell = 0;
    if (mexargs::isRealNumeric(pointsArg) && mxGetNumberOfElements(pointsArg) == 1) {
        cell = integerIn(kArgs[kPoints], pointsArg, 2, 1 << 20);
    } else {
        requireMatrix(kArgs[kPoints], pointsArg, 2, -1, "a 2 x K matrix of (x; y) positions or a cell size");
        if (mxGetN(pointsArg) > (size_t(1) << 28)) mexargs::refuse(kArgs[kPoints], pointsArg, " has too many points");
    }
    const mxArray* ctrlArg = kArgs[kCtrl].of(args);
    requireMatrix(kArgs[kCtrl], ctrlArg, mexargs::isRealNumeric(ctrlArg) && mxIsEmpty(ctrlArg) ? mxGetM(ctrlArg) : 2,
                  -1, "a 2 x K matrix of control points (x; y), or empty");
    const size_t Kc = mxIsEmpty(ctrlArg) ? 0 : mxGetN(ctrlArg);
    if (Kc > (size_t(1) << 24)) mexargs::refuse(kArgs[kCtrl], ctrlArg, " has too many control points");
    requireMatrix(kArgs[kCoef], kArgs[kCoef].of(args), Kc + 3, 2,
                  "a (K+3) x 2 matrix: the weights, a0, ax, ay of the x and y splines");

    const InterruptHook interrupt;

    char failure[512] = "";
    int K = static_cast<int>(mxGetN(pointsArg));
    if (cell) {
        try {
            K = patchmatch::pickPoints(toImage(refArg), cell, half, nullptr);
        } catch (const std::exception& e) {
            mexargs::fail("patchmatch:opencv", "the image library failed: %s", e.what());
        }
    }

    // Every result exists before the first image is made: should one
    // allocation fail, nothing of the library is held.
    const cv::Size size = patchmatch::levelSize(M, N, level);
    mxArray* out[kOutCount] = {};
    for (int o = 0; o < kOutCount; ++o) {
        if (o > 0 && o >= nlhs) break;
        out[o] = o < kMapX ? mxCreateDoubleMatrix(2, static_cast<mwSize>(K), mxREAL)
                           : mxCreateDoubleMatrix(static_cast<mwSize>(size.height), static_cast<mwSize>(size.width),
                                                  mxREAL);
    }
    if (!out[kQuality]) out[kQuality] = mxCreateDoubleMatrix(2, static_cast<mwSize>(K), mxREAL);
    if (!out[kPointsOut]) out[kPointsOut] = mxCreateDoubleMatrix(2, static_cast<mwSize>(K), mxREAL);

    bool finished = false;
    try {
        patchmatch::Request rq;
        rq.ref = toImage(refArg);
        rq.mov = toImage(movArg);
        double* points = mxGetPr(out[kPointsOut]);
        if (cell) {
            patchmatch::pickPoints(rq.ref, cell, half, points);
        } else {
            const std::vector<double> given = toValues(pointsArg);
            for (size_t i = 0; i < given.size(); ++i) points[i] = given[i];
        }
        const std::vector<double> ctrl = toValues(ctrlArg);
        const std::vector<double> coef = toValues(kArgs[kCoef].of(args));
        rq.points = points;
        rq.K = K;
        rq.estimate.ctrl = ctrl.data();
        rq.estimate.coefX = coef.data();
        rq.estimate.coefY = coef.data() + Kc + 3;
        rq.estimate.K = static_cast<int>(Kc);
        rq.level = level;
        rq.half = half;
        rq.radius = radius;
        rq.found = mxGetPr(out[kFound]);
        rq.quality = mxGetPr(out[kQuality]);
        rq.mapX = out[kMapX] ? mxGetPr(out[kMapX]) : nullptr;
        rq.mapY = out[kMapY] ? mxGetPr(out[kMapY]) : nullptr;
        rq.warped = out[kWarped] ? mxGetPr(out[kWarped]) : nullptr;
        rq.shouldStop = interrupt.shouldStop();
        finished = patchmatch::matchPatches(rq);
    } catch (const std::exception& e) {
        std::snprintf(failure, sizeof failure, "%s", e.what());
    }
    if (failure[0] || !finished) {
        for (mxArray*& a : out)
            if (a) mxDestroyArray(a);
        if (failure[0]) mexargs::fail("patchmatch:opencv", "the image library failed: %s", failure);
        mexargs::fail("patchmatch:interrupted", "interrupted while matching %d patches; nothing is returned", K);
    }
    for (int o = 0; o < kOutCount; ++o) {
        if (o < nlhs || (o == 0 && nlhs == 0))
            plhs[o] = out[o];
        else if (out[o])
            mxDestroyArray(out[o]);
    }
}
