#include "LoadImage.h"

#include "Resources.h"

#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>

#include <exception>
#include <sys/stat.h>

IplImage* cvLoadImage(const char* filename, int iscolor)
{
    if (!filename)
        return 0;
    // imread warns on the console about a missing file and reads a directory
    // as garbage; only regular files reach it.
    struct stat info;
    if (stat(filename, &info) != 0 || !S_ISREG(info.st_mode))
        return 0;

    cv::Mat pixels;
    try {
        // The loader flags of the 1.x interface are imread's flags.
        pixels = cv::imread(filename, iscolor);
    } catch (const std::exception&) {
        // cv::Exception from a decoder, or bad_alloc for a huge image.
        return 0;
    }
    if (pixels.empty())
        return 0;
    IplImage header = cvIplImage(pixels);
    IplImage* image = resources::createImage(cvGetSize(&header), header.depth, header.nChannels);
    cvCopy(&header, image);
    return image;
}
