// warpmatch: warps an image through a thin-plate spline pair (optionally
// composed with a previous warp) and inverts the pair at a list of points.
//
//   [pts, mapX, mapY, warped] = warpmatch(coefX, coefY, ctrlX, ctrlY,
//                                         targetX, targetY, prevX, prevY, image)
//
// Every coordinate is a 0-based pixel coordinate: x the column, y the row.
#include "CMatlabToOpenCV.h"
#include "CMexAndCpp.h"
#include "MexArgs.h"
#include "MexVersion.h"
#include "mex.h"
#include "StageClock.h"
#include "Threads.h"
#include "WarpMaps.h"

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <exception>

using namespace warpmatch;

namespace {

const char* const kUsage =
    "[pts, mapX, mapY, warped] = warpmatch(coefX, coefY, ctrlX, ctrlY, targetX, targetY, prevX, prevY, image)";

constexpr int kMinSide = 5;
// Keeps every size the image library and the coarse grid derive in int range.
constexpr size_t kMaxSide = INT_MAX / 8;
// About a dozen float images of the picture's size live at once: 2^27 pixels
// (for example 8192 x 16384) need some 6 GiB, more than a session can spare.
constexpr size_t kMaxPixels = size_t(1) << 27;
// The point search costs K^2 kernel values per point: 10,000 control points
// already take minutes, during which MATLAB or Octave cannot interrupt.
constexpr size_t kMaxPoints = 10000;

void requireNumeric(const mxArray* a, int argNo, const char* name, const char* id) {
    mexargs::requireRealNumeric(a, id, argNo, name);
}

void requireElements(const mxArray* a, int argNo, const char* name, const char* id, size_t need,
                     const char* why) {
    requireNumeric(a, argNo, name, id);
    const size_t have = mxGetNumberOfElements(a);
    if (have < need) {
        char what[192];
        mexargs::describe(a, what, sizeof what);
        mexargs::fail(id, "argument %d (%s) must have at least %llu elements (%s), got %s", argNo, name,
                      static_cast<unsigned long long>(need), why, what);
    }
}

// The image: real numeric, 2-D, at least 5x5.
void checkImage(const mxArray* a) {
    const char* id = "warpmatch:image";
    requireNumeric(a, 9, "image", id);
    char what[192];
    mexargs::describe(a, what, sizeof what);
    if (mxGetNumberOfDimensions(a) > 2)
        mexargs::fail(id, "argument 9 (image) must be a 2-D grey-level matrix, got %s", what);
    if (mxGetM(a) < kMinSide || mxGetN(a) < kMinSide)
        mexargs::fail(id, "argument 9 (image) must be at least %dx%d, got %s", kMinSide, kMinSide, what);
    if (mxGetM(a) > kMaxSide || mxGetN(a) > kMaxSide)
        mexargs::fail(id, "argument 9 (image) must have at most %llu rows and columns, got %s",
                      static_cast<unsigned long long>(kMaxSide), what);
    if (mxGetNumberOfElements(a) > kMaxPixels)
        mexargs::fail("warpmatch:tooLarge",
                      "argument 9 (image) has more than %llu pixels, which would need over 6 GiB of working "
                      "images; got %s", static_cast<unsigned long long>(kMaxPixels), what);
}

// ctrlX is a column of K rows (or empty with no rows, K = 0).
int readPointCount(const mxArray* a) {
    const char* id = "warpmatch:ctrlX";
    requireNumeric(a, 3, "ctrlX", id);
    const size_t rows = mxGetM(a);
    if (mxGetNumberOfDimensions(a) > 2 || (mxGetN(a) != 1 && rows != 0)) {
        char what[192];
        mexargs::describe(a, what, sizeof what);
        mexargs::fail(id, "argument 3 (ctrlX) must be a column vector (its row count is the number of "
                          "control points), got %s", what);
    }
    if (rows > kMaxPoints) {
        mexargs::fail("warpmatch:tooManyPoints",
                      "argument 3 (ctrlX) has %llu rows; at most %llu control points are searched in one call",
                      static_cast<unsigned long long>(rows), static_cast<unsigned long long>(kMaxPoints));
    }
    return static_cast<int>(rows);
}

// A previous map: real numeric, 2-D or 3-D (first page read), at least M x N.
void checkPreviousMap(const mxArray* a, int argNo, const char* name, int M, int N) {
    char id[32];
    std::snprintf(id, sizeof id, "warpmatch:%s", name);
    char what[192];
    mexargs::describe(a, what, sizeof what);
    if (!mexargs::isRealNumeric(a))
        mexargs::fail(id, "argument %d (%s) must be [] or a real numeric map, got %s", argNo, name, what);
    const size_t nd = mxGetNumberOfDimensions(a);
    const mwSize* dims = mxGetDimensions(a);
    if (nd > 3)
        mexargs::fail(id, "argument %d (%s) must be a 2-D map or a 3-D array whose first page is the map, "
                          "got %s", argNo, name, what);
    if (dims[0] < static_cast<size_t>(M) || dims[1] < static_cast<size_t>(N))
        mexargs::fail(id, "argument %d (%s) must have at least %d rows and %d columns (the image size), got %s",
                      argNo, name, M, N, what);
}

// True when a previous warp is given; refuses a half-given or malformed one.
bool checkPreviousWarp(const mxArray* prevX, const mxArray* prevY, int M, int N) {
    const bool noneX = mexargs::isRealNumeric(prevX) && mxIsEmpty(prevX);
    const bool noneY = mexargs::isRealNumeric(prevY) && mxIsEmpty(prevY);
    if (noneX && noneY) return false;
    char what[192];
    if (noneX) {
        mexargs::describe(prevY, what, sizeof what);
        mexargs::fail("warpmatch:prevY", "argument 8 (prevY) must be [] when argument 7 (prevX) is [], got %s",
                      what);
    }
    checkPreviousMap(prevX, 7, "prevX", M, N);
    if (noneY) {
        mexargs::fail("warpmatch:prevY", "argument 8 (prevY) must be a map like argument 7 (prevX), got []");
    }
    checkPreviousMap(prevY, 8, "prevY", M, N);
    // prevY is read with prevX's row count as its stride.
    if (mxGetM(prevY) != mxGetM(prevX)) {
        mexargs::describe(prevY, what, sizeof what);
        mexargs::fail("warpmatch:prevY", "argument 8 (prevY) must have as many rows as argument 7 (prevX), %llu, "
                                         "got %s", static_cast<unsigned long long>(mxGetM(prevX)), what);
    }
    return true;
}

// A double view of an argument: the argument itself, or a copy by value
// that the caller destroys.
const mxArray* asDouble(const mxArray* a, mxArray** copy) {
    *copy = mxIsDouble(a) ? nullptr : mexargs::toDouble(a);
    return *copy ? *copy : a;
}

void releaseAll(IplImage** images, int count) {
    for (int i = 0; i < count; ++i)
        if (images[i]) cvReleaseImage(&images[i]);
}

}  // namespace

