// driftfield: moves every free node of an MxN lattice to the best whole-pixel
// offset within a disc around it, rating offsets by a score map and by how
// well neighbours keep the displacement of their reference positions.
//
//   [scores, P] = driftfield(positions, reference, windowHalf, mode, pairWeight,
//                            dataWeight, radius, scoreMap, skipEval, bandwidth, fixedMask)
//
// The shell checks every argument before anything is allocated, reads the
// lattice into plain form, runs the core and writes the two results.
#include "Belief.h"
#include "HostIndex.h"
#include "Interrupt.h"
#include "LabelDisc.h"
#include "Lattice.h"
#include "Messages.h"
#include "MexArgs.h"
#include "ScoreSampling.h"
#include "mex.h"

#include <climits>
#include <cmath>
#include <cstdint>
#include <functional>
#include <limits>
#include <new>

using namespace driftfield;

namespace {

// The message stores of a call (4*M*N*L doubles) may take at most this much.
constexpr double kStoreLimitBytes = 4.0 * 1024.0 * 1024.0 * 1024.0;
// Any disc wider than this breaks the store limit on a single node; past it
// the offsets are not even counted.
constexpr double kCountableRadius = 65536.0;

// The arguments in call order, each with its name in messages and the
// mnemonic of its identifier.
enum Input {
    kPositions, kReference, kWindowHalf, kMode, kPairWeight, kDataWeight,
    kRadius, kScoreMap, kSkipEval, kBandwidth, kFixedMask, kArgCount
};
constexpr int kMaxResults = 2;
constexpr mexargs::ArgTable<kArgCount> kArgs{
    "driftfield",
    "[scores, P] = driftfield(positions, reference, windowHalf, mode, pairWeight, dataWeight, "
    "radius, scoreMap, skipEval, bandwidth, fixedMask)",
    kMaxResults,
    {mexargs::required("positions", "positions"), mexargs::required("reference", "reference"),
     mexargs::required("windowHalf", "windowHalf"), mexargs::required("mode", "mode"),
     mexargs::required("pairWeight", "pairWeight"), mexargs::required("dataWeight", "dataWeight"),
     mexargs::required("radius", "radius"), mexargs::required("scoreMap", "scoreMap"),
     mexargs::required("skipEval", "skipEval"), mexargs::required("bandwidth", "bandwidth"),
     mexargs::required("fixedMask", "fixedMask")}};
static_assert(kArgs.wellFormed(), "driftfield's argument table");

struct Scalars {
    double windowHalf, mode, pairWeight, dataWeight, radius, skipEval, bandwidth;
};

void checkCellArray(const mexargs::Arg& arg, const mxArray* a) {
    if (a && mxIsCell(a) && mxGetNumberOfDimensions(a) == 2) return;
    mexargs::refuse(arg, a, " must be an MxN cell array of [x; y] positions");
}

// Each cell holds a real numeric array of at least two elements.
void checkNodeCells(const mexargs::Arg& arg, const mxArray* cells, int M, int N) {
    for (int x = 0; x < N; ++x) {
        for (int y = 0; y < M; ++y) {
            const mxArray* c = mxGetCell(cells, static_cast<mwIndex>(mexargs::hostIndex(y, x, M)));
            if (c && mexargs::isRealNumeric(c) && mxGetNumberOfElements(c) >= 2) continue;
            mexargs::refuse(arg, c, ": cell (%d,%d) must hold a real numeric [x; y] of at least two elements", y + 1,
                            x + 1);
        }
    }
}

Point nodePoint(const mxArray* cells, int y, int x, int M) {
    const mxArray* c = mxGetCell(cells, static_cast<mwIndex>(mexargs::hostIndex(y, x, M)));
    return Point{mexargs::elementValue(c, 0), mexargs::elementValue(c, 1)};
}

bool isFixed(const mxArray* mask, int y, int x, int M) {
    return mexargs::elementValue(mask, mexargs::hostIndex(y, x, M)) == 1.0;
}

bool finitePoint(Point p) { return std::isfinite(p.x) && std::isfinite(p.y); }

// mode truncated toward zero picks the estimator; compared by range so that
// no value needs converting to an integer.
Estimator estimatorOf(double mode) {
    if (mode > -1.0 && mode < 1.0) return Estimator::WeightedMean;
    if (mode >= 1.0 && mode < 2.0) return Estimator::ArgMax;
    return Estimator::MeanShift;
}

// Free nodes need finite positions; every pair the pairwise term compares
// (at least one node free) needs finite, distinct references.
void checkLatticeValues(const mxArray* positions, const mxArray* reference, const mxArray* mask, int M, int N) {
    for (int x = 0; x < N; ++x) {
        for (int y = 0; y < M; ++y) {
            if (isFixed(mask, y, x, M)) continue;
            const Point p = nodePoint(positions, y, x, M);
            if (!finitePoint(p))
                mexargs::failArg(kArgs[kPositions], ": node (%d,%d) is free, but its position [%g; %g] is not finite",
                                 y + 1, x + 1, p.x, p.y);
        }
    }
    for (int x = 0; x < N; ++x) {
        for (int y = 0; y < M; ++y) {
            for (int dir = 0; dir < 2; ++dir) {
                const int y2 = dir == 0 ? y : y + 1;
                const int x2 = dir == 0 ? x + 1 : x;
                if (y2 >= M || x2 >= N) continue;
                if (isFixed(mask, y, x, M) && isFixed(mask, y2, x2, M)) continue;
                const Point a = nodePoint(reference, y, x, M);
                const Point b = nodePoint(reference, y2, x2, M);
                if (!finitePoint(a) || !finitePoint(b))
                    mexargs::failArg(kArgs[kReference],
                                     ": neighbouring nodes (%d,%d) and (%d,%d) need finite reference positions, got "
                                     "[%g; %g] and [%g; %g]",
                                     y + 1, x + 1, y2 + 1, x2 + 1, a.x, a.y, b.x, b.y);
                const double dx = a.x - b.x;
                const double dy = a.y - b.y;
                if (!(std::sqrt(dx * dx + dy * dy) > 0.0))
                    mexargs::failArg(kArgs[kReference].as("sameReference"),
                                     ": neighbouring nodes (%d,%d) and (%d,%d) have the same reference position "
                                     "[%g; %g] (or ones too close to tell apart); the pairwise term divides by their "
                                     "distance",
                                     y + 1, x + 1, y2 + 1, x2 + 1, a.x, a.y);
            }
        }
    }
}

void checkStoreSize(int M, int N, double radius) {
    const double nodes = static_cast<double>(M) * static_cast<double>(N);
    const double L = radius > kCountableRadius ? HUGE_VAL : static_cast<double>(labelDiscCount(radius));
    const double width = 2.0 * std::trunc(radius) + 1.0;
    const double bytes = passMemoryBytes(nodes, L, width, defaultThreadCount());
    if (bytes > kStoreLimitBytes)
        mexargs::fail("driftfield:tooLarge",
                      "a %dx%d lattice with radius %g needs %.3g GiB of working memory (message stores of 4*M*N*L "
                      "doubles, L = %.0f offsets, and the disc's buffers); the limit is 4 GiB: use fewer nodes or "
                      "a smaller radius",
                      M, N, radius, bytes / (1024.0 * 1024.0 * 1024.0), L);
}

void checkAll(const mexargs::Inputs& args, Scalars& s) {

    const mxArray* positions = kArgs[kPositions].of(args);
    const mxArray* reference = kArgs[kReference].of(args);
    checkCellArray(kArgs[kPositions], positions);
    if (mxGetM(positions) > static_cast<size_t>(INT_MAX) || mxGetN(positions) > static_cast<size_t>(INT_MAX))
        mexargs::failArg(kArgs[kPositions], " has more than %d rows or columns", INT_MAX);
    const int M = static_cast<int>(mxGetM(positions));
    const int N = static_cast<int>(mxGetN(positions));
    // Built with 32-bit indices (MATLAB's _700 entry points), a cell's index
    // y + x*M must fit an int.
    const double cellCount = static_cast<double>(M) * static_cast<double>(N);
    if (cellCount > static_cast<double>(std::numeric_limits<mwIndex>::max()))
        mexargs::fail("driftfield:positions", "argument 1 (positions) has %.0f cells, more than the %.0f this build "
                      "can index", cellCount, static_cast<double>(std::numeric_limits<mwIndex>::max()));
    if (!reference || !mxIsCell(reference) || mxGetNumberOfDimensions(reference) != 2 ||
        static_cast<int>(mxGetM(reference)) != M || static_cast<int>(mxGetN(reference)) != N)
        mexargs::refuse(kArgs[kReference], reference, " must be a %dx%d cell array like argument %d", M, N,
                        kArgs[kPositions].number());

    s.windowHalf = mexargs::realScalar(kArgs[kWindowHalf], kArgs[kWindowHalf].of(args));
    s.mode = mexargs::realScalar(kArgs[kMode], kArgs[kMode].of(args));
    s.pairWeight = mexargs::realScalar(kArgs[kPairWeight], kArgs[kPairWeight].of(args));
    s.dataWeight = mexargs::realScalar(kArgs[kDataWeight], kArgs[kDataWeight].of(args));
    s.radius = mexargs::realScalar(kArgs[kRadius], kArgs[kRadius].of(args));
    s.skipEval = mexargs::realScalar(kArgs[kSkipEval], kArgs[kSkipEval].of(args));
    s.bandwidth = mexargs::realScalar(kArgs[kBandwidth], kArgs[kBandwidth].of(args));

    const mxArray* map = kArgs[kScoreMap].of(args);
    mexargs::requireRealNumeric(kArgs[kScoreMap], map);
    if (mxGetNumberOfDimensions(map) != 2) mexargs::refuse(kArgs[kScoreMap], map, " must be a 2-D matrix");
    const mxArray* mask = kArgs[kFixedMask].of(args);
    if (!mexargs::isRealNumeric(mask) || mxGetNumberOfDimensions(mask) != 2 || static_cast<int>(mxGetM(mask)) != M ||
        static_cast<int>(mxGetN(mask)) != N)
        mexargs::refuse(kArgs[kFixedMask], mask, " must be a real %dx%d matrix like argument %d", M, N,
                        kArgs[kPositions].number());

    checkNodeCells(kArgs[kPositions], positions, M, N);
    checkNodeCells(kArgs[kReference], reference, M, N);

    if (!std::isfinite(s.radius) || !(s.radius > 0.0))
        mexargs::failArg(kArgs[kRadius], " must be finite and above 0, got %g", s.radius);
    // The disc keeps offsets with r*r above their squared length: a radius
    // whose square underflows keeps not even the zero offset.
    if (!(s.radius * s.radius > 0.0))
        mexargs::failArg(kArgs[kRadius], " %g is too small for its disc to hold any offset", s.radius);
    if (!std::isfinite(s.mode))
        mexargs::failArg(kArgs[kMode], " must be finite (1 arg-max, 0 weighted mean, other mean shift), got %g",
                         s.mode);
    if (!std::isfinite(s.pairWeight) || s.pairWeight < 0.0)
        mexargs::failArg(kArgs[kPairWeight], " must be finite and at least 0, got %g", s.pairWeight);
    if (!std::isfinite(s.dataWeight)) mexargs::failArg(kArgs[kDataWeight], " must be finite, got %g", s.dataWeight);

    checkLatticeValues(positions, reference, mask, M, N);

    if (s.skipEval == 1.0 || M == 0 || N == 0) return;
    if (estimatorOf(s.mode) == Estimator::MeanShift) {
        if (!std::isfinite(s.windowHalf))
            mexargs::failArg(kArgs[kWindowHalf], " must be finite for the mean shift (mode %g), got %g", s.mode,
                             s.windowHalf);
        if (!std::isfinite(s.bandwidth) || !(s.bandwidth > 0.0))
            mexargs::failArg(kArgs[kBandwidth], " must be finite and above 0 for the mean shift (mode %g), got %g",
                             s.mode, s.bandwidth);
    }
    checkStoreSize(M, N, s.radius);
}

// Truncation toward zero, kept within what the mean shift can tell apart
// (below 0: no candidates; 6 and above: the grid never fits its box).
int windowHalfOf(double a) {
    if (a < -1.0) return -1;
    if (a > 6.0) return 6;
    return static_cast<int>(a);
}

template <typename T>
T* hostBlock(size_t count) {
    return static_cast<T*>(mxMalloc((count ? count : 1) * sizeof(T)));
}

}  // namespace

