#include "Resources.h"

#include "mex.h"

#include <opencv2/core.hpp>

#include <atomic>
#include <cstdlib>

#ifdef __linux__
#include <sys/mman.h>
#endif

namespace resources {

namespace {

std::atomic<int> images{0};
std::atomic<int> blocks{0};
std::atomic<int> imageFailureIn{0};
std::atomic<int> blockFailureIn{0};

// True when the armed seam's countdown reaches this creation.
bool due(std::atomic<int>& countdown) {
    int n = countdown.load();
    while (n > 0 && !countdown.compare_exchange_weak(n, n - 1)) {}
    return n == 1;
}

void checkImageSeam() {
    if (due(imageFailureIn))
        cv::error(cv::Error::StsNoMem, "injected failure of an image allocation", "resources::createImage",
                  __FILE__, __LINE__);
}

}  // namespace

IplImage* createImage(CvSize size, int depth, int channels) {
    checkImageSeam();
    IplImage* image = cvCreateImage(size, depth, channels);
    ++images;
    return image;
}

IplImage* cloneImage(const IplImage* image) {
    checkImageSeam();
    IplImage* copy = cvCloneImage(image);
    ++images;
    return copy;
}

void releaseImage(IplImage*& image) {
    if (!image) return;
    cvReleaseImage(&image);
    --images;
}

void* allocate(size_t bytes) {
    if (due(blockFailureIn)) return nullptr;
    void* block = std::malloc(bytes);
    if (block) ++blocks;
    return block;
}

void* allocateLarge(size_t bytes) {
#ifdef __linux__
    // Whole 2 MiB pages, so that the kernel can back the block with huge
    // pages: a fresh 4 KiB page costs a fault of some microseconds.
    const size_t huge = size_t(1) << 21;
    if (bytes >= huge) {
        if (due(blockFailureIn)) return nullptr;
        const size_t rounded = (bytes + huge - 1) / huge * huge;
        // posix_memalign, not std::aligned_alloc: MATLAB's mex compiles
        // this file as C++11.
        void* block = nullptr;
        if (posix_memalign(&block, huge, rounded) != 0) return nullptr;
        madvise(block, rounded, MADV_HUGEPAGE);  // advice only: its failure costs speed
        ++blocks;
        return block;
    }
#endif
    return allocate(bytes);
}

void release(void* block) {
    if (!block) return;
    std::free(block);
    --blocks;
}

int liveImages() { return images.load(); }
int liveBlocks() { return blocks.load(); }

void failImageCreation(int n) { imageFailureIn = n; }
void failAllocation(int n) { blockFailureIn = n; }

}  // namespace resources

#ifdef REGMEX_EMBEDDED_HOST
// The probes and seams, for tests that load a plug-in built for the embedded
// host; MEX files built for Octave or MATLAB export only their entry points.
#define REGMEX_PROBE extern "C" __attribute__((visibility("default")))
REGMEX_PROBE int regmexLiveImages() { return resources::liveImages(); }
REGMEX_PROBE int regmexLiveBlocks() { return resources::liveBlocks(); }
REGMEX_PROBE void regmexFailImageCreation(int n) { resources::failImageCreation(n); }
REGMEX_PROBE void regmexFailAllocation(int n) { resources::failAllocation(n); }
#endif
