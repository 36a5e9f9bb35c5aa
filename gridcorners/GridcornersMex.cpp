// gridcorners: Harris corners per 50x50 block of a grey-level image, read
// from a file or given as a matrix.
//
//   P = gridcorners(filename, minDistance, quality, limitPerBlock, adaptive)
//   P = gridcorners(image, minDistance, quality, limitPerBlock, adaptive)
//
// P is 2 x K: 1-based [x; y] of every corner, blocks in raster order, each
// block's corners strongest first.
#include "BlockDetection.h"
#include "BlockGrid.h"
#include "CMatlabToOpenCV.h"
#include "LoadImage.h"
#include "MexArgs.h"
#include "MexVersion.h"
#include "mex.h"

#include <opencv2/core.hpp>
#include <opencv2/core/core_c.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <exception>
#include <new>
#include <sys/stat.h>

using namespace gridcorners;

namespace {

const char* const kUsage = "P = gridcorners(filename or image, minDistance, quality, limitPerBlock, adaptive)";
const int kNameBuffer = 1024;
// The detector turns the distance into an int grid cell and fails on huge
// values.  No two pixels of a block are 70 apart, so every distance from
// here up keeps one corner per block, as this one does.
const double kDistanceCap = 1.0e6;
// An 8-bit image of the library holds at most this many bytes, its rows
// padded to a multiple of 4.
const double kMaxImageBytes = 2147483647.0;

struct Options {
    double distance;
    double quality;
    int limit;
    bool adaptive;
};

// Argument 1: a file name, or a grey image held in a matrix.
struct Source {
    const mxArray* matrix = nullptr;  // set for the matrix form
    char name[kNameBuffer] = "";      // set for the file form
};

// Copies the file name into name (kNameBuffer bytes), never cutting it.
void readName(const mxArray* a, char* name) {
    const char* id = "gridcorners:filename";
    char what[192];
    mexargs::describe(a, what, sizeof what);
    if (mxGetNumberOfDimensions(a) != 2 || mxGetM(a) != 1 || mxGetN(a) < 1)
        mexargs::fail(id, "argument 1 (filename) must be a non-empty character row vector, got %s", what);
    const size_t length = mxGetN(a);
    if (length > static_cast<size_t>(kNameBuffer - 1))
        mexargs::fail("gridcorners:filenameLength",
                      "argument 1 (filename) may have at most %d characters, got %llu", kNameBuffer - 1,
                      static_cast<unsigned long long>(length));
    // Characters that encode to several bytes can still overflow the buffer.
    if (mxGetString(a, name, kNameBuffer) != 0)
        mexargs::fail("gridcorners:filenameLength",
                      "argument 1 (filename) does not fit in %d bytes once encoded", kNameBuffer - 1);
    if (std::strlen(name) < length)
        mexargs::fail(id, "argument 1 (filename) contains a NUL character");
}

// A grey image matrix: real numeric or logical, 2-D, not empty, and small
// enough for an image of the library.
void checkMatrix(const mxArray* a) {
    const char* id = "gridcorners:image";
    char what[192];
    mexargs::describe(a, what, sizeof what);
    if (!mexargs::isRealNumeric(a))
        mexargs::fail(id, "argument 1 (image) must be a real numeric or logical matrix, got %s", what);
    if (mxGetNumberOfDimensions(a) > 2)
        mexargs::fail(id, "argument 1 (image) must be a 2-D grey-level matrix, got %s; "
                          "convert a colour image to grey first", what);
    if (mxIsEmpty(a)) mexargs::fail(id, "argument 1 (image) must not be empty, got %s", what);
    const double rows = static_cast<double>(mxGetM(a));
    const double paddedCols = std::ceil(static_cast<double>(mxGetN(a)) / 4.0) * 4.0;
    if (rows * paddedCols > kMaxImageBytes)
        mexargs::fail(id, "argument 1 (image) is %s; an 8-bit image holds at most %.0f bytes (rows times columns "
                          "rounded up to a multiple of 4)", what, kMaxImageBytes);
}

void readSource(const mxArray* a, Source& source) {
    if (mxIsChar(a)) {
        readName(a, source.name);
    } else if (mxIsNumeric(a) || mxIsLogical(a)) {
        checkMatrix(a);
        source.matrix = a;
    } else {
        char what[192];
        mexargs::describe(a, what, sizeof what);
        mexargs::fail("gridcorners:filename",
                      "argument 1 must be a file name (a non-empty character row vector) or a grey image "
                      "(a 2-D real numeric or logical matrix), got %s", what);
    }
}

Options readOptions(const mxArray* const prhs[]) {
    Options o;
    o.distance = mexargs::realScalar(prhs[1], "gridcorners:minDistance", 2, "minDistance");
    if (!std::isfinite(o.distance) || o.distance < 0.0)
        mexargs::fail("gridcorners:minDistance",
                      "argument 2 (minDistance) must be a finite number >= 0, got %g", o.distance);
    if (o.distance > kDistanceCap) o.distance = kDistanceCap;

    o.quality = mexargs::realScalar(prhs[2], "gridcorners:quality", 3, "quality");
    // The level is a fraction of the block's strongest response.  Above 1 no
    // pixel can pass, and in adaptive mode a huge level would be lowered by
    // 0.8 thousands of times in every block before reaching 0.005.
    if (!std::isfinite(o.quality) || !(o.quality > 0.0) || o.quality > 1.0)
        mexargs::fail("gridcorners:quality", "argument 3 (quality) must be a number in (0, 1], got %g",
                      o.quality);

    const double limit = mexargs::realScalar(prhs[3], "gridcorners:limit", 4, "limitPerBlock");
    // The detector takes a limit of 0 as "no limit", which the buffer cannot hold.
    if (!(limit >= 1.0) || !(limit < 2147483648.0))
        mexargs::fail("gridcorners:limit",
                      "argument 4 (limitPerBlock) must be from 1 to 2147483647 (truncated toward zero), got %g",
                      limit);
    o.limit = static_cast<int>(limit);

    o.adaptive = adaptiveOn(mexargs::realScalar(prhs[4], "gridcorners:adaptive", 5, "adaptive"));
    return o;
}

// Refuses a name that is not a readable regular file, before the loader runs.
void checkFile(const char* name) {
    struct stat info;
    if (stat(name, &info) != 0)
        mexargs::fail("gridcorners:fileNotFound", "argument 1 (filename): there is no file '%s'", name);
    if (!S_ISREG(info.st_mode))
        mexargs::fail("gridcorners:fileNotFound", "argument 1 (filename): '%s' is %s, not an image file", name,
                      S_ISDIR(info.st_mode) ? "a directory" : "not a regular file");
}

// The point buffer's size for a W x H image, refused above the bound; image
// (null in the matrix form, where nothing is made yet) is released first.
double bufferBytes(int W, int H, const Options& o, IplImage*& image) {
    const BlockGrid grid = blockGrid(W, H);
    const double bytes = pointBufferBytes(grid, o.limit);
    if (bytes > kMaxPointBufferBytes) {
        if (image) cvReleaseImage(&image);
        mexargs::fail("gridcorners:bufferSize",
                      "a %dx%d image (%d blocks) with limitPerBlock %d needs a %.0f-byte point buffer, more than "
                      "the %.0f bytes allowed; lower limitPerBlock (a block holds at most %d corners)",
                      W, H, grid.blocksX * grid.blocksY, o.limit, bytes, kMaxPointBufferBytes, kMaxCornersPerBlock);
    }
    return bytes;
}

// The exception's text without the trailing line break OpenCV puts there.
void copyMessage(const char* text, char* buf, size_t size) {
    std::snprintf(buf, size, "%s", text);
    size_t n = std::strlen(buf);
    while (n > 0 && (buf[n - 1] == '\n' || buf[n - 1] == ' ')) buf[--n] = '\0';
    if (n == 0) std::snprintf(buf, size, "unknown error");
}

// The 8-bit image of a matrix, as tmatch converts its inputs; null with
// the reason in failure when it cannot be made.
IplImage* convertMatrix(const mxArray* a, char* failure, size_t size, bool* noMemory) {
    try {
        return CMatlabToOpenCV::convert_copy(a);
    } catch (const cv::Exception& e) {
        *noMemory = e.code == cv::Error::StsNoMem;
        copyMessage(e.what(), failure, size);
    } catch (const std::bad_alloc&) {
        *noMemory = true;
        copyMessage("std::bad_alloc", failure, size);
    } catch (const std::exception& e) {
        copyMessage(e.what(), failure, size);
    }
    return nullptr;
}

}  // namespace

