// The tiled copies between matrices and images: any block, stride, class
// and worker count gives the per-element values.  Also built under
// ThreadSanitizer (bridge_tsan).
#include "MatrixImage.h"
#include "MexArgs.h"
#include "MexHost.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>

namespace {

double pixel(const IplImage* im, int r, int c) { return cvGet2D(im, r, c).val[0]; }

double expectedPixel(double v, int depth) {
    if (std::isnan(v)) v = 0.1;
    return depth == IPL_DEPTH_8U ? matriximage::saturateToByte(v) : static_cast<double>(static_cast<float>(v));
}

}  // namespace

TEST(MatrixImage, BlocksStridesClassesAndWorkersGiveThePerElementValues) {
    // 70 x 45 x 2: neither side a multiple of the 32-column tile; the first
    // page is the matrix when the stride is the row count.
    const size_t M = 70, N = 45;
    std::mt19937 rng(3);
    std::uniform_real_distribution<double> value(-30.0, 290.0);
    std::vector<double> v(M * N * 2);
    for (auto& x : v) x = value(rng);
    v[5] = std::numeric_limits<double>::quiet_NaN();
    v[M * 40 + 69] = std::numeric_limits<double>::infinity();
    for (mxClassID cls : {mxDOUBLE_CLASS, mxSINGLE_CLASS, mxINT16_CLASS, mxUINT8_CLASS, mxLOGICAL_CLASS}) {
        auto a = mexhost::numeric(cls, {M, N, 2}, v);
        const matriximage::MatrixView view = matriximage::viewOf(a.get(), M);
        struct Block { size_t row0, col0; int rows, cols; };
        for (Block b : {Block{0, 0, int(M), int(N)}, Block{13, 20, 57, 25}, Block{69, 44, 1, 1}, Block{2, 1, 40, 33}})
            for (int depth : {IPL_DEPTH_8U, IPL_DEPTH_32F})
                for (int workers : {1, 2, 3, 7}) {
                    IplImage* im = cvCreateImage(cvSize(b.cols, b.rows), depth, 1);
                    matriximage::toImage(view, b.row0, b.col0, im, workers);
                    for (int r = 0; r < b.rows; ++r)
                        for (int c = 0; c < b.cols; ++c) {
                            const double e = mexargs::elementValue(a.get(), (b.row0 + r) + (b.col0 + c) * M);
                            ASSERT_EQ(pixel(im, r, c), expectedPixel(e, depth))
                                << mxGetClassName(a.get()) << " depth " << depth << " workers " << workers << " at "
                                << b.row0 + r << "," << b.col0 + c;
                        }
                    cvReleaseImage(&im);
                }
    }
}

TEST(MatrixImage, ImagesCopyBackIntoAnyStrideWithAnyWorkerCount) {
    const int H = 37, W = 71;  // 71 columns: two whole tiles and a part
    for (int depth : {int(IPL_DEPTH_8U), int(IPL_DEPTH_32F), int(IPL_DEPTH_16S)}) {
        IplImage* im = cvCreateImage(cvSize(W, H), depth, 1);
        for (int r = 0; r < H; ++r)
            for (int c = 0; c < W; ++c) cvSet2D(im, r, c, cvScalar((r * 31 + c * 17) % 251 + 0.25 * (depth != 8)));
        for (size_t stride : {size_t(H), size_t(H + 3)})
            for (int workers : {1, 2, 3, 7}) {
                std::vector<double> out(stride * W, -7.0);
                matriximage::toMatrix(im, out.data(), stride, workers);
                for (int c = 0; c < W; ++c)
                    for (size_t r = 0; r < stride; ++r) {
                        const double want = r < size_t(H) ? pixel(im, static_cast<int>(r), c) : -7.0;
                        ASSERT_EQ(out[r + c * stride], want) << depth << " stride " << stride << " workers " << workers;
                    }
            }
        cvReleaseImage(&im);
    }
}
