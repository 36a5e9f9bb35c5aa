#include "CMatlabToOpenCV.h"

#include "MatrixImage.h"
#include "Resources.h"

#include <cstring>

namespace {

// A new one-channel image of a rows x cols block of a matrix whose columns
// are stride elements apart.  Any real numeric or logical class is read by
// value, NaN as 0.1; 8-bit pixels are rounded and saturated
// (matriximage::saturateToByte), float ones take the nearest float.
IplImage* fromMatrix(const mxArray* a, size_t row0, size_t col0, int rows, int cols, size_t stride, int depth) {
    IplImage* image = resources::createImage(cvSize(cols, rows), depth, 1);
    matriximage::toImage(matriximage::viewOf(a, stride), row0, col0, image,
                         matriximage::workersForPixels(static_cast<size_t>(rows) * static_cast<size_t>(cols)));
    return image;
}

IplImage* fromMatrix(const mxArray* a, int depth) {
    return fromMatrix(a, 0, 0, static_cast<int>(mxGetM(a)), static_cast<int>(mxGetN(a)), mxGetM(a), depth);
}

}  // namespace

IplImage* CMatlabToOpenCV::convert_copy(const mxArray* a) { return fromMatrix(a, IPL_DEPTH_8U); }

IplImage* CMatlabToOpenCV::convert_copy_DblTo8U(const mxArray* a) { return fromMatrix(a, IPL_DEPTH_8U); }

IplImage* CMatlabToOpenCV::convert_copy_DblTo32F(const mxArray* a) { return fromMatrix(a, IPL_DEPTH_32F); }

IplImage* CMatlabToOpenCV::convert_copy_DblTo64F(const mxArray* a) { return fromMatrix(a, IPL_DEPTH_32F); }

IplImage* CMatlabToOpenCV::convert_copy_region(const mxArray* a, CvRect rect) {
    return fromMatrix(a, static_cast<size_t>(rect.y), static_cast<size_t>(rect.x), rect.height, rect.width, mxGetM(a),
                      IPL_DEPTH_8U);
}

IplImage* CMatlabToOpenCV::convert_copy_DblTo32F(const mxArray* a, int rows, int cols, size_t stride) {
    return fromMatrix(a, 0, 0, rows, cols, stride, IPL_DEPTH_32F);
}

void CMatlabToOpenCV::ipl_to_matlab(const IplImage* image, mxArray* out) {
    matriximage::toMatrix(image, mxGetPr(out), mxGetM(out),
                          matriximage::workersForPixels(static_cast<size_t>(image->width) *
                                                        static_cast<size_t>(image->height)));
}

IplImage* CMatlabToOpenCV::create_iplimage(int height, int width, int depth) {
    auto* image = static_cast<IplImage*>(mxMalloc(sizeof(IplImage)));
    std::memset(image, 0, sizeof(IplImage));
    image->nSize = sizeof(IplImage);
    image->ID = 0;
    image->nChannels = 1;
    image->depth = depth;
    image->dataOrder = 0;
    image->origin = 0;
    image->width = width;
    image->height = height;
    image->roi = nullptr;
    image->maskROI = nullptr;
    image->imageId = nullptr;
    image->tileInfo = nullptr;
    image->widthStep = (width - (width % 4) + 4) * (depth / 8);
    image->imageSize = height * image->widthStep;
    image->imageData = static_cast<char*>(mxMalloc(static_cast<size_t>(image->imageSize)));
    image->imageDataOrigin = image->imageData;
    return image;
}

void CMatlabToOpenCV::release_mx_iplimage(IplImage* image) {
    if (!image) return;
    mxFree(image->imageDataOrigin);
    mxFree(image);
}

void CMatlabToOpenCV::release_iplimage(IplImage* image) { resources::releaseImage(image); }

void CMatlabToOpenCV::DivS(IplImage* image, float divisor) {
    for (int i = 0; i < image->height; ++i) {
        char* row = image->imageData + static_cast<size_t>(i) * static_cast<size_t>(image->widthStep);
        for (int j = 0; j < image->width; ++j) {
            if (image->depth == IPL_DEPTH_8U) {
                unsigned char& px = reinterpret_cast<unsigned char*>(row)[j];
                const float q = static_cast<float>(px) / divisor;
                // Truncate toward zero, then saturate; NaN gives 0.
                if (!(q > 0.0f))
                    px = 0;
                else if (q >= 255.0f)
                    px = 255;
                else
                    px = static_cast<unsigned char>(q);
            } else {
                float& px = reinterpret_cast<float*>(row)[j];
                px = px / divisor;
            }
        }
    }
}
