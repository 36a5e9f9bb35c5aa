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
#include "FileKind.h"
#include "Interrupt.h"
#include "LoadImage.h"
#include "MexArgs.h"
#include "MexVersion.h"
#include "Resources.h"
#include "mex.h"

#include <opencv2/core.hpp>
#include <opencv2/core/core_c.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <exception>
#include <functional>
#include <new>
#include <sys/stat.h>

using namespace gridcorners;

namespace {

// The arguments in call order, each with its name in messages and the
// mnemonic of its identifier; the first is refused under the name of the
// form it was given in.
enum Input { kSource, kMinDistance, kQuality, kLimitPerBlock, kAdaptive, kArgCount };
constexpr mexargs::ArgTable<kArgCount> kArgs{
    "gridcorners", "P = gridcorners(filename or image, minDistance, quality, limitPerBlock, adaptive)", 1,
    {mexargs::required("filename or image", "filename"), mexargs::required("minDistance", "minDistance"),
     mexargs::required("quality", "quality"), mexargs::required("limitPerBlock", "limit"),
     mexargs::required("adaptive", "adaptive")}};
static_assert(kArgs.wellFormed(), "gridcorners' argument table");
constexpr mexargs::Arg kFilename = kArgs[kSource].called("filename", "filename");
constexpr mexargs::Arg kImage = kArgs[kSource].called("image", "image");
constexpr mexargs::Arg kLimit = kArgs[kLimitPerBlock];

const int kNameBuffer = 1024;
// The detector turns the distance into an int grid cell and fails on huge
// values.  No two pixels of a block are 70 apart, so every distance from
// here up keeps one corner per block, as this one does.
const double kDistanceCap = 1.0e6;
// The point buffer is taken from the host before the image is loaded, when
// the image's size is not known yet: this much serves a 2048x2048 image with
// up to 62 corners per block.  A call that needs more loads the image a
// second time, after the buffer has been replaced.
const double kFirstBufferBytes = 8.0 * 1024.0 * 1024.0;
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
    if (mxGetNumberOfDimensions(a) != 2 || mxGetM(a) != 1 || mxGetN(a) < 1)
        mexargs::refuse(kFilename, a, " must be a non-empty character row vector");
    const size_t length = mxGetN(a);
    const mexargs::Arg tooLong = kFilename.as("filenameLength");
    if (length > static_cast<size_t>(kNameBuffer - 1))
        mexargs::failArg(tooLong, " may have at most %d characters, got %llu", kNameBuffer - 1,
                         static_cast<unsigned long long>(length));
    // Characters that encode to several bytes can still overflow the buffer.
    if (mxGetString(a, name, kNameBuffer) != 0)
        mexargs::failArg(tooLong, " does not fit in %d bytes once encoded", kNameBuffer - 1);
    if (std::strlen(name) < length) mexargs::failArg(kFilename, " contains a NUL character");
}

// A grey image matrix, small enough for an 8-bit image of the library.
void checkMatrix(const mxArray* a) {
    mexargs::requireImage2D(kImage, a);
    const double rows = static_cast<double>(mxGetM(a));
    const double paddedCols = std::ceil(static_cast<double>(mxGetN(a)) / 4.0) * 4.0;
    if (rows * paddedCols > kMaxImageBytes)
        mexargs::refuse(kImage, a, " may hold at most %.0f bytes as an 8-bit image (rows times columns rounded "
                                   "up to a multiple of 4)", kMaxImageBytes);
}

void readSource(const mxArray* a, Source& source) {
    if (mxIsChar(a)) {
        readName(a, source.name);
    } else if (mxIsNumeric(a) || mxIsLogical(a)) {
        checkMatrix(a);
        source.matrix = a;
    } else {
        mexargs::refuse(kArgs[kSource], a,
                        " must be a file name (a non-empty character row vector) or a grey image "
                        "(a 2-D real numeric or logical matrix)");
    }
}

Options readOptions(const mexargs::Inputs& args) {
    Options o;
    o.distance = mexargs::realScalar(kArgs[kMinDistance], kArgs[kMinDistance].of(args));
    if (!std::isfinite(o.distance) || o.distance < 0.0)
        mexargs::failArg(kArgs[kMinDistance], " must be a finite number >= 0, got %g", o.distance);
    if (o.distance > kDistanceCap) o.distance = kDistanceCap;

    o.quality = mexargs::realScalar(kArgs[kQuality], kArgs[kQuality].of(args));
    // The level is a fraction of the block's strongest response.  Above 1 no
    // pixel can pass, and in adaptive mode a huge level would be lowered by
    // 0.8 thousands of times in every block before reaching 0.005.
    if (!std::isfinite(o.quality) || !(o.quality > 0.0) || o.quality > 1.0)
        mexargs::failArg(kArgs[kQuality], " must be a number in (0, 1], got %g", o.quality);

    const double limit = mexargs::realScalar(kLimit, kLimit.of(args));
    // The detector takes a limit of 0 as "no limit", which the buffer cannot hold.
    if (!(limit >= 1.0) || !(limit < 2147483648.0))
        mexargs::failArg(kLimit, " must be from 1 to 2147483647 (truncated toward zero), got %g", limit);
    o.limit = static_cast<int>(limit);

    o.adaptive = adaptiveOn(mexargs::realScalar(kArgs[kAdaptive], kArgs[kAdaptive].of(args)));
    return o;
}

