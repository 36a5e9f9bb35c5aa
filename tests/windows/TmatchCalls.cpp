// tmatch's calls: a photograph searched whole and by region, other pixel
// classes, a refusal of each kind, and each host allocation failing.
#include "PluginCalls.h"

#include <cmath>

namespace calls {

namespace {

using mexhost::ArrayPtr;

// The template of rows r..r+h-1, columns c..c+w-1 (0-based) of a matrix.
ArrayPtr cut(const mxArray* img, size_t r, size_t c, size_t h, size_t w) {
    const size_t rows = mxGetM(img);
    const double* p = mxGetPr(img);
    std::vector<double> v;
    for (size_t j = c; j < c + w; ++j)
        for (size_t i = r; i < r + h; ++i) v.push_back(p[j * rows + i]);
    return mexhost::matrix(h, w, v);
}

Kind floatScores(size_t, size_t) { return Kind::single; }

}  // namespace

std::vector<Case> tmatchCases() {
    std::vector<Case> c;
    auto call = [&c](std::string name, std::function<std::vector<ArrayPtr>()> args, const char* refusal = nullptr,
                     int nlhs = 1) {
        Case k;
        k.name = std::move(name);
        k.args = std::move(args);
        k.refusal = refusal;
        k.nlhs = nlhs;
        k.kind = floatScores;
        c.push_back(std::move(k));
    };
    auto args = [](ArrayPtr a, ArrayPtr b, ArrayPtr d) {
        std::vector<ArrayPtr> v;
        v.push_back(std::move(a));
        v.push_back(std::move(b));
        v.push_back(std::move(d));
        return v;
    };
    call("camera, whole, 32x32 template", [args] {
        ArrayPtr img = image("camera.pgm");
        ArrayPtr tpl = cut(img.get(), 199, 239, 32, 32);
        return args(std::move(img), mexhost::scalar(-1), std::move(tpl));
    });
    call("camera, region, 24x16 template", [args] {
        ArrayPtr img = image("camera.pgm");
        ArrayPtr tpl = cut(img.get(), 300, 100, 24, 16);
        return args(std::move(img), row({81, 281, 90.7, 60}), std::move(tpl));
    });
    call("coffee as uint8, region clipped at the corner, 7x9 template", [args] {
        ArrayPtr tpl = cut(image("coffee.pgm").get(), 280, 370, 7, 9);
        return args(imageAs("coffee.pgm", mxUINT8_CLASS), row({380, 280, 500, 500}), std::move(tpl));
    });
    call("camera as single with a uint8 template", [args] {
        ArrayPtr tpl = cut(image("camera.pgm").get(), 100, 400, 11, 11);
        ArrayPtr t8 = mexhost::numeric(mxUINT8_CLASS, {11, 11}, mexhost::values(tpl.get()));
        return args(imageAs("camera.pgm", mxSINGLE_CLASS), row({-1, 5, 5, 5}), std::move(t8));
    });
    call("saturation, NaN and a constant template", [args] {
        return args(mexhost::matrix(6, 5, {-4, 300, NAN, 7.5, 8.5, 1, 2, 3, 250, 255.5, INFINITY, 0, 9, 9, 9,
                                           40, 41, 42, 43, 44, 45, 46, 47, 48, 49, 50, 51, 52, 53, 54}),
                    mexhost::scalar(-1), mexhost::matrix(2, 2, {5, 5, 5, 5}));
    });

    auto small = [args] { return args(mexhost::matrix(5, 6), mexhost::scalar(-1), mexhost::matrix(2, 2)); };
    call("2 inputs", [] {
        std::vector<ArrayPtr> v;
        v.push_back(mexhost::matrix(5, 5));
        v.push_back(mexhost::scalar(-1));
        return v;
    }, "tmatch:nargin");
    call("2 results", small, "tmatch:nargout", 2);
    call("complex image", [args] { return args(mexhost::complexMatrix(5, 5), mexhost::scalar(-1), mexhost::matrix(2, 2)); },
         "tmatch:image");
    call("3-D image", [args] {
        return args(mexhost::numeric(mxDOUBLE_CLASS, {5, 5, 3}), mexhost::scalar(-1), mexhost::matrix(2, 2));
    }, "tmatch:image");
    call("text template", [args] { return args(mexhost::matrix(5, 5), mexhost::scalar(-1), mexhost::text("ab")); },
         "tmatch:template");
    call("empty template", [args] { return args(mexhost::matrix(5, 5), mexhost::scalar(-1), mexhost::matrix(0, 0)); },
         "tmatch:template");
    call("region left of the image", [args] {
        return args(mexhost::matrix(9, 9), row({0, 1, 4, 4}), mexhost::matrix(2, 2));
    }, "tmatch:region");
    call("region with NaN", [args] {
        return args(mexhost::matrix(9, 9), row({1, 1, NAN, 4}), mexhost::matrix(2, 2));
    }, "tmatch:region");
    call("template larger than the region", [args] {
        return args(mexhost::matrix(9, 9), row({2, 2, 3, 3}), mexhost::matrix(4, 2));
    }, "tmatch:templateSize");

    for (size_t n = 1; n <= 2; ++n) {
        Case k;
        k.name = "host allocation " + std::to_string(n) + " fails";
        k.args = [args] { return args(mexhost::matrix(7, 8, std::vector<double>(56, 3)), mexhost::scalar(-1),
                                      mexhost::matrix(2, 3, {1, 2, 3, 4, 5, 6})); };
        k.refusal = "regmex:host:outOfMemory";
        k.failAllocation = n;
        k.kind = floatScores;
        c.push_back(std::move(k));
    }
    return c;
}

}  // namespace calls
