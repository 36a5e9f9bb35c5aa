// patchmatch with fuzzed arguments: arbitrary arrays, and structured calls
// with small valid-looking images, points (or a cell size), spline
// estimates, levels, patch sizes and radii that reach the picking, the
// pyramid, the resampling and the matching.
#include "FuzzArgs.h"

extern "C" void mexFunction(int, mxArray*[], int, const mxArray*[]);

namespace {

std::vector<double> values(fuzzargs::Bytes& in, size_t n, double lo, double hi) {
    std::vector<double> v(n);
    const bool hostile = in.byte() % 8 == 7;
    for (auto& x : v) x = hostile && in.byte() % 4 == 0 ? in.value() : in.between(lo, hi);
    return v;
}

mexhost::ArrayPtr image(fuzzargs::Bytes& in) {
    const int M = in.range(1, 40), N = in.range(1, 40);
    return mexhost::matrix(M, N, values(in, static_cast<size_t>(M) * N, 0, 255));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzzargs::Bytes in(data, size);
    std::vector<mexhost::ArrayPtr> keep;
    const int nlhs = in.range(0, 7);
    if (in.byte() % 8 == 0) {
        const int nrhs = in.range(0, 9);
        for (int i = 0; i < nrhs; ++i) keep.push_back(fuzzargs::anyArray(in));
    } else {
        keep.push_back(image(in));
        keep.push_back(image(in));
        if (in.flag()) {
            keep.push_back(fuzzargs::optionScalar(in, 2, 12));
        } else {
            const size_t K = static_cast<size_t>(in.range(0, 12));
            keep.push_back(mexhost::matrix(in.byte() % 16 ? 2 : 3, K, values(in, 2 * K, -5, 45)));
        }
        const size_t Kc = static_cast<size_t>(in.range(0, 5));
        keep.push_back(Kc ? mexhost::matrix(2, Kc, values(in, 2 * Kc, 0, 40)) : mexhost::matrix(0, 0));
        std::vector<double> coef = values(in, (Kc + 3) * 2, -0.01, 0.01);
        // Mostly near the identity, now and then a shift or a large weight.
        coef[Kc + 1] += 1;
        coef[2 * (Kc + 3) - 1] += 1;
        if (in.flag()) coef[Kc] += in.between(-8, 8);
        keep.push_back(mexhost::matrix(Kc + 3, in.byte() % 16 ? 2 : 1, coef));
        keep.push_back(fuzzargs::optionScalar(in, 0, 3));
        keep.push_back(fuzzargs::optionScalar(in, 1, 6));
        keep.push_back(fuzzargs::optionScalar(in, 1, 5));
    }
    std::vector<const mxArray*> args;
    for (auto& a : keep) args.push_back(a.get());
    fuzzargs::expectClean(mexhost::callEntry(mexFunction, "patchmatch", nlhs, args, fuzzargs::held), "patchmatch");
    return 0;
}