void mexFunction(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]) {
    mexargs::checkCounts("gridcorners", nrhs, 5, nlhs, 1, kUsage);
    if (nrhs > 5)
        mexargs::fail("gridcorners:nargin", "gridcorners takes 5 input arguments, got %d. Usage: %s", nrhs,
                      kUsage);
    Source source;
    readSource(prhs[0], source);
    const Options o = readOptions(prhs);

    IplImage* image = nullptr;
    void* buffer = nullptr;
    Pixels pixels;
    char failure[512] = "";
    if (source.matrix) {
        // The size is known before anything is made, so the host buffer
        // comes first and a failing conversion leaves only host memory.
        const mxArray* a = source.matrix;
        const int H = static_cast<int>(mxGetM(a));
        const int W = static_cast<int>(mxGetN(a));
        buffer = mxMalloc(static_cast<size_t>(bufferBytes(W, H, o, image)));
        if (mxIsUint8(a) || mxIsLogical(a)) {
            // The 8-bit conversion keeps these values as they are (true as
            // 1), so the workers cut the blocks from the matrix itself.
            static_assert(sizeof(mxLogical) == 1, "a logical element is one byte");
            pixels = matrixPixels(static_cast<const unsigned char*>(mxGetData(a)), H, W, mxIsLogical(a));
        } else {
            bool noMemory = false;
            image = convertMatrix(a, failure, sizeof failure, &noMemory);
            if (!image) {
                mxFree(buffer);
                if (noMemory)
                    mexargs::fail("gridcorners:outOfMemory", "there is not enough memory for the %dx%d image: %s",
                                  W, H, failure);
                mexargs::fail("gridcorners:opencv", "the image library failed: %s", failure);
            }
            pixels = imagePixels(image);
        }
    } else {
        checkFile(source.name);
        LoadFailure why;
        image = loadImage(source.name, CV_LOAD_IMAGE_GRAYSCALE, &why);
        if (!image && why.kind == LoadFailure::outOfMemory)
            mexargs::fail("gridcorners:outOfMemory",
                          "argument 1 (filename): there is not enough memory to decode '%s': %s", source.name,
                          why.message);
        if (!image)
            mexargs::fail("gridcorners:imageRead",
                          "argument 1 (filename): '%s' cannot be read or decoded as an image", source.name);
        // The size is known only now; if the host cannot give the buffer,
        // its error leaves the decoded image behind.
        buffer = mxMalloc(static_cast<size_t>(bufferBytes(image->width, image->height, o, image)));
        pixels = imagePixels(image);
    }

    const int W = pixels.width;
    const int H = pixels.height;
    const BlockGrid grid = blockGrid(W, H);
    const Slots slots = slotsIn(buffer, grid, o.limit);
    const DetectOptions options{o.distance, o.quality, o.limit, o.adaptive};
    const BlockRun run = detectBlocks(pixels, options, machineWorkers(grid), slots);
    if (image) cvReleaseImage(&image);
    if (run.status != RunStatus::done) {
        mxFree(buffer);
        if (run.status == RunStatus::outOfMemory)
            mexargs::fail("gridcorners:outOfMemory",
                          "there is not enough memory for the working images of the %dx%d image: %s", W, H,
                          run.message);
        mexargs::fail("gridcorners:opencv", "the image library failed: %s", run.message);
    }

    // Only host memory is alive here, so a failing allocation leaks nothing.
    plhs[0] = mxCreateDoubleMatrix(2, static_cast<mwSize>(run.total), mxREAL);
    writeSlots(slots, mxGetPr(plhs[0]));
    mxFree(buffer);
}
