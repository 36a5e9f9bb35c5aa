#include "ScoreSampling.h"

#include "NanElement.h"

#include <cmath>

namespace driftfield {

namespace {

// NaN coordinates fail the test as well.
bool insideMap(const ScoreMap& map, double x, double y) {
    return x >= 0.0 && x < static_cast<double>(map.cols) && y >= 0.0 && y < static_cast<double>(map.rows);
}

double likelihood(double v, double beta) { return std::exp(-(1.0 - v) * beta); }

}  // namespace

double mapElement(const ScoreMap& map, int64_t row, int64_t col) {
    const double v = map.values[col * map.rows + row];
    return std::isnan(v) ? kNanElement : v;
}

double sampleScoreAtPixel(const ScoreMap& map, double x, double y, double beta) {
    if (!insideMap(map, x, y)) return 0.5;
    return likelihood(mapElement(map, static_cast<int64_t>(y), static_cast<int64_t>(x)), beta);
}

double sampleScore(const ScoreMap& map, double x, double y, double beta) {
    if (!insideMap(map, x, y)) return 0.5;
    const int64_t x0 = static_cast<int64_t>(std::floor(x));
    const int64_t y0 = static_cast<int64_t>(std::floor(y));
    int64_t x1 = static_cast<int64_t>(std::floor(x + 0.5));
    int64_t y1 = static_cast<int64_t>(std::floor(y + 0.5));
    if (x1 > map.cols - 1) x1 = map.cols - 1;
    if (y1 > map.rows - 1) y1 = map.rows - 1;
    if (x == static_cast<double>(x0) && y == static_cast<double>(y0)) return sampleScoreAtPixel(map, x, y, beta);
    const double fx = std::fabs(x - static_cast<double>(x0));
    const double fy = std::fabs(y - static_cast<double>(y0));
    const double v = (1.0 - fy) * ((1.0 - fx) * mapElement(map, y0, x0) + fx * mapElement(map, y0, x1)) +
                     fy * ((1.0 - fx) * mapElement(map, y1, x0) + fx * mapElement(map, y1, x1));
    return likelihood(v, beta);
}

void discLikelihoods(const ScoreMap& map, const LabelDisc& disc, Point p, double beta, double* out) {
    const int L = disc.count();
    for (int i = 0; i < L; ++i) {
        const Offset& o = disc.offsets[static_cast<size_t>(i)];
        out[i] = sampleScore(map, p.x + o.dx - 1.0, p.y + o.dy - 1.0, beta);
    }
}

}  // namespace driftfield
