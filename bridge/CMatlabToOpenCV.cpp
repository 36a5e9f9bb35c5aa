#include "CMatlabToOpenCV.h"

#include "CMexAndCpp.h"
#include "MexArgs.h"
#include "Resources.h"

#include <opencv2/core/saturate.hpp>

#include <cmath>
#include <cstring>

namespace {

// Columns per tile of the matrix <-> image copies: the matrix is column-major
// and the image row-major, so both loops walk a band of columns row by row,
// keeping every stream sequential in memory.
const int kTile = 32;

// Fills a new one-channel image from a matrix.  The pixel values are what
// cvSet2D stores for the element (NaN read as 0.1): saturate_cast is the
// conversion cvSet2D itself applies, so the pixels are identical.  Other real
// numeric classes are read by value, as their doubles would be, without a
// double copy of a possibly large image.
IplImage* fromMatrix(const mxArray* a, int depth) {
    const int M = static_cast<int>(mxGetM(a));
    const int N = static_cast<int>(mxGetN(a));
    IplImage* image = resources::createImage(cvSize(N, M), depth, 1);
    const double* p = mxIsDouble(a) ? mxGetPr(a) : nullptr;
    for (int c0 = 0; c0 < N; c0 += kTile) {
        const int c1 = c0 + kTile < N ? c0 + kTile : N;
        for (int r = 0; r < M; ++r) {
            char* row = image->imageData + static_cast<size_t>(r) * static_cast<size_t>(image->widthStep);
            for (int c = c0; c < c1; ++c) {
                const size_t at = static_cast<size_t>(r) + static_cast<size_t>(c) * static_cast<size_t>(M);
                double v = p ? p[at] : mexargs::elementValue(a, at);
                if (std::isnan(v)) v = 0.1;
                if (depth == IPL_DEPTH_8U)
                    reinterpret_cast<unsigned char*>(row)[c] = cv::saturate_cast<unsigned char>(v);
                else
                    reinterpret_cast<float*>(row)[c] = static_cast<float>(v);
            }
        }
    }
    return image;
}

}  // namespace

IplImage* CMatlabToOpenCV::convert_copy(const mxArray* a) { return fromMatrix(a, IPL_DEPTH_8U); }

IplImage* CMatlabToOpenCV::convert_copy_DblTo8U(const mxArray* a) { return fromMatrix(a, IPL_DEPTH_8U); }

IplImage* CMatlabToOpenCV::convert_copy_DblTo32F(const mxArray* a) { return fromMatrix(a, IPL_DEPTH_32F); }

IplImage* CMatlabToOpenCV::convert_copy_DblTo64F(const mxArray* a) { return fromMatrix(a, IPL_DEPTH_32F); }

void CMatlabToOpenCV::ipl_to_matlab(const IplImage* image, mxArray* out) {
    const int H = image->height;
    const int W = image->width;
    const int M = static_cast<int>(mxGetM(out));
    const bool direct = image->roi == nullptr && image->nChannels == 1 &&
                        (image->depth == IPL_DEPTH_32F || image->depth == IPL_DEPTH_8U);
    double* o = mxGetPr(out);
    for (int j0 = 0; j0 < W; j0 += kTile) {
        const int j1 = j0 + kTile < W ? j0 + kTile : W;
        for (int i = 0; i < H; ++i) {
            const char* row = image->imageData + static_cast<size_t>(i) * static_cast<size_t>(image->widthStep);
            for (int j = j0; j < j1; ++j) {
                double v;
                if (!direct)
                    v = cvGet2D(image, i, j).val[0];
                else if (image->depth == IPL_DEPTH_32F)
                    v = reinterpret_cast<const float*>(row)[j];
                else
                    v = reinterpret_cast<const unsigned char*>(row)[j];
                o[static_cast<size_t>(i) + static_cast<size_t>(j) * static_cast<size_t>(M)] = v;
            }
        }
    }
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
