#include "MatrixImage.h"

#include "Parallel.h"

#include <cstdint>

namespace matriximage {

namespace {

// Columns per tile: the matrix is column-major and the image row-major, so
// both copies walk a band of columns row by row, keeping every stream
// sequential in memory.
const int kTile = 32;
// Below this many pixels per worker a thread costs more than it saves.
const size_t kMinPixelsPerWorker = size_t(1) << 17;

// A logical element, whatever type the host stores it in.
struct Logical {
    mxLogical v;
};

// An element by value as a double, NaN as 0.1.
template <typename T>
inline double value(T v) { return static_cast<double>(v); }
inline double value(double v) { return std::isnan(v) ? 0.1 : v; }
inline double value(float v) { return std::isnan(v) ? 0.1 : static_cast<double>(v); }
inline double value(Logical v) { return v.v ? 1.0 : 0.0; }

template <typename T>
void fillRows(const T* data, size_t stride, size_t row0, size_t col0, IplImage* image, size_t rBegin,
              size_t rEnd) {
    const bool byte = image->depth == IPL_DEPTH_8U;
    const size_t W = static_cast<size_t>(image->width);
    const size_t step = static_cast<size_t>(image->widthStep);
    for (size_t c0 = 0; c0 < W; c0 += kTile) {
        const size_t c1 = c0 + kTile < W ? c0 + kTile : W;
        for (size_t r = rBegin; r < rEnd; ++r) {
            char* row = image->imageData + r * step;
            const T* s = data + (row0 + r) + (col0 + c0) * stride;
            if (byte) {
                unsigned char* o = reinterpret_cast<unsigned char*>(row);
                for (size_t c = c0; c < c1; ++c, s += stride) o[c] = saturateToByte(value(*s));
            } else {
                float* o = reinterpret_cast<float*>(row);
                for (size_t c = c0; c < c1; ++c, s += stride) o[c] = static_cast<float>(value(*s));
            }
        }
    }
}

template <typename T>
void fill(const MatrixView& m, size_t row0, size_t col0, IplImage* image, int workers) {
    const T* data = static_cast<const T*>(m.data);
    parallel::forRanges(static_cast<size_t>(image->height), workers, [&](size_t begin, size_t end) {
        fillRows(data, m.stride, row0, col0, image, begin, end);
    });
}

template <typename P>
void copyColumns(const IplImage* image, double* out, size_t stride, size_t jBegin, size_t jEnd) {
    const size_t H = static_cast<size_t>(image->height);
    const size_t step = static_cast<size_t>(image->widthStep);
    for (size_t j0 = jBegin; j0 < jEnd; j0 += kTile) {
        const size_t j1 = j0 + kTile < jEnd ? j0 + kTile : jEnd;
        for (size_t i = 0; i < H; ++i) {
            const P* row = reinterpret_cast<const P*>(image->imageData + i * step);
            for (size_t j = j0; j < j1; ++j) out[i + j * stride] = static_cast<double>(row[j]);
        }
    }
}

}  // namespace

MatrixView viewOf(const mxArray* a, size_t stride) { return MatrixView{mxGetData(a), mxGetClassID(a), stride}; }

int workersForPixels(size_t pixels) { return parallel::workersFor(pixels, kMinPixelsPerWorker); }

void toImage(const MatrixView& m, size_t row0, size_t col0, IplImage* image, int workers) {
    static_assert(sizeof(Logical) == sizeof(mxLogical), "logical elements are read in place");
    switch (m.cls) {
    case mxDOUBLE_CLASS: fill<double>(m, row0, col0, image, workers); break;
    case mxSINGLE_CLASS: fill<float>(m, row0, col0, image, workers); break;
    case mxINT8_CLASS: fill<int8_t>(m, row0, col0, image, workers); break;
    case mxUINT8_CLASS: fill<uint8_t>(m, row0, col0, image, workers); break;
    case mxINT16_CLASS: fill<int16_t>(m, row0, col0, image, workers); break;
    case mxUINT16_CLASS: fill<uint16_t>(m, row0, col0, image, workers); break;
    case mxINT32_CLASS: fill<int32_t>(m, row0, col0, image, workers); break;
    case mxUINT32_CLASS: fill<uint32_t>(m, row0, col0, image, workers); break;
    case mxINT64_CLASS: fill<int64_t>(m, row0, col0, image, workers); break;
    case mxUINT64_CLASS: fill<uint64_t>(m, row0, col0, image, workers); break;
    case mxLOGICAL_CLASS: fill<Logical>(m, row0, col0, image, workers); break;
    default: cvSetZero(image); break;
    }
}

void toMatrix(const IplImage* image, double* out, size_t stride, int workers) {
    const size_t W = static_cast<size_t>(image->width);
    const bool direct = image->roi == nullptr && image->nChannels == 1 &&
                        (image->depth == IPL_DEPTH_32F || image->depth == IPL_DEPTH_8U);
    if (!direct) {
        for (size_t j = 0; j < W; ++j)
            for (int i = 0; i < image->height; ++i)
                out[static_cast<size_t>(i) + j * stride] = cvGet2D(image, i, static_cast<int>(j)).val[0];
        return;
    }
    // Whole tiles per worker, so no two workers write into one tile.
    const size_t tiles = (W + kTile - 1) / kTile;
    parallel::forRanges(tiles, workers, [&](size_t begin, size_t end) {
        const size_t jBegin = begin * kTile, jEnd = end * kTile < W ? end * kTile : W;
        if (image->depth == IPL_DEPTH_32F)
            copyColumns<float>(image, out, stride, jBegin, jEnd);
        else
            copyColumns<unsigned char>(image, out, stride, jBegin, jEnd);
    });
}

}  // namespace matriximage
