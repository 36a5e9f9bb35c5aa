// The data term: a likelihood read from the score map at a position.
#ifndef REGMEX_DRIFTFIELD_SCORESAMPLING_H
#define REGMEX_DRIFTFIELD_SCORESAMPLING_H

#include "LabelDisc.h"
#include "Lattice.h"

#include <cstdint>

namespace driftfield {

// A real double matrix, column-major: element (row, col) at col*rows + row.
struct ScoreMap {
    const double* values = nullptr;
    int64_t rows = 0;
    int64_t cols = 0;
};

// Element (row, col); a NaN element reads as 0.1, infinities pass unchanged.
double mapElement(const ScoreMap& map, int64_t row, int64_t col);

// exp(-(1 - v) * beta) for the map value v at whole-pixel (x, y), 0-based,
// x along columns; 0.5 outside the map.
double sampleScoreAtPixel(const ScoreMap& map, double x, double y, double beta);

// The same at a continuous position.  The second sample of each axis is the
// nearest column (row), floor(x + 0.5), kept inside the map: in the last half
// column (row) it is the last column (row) itself.
double sampleScore(const ScoreMap& map, double x, double y, double beta);

// The likelihood of every disc offset of a node at 1-based position p:
// out[i] = sampleScore(map, p.x + dx_i - 1, p.y + dy_i - 1, beta).
void discLikelihoods(const ScoreMap& map, const LabelDisc& disc, Point p, double beta, double* out);

}  // namespace driftfield

#endif
