// What the image plug-ins hold outside the host during a call: OpenCV images
// and malloc blocks.  MATLAB unwinds a failing host call (an allocation or an
// error) without running destructors, so a shell makes its host arrays and
// buffers before the first of these, or releases all of them before its next
// host call.  Both kinds are made and released here and counted, so that
// tests can check that rule, and each has a seam that makes it fail the way
// it does when memory runs out.
#ifndef REGMEX_BRIDGE_RESOURCES_H
#define REGMEX_BRIDGE_RESOURCES_H

#include <opencv2/core/core_c.h>

#include <cstddef>

namespace resources {

// cvCreateImage and cvCloneImage; they throw cv::Exception when they fail.
IplImage* createImage(CvSize size, int depth, int channels);
IplImage* cloneImage(const IplImage* image);
// cvReleaseImage; null is ignored, and the pointer becomes null.
void releaseImage(IplImage*& image);

// malloc and free; allocate returns null when it fails.
void* allocate(size_t bytes);
// The same for a block of megabytes, backed by huge pages where the system
// offers them; released with release.
void* allocateLarge(size_t bytes);
void release(void* block);

int liveImages();
int liveBlocks();

// Test seams: the n-th image creation (block allocation) from now on fails,
// n counted from 1, 0 switching the seam off; an image creation throws
// cv::Exception as the library does when memory runs out, an allocation
// returns null.
void failImageCreation(int n);
void failAllocation(int n);
// Worker threads have theirs in the pool (Parallel.h).

}  // namespace resources

#endif
