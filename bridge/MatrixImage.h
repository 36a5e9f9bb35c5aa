// The tiled copies between host matrices and one-channel IplImages behind
// CMatlabToOpenCV, over plain views so that they can run on worker threads.
// A matrix of M rows and N columns is an image N wide and M high; element
// (r, c) sits at r + c*stride of the data.  Nothing is transposed.
#ifndef REGMEX_BRIDGE_MATRIXIMAGE_H
#define REGMEX_BRIDGE_MATRIXIMAGE_H

#include "mex.h"

#include <opencv2/core/core_c.h>

#include <atomic>
#include <cmath>
#include <cstddef>

namespace matriximage {

// Data, class and stride of a real numeric or logical matrix, taken on the
// calling thread; the copies below read it without host calls.
struct MatrixView {
    const void* data;
    mxClassID cls;
    size_t stride;  // elements from one column to the next
};

// The array's own data and class; the stride is the caller's (usually the
// row count: then the first page of a 3-D array is the matrix).
MatrixView viewOf(const mxArray* a, size_t stride);

// The rule of every conversion to 8 bits: rounded to nearest (halves to
// even, as the image library's own conversion rounds) and saturated, so
// everything above 255 including +Inf gives 255, everything below 0
// including -Inf gives 0, and NaN gives 0.
inline unsigned char saturateToByte(double v) {
    if (!(v > 0.0)) return 0;
    if (v >= 255.0) return 255;
    return static_cast<unsigned char>(std::nearbyint(v));
}

// Image pixel (i, j) = element (row0 + i, col0 + j) for every pixel of an
// 8-bit or 32-bit float image (its region of interest ignored), NaN read as
// 0.1; 8-bit pixels follow saturateToByte, float ones the nearest float.
// The caller keeps the block inside the matrix.  workers: how many threads share the rows.
void toImage(const MatrixView& m, size_t row0, size_t col0, IplImage* image, int workers);

// Element (i, j) at out[i + j*stride] = pixel (i, j) of the image's region
// (the whole image when it has none).  8-bit and float images without a
// channel of interest are copied directly in blocks of columns, others
// through cvGet2D as one block.
void toMatrix(const IplImage* image, double* out, size_t stride, int workers);

// Copies of up to four images into matrices, each as toMatrix does it, cut
// into blocks that any number of threads take in turn through work().  Each
// block is copied once, by whichever thread takes it, so the matrices cannot
// depend on which threads ran.  add() every copy before the first work();
// work() makes no host call.
class SharedCopy {
public:
    static const int kMaxCopies = 4;

    void add(const IplImage* image, double* out, size_t stride);
    // Copies blocks until none is left to take.
    void work();
    // True when everything added is one block (a copy through cvGet2D).
    bool single() const { return blocks_ <= 1; }

private:
    struct Copy {
        const IplImage* image;
        const char* first;  // pixel (0, 0) of the region
        size_t step, width, height;
        double* out;
        size_t stride;
        bool direct;
        size_t firstBlock;
    };
    Copy copies_[kMaxCopies] = {};
    int count_ = 0;
    size_t blocks_ = 0;
    std::atomic<size_t> next_{0};
};

// The workers worth using for an image of that many pixels.
int workersForPixels(size_t pixels);

}  // namespace matriximage

#endif
