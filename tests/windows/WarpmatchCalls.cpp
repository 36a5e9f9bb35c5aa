// warpmatch's calls: a photograph warped by a spline that keeps every sample
// inside it (outside, warpmatch draws time-seeded noise), composed with a
// previous warp, its control points inverted on up to four threads, a
// refusal of each kind, and each host allocation failing.
#include "PluginCalls.h"

#include <cmath>
#include <cstdint>

namespace calls {

namespace {

using mexhost::ArrayPtr;

// splitmix64: the same numbers from every compiler and C library.
struct Random {
    uint64_t state;
    explicit Random(uint64_t seed) : state(seed) {}
    double unit() {
        uint64_t z = (state += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        z ^= z >> 31;
        return static_cast<double>(z >> 11) * 0x1.0p-53;
    }
};

// K control points over a side x side frame, small kernel weights and an
// affine part that shrinks the frame by a tenth about its centre, so that
// the warp stays some 20 pixels inside it.
struct Spline {
    std::vector<double> coefX, coefY, ctrlX, ctrlY, targetX, targetY;
    Spline(size_t K, double side, uint64_t seed) {
        Random rng(seed);
        for (size_t k = 0; k < K; ++k) {
            ctrlX.push_back(20 + (side - 40) * rng.unit());
            ctrlY.push_back(20 + (side - 40) * rng.unit());
        }
        for (std::vector<double>* coef : {&coefX, &coefY}) {
            for (size_t k = 0; k < K; ++k) coef->push_back((rng.unit() - 0.5) * 2e-7);
            coef->push_back(0.05 * side);
        }
        coefX.insert(coefX.end(), {0.9, 0.01});
        coefY.insert(coefY.end(), {-0.01, 0.9});
        // Targets near where the spline takes each point, so that each
        // inversion has a position to find.
        for (size_t k = 0; k < K; ++k) {
            targetX.push_back(0.05 * side + 0.9 * ctrlX[k] + 0.01 * ctrlY[k] + rng.unit());
            targetY.push_back(0.05 * side - 0.01 * ctrlX[k] + 0.9 * ctrlY[k] + rng.unit());
        }
    }
    std::vector<ArrayPtr> args(ArrayPtr image, ArrayPtr prevX = mexhost::matrix(0, 0),
                               ArrayPtr prevY = mexhost::matrix(0, 0)) const {
        std::vector<ArrayPtr> a;
        a.push_back(column(coefX));
        a.push_back(column(coefY));
        a.push_back(column(ctrlX));
        a.push_back(column(ctrlY));
        a.push_back(column(targetX));
        a.push_back(column(targetY));
        a.push_back(std::move(prevX));
        a.push_back(std::move(prevY));
        a.push_back(std::move(image));
        return a;
    }
};

// PTS go through log; the maps and the image are the library's single
// precision.
Kind warpKinds(size_t output, size_t) { return output == 0 ? Kind::libm : Kind::single; }

// A crop of a photograph, so that the calls stay short under wine.
ArrayPtr crop(const char* pgm, size_t rows, size_t cols) {
    ArrayPtr img = image(pgm);
    const size_t M = mxGetM(img.get());
    const double* p = mxGetPr(img.get());
    std::vector<double> v;
    for (size_t c = 0; c < cols; ++c)
        for (size_t r = 0; r < rows; ++r) v.push_back(p[c * M + r]);
    return mexhost::matrix(rows, cols, v);
}

}  // namespace

std::vector<Case> warpmatchCases() {
    std::vector<Case> c;
    auto call = [&c](std::string name, std::function<std::vector<ArrayPtr>()> a, int nlhs,
                     const char* refusal = nullptr) {
        Case k;
        k.name = std::move(name);
        k.args = std::move(a);
        k.nlhs = nlhs;
        k.refusal = refusal;
        k.kind = warpKinds;
        k.threadLines = true;
        c.push_back(std::move(k));
    };
    call("camera 512x512, 70 points on 4 threads", [] { return Spline(70, 512, 1).args(image("camera.pgm")); }, 4);
    call("coffee 200x300, 25 points on 2 threads", [] { return Spline(25, 200, 2).args(crop("coffee.pgm", 200, 300)); },
         4);
    call("camera 256x256, one point, points only", [] { return Spline(1, 256, 3).args(crop("camera.pgm", 256, 256)); },
         1);
    call("no points, maps only", [] { return Spline(0, 128, 4).args(crop("camera.pgm", 128, 160)); }, 4);
    call("composed with a previous warp", [] {
        const Spline first(12, 160, 5);
        ArrayPtr prevX = mexhost::matrix(160, 160), prevY = mexhost::matrix(160, 160);
        double* px = mxGetPr(prevX.get());
        double* py = mxGetPr(prevY.get());
        for (size_t col = 0; col < 160; ++col)
            for (size_t r = 0; r < 160; ++r) {
                px[col * 160 + r] = 8 + 0.93 * static_cast<double>(col);
                py[col * 160 + r] = 5 + 0.95 * static_cast<double>(r) + (r % 7 == 3 ? NAN : 0.0);
            }
        return first.args(crop("coffee.pgm", 160, 160), std::move(prevX), std::move(prevY));
    }, 4);
    call("a point with NaN coefficients", [] {
        Spline s(3, 100, 6);
        s.coefX[0] = NAN;
        return s.args(crop("camera.pgm", 100, 100));
    }, 1);

    auto plain = [] { return Spline(2, 40, 7).args(crop("camera.pgm", 40, 40)); };
    call("8 inputs", [plain] {
        std::vector<ArrayPtr> a = plain();
        a.pop_back();
        return a;
    }, 1, "warpmatch:nargin");
    call("5 results", plain, 5, "warpmatch:nargout");
    call("coefX complex", [plain] {
        std::vector<ArrayPtr> a = plain();
        a[0] = mexhost::complexMatrix(5, 1);
        return a;
    }, 1, "warpmatch:coefX");
    call("coefY short", [plain] {
        std::vector<ArrayPtr> a = plain();
        a[1] = column({1, 2, 3});
        return a;
    }, 1, "warpmatch:coefY");
    call("ctrlX a row", [plain] {
        std::vector<ArrayPtr> a = plain();
        a[2] = row({1, 2});
        return a;
    }, 1, "warpmatch:ctrlX");
    call("targetY text", [plain] {
        std::vector<ArrayPtr> a = plain();
        a[5] = mexhost::text("ab");
        return a;
    }, 1, "warpmatch:targetY");
    call("prevX too small", [plain] {
        std::vector<ArrayPtr> a = plain();
        a[6] = mexhost::matrix(10, 10);
        a[7] = mexhost::matrix(10, 10);
        return a;
    }, 1, "warpmatch:prevX");
    call("only prevY empty", [plain] {
        std::vector<ArrayPtr> a = plain();
        a[6] = mexhost::matrix(40, 40);
        return a;
    }, 1, "warpmatch:prevY");
    call("image 4x4", [plain] {
        std::vector<ArrayPtr> a = plain();
        a[8] = mexhost::matrix(4, 4);
        return a;
    }, 1, "warpmatch:image");

    for (size_t n = 1; n <= 5; ++n) {
        Case k;
        k.name = "host allocation " + std::to_string(n) + " fails";
        k.args = [] { return Spline(3, 30, 8).args(crop("camera.pgm", 30, 30)); };
        k.nlhs = 4;
        k.refusal = "regmex:host:outOfMemory";
        k.failAllocation = n;
        k.kind = warpKinds;
        k.threadLines = true;
        c.push_back(std::move(k));
    }
    return c;
}

}  // namespace calls
