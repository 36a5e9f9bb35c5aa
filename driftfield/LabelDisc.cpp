#include "LabelDisc.h"

#include <cmath>

namespace driftfield {

namespace {

// Radii beyond this cannot be enumerated with int offsets.
constexpr double kLargestRadius = 1.0e9;

// Largest h >= 0 with r*r > dx*dx + h*h, or -1 when even h = 0 fails, using
// the same double comparison as the enumeration.
int64_t columnHalfHeight(double r2, double dx) {
    const double room = r2 - dx * dx;
    if (!(room > 0.0)) return -1;
    int64_t h = static_cast<int64_t>(std::sqrt(room));
    while (h >= 0 && !(r2 > dx * dx + static_cast<double>(h) * static_cast<double>(h))) --h;
    while (r2 > dx * dx + static_cast<double>(h + 1) * static_cast<double>(h + 1)) ++h;
    return h;
}

}  // namespace

LabelDisc buildLabelDisc(double r, const std::function<bool()>& shouldStop) {
    LabelDisc disc;
    if (!(r > 0.0) || !(r < kLargestRadius)) return disc;
    const int64_t count = labelDiscCount(r);
    disc.offsets.reserve(static_cast<size_t>(count));
    const int s = static_cast<int>(-r);  // toward zero: -2.5 starts at -2
    const double r2 = r * r;
    for (int dx = s; dx <= r; ++dx) {
        // A column is at most 2r+1 offsets: cheap enough between two questions.
        if (shouldStop && shouldStop()) return LabelDisc();
        for (int dy = s; dy <= r; ++dy) {
            const double fx = dx;
            const double fy = dy;
            if (r2 > fx * fx + fy * fy) disc.offsets.push_back(Offset{fx, fy});
        }
    }
    disc.xs.reserve(disc.offsets.size());
    disc.ys.reserve(disc.offsets.size());
    for (const Offset& o : disc.offsets) {
        disc.xs.push_back(o.dx);
        disc.ys.push_back(o.dy);
        const int ax = static_cast<int>(std::fabs(o.dx));
        if (ax > disc.reach) disc.reach = ax;
    }
    // Every column of the disc is a run of dy symmetric about 0.
    const int width = disc.width();
    disc.columnFirst.assign(static_cast<size_t>(width > 0 ? width : 0), 0);
    disc.columnHalf.assign(static_cast<size_t>(width > 0 ? width : 0), -1);
    for (int i = disc.count() - 1; i >= 0; --i) {
        const size_t k = static_cast<size_t>(static_cast<int>(disc.offsets[static_cast<size_t>(i)].dx) + disc.reach);
        disc.columnFirst[k] = i;
        const int ay = static_cast<int>(std::fabs(disc.offsets[static_cast<size_t>(i)].dy));
        if (ay > disc.columnHalf[k]) disc.columnHalf[k] = ay;
    }
    return disc;
}

int64_t labelDiscCount(double r) {
    if (!(r > 0.0) || !(r < kLargestRadius)) return 0;
    const int64_t s = static_cast<int64_t>(-r);
    const double r2 = r * r;
    int64_t count = 0;
    for (int64_t dx = s; static_cast<double>(dx) <= r; ++dx) {
        const int64_t h = columnHalfHeight(r2, static_cast<double>(dx));
        if (h >= 0) count += 2 * h + 1;
    }
    return count;
}

}  // namespace driftfield
