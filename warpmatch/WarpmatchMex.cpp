// warpmatch: warps an image through a thin-plate spline pair (optionally
// composed with a previous warp) and inverts the pair at a list of points.
//
//   [pts, mapX, mapY, warped] = warpmatch(coefX, coefY, ctrlX, ctrlY,
//                                         targetX, targetY, prevX, prevY, image)
//
// Every coordinate is a 0-based pixel coordinate: x the column, y the row.
#include "CMexAndCpp.h"
#include "Interrupt.h"
#include "MatrixImage.h"
#include "MexArgs.h"
#include "MexVersion.h"
#include "Resources.h"
#include "mex.h"
#include "Parallel.h"
#include "StageClock.h"
#include "Threads.h"
#include "WarpMaps.h"

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <exception>
#include <functional>

using namespace warpmatch;

namespace {

// The arguments in call order, each with its name in messages and the
// mnemonic of its identifier.
enum Input { kCoefX, kCoefY, kCtrlX, kCtrlY, kTargetX, kTargetY, kPrevX, kPrevY, kImage, kArgCount };
constexpr int kMaxResults = 4;
constexpr mexargs::ArgTable<kArgCount> kArgs{
    "warpmatch",
    "[pts, mapX, mapY, warped] = warpmatch(coefX, coefY, ctrlX, ctrlY, targetX, targetY, prevX, prevY, image)",
    kMaxResults,
    {mexargs::required("coefX", "coefX"), mexargs::required("coefY", "coefY"), mexargs::required("ctrlX", "ctrlX"),
     mexargs::required("ctrlY", "ctrlY"), mexargs::required("targetX", "targetX"),
     mexargs::required("targetY", "targetY"), mexargs::required("prevX", "prevX"),
     mexargs::required("prevY", "prevY"), mexargs::required("image", "image")}};
static_assert(kArgs.wellFormed(), "warpmatch's argument table");

constexpr int kMinSide = 5;
// Keeps every size the image library and the coarse grid derive in int range.
constexpr size_t kMaxSide = INT_MAX / 8;
// 2^27 pixels (for example 8192 x 16384) are more than a session can spare:
// the limit and its message date from when a call held a dozen float images
// (some 6 GiB there); the results alone still take 3 GiB.
constexpr size_t kMaxPixels = size_t(1) << 27;
// The point search takes minutes from some thousands of control points on,
// but it can be interrupted and needs only 16 bytes per point beyond the
// inputs and outputs, so the only bound is the int range of the point indices
// and of the K + 3 coefficients.
constexpr size_t kMaxPoints = static_cast<size_t>(INT_MAX) - 3;

void requireElements(const mexargs::Arg& arg, const mxArray* a, size_t need, const char* why) {
    mexargs::requireRealNumeric(arg, a);
    if (mxGetNumberOfElements(a) < need)
        mexargs::refuse(arg, a, " must have at least %llu elements (%s)", static_cast<unsigned long long>(need), why);
}

// The image: a 2-D grey-level matrix of at least 5x5.
void checkImage(const mxArray* a) {
    mexargs::requireImage2D(kArgs[kImage], a);
    if (mxGetM(a) < kMinSide || mxGetN(a) < kMinSide)
        mexargs::refuse(kArgs[kImage], a, " must be at least %dx%d", kMinSide, kMinSide);
    if (mxGetM(a) > kMaxSide || mxGetN(a) > kMaxSide)
        mexargs::refuse(kArgs[kImage], a, " must have at most %llu rows and columns",
                        static_cast<unsigned long long>(kMaxSide));
    if (mxGetNumberOfElements(a) > kMaxPixels)
        mexargs::refuse(kArgs[kImage].as("tooLarge"), a,
                        " has more than %llu pixels, which would need over 6 GiB of working images",
                        static_cast<unsigned long long>(kMaxPixels));
}

// ctrlX is a column of K rows (or empty with no rows, K = 0).
int readPointCount(const mxArray* a) {
    mexargs::requireRealNumeric(kArgs[kCtrlX], a);
    const size_t rows = mxGetM(a);
    if (mxGetNumberOfDimensions(a) > 2 || (mxGetN(a) != 1 && rows != 0))
        mexargs::refuse(kArgs[kCtrlX], a, " must be a column vector (its row count is the number of control points)");
    if (rows > kMaxPoints)
        mexargs::failArg(kArgs[kCtrlX].as("tooManyPoints"),
                         " has %llu rows; at most %llu control points can be indexed",
                         static_cast<unsigned long long>(rows), static_cast<unsigned long long>(kMaxPoints));
    return static_cast<int>(rows);
}

// A previous map: real numeric, 2-D or 3-D (first page read), at least M x N.
void checkPreviousMap(const mexargs::Arg& arg, const mxArray* a, int M, int N) {
    if (!mexargs::isRealNumeric(a)) mexargs::refuse(arg, a, " must be [] or a real numeric map");
    const size_t nd = mxGetNumberOfDimensions(a);
    const mwSize* dims = mxGetDimensions(a);
    if (nd > 3) mexargs::refuse(arg, a, " must be a 2-D map or a 3-D array whose first page is the map");
    if (static_cast<size_t>(dims[0]) < static_cast<size_t>(M) || static_cast<size_t>(dims[1]) < static_cast<size_t>(N))
        mexargs::refuse(arg, a, " must have at least %d rows and %d columns (the image size)", M, N);
}

// True when a previous warp is given; refuses a half-given or malformed one.
bool checkPreviousWarp(const mxArray* prevX, const mxArray* prevY, int M, int N) {
    const bool noneX = mexargs::isRealNumeric(prevX) && mxIsEmpty(prevX);
    const bool noneY = mexargs::isRealNumeric(prevY) && mxIsEmpty(prevY);
    if (noneX && noneY) return false;
    if (noneX)
        mexargs::refuse(kArgs[kPrevY], prevY, " must be [] when argument %d (%s) is []", kArgs[kPrevX].number(),
                        kArgs[kPrevX].name());
    checkPreviousMap(kArgs[kPrevX], prevX, M, N);
    if (noneY)
        mexargs::refuse(kArgs[kPrevY], prevY, " must be a map like argument %d (%s)", kArgs[kPrevX].number(),
                        kArgs[kPrevX].name());
    checkPreviousMap(kArgs[kPrevY], prevY, M, N);
    // prevY is read with prevX's row count as its stride.
    if (mxGetM(prevY) != mxGetM(prevX))
        mexargs::refuse(kArgs[kPrevY], prevY, " must have as many rows as argument %d (%s), %llu",
                        kArgs[kPrevX].number(), kArgs[kPrevX].name(), static_cast<unsigned long long>(mxGetM(prevX)));
    return true;
}

// A double view of an argument: the argument itself, or a copy by value
// that the caller destroys.
const mxArray* asDouble(const mxArray* a, mxArray** copy) {
    *copy = mxIsDouble(a) ? nullptr : mexargs::toDouble(a);
    return *copy ? *copy : a;
}

// The host arrays of a call: the double copies of other-class arguments and
// the results.  The host reclaims them should a host call fail; a refusal of
// the plug-in's own destroys them first, so that it leaves nothing behind.
struct HostArrays {
    mxArray* copies[kArgCount] = {};
    mxArray** results = nullptr;
    int slots = 0;

