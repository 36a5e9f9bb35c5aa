// tmatch: normalised cross-correlation of a template over a search image or
// over a rectangular region of it.
//
//   C = tmatch(image, region, template)
//
// region is -1 for the whole image or [x y width height] with 1-based x
// (column) and y (row) of the region's top-left pixel.
#include "CMatlabToOpenCV.h"
#include "MexArgs.h"
#include "MexVersion.h"
#include "Resources.h"
#include "mex.h"

#include <opencv2/imgproc/imgproc_c.h>

#include <cmath>
#include <cstdio>
#include <exception>

namespace {

// The arguments in call order, each with its name in messages and the
// mnemonic of its identifier.
enum Input { kImage, kRegion, kTemplate, kArgCount };
constexpr mexargs::ArgTable<kArgCount> kArgs{
    "tmatch", "C = tmatch(image, region, template)", 1,
    {mexargs::required("image", "image"), mexargs::required("region", "region"),
     mexargs::required("template", "template")}};
static_assert(kArgs.wellFormed(), "tmatch's argument table");

struct Region {
    bool whole = true;
    CvRect rect = cvRect(0, 0, 0, 0);
};

// Reads and checks the region vector against an image of M rows and N
// columns.  A region reaching past the right or bottom edge is clipped there.
Region readRegion(const mxArray* a, int M, int N) {
    if (!mexargs::isRealNumeric(a) || mxIsEmpty(a))
        mexargs::refuse(kArgs[kRegion], a, " must be -1 or a real vector [x y width height]");
    Region region;
    if (mexargs::elementValue(a, 0) == -1.0) return region;
    if (mxGetNumberOfElements(a) < 4)
        mexargs::refuse(kArgs[kRegion], a, " must be -1 or have four elements [x y width height]");
    int e[4];
    for (int i = 0; i < 4; ++i) {
        const double v = mexargs::elementValue(a, static_cast<size_t>(i));
        if (!std::isfinite(v) || std::fabs(v) >= 2147483647.0)
            mexargs::failArg(kArgs[kRegion], ": element %d must be a finite integer-sized value, got %g", i + 1, v);
        e[i] = static_cast<int>(v);  // truncation toward zero
    }
    const int x = e[0] - 1;
    const int y = e[1] - 1;
    if (x < 0 || y < 0)
        mexargs::failArg(kArgs[kRegion], ": x and y are 1-based and must be at least 1, got x = %d, y = %d", e[0],
                         e[1]);
    if (x >= N || y >= M)
        mexargs::failArg(kArgs[kRegion], ": the region starts at x = %d, y = %d, outside the %dx%d image", e[0], e[1],
                         M, N);
    if (e[2] < 1 || e[3] < 1)
        mexargs::failArg(kArgs[kRegion], ": width and height must be at least 1, got %d and %d", e[2], e[3]);
    region.whole = false;
    region.rect = cvRect(x, y, e[2] < N - x ? e[2] : N - x, e[3] < M - y ? e[3] : M - y);
    return region;
}

}  // namespace

void mexFunction(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]) {
    const mexargs::Inputs args = kArgs.parse(nlhs, nrhs, prhs);
    const mxArray* imageArg = kArgs[kImage].of(args);
    const mxArray* templateArg = kArgs[kTemplate].of(args);
    mexargs::requireImage2D(kArgs[kImage], imageArg);
    mexargs::requireImage2D(kArgs[kTemplate], templateArg);
    const int M = static_cast<int>(mxGetM(imageArg));
    const int N = static_cast<int>(mxGetN(imageArg));
    const Region region = readRegion(kArgs[kRegion].of(args), M, N);
    const int W = region.whole ? N : region.rect.width;
    const int H = region.whole ? M : region.rect.height;
    const int m = static_cast<int>(mxGetM(templateArg));
    const int n = static_cast<int>(mxGetN(templateArg));
    if (m > H || n > W)
        mexargs::failArg(kArgs[kTemplate].as("templateSize"), " is %dx%d, larger than the %dx%d area searched", m, n, H,
                         W);

    // The result comes first: should anything below fail, the host reclaims
    // it, while no image exists yet.
    plhs[0] = mxCreateDoubleMatrix(static_cast<mwSize>(H - m + 1), static_cast<mwSize>(W - n + 1), mxREAL);

    IplImage* image = nullptr;
    IplImage* templ = nullptr;
    IplImage* map = nullptr;
    char failure[512] = "";
    try {
        // Only the searched area is converted: the pixels, and so the map,
        // are those of the whole image with the region set on it.
        image = region.whole ? CMatlabToOpenCV::convert_copy(imageArg)
                             : CMatlabToOpenCV::convert_copy_region(imageArg, region.rect);
        templ = CMatlabToOpenCV::convert_copy(templateArg);
        map = resources::createImage(cvSize(W - n + 1, H - m + 1), IPL_DEPTH_32F, 1);
        cvMatchTemplate(image, templ, map, CV_TM_CCOEFF_NORMED);
    } catch (const std::exception& e) {
        std::snprintf(failure, sizeof failure, "%s", e.what());
    }
    if (image) CMatlabToOpenCV::release_iplimage(image);
    if (templ) CMatlabToOpenCV::release_iplimage(templ);
    if (!failure[0]) CMatlabToOpenCV::ipl_to_matlab(map, plhs[0]);
    resources::releaseImage(map);
    if (failure[0]) {
        mxDestroyArray(plhs[0]);
        plhs[0] = nullptr;
        mexargs::fail("tmatch:opencv", "the image library failed: %s", failure);
    }
}
