// The OpenCV 1.x image loader, which this OpenCV no longer ships: a thin
// layer over cv::imread returning an IplImage the caller releases with
// resources::releaseImage, or null when the file cannot be read or decoded.
// Making the image itself may throw cv::Exception, as cvCreateImage does.
#ifndef REGMEX_BRIDGE_LOADIMAGE_H
#define REGMEX_BRIDGE_LOADIMAGE_H

#include <opencv2/core/core_c.h>

#ifndef CV_LOAD_IMAGE_GRAYSCALE
#define CV_LOAD_IMAGE_UNCHANGED -1
#define CV_LOAD_IMAGE_GRAYSCALE 0
#define CV_LOAD_IMAGE_COLOR 1
#endif

IplImage* cvLoadImage(const char* filename, int iscolor = CV_LOAD_IMAGE_COLOR);

#endif
