// gridcorners' calls: photographs by file name (decoded by each build's own
// image-file libraries) and as matrices, fixed and adaptive levels, a
// refusal of each kind, and each host allocation failing.
#include "PluginCalls.h"

#include <cmath>
#include <fstream>

namespace calls {

namespace {

using mexhost::ArrayPtr;

std::vector<ArrayPtr> args(ArrayPtr first, double minDistance, double quality, double limit, double adaptive) {
    std::vector<ArrayPtr> v;
    v.push_back(std::move(first));
    for (double x : {minDistance, quality, limit, adaptive}) v.push_back(mexhost::scalar(x));
    return v;
}

}  // namespace

std::vector<Case> gridcornersCases() {
    std::vector<Case> c;
    // Corner positions are whole pixels from the library's arithmetic: every
    // value must be the same.
    auto call = [&c](std::string name, std::function<std::vector<ArrayPtr>()> a, const char* refusal = nullptr,
                     int nlhs = 1) {
        Case k;
        k.name = std::move(name);
        k.args = std::move(a);
        k.refusal = refusal;
        k.nlhs = nlhs;
        c.push_back(std::move(k));
    };
    call("camera.png by name", [] { return args(mexhost::text("camera.png"), 5, 0.04, 4, 0); });
    call("coffee.png by name, adaptive", [] { return args(mexhost::text("coffee.png"), 3, 0.1, 6, 1); });
    call("camera as a double matrix", [] { return args(image("camera.pgm"), 5, 0.04, 4, 0); });
    call("coffee as uint8, adaptive, one corner a block", [] {
        return args(imageAs("coffee.pgm", mxUINT8_CLASS), 2e6, 0.01, 1.9, 1.7);
    });
    call("camera as single, no distance, limit 40", [] {
        return args(imageAs("camera.pgm", mxSINGLE_CLASS), 0, 0.02, 40, 0);
    });
    call("a flat matrix gives 2x0", [] { return args(mexhost::matrix(60, 70, std::vector<double>(4200, 9)), 1, 0.01, 3, 1); });

    auto plain = [] { return args(mexhost::matrix(60, 60), 5, 0.04, 4, 0); };
    call("4 inputs", [plain] {
        std::vector<ArrayPtr> v = plain();
        v.pop_back();
        return v;
    }, "gridcorners:nargin");
    call("2 results", plain, "gridcorners:nargout", 2);
    call("a cell", [] { return args(mexhost::cells(1, 1), 5, 0.04, 4, 0); }, "gridcorners:filename");
    call("complex image", [] { return args(mexhost::complexMatrix(60, 60), 5, 0.04, 4, 0); }, "gridcorners:image");
    call("no such file", [] { return args(mexhost::text("missing-file.png"), 5, 0.04, 4, 0); },
         "gridcorners:fileNotFound");
    call("a folder", [] { return args(mexhost::text("."), 5, 0.04, 4, 0); }, "gridcorners:fileNotFound");
    call("not an image", [] {
        std::ofstream("not-an-image.png") << "text, not pixels\n";
        return args(mexhost::text("not-an-image.png"), 5, 0.04, 4, 0);
    }, "gridcorners:imageRead");
    call("name of 1024 characters", [] { return args(mexhost::text(std::string(1024, 'a')), 5, 0.04, 4, 0); },
         "gridcorners:filenameLength");
    call("negative distance", [] { return args(mexhost::matrix(60, 60), -1, 0.04, 4, 0); }, "gridcorners:minDistance");
    call("quality 0", [] { return args(mexhost::matrix(60, 60), 5, 0, 4, 0); }, "gridcorners:quality");
    call("quality NaN", [] { return args(mexhost::matrix(60, 60), 5, NAN, 4, 0); }, "gridcorners:quality");
    call("limit 0.9", [] { return args(mexhost::matrix(60, 60), 5, 0.04, 0.9, 0); }, "gridcorners:limit");
    call("adaptive text", [] {
        std::vector<ArrayPtr> v = args(mexhost::matrix(60, 60), 5, 0.04, 4, 0);
        v[4] = mexhost::text("y");
        return v;
    }, "gridcorners:adaptive");
    call("buffer past 1 GiB", [] {
        return args(mexhost::numeric(mxUINT8_CLASS, {4000, 4000}), 5, 0.04, 2500, 0);
    }, "gridcorners:tooLarge");

    for (size_t n = 1; n <= 3; ++n) {
        Case k;
        k.name = "host allocation " + std::to_string(n) + " fails";
        k.args = [] { return args(mexhost::text("camera.png"), 5, 0.04, 2, 0); };
        k.refusal = "regmex:host:outOfMemory";
        k.failAllocation = n;
        c.push_back(std::move(k));
    }
    return c;
}

}  // namespace calls
