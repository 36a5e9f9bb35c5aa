// driftfield with fuzzed arguments: arbitrary arrays, and structured calls
// with valid-looking lattices (up to 6x6 nodes on a score map), reference
// cells, fixed masks, and the scalars at plausible and hostile values:
// radii 0 to 4 and NaN, infinite, negative or huge ones, every mode, zero and
// NaN bandwidths.
#include "FuzzArgs.h"

extern "C" void mexFunction(int, mxArray*[], int, const mxArray*[]);

namespace {

// Now and then any array at all in place of a structured argument.
mexhost::ArrayPtr maybeAny(fuzzargs::Bytes& in, mexhost::ArrayPtr a) {
    return in.byte() % 32 == 31 ? fuzzargs::anyArray(in) : std::move(a);
}

// A node's [x; y] cell: mostly a double column, sometimes a row, a longer or
// shorter vector, another class, or hostile values.
mexhost::ArrayPtr nodeCell(fuzzargs::Bytes& in, bool odd, double x, double y) {
    static const mxClassID classes[] = {mxSINGLE_CLASS, mxINT16_CLASS, mxUINT8_CLASS, mxLOGICAL_CLASS};
    std::vector<double> v = {x, y};
    std::vector<size_t> dims = {2, 1};
    mxClassID cls = mxDOUBLE_CLASS;
    switch (odd ? in.byte() % 32 : 0) {
    case 31: v[in.range(0, 1)] = in.value(); break;
    case 30: dims = {1, 2}; break;
    case 29: dims = {3, 1}, v.push_back(in.value()); break;
    case 28: dims = {1, 1}, v.resize(1); break;
    case 27: cls = classes[in.range(0, 3)]; break;
    case 26: return fuzzargs::anyArray(in);
    default: break;
    }
    return mexhost::numeric(cls, dims, v);
}

double radius(fuzzargs::Bytes& in) {
    static const double hostile[] = {std::numeric_limits<double>::quiet_NaN(),
                                     std::numeric_limits<double>::infinity(),
                                     -std::numeric_limits<double>::infinity(),
                                     -1,
                                     0,
                                     1e300,
                                     1e9,
                                     65536,
                                     65536.5,
                                     2147483648.0,
                                     4e4,
                                     1e-300};
    if (in.byte() % 16 == 15) return hostile[in.range(0, 11)];
    return in.between(0.5, 4.5);
}

double mode(fuzzargs::Bytes& in) {
    static const double modes[] = {1, 0, 0.999, 1.5, 2, -0.5, -1, 3, 1.0000000000000002,
                                   std::numeric_limits<double>::quiet_NaN(),
                                   std::numeric_limits<double>::infinity(), -1e300};
    return modes[in.range(0, 11)];
}

bool sameArray(const mxArray* a, const mxArray* b) {
    if (!a || !b) return a == b;
    if (mxGetClassID(a) != mxGetClassID(b) || mxGetNumberOfDimensions(a) != mxGetNumberOfDimensions(b) ||
        mxIsComplex(a) != mxIsComplex(b) || mxIsSparse(a) != mxIsSparse(b))
        return false;
    for (size_t d = 0; d < mxGetNumberOfDimensions(a); ++d)
        if (mxGetDimensions(a)[d] != mxGetDimensions(b)[d]) return false;
    const size_t bytes = mxGetNumberOfElements(a) * mxGetElementSize(a);
    return mxIsCell(a) || bytes == 0 || std::memcmp(mxGetData(a), mxGetData(b), bytes) == 0;
}

[[noreturn]] void wrongResult(const char* what, size_t node) {
    std::fprintf(stderr, "wrong result at node %zu (column-major): %s\n", node + 1, what);
    std::abort();
}

// What every accepted call promises: scores M x N and positions shaped like
// the input; fixed nodes (and all when the evaluation is skipped) keep their
// cell and score 0; a free node moves by at most the radius in x and y (the
// arg-max picks a disc offset, the weighted mean averages them), or by at
// most 5 under the mean shift (its candidates stay in the box [-5, 5]).
void checkResult(const mexhost::CallResult& r, const std::vector<const mxArray*>& args, int nlhs) {
    if (!r.ok || args.size() != 11) return;
    const mxArray* positions = args[0];
    const size_t M = mxGetM(positions), N = mxGetN(positions);
    const double radius = fuzzargs::elementAsDouble(args[6], 0);
    const bool skip = fuzzargs::elementAsDouble(args[8], 0) == 1.0;
    const double mode = fuzzargs::elementAsDouble(args[3], 0);
    const double reach = mode > -1.0 && mode < 2.0 ? radius : 5.0;
    const mxArray* scores = r.outputs.empty() ? nullptr : r.outputs[0].get();
    const mxArray* moved = nlhs >= 2 && r.outputs.size() >= 2 ? r.outputs[1].get() : nullptr;
    if (!scores || !mxIsDouble(scores) || mxGetM(scores) != M || mxGetN(scores) != N)
        wrongResult("scores are not an M x N double matrix", 0);
    if (nlhs >= 2 && (!moved || !mxIsCell(moved) || mxGetM(moved) != M || mxGetN(moved) != N))
        wrongResult("positions are not an M x N cell array", 0);
    for (size_t i = 0; i < M * N; ++i) {
        const double score = mxGetPr(scores)[i];
        const bool fixed = fuzzargs::elementAsDouble(args[10], i) == 1.0;
        const mxArray* before = mxGetCell(positions, i);
        const mxArray* after = moved ? mxGetCell(moved, i) : nullptr;
        if (fixed || skip) {
            if (score != 0.0) wrongResult("a fixed or skipped node has a score other than 0", i);
            if (moved && !sameArray(before, after)) wrongResult("a fixed or skipped node's cell changed", i);
            continue;
        }
        if (!(std::isnan(score) || score >= 0.0)) wrongResult("a negative score", i);
        if (!moved) continue;
        if (!after || !mxIsDouble(after) || mxGetM(after) != 2 || mxGetN(after) != 1)
            wrongResult("a free node's new position is not a 2x1 double", i);
        for (size_t k = 0; k < 2; ++k) {
            // Positions pass through 0-based map coordinates: allow rounding.
            const double from = fuzzargs::elementAsDouble(before, k);
            const double shift = std::fabs(mxGetPr(after)[k] - from);
            if (!(shift <= reach + 1e-12 * (1 + std::fabs(from)))) {
                char what[160];
                std::snprintf(what, sizeof what, "coordinate %zu moved from %.17g to %.17g, beyond %.17g (mode %g)",
                              k + 1, from, mxGetPr(after)[k], reach, mode);
                wrongResult(what, i);
            }
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzzargs::Bytes in(data, size);
    std::vector<mexhost::ArrayPtr> keep;
    const int nlhs = in.byte() % 8 == 7 ? in.range(0, 3) : 2;
    if (in.byte() % 32 == 31) {
        const int nrhs = in.range(0, 12);
        for (int i = 0; i < nrhs; ++i) keep.push_back(fuzzargs::anyArray(in));
    } else {
        const int M = in.range(0, 6), N = in.range(0, 6);
        // References on a regular lattice (spacing 2 to 12) with jitter;
        // positions near them.  Sometimes two references coincide.
        const double spacing = in.between(2, 12);
        const double originX = in.between(-3, 6), originY = in.between(-3, 6);
        std::vector<double> refX, refY;
        for (int x = 0; x < N; ++x)
            for (int y = 0; y < M; ++y) {
                refX.push_back(originX + spacing * (x + 1) + (in.byte() % 8 == 7 ? in.between(-2, 2) : 0));
                refY.push_back(originY + spacing * (y + 1) + (in.byte() % 8 == 7 ? in.between(-2, 2) : 0));
            }
        const size_t nodes = refX.size();
        if (nodes > 1 && in.byte() % 16 == 15) {
            const size_t a = static_cast<size_t>(in.range(0, static_cast<int>(nodes - 1)));
            const size_t b = a + 1 < nodes ? a + 1 : a - 1;
            refX[b] = refX[a], refY[b] = refY[a];
        }
        mexhost::ArrayPtr positions = mexhost::cells(static_cast<size_t>(M), static_cast<size_t>(N));
        mexhost::ArrayPtr reference = mexhost::cells(static_cast<size_t>(M), static_cast<size_t>(N));
        // Odd cells (empty, short, other classes, hostile values) only in
        // some calls, so that large lattices still get through.
        const bool drift = in.flag();
        const bool odd = in.byte() % 8 == 7;
        for (size_t i = 0; i < nodes; ++i) {
            const size_t y = i % static_cast<size_t>(M), x = i / static_cast<size_t>(M);
            const double dx = drift ? in.between(-3, 3) : 0, dy = drift ? in.between(-3, 3) : 0;
            if (!odd || in.byte() % 16 != 15) {
                mexhost::ArrayPtr c = nodeCell(in, odd, refX[i] + dx, refY[i] + dy);
                mexhost::setCell(positions.get(), y, x, c.get());
            }
            if (!odd || in.byte() % 16 != 15) {
                mexhost::ArrayPtr c = nodeCell(in, odd, refX[i], refY[i]);
                mexhost::setCell(reference.get(), y, x, c.get());
            }
        }
        // The reference lattice's shape sometimes differs.
        if (in.byte() % 32 == 31) reference = mexhost::cells(static_cast<size_t>(N), static_cast<size_t>(M + 1));
        keep.push_back(maybeAny(in, std::move(positions)));
        keep.push_back(maybeAny(in, std::move(reference)));

        keep.push_back(maybeAny(in, mexhost::scalar(in.byte() % 16 == 15 ? in.value() : in.between(-2, 7))));
        keep.push_back(maybeAny(in, mexhost::scalar(mode(in))));
        keep.push_back(maybeAny(in, fuzzargs::optionScalar(in, 0, 5)));    // pairWeight
        keep.push_back(maybeAny(in, fuzzargs::optionScalar(in, -5, 10)));  // dataWeight
        // Accepted radii beyond a few pixels are slow by design (a 6x6
        // lattice at radius 255 takes seconds even without sanitizers), so
        // an arbitrary array that would pass as one is cut down (from 7000 up
        // every non-empty lattice is refused as too large).
        mexhost::ArrayPtr r = maybeAny(in, mexhost::scalar(radius(in)));
        if ((mxIsNumeric(r.get()) || mxIsLogical(r.get())) && !mxIsComplex(r.get()) && !mxIsSparse(r.get()) &&
            !mxIsEmpty(r.get())) {
            const double v = fuzzargs::elementAsDouble(r.get(), 0);
            if (std::isfinite(v) && v > 8 && v <= 7000) r = mexhost::scalar(std::fmod(v, 8));
        }
        keep.push_back(std::move(r));

        // Score map covering the lattice (or not), values in [0, 1] with
        // NaN sprinkled in, or hostile; sometimes another class.
        const size_t rows = static_cast<size_t>(in.range(0, std::min(60, static_cast<int>(spacing * (M + 2)) + 4)));
        const size_t cols = static_cast<size_t>(in.range(0, std::min(60, static_cast<int>(spacing * (N + 2)) + 4)));
        std::vector<double> map(rows * cols);
        const int fill = in.range(0, 3);
        for (size_t i = 0; i < map.size(); ++i)
            map[i] = fill == 0   ? in.byte() / 255.0
                     : fill == 1 ? ((i * 7) % 11) / 10.0
                     : fill == 2 ? (in.byte() % 16 == 15 ? std::numeric_limits<double>::quiet_NaN() : 0.5)
                                 : in.value();
        static const mxClassID mapClasses[] = {mxSINGLE_CLASS, mxUINT8_CLASS, mxLOGICAL_CLASS, mxINT32_CLASS};
        const mxClassID mapClass = in.byte() % 8 == 7 ? mapClasses[in.range(0, 3)] : mxDOUBLE_CLASS;
        keep.push_back(maybeAny(in, mexhost::numeric(mapClass, {rows, cols}, map)));

        // skipEval: mostly 0, sometimes 1 or something near it.
        static const double skips[] = {0, 0, 0, 0, 0, 0, 1, 0.5, std::numeric_limits<double>::quiet_NaN(), 2};
        keep.push_back(maybeAny(in, mexhost::scalar(skips[in.range(0, 9)])));
        keep.push_back(maybeAny(in, in.byte() % 8 == 7 ? mexhost::scalar(in.byte() % 2 ? 0.0 : std::nan(""))
                                                       : fuzzargs::optionScalar(in, 0.2, 3)));  // bandwidth

        // fixedMask: mostly 0/1, sometimes values near 1 or NaN, another
        // class, or the wrong shape.
        std::vector<double> mask(nodes);
        for (auto& v : mask) {
            const int b = in.byte() % 16;
            v = b < 10 ? 0 : b < 14 ? 1 : b == 14 ? 0.999 : std::numeric_limits<double>::quiet_NaN();
        }
        std::vector<size_t> maskDims = {static_cast<size_t>(M), static_cast<size_t>(N)};
        if (in.byte() % 32 == 31) maskDims = {static_cast<size_t>(N), static_cast<size_t>(M)};
        keep.push_back(maybeAny(in, mexhost::numeric(in.byte() % 8 == 7 ? mxLOGICAL_CLASS : mxDOUBLE_CLASS,
                                                     maskDims, mask)));
        if (in.byte() % 32 == 31) keep.push_back(fuzzargs::anyArray(in));
        if (in.byte() % 32 == 31) keep.pop_back();
    }
    std::vector<const mxArray*> args;
    for (auto& a : keep) args.push_back(a.get());
    fuzzargs::dumpArgs(nlhs, args);
    const mexhost::CallResult r = mexhost::callEntry(mexFunction, "driftfield", nlhs, args, fuzzargs::held);
    fuzzargs::expectClean(r, "driftfield");
    checkResult(r, args, nlhs);
    return 0;
}
