// gridcorners: Harris corners per 50x50 block of a grey-level image file.
//
//   P = gridcorners(filename, minDistance, quality, limitPerBlock, adaptive)
//
// P is 2 x K: 1-based [x; y] of every corner, blocks in raster order, each
// block's corners strongest first.
#include "BlockGrid.h"
#include "LoadImage.h"
#include "MexArgs.h"
#include "MexVersion.h"
#include "Resources.h"
#include "mex.h"

#include <opencv2/core/core_c.h>
#include <opencv2/imgproc/imgproc_c.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <exception>
#include <sys/stat.h>

using namespace gridcorners;

namespace {

const char* const kUsage = "P = gridcorners(filename, minDistance, quality, limitPerBlock, adaptive)";

constexpr mexargs::Arg kFilename{0, "filename", "gridcorners:filename"};
constexpr mexargs::Arg kMinDistance{1, "minDistance", "gridcorners:minDistance"};
constexpr mexargs::Arg kQuality{2, "quality", "gridcorners:quality"};
constexpr mexargs::Arg kLimit{3, "limitPerBlock", "gridcorners:limit"};
constexpr mexargs::Arg kAdaptive{4, "adaptive", "gridcorners:adaptive"};
constexpr int kArgCount = 5;

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

struct Options {
    double distance;
    double quality;
    int limit;
    bool adaptive;
};

// Copies the file name into name (kNameBuffer bytes), never cutting it.
void readName(const mxArray* a, char* name) {
    if (!mxIsChar(a) || mxGetNumberOfDimensions(a) != 2 || mxGetM(a) != 1 || mxGetN(a) < 1)
        mexargs::refuse(kFilename, a, " must be a non-empty character row vector");
    const size_t length = mxGetN(a);
    const mexargs::Arg tooLong = kFilename.as("gridcorners:filenameLength");
    if (length > static_cast<size_t>(kNameBuffer - 1))
        mexargs::failArg(tooLong, " may have at most %d characters, got %llu", kNameBuffer - 1,
                         static_cast<unsigned long long>(length));
    // Characters that encode to several bytes can still overflow the buffer.
    if (mxGetString(a, name, kNameBuffer) != 0)
        mexargs::failArg(tooLong, " does not fit in %d bytes once encoded", kNameBuffer - 1);
    if (std::strlen(name) < length) mexargs::failArg(kFilename, " contains a NUL character");
}

Options readOptions(const mxArray* const prhs[]) {
    Options o;
    o.distance = mexargs::realScalar(kMinDistance, kMinDistance.of(prhs));
    if (!std::isfinite(o.distance) || o.distance < 0.0)
        mexargs::failArg(kMinDistance, " must be a finite number >= 0, got %g", o.distance);
    if (o.distance > kDistanceCap) o.distance = kDistanceCap;

    o.quality = mexargs::realScalar(kQuality, kQuality.of(prhs));
    // The level is a fraction of the block's strongest response.  Above 1 no
    // pixel can pass, and in adaptive mode a huge level would be lowered by
    // 0.8 thousands of times in every block before reaching 0.005.
    if (!std::isfinite(o.quality) || !(o.quality > 0.0) || o.quality > 1.0)
        mexargs::failArg(kQuality, " must be a number in (0, 1], got %g", o.quality);

    const double limit = mexargs::realScalar(kLimit, kLimit.of(prhs));
    // The detector takes a limit of 0 as "no limit", which the buffer cannot hold.
    if (!(limit >= 1.0) || !(limit < 2147483648.0))
        mexargs::failArg(kLimit, " must be from 1 to 2147483647 (truncated toward zero), got %g", limit);
    o.limit = static_cast<int>(limit);

    o.adaptive = adaptiveOn(mexargs::realScalar(kAdaptive, kAdaptive.of(prhs)));
    return o;
}

// Refuses a name that is not a readable regular file, before the loader runs.
void checkFile(const char* name) {
    const mexargs::Arg missing = kFilename.as("gridcorners:fileNotFound");
    struct stat info;
    if (stat(name, &info) != 0) mexargs::failArg(missing, ": there is no file '%s'", name);
    if (!S_ISREG(info.st_mode))
        mexargs::failArg(missing, ": '%s' is %s, not an image file", name,
                         S_ISDIR(info.st_mode) ? "a directory" : "not a regular file");
}

// Every block in raster order; returns the number of points stored.  Only
// library calls happen here, so the caller may catch what they throw.
int detectBlocks(IplImage* image, IplImage* eig, IplImage* temp, CvPoint2D32f* points, const BlockGrid& grid,
                 const Options& o) {
    int total = 0;
    for (int i = 0; i < grid.blocksY; ++i) {
        for (int j = 0; j < grid.blocksX; ++j) {
            const CvRect rect = blockRect(i, j, image->width, image->height);
            cvSetImageROI(image, rect);
            cvSetImageROI(eig, rect);
            cvSetImageROI(temp, rect);
            CvPoint2D32f* block = points + total;
            const int count = detectWithRetries(
                [&](double level) {
                    int found = o.limit;  // in: the limit, out: the number found
                    cvGoodFeaturesToTrack(image, eig, temp, block, &found, level, o.distance, 0, 3, 1, level);
                    return found;
                },
                o.quality, o.limit, o.adaptive);
            offsetPoints(block, count, rect.x, rect.y);
            total += count;
        }
    }
    return total;
}

// The exception's text without the trailing line break OpenCV puts there.
void copyMessage(const std::exception& e, char* buf, size_t size) {
    std::snprintf(buf, size, "%s", e.what());
    size_t n = std::strlen(buf);
    while (n > 0 && (buf[n - 1] == '\n' || buf[n - 1] == ' ')) buf[--n] = '\0';
    if (n == 0) std::snprintf(buf, size, "unknown error");
}

// The loaded image, or null with the library's message in failure when
// making the image failed (an unreadable file gives null and no message).
IplImage* load(const char* name, char* failure, size_t size) {
    try {
        return cvLoadImage(name, CV_LOAD_IMAGE_GRAYSCALE);
    } catch (const std::exception& e) {
        copyMessage(e, failure, size);
        return nullptr;
    }
}

[[noreturn]] void failUnreadable(const char* name) {
    mexargs::failArg(kFilename.as("gridcorners:imageRead"), ": '%s' cannot be read or decoded as an image", name);
}

[[noreturn]] void failLibrary(const char* failure) {
    mexargs::fail("gridcorners:opencv", "the image library failed: %s", failure);
}

}  // namespace

