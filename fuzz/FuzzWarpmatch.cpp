// warpmatch with fuzzed arguments: arbitrary arrays, and structured calls
// with valid-looking spline coefficients, control points, targets, previous
// maps and images that reach the maps, the resampling and the worker threads
// (K up to 70, so up to four workers).  Sizes stay small so that runs are fast.
#include "FuzzArgs.h"

#include <algorithm>

extern "C" void mexFunction(int, mxArray*[], int, const mxArray*[]);

namespace {

// Mostly plausible values in [lo, hi], now and then a hostile one.
std::vector<double> values(fuzzargs::Bytes& in, size_t n, double lo, double hi) {
    std::vector<double> v(n);
    const bool hostile = in.byte() % 8 == 7;
    for (auto& x : v) x = hostile && in.byte() % 4 == 0 ? in.value() : in.between(lo, hi);
    return v;
}

// A numeric array of n values shaped as a column, a row or a matrix, in
// double mostly, sometimes another real class.
mexhost::ArrayPtr vectorArg(fuzzargs::Bytes& in, const std::vector<double>& v) {
    static const mxClassID classes[] = {mxSINGLE_CLASS, mxINT16_CLASS, mxUINT8_CLASS, mxLOGICAL_CLASS,
                                        mxINT64_CLASS};
    const size_t n = v.size();
    std::vector<size_t> dims = {n, 1};
    switch (in.byte() % 8) {
    case 7: dims = {1, n}; break;
    case 6:
        if (n % 2 == 0 && n) dims = {2, n / 2};
        break;
    default: break;
    }
    if (in.byte() % 16 == 15) return mexhost::numeric(classes[in.range(0, 4)], dims, v);
    return mexhost::numeric(mxDOUBLE_CLASS, dims, v);
}

// Now and then any array at all in place of a structured argument.
mexhost::ArrayPtr maybeAny(fuzzargs::Bytes& in, mexhost::ArrayPtr a) {
    return in.byte() % 32 == 31 ? fuzzargs::anyArray(in) : std::move(a);
}

// A count near need: mostly need, sometimes one short or a few extra.
size_t near(fuzzargs::Bytes& in, size_t need) {
    switch (in.byte() % 16) {
    case 15: return need ? need - 1 : 0;
    case 14: return need + static_cast<size_t>(in.range(1, 3));
    default: return need;
    }
}

// A previous map: M x N or a bit larger, sometimes 3-D, sometimes smaller.
mexhost::ArrayPtr previousMap(fuzzargs::Bytes& in, int M, int N, size_t rows, double extent) {
    size_t cols = static_cast<size_t>(N + in.range(0, 2));
    if (in.byte() % 16 == 15) cols = static_cast<size_t>(in.range(0, N));
    std::vector<size_t> dims = {rows, cols};
    if (in.byte() % 8 == 7) dims.push_back(static_cast<size_t>(in.range(1, 3)));
    size_t count = 1;
    for (size_t d : dims) count *= d;
    (void)M;
    return mexhost::numeric(in.byte() % 16 == 15 ? mxSINGLE_CLASS : mxDOUBLE_CLASS, dims,
                            values(in, count, -3, extent + 3));
}

[[noreturn]] void wrongResult(const char* what) {
    std::fprintf(stderr, "wrong result: %s\n", what);
    std::abort();
}

// What an accepted call promises: K x 2 points, each NaN or within the
// search's reach of its rounded control point; M x N maps; and a resampled
// image within the source's range (widened to the noise range [0, 1] and
// to the -1 below which values become noise).
void checkResult(const mexhost::CallResult& r, const std::vector<const mxArray*>& args, int nlhs) {
    if (!r.ok || args.size() != 9) return;
    const mxArray* ctrlX = args[2];
    const mxArray* ctrlY = args[3];
    const mxArray* image = args[8];
    const size_t K = mxGetM(ctrlX), M = mxGetM(image), N = mxGetN(image);
    const double reach = 127.984375;
    const mxArray* pts = r.outputs.empty() ? nullptr : r.outputs[0].get();
    if (!pts || !mxIsDouble(pts) || mxGetM(pts) != K || mxGetN(pts) != 2) wrongResult("points are not K x 2");
    for (size_t k = 0; k < K; ++k) {
        const double x = mxGetPr(pts)[k], y = mxGetPr(pts)[K + k];
        const double x0 = std::floor(fuzzargs::elementAsDouble(ctrlX, k) + 0.5);
        const double y0 = std::floor(fuzzargs::elementAsDouble(ctrlY, k) + 0.5);
        if (std::isnan(x) && std::isnan(y)) continue;
        if (!(std::fabs(x - x0) <= reach && std::fabs(y - y0) <= reach)) {
            char what[160];
            std::snprintf(what, sizeof what, "point %zu found at (%g, %g), beyond reach of its start (%g, %g)",
                          k + 1, x, y, x0, y0);
            wrongResult(what);
        }
    }
    const int results = nlhs < 1 ? 1 : nlhs;
    for (int s = 1; s < results; ++s) {
        const mxArray* a = r.outputs[static_cast<size_t>(s)].get();
        if (!a || !mxIsDouble(a) || mxGetM(a) != M || mxGetN(a) != N) wrongResult("a map or image is not M x N");
    }
    if (results < 4) return;
    double lo = -1, hi = 1;
    for (size_t i = 0; i < M * N; ++i) {
        double v = fuzzargs::elementAsDouble(image, i);
        if (std::isnan(v)) v = 0.1;
        if (!(std::fabs(v) <= 1e6)) return;  // no bound worth checking
        lo = std::min(lo, v), hi = std::max(hi, v);
    }
    const double slack = 1e-3 * (hi - lo);
    const double* warped = mxGetPr(r.outputs[3].get());
    for (size_t i = 0; i < M * N; ++i)
        if (!(warped[i] >= lo - slack && warped[i] <= hi + slack)) {
            char what[160];
            std::snprintf(what, sizeof what, "resampled pixel %zu is %g, outside [%g, %g]", i + 1, warped[i], lo, hi);
            wrongResult(what);
        }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzzargs::Bytes in(data, size);
    std::vector<mexhost::ArrayPtr> keep;
    const int nlhs = in.byte() % 8 == 7 ? in.range(0, 5) : 4;
    if (in.byte() % 32 == 31) {
        const int nrhs = in.range(0, 10);
        for (int i = 0; i < nrhs; ++i) keep.push_back(fuzzargs::anyArray(in));
    } else {
        // Image first: its size bounds the coordinates.  Mostly 5..40 a side.
        const int M = in.byte() % 16 == 15 ? in.range(0, 6) : in.range(5, 40);
        const int N = in.byte() % 16 == 15 ? in.range(0, 6) : in.range(5, 40);
        // Mostly few points (one worker), now and then enough for two to
        // four workers: the search costs K*K kernel values, so large K is rare.
        const int band = in.byte() % 64;
        const int K = band == 63   ? in.range(61, 70)
                      : band == 62 ? in.range(41, 60)
                      : band >= 60 ? in.range(21, 40)
                      : band >= 52 ? in.range(9, 20)
                                   : in.range(0, 8);
        const size_t k = static_cast<size_t>(K);

        // Coefficients: small kernel weights, an affine part near identity
        // (a plausible shift, scale and shear) for x and y.
        for (int axis = 0; axis < 2; ++axis) {
            std::vector<double> coef = values(in, near(in, k + 3), -1e-3, 1e-3);
            if (coef.size() >= k + 3) {
                coef[k] = in.between(-10, 10);
                coef[k + 1] = axis == 0 ? in.between(0.5, 1.5) : in.between(-0.3, 0.3);
                coef[k + 2] = axis == 0 ? in.between(-0.3, 0.3) : in.between(0.5, 1.5);
                if (in.byte() % 16 == 15) coef[k + static_cast<size_t>(in.range(0, 2))] = in.value();
            }
            keep.push_back(maybeAny(in, vectorArg(in, coef)));
        }
        // ctrlX must be a column; sometimes it is a row or a matrix.
        {
            std::vector<double> x = values(in, k, -5, N + 5);
            std::vector<size_t> dims = {k, 1};
            const int shape = in.byte() % 16;
            if (shape == 15) dims = {1, k};
            if (shape == 14) dims = {k, 2}, x.resize(2 * k, 1.0);
            keep.push_back(maybeAny(in, mexhost::numeric(mxDOUBLE_CLASS, dims, x)));
        }
        keep.push_back(maybeAny(in, vectorArg(in, values(in, near(in, k), -5, M + 5))));  // ctrlY
        keep.push_back(maybeAny(in, vectorArg(in, values(in, near(in, k), -5, N + 5))));  // targetX
        keep.push_back(maybeAny(in, vectorArg(in, values(in, near(in, k), -5, M + 5))));  // targetY

        // Previous maps: none, both, one, or rows that differ.
        switch (in.byte() % 8) {
        case 7:
        case 6: {
            const size_t rows = static_cast<size_t>(std::max(0, M + in.range(in.byte() % 16 == 15 ? -2 : 0, 2)));
            keep.push_back(maybeAny(in, previousMap(in, M, N, rows, N)));
            const size_t rowsY = in.byte() % 16 == 15 ? rows + 1 : rows;
            keep.push_back(maybeAny(in, previousMap(in, M, N, rowsY, M)));
            break;
        }
        case 5:
            if (in.flag()) {
                keep.push_back(mexhost::matrix(0, 0));
                keep.push_back(previousMap(in, M, N, static_cast<size_t>(M), M));
            } else {
                keep.push_back(previousMap(in, M, N, static_cast<size_t>(M), N));
                keep.push_back(in.flag() ? mexhost::matrix(0, 0) : mexhost::numeric(mxSINGLE_CLASS, {0, 3}));
            }
            break;
        default:
            keep.push_back(mexhost::matrix(0, 0));
            keep.push_back(mexhost::matrix(0, 0));
        }

        // The image: plausible grey levels or hostile values, mostly double,
        // sometimes another class or a colour (3-D) image.
        std::vector<size_t> dims = {static_cast<size_t>(M), static_cast<size_t>(N)};
        if (in.byte() % 16 == 15) dims.push_back(3);
        size_t count = 1;
        for (size_t d : dims) count *= d;
        std::vector<double> img(count);
        const int fill = in.range(0, 3);
        for (size_t i = 0; i < count; ++i)
            img[i] = fill == 0   ? in.byte()
                     : fill == 1 ? static_cast<double>(i % 7) * 40
                     : fill == 2 ? in.between(-5, 260)
                                 : in.value();
        static const mxClassID classes[] = {mxDOUBLE_CLASS, mxUINT8_CLASS, mxSINGLE_CLASS, mxLOGICAL_CLASS};
        const mxClassID cls = in.byte() % 8 == 7 ? classes[in.range(0, 3)] : mxDOUBLE_CLASS;
        keep.push_back(maybeAny(in, mexhost::numeric(cls, dims, img)));
        if (in.byte() % 32 == 31) keep.push_back(fuzzargs::anyArray(in));
    }
    std::vector<const mxArray*> args;
    for (auto& a : keep) args.push_back(a.get());
    fuzzargs::dumpArgs(nlhs, args);
    const mexhost::CallResult r = mexhost::callEntry(mexFunction, "warpmatch", nlhs, args, fuzzargs::held);
    fuzzargs::expectClean(r, "warpmatch");
    checkResult(r, args, nlhs);
    return 0;
}
