// tmatch with fuzzed arguments: arbitrary arrays, and structured calls with
// valid-looking images, regions and templates that reach the matching.
#include "FuzzArgs.h"

extern "C" void mexFunction(int, mxArray*[], int, const mxArray*[]);

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzzargs::Bytes in(data, size);
    std::vector<mexhost::ArrayPtr> keep;
    const int nlhs = in.byte() % 8 == 0 ? 2 : 1;
    if (in.flag()) {
        const int nrhs = in.range(0, 4);
        for (int i = 0; i < nrhs; ++i) keep.push_back(fuzzargs::anyArray(in));
    } else {
        const int M = in.range(1, 40), N = in.range(1, 40);
        std::vector<double> img(static_cast<size_t>(M) * N);
        for (auto& v : img) v = in.flag() ? in.between(-10, 300) : in.value();
        keep.push_back(mexhost::matrix(M, N, img));
        if (in.flag()) {
            keep.push_back(mexhost::scalar(-1));
        } else {
            std::vector<double> region = {in.between(-2, N + 2), in.between(-2, M + 2), in.between(-1, N + 5),
                                          in.between(-1, M + 5)};
            if (in.byte() % 8 == 0) region[in.range(0, 3)] = in.value();
            keep.push_back(mexhost::matrix(1, in.range(1, 4), region));
        }
        const int m = in.range(1, M + 1), n = in.range(1, N + 1);
        std::vector<double> tpl(static_cast<size_t>(m) * n);
        for (auto& v : tpl) v = in.between(0, 255);
        keep.push_back(mexhost::matrix(m, n, tpl));
    }
    std::vector<const mxArray*> args;
    for (auto& a : keep) args.push_back(a.get());
    fuzzargs::expectClean(mexhost::callEntry(mexFunction, "tmatch", nlhs, args, fuzzargs::held), "tmatch");
    return 0;
}
