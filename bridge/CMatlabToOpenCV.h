// Conversions between real double host matrices and one-channel IplImages.
// A matrix of M rows and N columns is an image N wide and M high; element
// (r, c) is pixel row r, column c.  Nothing is transposed.
#ifndef REGMEX_BRIDGE_CMATLABTOOPENCV_H
#define REGMEX_BRIDGE_CMATLABTOOPENCV_H

#include "mex.h"

#include <opencv2/core/core_c.h>

#include <cstddef>

class CMatlabToOpenCV {
public:
    CMatlabToOpenCV() {}
    ~CMatlabToOpenCV() {}

    // The matrix may be of any real numeric or logical class; its values are
    // read as doubles.  Large matrices are copied on all cores.  The images
    // are made and counted by the bridge (Resources.h); they throw
    // cv::Exception when the library fails.
    // New 8-bit image: values rounded to nearest (halves to even) and
    // saturated to 0..255 over the whole range (+Inf gives 255, -Inf 0), NaN as 0.
    static IplImage* convert_copy(const mxArray* a);
    static IplImage* convert_copy_DblTo8U(const mxArray* a);
    // New 8-bit image of the rectangle only (x the first column, y the first
    // row, counted from 0), with the pixels convert_copy gives there.  The
    // caller keeps the rectangle inside the matrix.
    static IplImage* convert_copy_region(const mxArray* a, CvRect rect);
    // New 32-bit float image: values narrowed to float, NaN as 0.1f.
    static IplImage* convert_copy_DblTo32F(const mxArray* a);
    // The same of the first rows x cols elements at r + c*stride (stride
    // at least rows; the first page of a 3-D array when stride is its row
    // count).  The caller keeps them inside the array.
    static IplImage* convert_copy_DblTo32F(const mxArray* a, int rows, int cols, size_t stride);
    // Also a 32-bit float image, the same as convert_copy_DblTo32F.
    static IplImage* convert_copy_DblTo64F(const mxArray* a);
    // Copies the whole image (first channel) into an existing matrix, whose
    // row count is the stride.  Large images are copied on all cores.
    static void ipl_to_matlab(const IplImage* image, mxArray* out);
    // Header and pixels from mxMalloc; rows padded to the next multiple of 4
    // pixels strictly above width.  Release with release_mx_iplimage.
    static IplImage* create_iplimage(int height, int width, int depth);
    static void release_mx_iplimage(IplImage* image);
    // Releases an image made by the conversions (or resources::createImage);
    // the caller's pointer must not be used again.
    static void release_iplimage(IplImage* image);
    // Divides every pixel in place.  8-bit pixels are truncated toward zero
    // and saturated to 0..255 (NaN gives 0).
    static void DivS(IplImage* image, float divisor);
};

#endif
