// The OpenCV 1.x image loader, which this OpenCV no longer ships: a thin
// layer over cv::imread returning an IplImage the caller releases with
// resources::releaseImage, or null when the file cannot be read or decoded
// or memory runs out (loadImage tells which).  Neither throws.
#ifndef REGMEX_BRIDGE_LOADIMAGE_H
#define REGMEX_BRIDGE_LOADIMAGE_H

#include <opencv2/core/core_c.h>

#ifndef CV_LOAD_IMAGE_GRAYSCALE
#define CV_LOAD_IMAGE_UNCHANGED -1
#define CV_LOAD_IMAGE_GRAYSCALE 0
#define CV_LOAD_IMAGE_COLOR 1
#endif

IplImage* cvLoadImage(const char* filename, int iscolor = CV_LOAD_IMAGE_COLOR);

// Why loadImage returned null.
struct LoadFailure {
    enum Kind { none, unreadable, outOfMemory };
    Kind kind = none;
    char message[256] = "";  // the library's text for outOfMemory
};

// cvLoadImage that tells a decoder or copy running out of memory (the
// library's "insufficient memory" error or std::bad_alloc) apart from a file
// that cannot be read or decoded.
IplImage* loadImage(const char* filename, int iscolor, LoadFailure* failure);

#endif