// Refuses a name that is not a readable regular file, before the loader runs.
void checkFile(const char* name) {
    const mexargs::Arg missing = kFilename.as("fileNotFound");
    struct stat info;
    if (stat(name, &info) != 0) mexargs::failArg(missing, ": there is no file '%s'", name);
    if (!filekind::isRegular(info.st_mode))
        mexargs::failArg(missing, ": '%s' is %s, not an image file", name,
                         filekind::isDirectory(info.st_mode) ? "a directory" : "not a regular file");
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

[[noreturn]] void failLoad(const char* name, const LoadFailure& why) {
    if (why.kind == LoadFailure::outOfMemory)
        mexargs::failArg(kFilename.as("outOfMemory"), ": there is not enough memory to decode '%s': %s", name,
                         why.message);
    mexargs::failArg(kFilename.as("imageRead"), ": '%s' cannot be read or decoded as an image", name);
}

[[noreturn]] void failTooLarge(int W, int H, const BlockGrid& grid, int limit, double bytes) {
    mexargs::fail("gridcorners:tooLarge",
                  "a %dx%d image (%d blocks) with limitPerBlock %d needs a %.0f-byte point buffer, more than "
                  "the %.0f bytes allowed; lower limitPerBlock (a block holds at most %d corners)",
                  H, W, grid.blocksX * grid.blocksY, limit, bytes, kMaxPointBufferBytes, kMaxCornersPerBlock);
}

// Loads the file with a point buffer from the host taken first, and a
// larger one (with the file loaded again) when the image needs more.
// Returns the image and sets buffer; raises with nothing alive.
IplImage* loadWithBuffer(const char* name, const Options& o, void*& buffer) {
    double have = kFirstBufferBytes;
    buffer = mxMalloc(static_cast<size_t>(have));
    LoadFailure why;
    IplImage* image = loadImage(name, CV_LOAD_IMAGE_GRAYSCALE, &why);
    if (!image) {
        mxFree(buffer);
        failLoad(name, why);
    }
    const int W = image->width;
    const int H = image->height;
    const BlockGrid grid = blockGrid(W, H);
    const double bytes = pointBufferBytes(grid, o.limit);
    if (bytes <= have) return image;
    resources::releaseImage(image);
    mxFree(buffer);
    if (bytes > kMaxPointBufferBytes) failTooLarge(W, H, grid, o.limit, bytes);
    buffer = mxMalloc(static_cast<size_t>(bytes));
    image = loadImage(name, CV_LOAD_IMAGE_GRAYSCALE, &why);
    if (!image || image->width != W || image->height != H) {
        const bool loaded = image != nullptr;
        resources::releaseImage(image);
        mxFree(buffer);
        if (!loaded) failLoad(name, why);
        mexargs::failArg(kFilename.as("imageRead"), ": '%s' changed while it was read", name);
    }
    return image;
}

}  // namespace

// MATLAB unwinds a failing host call without destructors, so every host
// call below happens while no image exists: the point buffer is taken before
// the image is loaded or converted, and the result is made after all images
// are released.  The block loop's workers call no host function.
void mexFunction(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]) {
    const mexargs::Inputs args = kArgs.parse(nlhs, nrhs, prhs);
    Source source;
    readSource(kArgs[kSource].of(args), source);
    const Options o = readOptions(args);

    IplImage* image = nullptr;
    void* buffer = nullptr;
    Pixels pixels;
    if (source.matrix) {
        const mxArray* a = source.matrix;
        const int H = static_cast<int>(mxGetM(a));
        const int W = static_cast<int>(mxGetN(a));
        const BlockGrid grid = blockGrid(W, H);
        const double bytes = pointBufferBytes(grid, o.limit);
        if (bytes > kMaxPointBufferBytes) failTooLarge(W, H, grid, o.limit, bytes);
        buffer = mxMalloc(static_cast<size_t>(bytes));
        if (mxIsUint8(a) || mxIsLogical(a)) {
            // The 8-bit conversion keeps these values as they are (true as
            // 1), so the workers cut the blocks from the matrix itself.
            static_assert(sizeof(mxLogical) == 1, "a logical element is one byte");
            pixels = matrixPixels(static_cast<const unsigned char*>(mxGetData(a)), H, W, mxIsLogical(a));
        } else {
            char failure[512] = "";
            bool noMemory = false;
            image = convertMatrix(a, failure, sizeof failure, &noMemory);
            if (!image) {
                mxFree(buffer);
                if (noMemory)
                    mexargs::fail("gridcorners:outOfMemory", "there is not enough memory for the %dx%d image: %s",
                                  H, W, failure);
                mexargs::fail("gridcorners:opencv", "the image library failed: %s", failure);
            }
            pixels = imagePixels(image);
        }
    } else {
        checkFile(source.name);
        image = loadWithBuffer(source.name, o, buffer);
        pixels = imagePixels(image);
    }

    const int W = pixels.width;
    const int H = pixels.height;
    const BlockGrid grid = blockGrid(W, H);
    const Slots slots = slotsIn(buffer, grid, o.limit);
    const DetectOptions options{o.distance, o.quality, o.limit, o.adaptive};
    const InterruptHook interrupt;
    const std::function<bool()>& shouldStop = interrupt.shouldStop();
    const BlockRun run = detectBlocks(pixels, options, machineWorkers(grid), slots, shouldStop);
    resources::releaseImage(image);
    if (run.status != RunStatus::done) {
        mxFree(buffer);
        if (run.status == RunStatus::stopped)
            mexargs::fail("gridcorners:interrupted", "interrupted in the blocks of a %dx%d image; nothing is returned",
                          H, W);
        if (run.status == RunStatus::outOfMemory)
            mexargs::fail("gridcorners:outOfMemory",
                          "there is not enough memory for the working images of the %dx%d image: %s", H, W,
                          run.message);
        mexargs::fail("gridcorners:opencv", "the image library failed: %s", run.message);
    }

    plhs[0] = mxCreateDoubleMatrix(2, static_cast<mwSize>(run.total), mxREAL);
    writeSlots(slots, mxGetPr(plhs[0]));
    mxFree(buffer);
}