    void destroy() {
        for (mxArray*& c : copies) {
            if (c) mxDestroyArray(c);
            c = nullptr;
        }
        for (int s = 0; s < slots; ++s) {
            if (results[s]) mxDestroyArray(results[s]);
            results[s] = nullptr;
        }
    }
};

}  // namespace

// MATLAB unwinds a failing host call without destructors, so every host
// array of the call (results included) is made before the first image,
// malloc block or thread, and nothing but releases and copies into those
// arrays follows once they exist.
void mexFunction(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]) {
    const mexargs::Inputs args = kArgs.parse(nlhs, nrhs, prhs);
    checkImage(kArgs[kImage].of(args));
    const int M = static_cast<int>(mxGetM(kArgs[kImage].of(args)));
    const int N = static_cast<int>(mxGetN(kArgs[kImage].of(args)));
    const int K = readPointCount(kArgs[kCtrlX].of(args));
    const size_t k = static_cast<size_t>(K);
    char layout[96];
    std::snprintf(layout, sizeof layout, "%d weight%s, one per control point, then a0, ax, ay", K, K == 1 ? "" : "s");
    requireElements(kArgs[kCoefX], kArgs[kCoefX].of(args), k + 3, layout);
    requireElements(kArgs[kCoefY], kArgs[kCoefY].of(args), k + 3, layout);
    requireElements(kArgs[kCtrlY], kArgs[kCtrlY].of(args), k, "one per row of ctrlX");
    requireElements(kArgs[kTargetX], kArgs[kTargetX].of(args), k, "one per row of ctrlX");
    requireElements(kArgs[kTargetY], kArgs[kTargetY].of(args), k, "one per row of ctrlX");
    const bool composing = checkPreviousWarp(kArgs[kPrevX].of(args), kArgs[kPrevY].of(args), M, N);

    startStages();
    std::srand(static_cast<unsigned>(std::time(nullptr)));

    // The vectors of other real classes are read by value through double
    // copies; the image and the previous maps convert from any class
    // without one.
    HostArrays host;
    const mxArray* in[kArgCount];
    for (int i = 0; i < kArgCount; ++i) {
        const bool copied = i < kPrevX;
        const mxArray* given = kArgs[i].of(args);
        in[i] = copied ? asDouble(given, &host.copies[i]) : given;
    }
    // MATLAB provides one result slot more than nlhs only for ans.
    host.results = plhs;
    host.slots = nlhs > 1 ? nlhs : 1;
    plhs[0] = mxCreateDoubleMatrix(k, 2, mxREAL);
    for (int s = 1; s < host.slots; ++s)
        plhs[s] = mxCreateDoubleMatrix(static_cast<mwSize>(M), static_cast<mwSize>(N), mxREAL);

    const SplinePair spline{mxGetPr(in[kCoefX]), mxGetPr(in[kCoefY]), mxGetPr(in[kCtrlX]), mxGetPr(in[kCtrlY]), K};
    const InversionInput points{spline, mxGetPr(in[kTargetX]), mxGetPr(in[kTargetY])};

    // The results' blocks double as the working planes (WarpMaps.h); a
    // result the caller did not ask for gets a block of its own.
    const size_t pixels = static_cast<size_t>(M) * static_cast<size_t>(N);
    double* blocks[3] = {};
    bool own[3] = {};
    for (int i = 0; i < 3; ++i) {
        if (i + 1 < host.slots) {
            blocks[i] = mxGetPr(plhs[i + 1]);
        } else {
            blocks[i] = static_cast<double*>(resources::allocateLarge(pixels * sizeof(double)));
            own[i] = true;
        }
    }
    auto releaseBlocks = [&] {
        for (int i = 0; i < 3; ++i)
            if (own[i]) resources::release(blocks[i]);
    };
    if (!blocks[0] || !blocks[1] || !blocks[2]) {
        releaseBlocks();
        host.destroy();
        mexargs::fail("warpmatch:outOfMemory", "out of memory for the maps and image of %dx%d pixels", M, N);
    }
    const WarpBlocks work{blocks[0], blocks[1], blocks[2]};
    char failure[512] = "";
    try {
        // The source, and the previous maps with prevX's row count as the
        // stride (the first page of a 3-D array), as float planes.
        auto convert = [&](const mxArray* a, size_t stride, double* block) {
            IplImage plane;
            cvInitImageHeader(&plane, cvSize(N, M), IPL_DEPTH_32F, 1);
            cvSetData(&plane, upperPlane(block, pixels), N * static_cast<int>(sizeof(float)));
            matriximage::toImage(matriximage::viewOf(a, stride), 0, 0, &plane,
                                 matriximage::workersForPixels(pixels));
        };
        convert(kArgs[kImage].of(args), static_cast<size_t>(M), work.image);
        if (composing) {
            const size_t R7 = mxGetM(kArgs[kPrevX].of(args));
            convert(kArgs[kPrevX].of(args), R7, work.x);
            convert(kArgs[kPrevY].of(args), R7, work.y);
        }
    } catch (const std::exception& e) {
        std::snprintf(failure, sizeof failure, "%s", e.what());
    }
    // The coarse spline evaluation costs K kernel values per node, as long
    // as the point search per point for a picture of some megapixels.
    const InterruptHook interrupt;
    const std::function<bool()>& shouldStop = interrupt.shouldStop();
    bool stopped = false;
    if (!failure[0]) {
        markStage(kStageConvert);
        warpBlocks(spline, M, N, work, composing, failure, sizeof failure, &stopped, shouldStop);
    }
    if (failure[0] || stopped) {
        releaseBlocks();
        host.destroy();
        if (stopped)
            mexargs::fail("warpmatch:interrupted", "interrupted while evaluating the spline of %d control points "
                                                   "over the image; nothing is returned", K);
        mexargs::fail("warpmatch:opencv", "the image library failed: %s", failure);
    }
    // The noise fill calls rand() in a fixed order, so it stays on this
    // thread; the maps take their results' layout beside it.
    parallel::alongside(
        [&] {
            if (!own[0]) finishBlock(work.x, M, N);
            if (!own[1]) finishBlock(work.y, M, N);
        },
        [&] {
            fillNoise(lowerPlane(work.image), static_cast<size_t>(M), static_cast<size_t>(N),
                      static_cast<size_t>(N));
            if (!own[2]) finishBlock(work.image, M, N);
        });
    releaseBlocks();
    markStage(kStageNoise);

    // One spare element so that K = 0 still gets real blocks.
    double* outX = static_cast<double*>(resources::allocate((k + 1) * sizeof(double)));
    double* outY = static_cast<double*>(resources::allocate((k + 1) * sizeof(double)));
    ThreadRun run;
    static WorkerLog log;
    if (outX && outY) {
        log.reset();
        run = runInversionThreads(points, outX, outY, &log, nullptr, shouldStop);
        for (int i = 0; i < log.count; ++i)
            mexPrintf(log.events[i].kind == kWorkerStart ? "Thread start %d\n" : "Thread Exit %d\n",
                      log.events[i].value);
        if (run.joinError) mexPrintf("error\n");
    }
    const bool noMemory = !outX || !outY;
    if (noMemory || !run.ok() || run.stopped) {
        resources::release(outX);
        resources::release(outY);
        host.destroy();
        if (run.createError)
            mexargs::fail("warpmatch:thread", "could not start worker thread %d of %d (error %d)",
                          run.failedWorker + 1, run.workers, run.createError);
        if (run.joinError)
            mexargs::fail("warpmatch:thread", "could not join worker thread %d of %d (error %d)",
                          run.failedWorker + 1, run.workers, run.joinError);
        if (noMemory) mexargs::fail("warpmatch:outOfMemory", "out of memory for %d result points", K);
        // Every worker has been joined, as the line says.
        mexPrintf("Thread join all\n");
        mexargs::fail("warpmatch:interrupted", "interrupted while inverting %d control points; nothing is returned",
                      K);
    }
    mexPrintf("Thread join all\n");
    markStage(kStageInversion);

    for (int i = 0; i < K; ++i) {
        CMexAndCpp::SetMA(plhs[0], i, 0, outX[i]);
        CMexAndCpp::SetMA(plhs[0], i, 1, outY[i]);
    }
    resources::release(outX);
    resources::release(outY);
    for (mxArray*& c : host.copies)
        if (c) mxDestroyArray(c);
    markStage(kStageOutputs);
}