void mexFunction(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]) {
    const mexargs::Inputs args = kArgs.parse(nlhs, nrhs, prhs);
    Scalars s{};
    checkAll(args, s);

    const mxArray* positions = kArgs[kPositions].of(args);
    const mxArray* reference = kArgs[kReference].of(args);
    const mxArray* mask = kArgs[kFixedMask].of(args);
    const mxArray* mapArray = kArgs[kScoreMap].of(args);
    const int M = static_cast<int>(mxGetM(positions));
    const int N = static_cast<int>(mxGetN(positions));
    const size_t nodes = static_cast<size_t>(M) * static_cast<size_t>(N);
    const bool evaluate = s.skipEval != 1.0 && nodes > 0;

    // Plain form, in host memory: nothing of it outlives the call even when
    // the host unwinds an error.  The host ends the call itself when one of
    // these allocations fails; the core's own memory (the disc, the stores,
    // the workers) exists only inside passMessages, which calls no host
    // function, and is gone before the results are made.
    Point* P = nullptr;
    Point* Q = nullptr;
    unsigned char* fixed = nullptr;
    NodeResult* results = nullptr;
    double* mapCopy = nullptr;
    bool outOfMemory = false;
    bool interrupted = false;
    if (evaluate) {
        P = hostBlock<Point>(nodes);
        Q = hostBlock<Point>(nodes);
        fixed = hostBlock<unsigned char>(nodes);
        results = hostBlock<NodeResult>(nodes);
        const size_t mapCount = mxGetNumberOfElements(mapArray);
        if (!mxIsDouble(mapArray)) {
            mapCopy = hostBlock<double>(mapCount);
            for (size_t i = 0; i < mapCount; ++i) mapCopy[i] = mexargs::elementValue(mapArray, i);
        }
        for (int y = 0; y < M; ++y) {
            for (int x = 0; x < N; ++x) {
                const size_t n = static_cast<size_t>(y) * static_cast<size_t>(N) + static_cast<size_t>(x);
                P[n] = nodePoint(positions, y, x, M);
                Q[n] = nodePoint(reference, y, x, M);
                fixed[n] = isFixed(mask, y, x, M) ? 1 : 0;
            }
        }
        LatticeView lattice;
        lattice.rows = M;
        lattice.cols = N;
        lattice.positions = P;
        lattice.references = Q;
        lattice.fixed = fixed;
        ScoreMap map;
        map.values = mapCopy ? mapCopy : mxGetPr(mapArray);
        map.rows = static_cast<int64_t>(mxGetM(mapArray));
        map.cols = static_cast<int64_t>(mxGetN(mapArray));
        FieldParams params;
        params.maxProduct = s.mode == 1.0;
        params.estimator = estimatorOf(s.mode);
        params.pairWeight = s.pairWeight;
        params.dataWeight = s.dataWeight;
        params.bandwidth = s.bandwidth;
        params.windowHalf = params.estimator == Estimator::MeanShift ? windowHalfOf(s.windowHalf) : 0;
        const InterruptHook interrupt;
        const std::function<bool()>& shouldStop = interrupt.shouldStop();
        try {
            interrupted = !moveNodes(lattice, map, s.radius, params, results, defaultThreadCount(), shouldStop);
        } catch (const std::bad_alloc&) {
            outOfMemory = true;
        }
    }
    if (outOfMemory || interrupted) {
        mxFree(P);
        mxFree(Q);
        mxFree(fixed);
        mxFree(results);
        mxFree(mapCopy);
        if (interrupted)
            mexargs::fail("driftfield:interrupted", "interrupted while moving a %dx%d lattice with radius %g; nothing "
                                                    "is returned", M, N, s.radius);
        mexargs::fail("driftfield:outOfMemory", "out of memory for a %dx%d lattice with radius %g", M, N, s.radius);
    }

    plhs[0] = mxCreateDoubleMatrix(static_cast<mwSize>(M), static_cast<mwSize>(N), mxREAL);
    if (evaluate) {
        double* scores = mxGetPr(plhs[0]);
        for (int y = 0; y < M; ++y)
            for (int x = 0; x < N; ++x) {
                const size_t n = static_cast<size_t>(y) * static_cast<size_t>(N) + static_cast<size_t>(x);
                if (!fixed[n]) scores[mexargs::hostIndex(y, x, M)] = results[n].score;
            }
    }
    // The caller always has room for one result; the positions go out only
    // when asked for.
    if (nlhs >= 2) {
        mxArray* out = mxCreateCellMatrix(static_cast<mwSize>(M), static_cast<mwSize>(N));
        for (int x = 0; x < N; ++x) {
            for (int y = 0; y < M; ++y) {
                const mwIndex idx = static_cast<mwIndex>(mexargs::hostIndex(y, x, M));
                const size_t n = static_cast<size_t>(y) * static_cast<size_t>(N) + static_cast<size_t>(x);
                mxArray* cell;
                if (evaluate && !fixed[n]) {
                    cell = mxCreateDoubleMatrix(2, 1, mxREAL);
                    mxGetPr(cell)[0] = results[n].x;
                    mxGetPr(cell)[1] = results[n].y;
                } else {
                    cell = mxDuplicateArray(mxGetCell(positions, idx));
                }
                mxSetCell(out, idx, cell);
            }
        }
        plhs[1] = out;
    }
    mxFree(P);
    mxFree(Q);
    mxFree(fixed);
    mxFree(results);
    mxFree(mapCopy);
}
