#include "LoadImage.h"

#include "FileKind.h"
#include "Resources.h"

#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>

#include <cstdio>
#include <cstring>
#include <exception>
#include <new>
#include <sys/stat.h>

namespace {

void setFailure(LoadFailure* failure, LoadFailure::Kind kind, const char* message) {
    if (!failure) return;
    failure->kind = kind;
    std::snprintf(failure->message, sizeof failure->message, "%s", message);
    // OpenCV ends its texts with a line break.
    size_t n = std::strlen(failure->message);
    while (n > 0 && (failure->message[n - 1] == '\n' || failure->message[n - 1] == ' ')) failure->message[--n] = '\0';
}

}  // namespace

IplImage* loadImage(const char* filename, int iscolor, LoadFailure* failure)
{
    setFailure(failure, LoadFailure::none, "");
    // imread warns on the console about a missing file and reads a directory
    // as garbage; only regular files reach it.
    struct stat info;
    if (!filename || stat(filename, &info) != 0 || !filekind::isRegular(info.st_mode)) {
        setFailure(failure, LoadFailure::unreadable, "");
        return 0;
    }

    IplImage* image = 0;
    try {
        // The loader flags of the 1.x interface are imread's flags.  imread
        // catches what its decoders throw, but not a failure to allocate the
        // decoded image, which it makes before decoding.
        cv::Mat pixels = cv::imread(filename, iscolor);
        if (pixels.empty()) {
            setFailure(failure, LoadFailure::unreadable, "");
            return 0;
        }
        IplImage header = cvIplImage(pixels);
        image = resources::createImage(cvGetSize(&header), header.depth, header.nChannels);
        cvCopy(&header, image);
        return image;
    } catch (const cv::Exception& e) {
        resources::releaseImage(image);
        setFailure(failure, e.code == cv::Error::StsNoMem ? LoadFailure::outOfMemory : LoadFailure::unreadable,
                   e.what());
        return 0;
    } catch (const std::bad_alloc&) {
        resources::releaseImage(image);
        setFailure(failure, LoadFailure::outOfMemory, "std::bad_alloc");
        return 0;
    } catch (const std::exception& e) {
        resources::releaseImage(image);
        setFailure(failure, LoadFailure::unreadable, e.what());
        return 0;
    }
}

IplImage* cvLoadImage(const char* filename, int iscolor)
{
    return loadImage(filename, iscolor, 0);
}