void mexFunction(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]) {
    mexargs::checkCounts("warpmatch", nrhs, 9, nlhs, 4, kUsage);
    if (nrhs > 9)
        mexargs::fail("warpmatch:nargin", "warpmatch takes 9 input arguments, got %d. Usage: %s", nrhs, kUsage);
    checkImage(prhs[8]);
    const int M = static_cast<int>(mxGetM(prhs[8]));
    const int N = static_cast<int>(mxGetN(prhs[8]));
    const int K = readPointCount(prhs[2]);
    const size_t k = static_cast<size_t>(K);
    char layout[96];
    std::snprintf(layout, sizeof layout, "%d weight%s, one per control point, then a0, ax, ay", K, K == 1 ? "" : "s");
    requireElements(prhs[0], 1, "coefX", "warpmatch:coefX", k + 3, layout);
    requireElements(prhs[1], 2, "coefY", "warpmatch:coefY", k + 3, layout);
    requireElements(prhs[3], 4, "ctrlY", "warpmatch:ctrlY", k, "one per row of ctrlX");
    requireElements(prhs[4], 5, "targetX", "warpmatch:targetX", k, "one per row of ctrlX");
    requireElements(prhs[5], 6, "targetY", "warpmatch:targetY", k, "one per row of ctrlX");
    const bool composing = checkPreviousWarp(prhs[6], prhs[7], M, N);

    startStages();
    std::srand(static_cast<unsigned>(std::time(nullptr)));

    // The vectors of other real classes are read by value through double
    // copies; the images and maps convert from any class without one.
    mxArray* copies[6] = {};
    const mxArray* in[6];
    for (int i = 0; i < 6; ++i) in[i] = asDouble(prhs[i], &copies[i]);
    const SplinePair spline{mxGetPr(in[0]), mxGetPr(in[1]), mxGetPr(in[2]), mxGetPr(in[3]), K};
    const InversionInput points{spline, mxGetPr(in[4]), mxGetPr(in[5])};

    // source, previous x, previous y
    IplImage* inputs[3] = {};
    WarpedImage warped;
    char failure[512] = "";
    try {
        inputs[0] = CMatlabToOpenCV::convert_copy_DblTo32F(prhs[8]);
        if (composing) {
            // Both maps with prevX's row count as the stride: the first page
            // of a 3-D array.
            const size_t R7 = mxGetM(prhs[6]);
            inputs[1] = CMatlabToOpenCV::convert_copy_DblTo32F(prhs[6], M, N, R7);
            inputs[2] = CMatlabToOpenCV::convert_copy_DblTo32F(prhs[7], M, N, R7);
        }
    } catch (const std::exception& e) {
        std::snprintf(failure, sizeof failure, "%s", e.what());
    }
    if (!failure[0]) {
        markStage(kStageConvert);
        warpImage(spline, inputs[0], inputs[1], inputs[2], &warped, failure, sizeof failure);
    }
    if (inputs[0]) CMatlabToOpenCV::release_iplimage(inputs[0]);
    releaseAll(inputs + 1, 2);
    if (failure[0]) {
        for (mxArray* c : copies)
            if (c) mxDestroyArray(c);
        mexargs::fail("warpmatch:opencv", "the image library failed: %s", failure);
    }
    IplImage* results[3] = {warped.finalX, warped.finalY, warped.result};

    // One spare element so that K = 0 still gets real blocks.
    double* outX = static_cast<double*>(std::malloc((k + 1) * sizeof(double)));
    double* outY = static_cast<double*>(std::malloc((k + 1) * sizeof(double)));
    ThreadRun run;
    static WorkerLog log;
    if (outX && outY) {
        log.reset();
        run = runInversionThreads(points, outX, outY, &log);
        for (int i = 0; i < log.count; ++i)
            mexPrintf(log.events[i].kind == kWorkerStart ? "Thread start %d\n" : "Thread Exit %d\n",
                      log.events[i].value);
        if (run.joinError) mexPrintf("error\n");
    }
    if (!outX || !outY || !run.ok()) {
        std::free(outX);
        std::free(outY);
        releaseAll(results, 3);
        for (mxArray* c : copies)
            if (c) mxDestroyArray(c);
        if (run.createError)
            mexargs::fail("warpmatch:thread", "could not start worker thread %d of %d (error %d)",
                          run.failedWorker + 1, run.workers, run.createError);
        if (run.joinError)
            mexargs::fail("warpmatch:thread", "could not join worker thread %d of %d (error %d)",
                          run.failedWorker + 1, run.workers, run.joinError);
        mexargs::fail("warpmatch:memory", "out of memory for %d result points", K);
    }
    mexPrintf("Thread join all\n");
    markStage(kStageInversion);
    for (mxArray* c : copies)
        if (c) mxDestroyArray(c);

    // MATLAB provides one result slot more than nlhs only for ans.
    const int slots = nlhs > 1 ? nlhs : 1;
    plhs[0] = mxCreateDoubleMatrix(k, 2, mxREAL);
    for (int i = 0; i < K; ++i) {
        CMexAndCpp::SetMA(plhs[0], i, 0, outX[i]);
        CMexAndCpp::SetMA(plhs[0], i, 1, outY[i]);
    }
    std::free(outX);
    std::free(outY);
    for (int s = 1; s < slots; ++s) plhs[s] = mxCreateDoubleMatrix(static_cast<mwSize>(M), static_cast<mwSize>(N), mxREAL);
    for (int s = 1; s < slots; ++s) CMatlabToOpenCV::ipl_to_matlab(results[s - 1], plhs[s]);
    releaseAll(results, 3);
    markStage(kStageOutputs);
}
