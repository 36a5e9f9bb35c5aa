// patchmatch's calls: a photograph against a moved copy of itself, with the
// points picked and given, at two pyramid levels, through an affine and a
// spline estimate; a refusal of each kind, and each host allocation failing.
#include "PluginCalls.h"

#include <cmath>

namespace calls {

namespace {

using mexhost::ArrayPtr;

// The photograph moved by (dx, dy), wrapping round, as the help's example.
ArrayPtr moved(const char* pgm, size_t dx, size_t dy) {
    ArrayPtr img = image(pgm);
    const size_t M = mxGetM(img.get()), N = mxGetN(img.get());
    const double* p = mxGetPr(img.get());
    std::vector<double> v(M * N);
    for (size_t c = 0; c < N; ++c)
        for (size_t r = 0; r < M; ++r) v[c * M + r] = p[((c + dx) % N) * M + (r + M - dy) % M];
    return mexhost::matrix(M, N, v);
}

std::vector<ArrayPtr> args(ArrayPtr ref, ArrayPtr mov, ArrayPtr points, ArrayPtr ctrl, ArrayPtr coef, double level,
                           double patchHalf, double radius) {
    std::vector<ArrayPtr> a;
    a.push_back(std::move(ref));
    a.push_back(std::move(mov));
    a.push_back(std::move(points));
    a.push_back(std::move(ctrl));
    a.push_back(std::move(coef));
    for (double x : {level, patchHalf, radius}) a.push_back(mexhost::scalar(x));
    return a;
}

ArrayPtr identity() { return mexhost::matrix(3, 2, {0, 1, 0, 0, 0, 1}); }
ArrayPtr shifted(double dx, double dy) { return mexhost::matrix(3, 2, {dx, 1, 0, dy, 0, 1}); }

// FOUND and QUALITY come from the library's single-precision scores through
// a parabola fit and the spline (log); POINTS picked or given are exact;
// the maps and WARPED are single precision.
Kind patchKinds(size_t output, size_t) {
    if (output == 2) return Kind::exact;
    return output < 2 ? Kind::libm : Kind::single;
}

}  // namespace

std::vector<Case> patchmatchCases() {
    std::vector<Case> c;
    auto call = [&c](std::string name, std::function<std::vector<ArrayPtr>()> a, int nlhs,
                     const char* refusal = nullptr) {
        Case k;
        k.name = std::move(name);
        k.args = std::move(a);
        k.nlhs = nlhs;
        k.refusal = refusal;
        k.kind = patchKinds;
        c.push_back(std::move(k));
    };
    call("camera moved by (-7, 5), points picked at level 1", [] {
        return args(image("camera.pgm"), moved("camera.pgm", 7, 5), mexhost::scalar(32), mexhost::matrix(0, 0),
                    identity(), 1, 6, 6);
    }, 6);
    call("the same below a pixel at level 0, points given", [] {
        return args(image("camera.pgm"), moved("camera.pgm", 7, 5),
                    mexhost::matrix(2, 4, {100, 100, 250.5, 300, 400, 120, 60, 450}), mexhost::matrix(0, 0),
                    shifted(-7, 5), 0, 8, 2);
    }, 3);
    call("coffee through a spline estimate", [] {
        return args(image("coffee.pgm"), moved("coffee.pgm", 3, 2), mexhost::scalar(48),
                    mexhost::matrix(2, 3, {50, 50, 200, 100, 350, 250}),
                    mexhost::matrix(6, 2, {1e-6, -2e-6, 1e-6, -3, 1, 0, 0, 1e-6, -1e-6, 2, 0, 1}), 0, 7, 5);
    }, 6);
    call("a point whose template leaves the image", [] {
        return args(image("coffee.pgm"), image("coffee.pgm"), mexhost::matrix(2, 2, {2, 2, 200, 150}),
                    mexhost::matrix(0, 0), identity(), 0, 5, 3);
    }, 2);

    auto plain = [] {
        return args(mexhost::matrix(20, 20), mexhost::matrix(20, 20), mexhost::matrix(2, 1, {10, 10}),
                    mexhost::matrix(0, 0), identity(), 0, 2, 2);
    };
    auto with = [plain](size_t i, std::function<ArrayPtr()> make) {
        return [plain, i, make] {
            std::vector<ArrayPtr> a = plain();
            a[i] = make();
            return a;
        };
    };
    call("7 inputs", [plain] {
        std::vector<ArrayPtr> a = plain();
        a.pop_back();
        return a;
    }, 1, "patchmatch:nargin");
    call("7 results", plain, 7, "patchmatch:nargout");
    call("ref with NaN", with(0, [] { return mexhost::matrix(3, 3, {1, 2, NAN, 4, 5, 6, 7, 8, 9}); }), 1,
         "patchmatch:ref");
    call("mov 3-D", with(1, [] { return mexhost::numeric(mxDOUBLE_CLASS, {20, 20, 3}); }), 1, "patchmatch:mov");
    call("points 3 x 1", with(2, [] { return column({1, 2, 3}); }), 1, "patchmatch:points");
    call("cell size 1", with(2, [] { return mexhost::scalar(1); }), 1, "patchmatch:points");
    call("ctrl with Inf", with(3, [] { return mexhost::matrix(2, 1, {1, INFINITY}); }), 1, "patchmatch:ctrl");
    call("coef 2 x 2", with(4, [] { return mexhost::matrix(2, 2); }), 1, "patchmatch:coef");
    call("level 17", with(5, [] { return mexhost::scalar(17); }), 1, "patchmatch:level");
    call("patchHalf 1.5", with(6, [] { return mexhost::scalar(1.5); }), 1, "patchmatch:patchHalf");
    call("radius 0", with(7, [] { return mexhost::scalar(0); }), 1, "patchmatch:radius");

    for (size_t n = 1; n <= 7; ++n) {
        Case k;
        k.name = "host allocation " + std::to_string(n) + " fails";
        k.args = [] {
            return args(image("coffee.pgm"), image("coffee.pgm"), mexhost::matrix(2, 2, {100, 100, 200, 150}),
                        mexhost::matrix(0, 0), identity(), 1, 4, 3);
        };
        k.nlhs = 6;
        k.refusal = "regmex:host:outOfMemory";
        k.failAllocation = n;
        k.kind = patchKinds;
        c.push_back(std::move(k));
    }
    return c;
}

}  // namespace calls
