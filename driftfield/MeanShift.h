// Grid mean shift: moves an offset towards a peak of the belief-weighted
// Gaussian density over the label disc.
#ifndef REGMEX_DRIFTFIELD_MEANSHIFT_H
#define REGMEX_DRIFTFIELD_MEANSHIFT_H

#include "LabelDisc.h"
#include "Lattice.h"

#include <vector>

namespace driftfield {

// Working space of gridMeanShift for one disc: the x and y kernel factors of
// each candidate column and row, and per candidate row the belief of each
// disc column weighted by its y factors.
struct MeanShiftScratch {
    explicit MeanShiftScratch(const LabelDisc& disc);
    // Doubles the three buffers hold for a disc spanning `width` columns.
    static double doublesFor(double width);
    std::vector<double> xFactor;    // [candidate column][disc column]
    std::vector<double> yFactor;    // [candidate row][disc row]
    std::vector<double> columnSum;  // [candidate row][disc column]
};

// At most 10 updates of c to the density-weighted mean of the (2a+1)^2 grid
// of candidates around it (gx fastest); stops when a candidate leaves
// [-5, 5]^2 or a squared step is not above 0.001.  Returns the density at the
// final c.  The densities are formed separably (the Gaussian splits into an x
// and a y factor); where every one of them is tiny enough for rounding of
// underflowing terms to matter, they are formed offset by offset instead.
double gridMeanShift(const LabelDisc& disc, const double* belief, double h, int a, Point& c,
                     MeanShiftScratch& scratch);

// The density sum_m exp(-0.5 * |l_m - v|^2 / h^2) * belief_m at v, offset by
// offset.
double meanShiftDensity(const LabelDisc& disc, const double* belief, double invH2, Point v);

}  // namespace driftfield

#endif
