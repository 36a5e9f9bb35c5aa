#include "BlockGrid.h"

#include <algorithm>
#include <cmath>

namespace gridcorners {

BlockGrid blockGrid(int width, int height) {
    BlockGrid grid;
    grid.blocksX = static_cast<int>(std::ceil(static_cast<float>(width) / static_cast<float>(kBlockSize)));
    grid.blocksY = static_cast<int>(std::ceil(static_cast<float>(height) / static_cast<float>(kBlockSize)));
    return grid;
}

CvRect blockRect(int row, int col, int width, int height) {
    const int x0 = kBlockSize * col;
    const int y0 = kBlockSize * row;
    const float size = static_cast<float>(kBlockSize);
    const int w = static_cast<float>(x0) + size < static_cast<float>(width) ? kBlockSize : width;
    const int h = static_cast<float>(y0) + size < static_cast<float>(height) ? kBlockSize : height;
    return cvRect(x0, y0, w, h);
}

double pointBufferBytes(const BlockGrid& grid, int limit) {
    const double blocks = std::trunc(static_cast<double>(grid.blocksY) * static_cast<double>(grid.blocksX));
    return blocks * static_cast<double>(std::min(limit, kMaxCornersPerBlock)) * kBufferBytesPerCorner;
}

bool adaptiveOn(double value) {
    // Truncation toward zero gives 1 exactly for 1 <= value < 2; NaN and
    // infinities, which have no integer value, leave the switch off.
    return value >= 1.0 && value < 2.0;
}

void offsetPoints(CvPoint2D32f* points, int count, int x0, int y0) {
    const float dx = static_cast<float>(x0);
    const float dy = static_cast<float>(y0);
    for (int k = 0; k < count; ++k) {
        points[k].x = points[k].x + dx;
        points[k].y = points[k].y + dy;
    }
}

void writeOneBased(const CvPoint2D32f* points, int count, double* out) {
    for (int k = 0; k < count; ++k) {
        out[2 * k] = static_cast<double>(points[k].x + 1.0f);
        out[2 * k + 1] = static_cast<double>(points[k].y + 1.0f);
    }
}

}  // namespace gridcorners
