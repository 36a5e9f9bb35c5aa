// gridcorners: Harris corners per 50x50 block of a grey-level image file.
//
//   P = gridcorners(filename, minDistance, quality, limitPerBlock, adaptive)
//
// P is 2 x K: 1-based [x; y] of every corner, blocks in raster order, each
// block's corners strongest first.
#include "BlockGrid.h"
#include "Interrupt.h"
#include "LoadImage.h"
#include "MexArgs.h"
#include "MexVersion.h"
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
const int kNameBuffer = 1024;
// The detector turns the distance into an int grid cell and fails on huge
// values.  No two pixels of a block are 70 apart, so every distance from
// here up keeps one corner per block, as this one does.
const double kDistanceCap = 1.0e6;

struct Options {
    double distance;
    double quality;
    int limit;
    bool adaptive;
};

// Copies the file name into name (kNameBuffer bytes), never cutting it.
void readName(const mxArray* a, char* name) {
    const char* id = "gridcorners:filename";
    char what[192];
    mexargs::describe(a, what, sizeof what);
    if (!mxIsChar(a) || mxGetNumberOfDimensions(a) != 2 || mxGetM(a) != 1 || mxGetN(a) < 1)
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

// Every block in raster order; returns the number of points stored, or -1
// when the host asked to interrupt (polled between blocks).  Only library
// calls happen here, so the caller may catch what they throw.
int detectBlocks(IplImage* image, IplImage* eig, IplImage* temp, CvPoint2D32f* points, const BlockGrid& grid,
                 const Options& o, InterruptPoll& interrupt) {
    int total = 0;
    for (int i = 0; i < grid.blocksY; ++i) {
        for (int j = 0; j < grid.blocksX; ++j) {
            if (interrupt.pending()) return -1;
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

void releaseImages(IplImage*& image, IplImage*& eig, IplImage*& temp) {
    if (image) cvReleaseImage(&image);
    if (eig) cvReleaseImage(&eig);
    if (temp) cvReleaseImage(&temp);
}

}  // namespace

void mexFunction(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]) {
    mexargs::checkCounts("gridcorners", nrhs, 5, nlhs, 1, kUsage);
    if (nrhs > 5)
        mexargs::fail("gridcorners:nargin", "gridcorners takes 5 input arguments, got %d. Usage: %s", nrhs,
                      kUsage);
    char name[kNameBuffer];
    readName(prhs[0], name);
    const Options o = readOptions(prhs);
    checkFile(name);

    IplImage* image = cvLoadImage(name, CV_LOAD_IMAGE_GRAYSCALE);
    if (!image)
        mexargs::fail("gridcorners:imageRead", "argument 1 (filename): '%s' cannot be read or decoded as an image",
                      name);
    const int W = image->width;
    const int H = image->height;
    const BlockGrid grid = blockGrid(W, H);
    const double bytes = pointBufferBytes(grid, o.limit);
    if (bytes > kMaxPointBufferBytes) {
        cvReleaseImage(&image);
        mexargs::fail("gridcorners:bufferSize",
                      "a %dx%d image (%d blocks) with limitPerBlock %d needs a %.0f-byte point buffer, more than "
                      "the %.0f bytes allowed; lower limitPerBlock (a block holds at most %d corners)",
                      W, H, grid.blocksX * grid.blocksY, o.limit, bytes, kMaxPointBufferBytes, kMaxCornersPerBlock);
    }

    IplImage* eig = nullptr;
    IplImage* temp = nullptr;
    char failure[512] = "";
    try {
        eig = cvCreateImage(cvSize(W, H), IPL_DEPTH_32F, 1);
        temp = cvCreateImage(cvSize(W, H), IPL_DEPTH_32F, 1);
    } catch (const std::exception& e) {
        copyMessage(e, failure, sizeof failure);
    }
    if (failure[0]) {
        releaseImages(image, eig, temp);
        mexargs::fail("gridcorners:opencv", "the image library failed: %s", failure);
    }

    CvPoint2D32f* points = static_cast<CvPoint2D32f*>(mxMalloc(static_cast<size_t>(bytes)));
    int K = 0;
    InterruptPoll interrupt;
    try {
        K = detectBlocks(image, eig, temp, points, grid, o, interrupt);
    } catch (const std::exception& e) {
        copyMessage(e, failure, sizeof failure);
    }
    if (failure[0] || K < 0) {
        mxFree(points);
        releaseImages(image, eig, temp);
        if (K < 0)
            mexargs::fail("gridcorners:interrupted", "interrupted in the blocks of a %dx%d image; nothing is returned",
                          W, H);
        mexargs::fail("gridcorners:opencv", "the image library failed: %s", failure);
    }

    plhs[0] = mxCreateDoubleMatrix(2, static_cast<mwSize>(K), mxREAL);
    writeOneBased(points, K, mxGetPr(plhs[0]));

    mxFree(points);
    releaseImages(image, eig, temp);
}
