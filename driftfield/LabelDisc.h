// The label disc: every whole-pixel offset a node may move by.
#ifndef REGMEX_DRIFTFIELD_LABELDISC_H
#define REGMEX_DRIFTFIELD_LABELDISC_H

#include <cstdint>
#include <functional>
#include <vector>

namespace driftfield {

struct Offset {
    double dx;  // added to x (column)
    double dy;  // added to y (row)
};

// Offsets (dx, dy) with r*r > dx*dx + dy*dy, in the order built: dx ascending
// outside, dy ascending inside.  Besides the records the disc keeps the same
// offsets as two coordinate lists (for the nearest-offset search) and its
// column layout (for the separable message passes): the offsets of column
// dx = k - reach are indices columnFirst[k] ... columnFirst[k] + 2*columnHalf[k],
// with dy running from -columnHalf[k] to columnHalf[k].
struct LabelDisc {
    std::vector<Offset> offsets;
    std::vector<double> xs;
    std::vector<double> ys;
    int reach = -1;  // largest |dx| (and |dy|) present; -1 for an empty disc
    std::vector<int> columnFirst;
    std::vector<int> columnHalf;

    int count() const { return static_cast<int>(offsets.size()); }
    int width() const { return 2 * reach + 1; }
};

// The enumeration starts at -r truncated toward zero; offsets on the circle
// are left out.  r <= 0 (or not finite) gives an empty disc.  The caller
// keeps r small enough for the disc to fit in memory (see labelDiscCount).
// shouldStop, when given, is asked before each column; a yes gives an empty
// disc.
LabelDisc buildLabelDisc(double r, const std::function<bool()>& shouldStop = nullptr);

// The number of offsets buildLabelDisc(r) keeps, found column by column
// without enumerating them.
int64_t labelDiscCount(double r);

}  // namespace driftfield

#endif