// MATLAB unwinds a failing host call without destructors, so every host
// call below happens while no image exists: the point buffer is taken before
// the image is loaded, and the result is made after all images are released.
void mexFunction(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]) {
    mexargs::checkCounts("gridcorners", nrhs, kArgCount, kArgCount, nlhs, 1, kUsage);
    char name[kNameBuffer];
    readName(kFilename.of(prhs), name);
    const Options o = readOptions(prhs);
    checkFile(name);

    double have = kFirstBufferBytes;
    void* buffer = mxMalloc(static_cast<size_t>(have));
    char failure[512] = "";
    IplImage* image = load(name, failure, sizeof failure);
    if (!image) {
        mxFree(buffer);
        if (failure[0]) failLibrary(failure);
        failUnreadable(name);
    }
    const int W = image->width;
    const int H = image->height;
    const BlockGrid grid = blockGrid(W, H);
    const double bytes = pointBufferBytes(grid, o.limit);
    if (bytes > kMaxPointBufferBytes || bytes > have) {
        resources::releaseImage(image);
        mxFree(buffer);
    }
    if (bytes > kMaxPointBufferBytes)
        mexargs::fail("gridcorners:tooLarge",
                      "a %dx%d image (%d blocks) with limitPerBlock %d needs a %.0f-byte point buffer, more than "
                      "the %.0f bytes allowed; lower limitPerBlock (a block holds at most %d corners)",
                      W, H, grid.blocksX * grid.blocksY, o.limit, bytes, kMaxPointBufferBytes, kMaxCornersPerBlock);
    if (bytes > have) {
        have = bytes;
        buffer = mxMalloc(static_cast<size_t>(have));
        image = load(name, failure, sizeof failure);
        if (!image || image->width != W || image->height != H) {
            const bool loaded = image != nullptr;
            resources::releaseImage(image);
            mxFree(buffer);
            if (failure[0]) failLibrary(failure);
            if (!loaded) failUnreadable(name);
            mexargs::failArg(kFilename.as("gridcorners:imageRead"), ": '%s' changed while it was read", name);
        }
    }
    CvPoint2D32f* points = static_cast<CvPoint2D32f*>(buffer);

    IplImage* eig = nullptr;
    IplImage* temp = nullptr;
    int K = 0;
    try {
        eig = resources::createImage(cvSize(W, H), IPL_DEPTH_32F, 1);
        temp = resources::createImage(cvSize(W, H), IPL_DEPTH_32F, 1);
        K = detectBlocks(image, eig, temp, points, grid, o);
    } catch (const std::exception& e) {
        copyMessage(e, failure, sizeof failure);
    }
    resources::releaseImage(image);
    resources::releaseImage(eig);
    resources::releaseImage(temp);
    if (failure[0]) {
        mxFree(points);
        failLibrary(failure);
    }

    plhs[0] = mxCreateDoubleMatrix(2, static_cast<mwSize>(K), mxREAL);
    writeOneBased(points, K, mxGetPr(plhs[0]));
    mxFree(points);
}
