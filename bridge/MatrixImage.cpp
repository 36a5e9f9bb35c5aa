#include "MatrixImage.h"

#include "NanElement.h"
#include "Parallel.h"

#include <cstdint>
#include <cstdlib>

namespace matriximage {

namespace {

// Columns per tile of toImage: the matrix is column-major and the image
// row-major, so the copy walks a band of columns row by row, keeping every
// stream sequential in memory.
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
inline double value(double v) { return std::isnan(v) ? kNanElement : v; }
inline double value(float v) { return std::isnan(v) ? kNanElement : static_cast<double>(v); }
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

// Square blocks of a shared copy: a block's rows are read while they are in
// cache, and each of its columns is written as one run of the matrix.
const size_t kBlock = 64;

template <typename P>
void copyBlockColumns(const char* first, size_t step, size_t height, double* out, size_t stride, size_t j0,
                      size_t j1) {
    for (size_t i0 = 0; i0 < height; i0 += kBlock) {
        const size_t i1 = i0 + kBlock < height ? i0 + kBlock : height;
        for (size_t j = j0; j < j1; ++j) {
            double* column = out + j * stride;
            const char* at = first + j * sizeof(P);
            for (size_t i = i0; i < i1; ++i) column[i] = static_cast<double>(*reinterpret_cast<const P*>(at + i * step));
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
    SharedCopy copy;
    copy.add(image, out, stride);
    // cvGet2D may throw, which only the calling thread can pass on.
    if (copy.single()) workers = 1;
    parallel::forRanges(static_cast<size_t>(workers < 1 ? 1 : workers), workers,
                        [&copy](size_t, size_t) { copy.work(); });
}

void SharedCopy::add(const IplImage* image, double* out, size_t stride) {
    if (count_ == kMaxCopies) std::abort();  // a fixed table: more is a coding error
    const CvRect area = cvGetImageROI(image);
    Copy& c = copies_[count_++];
    c.image = image;
    c.width = static_cast<size_t>(area.width);
    c.height = static_cast<size_t>(area.height);
    c.out = out;
    c.stride = stride;
    c.direct = (image->roi == nullptr || image->roi->coi == 0) && image->nChannels == 1 &&
               (image->depth == IPL_DEPTH_32F || image->depth == IPL_DEPTH_8U);
    const size_t pixelBytes = image->depth == IPL_DEPTH_32F ? sizeof(float) : 1;
    c.step = static_cast<size_t>(image->widthStep);
    c.first = image->imageData + static_cast<size_t>(area.y) * c.step + static_cast<size_t>(area.x) * pixelBytes;
    c.firstBlock = blocks_;
    blocks_ += c.direct ? (c.width + kBlock - 1) / kBlock : 1;
}

void SharedCopy::work() {
    for (size_t b = next_.fetch_add(1); b < blocks_; b = next_.fetch_add(1)) {
        int k = count_ - 1;
        while (copies_[k].firstBlock > b) --k;
        const Copy& c = copies_[k];
        if (!c.direct) {
            for (size_t j = 0; j < c.width; ++j)
                for (size_t i = 0; i < c.height; ++i)
                    c.out[i + j * c.stride] = cvGet2D(c.image, static_cast<int>(i), static_cast<int>(j)).val[0];
            continue;
        }
        const size_t j0 = (b - c.firstBlock) * kBlock, j1 = j0 + kBlock < c.width ? j0 + kBlock : c.width;
        if (c.image->depth == IPL_DEPTH_32F)
            copyBlockColumns<float>(c.first, c.step, c.height, c.out, c.stride, j0, j1);
        else
            copyBlockColumns<unsigned char>(c.first, c.step, c.height, c.out, c.stride, j0, j1);
    }
}

}  // namespace matriximage
