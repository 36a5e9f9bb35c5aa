// The tiled copies between matrices and images: any block, stride, class
// and worker count gives the per-element values.  Also built under
// ThreadSanitizer (bridge_tsan).
#include "MatrixImage.h"
#include "MexArgs.h"
#include "MexHost.h"
#include "Parallel.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>
#include <vector>

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
    // 137 x 71: blocks of 64 that end in parts both ways.
    const int H = 137, W = 71;
    struct Area {
        CvRect rect;  // width 0: no region
    };
    const Area areas[] = {{cvRect(0, 0, 0, 0)}, {cvRect(0, 0, 66, 130)}, {cvRect(5, 3, 64, 65)}};
    for (int depth : {int(IPL_DEPTH_8U), int(IPL_DEPTH_32F), int(IPL_DEPTH_16S)}) {
        IplImage* im = cvCreateImage(cvSize(W, H), depth, 1);
        for (int r = 0; r < H; ++r)
            for (int c = 0; c < W; ++c) cvSet2D(im, r, c, cvScalar((r * 31 + c * 17) % 251 + 0.25 * (depth != 8)));
        for (const Area& area : areas) {
            const CvRect a = area.rect.width ? area.rect : cvRect(0, 0, W, H);
            for (size_t stride : {size_t(a.height), size_t(a.height + 3)})
                for (int workers : {1, 2, 3, 7}) {
                    std::vector<double> out(stride * a.width, -7.0);
                    if (area.rect.width) cvSetImageROI(im, a);
                    matriximage::toMatrix(im, out.data(), stride, workers);
                    cvResetImageROI(im);
                    for (int c = 0; c < a.width; ++c)
                        for (size_t r = 0; r < stride; ++r) {
                            const double want =
                                r < size_t(a.height) ? pixel(im, a.y + static_cast<int>(r), a.x + c) : -7.0;
                            ASSERT_EQ(out[r + c * stride], want)
                                << depth << " region " << a.x << "," << a.y << " stride " << stride << " workers "
                                << workers;
                        }
                }
        }
        cvReleaseImage(&im);
    }
}

// Several images in one shared copy (a region, 8 bits, and a depth copied
// through cvGet2D), taken by one thread or by two through alongside: the
// matrices are those of toMatrix alone.
TEST(MatrixImage, SharedCopiesMatchSingleCopiesWhoeverTakesTheBlocks) {
    const int H = 90, W = 200;
    IplImage* wide = cvCreateImage(cvSize(W, H), IPL_DEPTH_32F, 1);
    IplImage* bytes = cvCreateImage(cvSize(W / 2, H), IPL_DEPTH_8U, 1);
    IplImage* odd = cvCreateImage(cvSize(W / 4, H / 2), IPL_DEPTH_16S, 1);
    for (IplImage* im : {wide, bytes, odd})
        for (int r = 0; r < im->height; ++r)
            for (int c = 0; c < im->width; ++c) cvSet2D(im, r, c, cvScalar((r * 13 + c * 7) % 199 + 0.5 * (im == wide)));
    cvSetImageROI(wide, cvRect(3, 1, W - 70, H - 4));
    const IplImage* images[3] = {wide, bytes, odd};
    std::vector<double> want[3], got[3];
    for (int k = 0; k < 3; ++k) {
        const CvSize size = cvGetSize(images[k]);
        want[k].assign(static_cast<size_t>(size.width) * size.height, -1.0);
        matriximage::toMatrix(images[k], want[k].data(), static_cast<size_t>(size.height), 1);
    }
    for (bool twoThreads : {false, true}) {
        matriximage::SharedCopy copy;
        for (int k = 0; k < 3; ++k) {
            got[k].assign(want[k].size(), -2.0);
            copy.add(images[k], got[k].data(), static_cast<size_t>(cvGetSize(images[k]).height));
        }
        if (twoThreads)
            parallel::alongside([&copy] { copy.work(); }, [&copy] { copy.work(); });
        else
            copy.work();
        for (int k = 0; k < 3; ++k) EXPECT_EQ(got[k], want[k]) << "image " << k << " two threads " << twoThreads;
    }
    for (IplImage* im : {wide, bytes, odd}) cvReleaseImage(&im);
}
