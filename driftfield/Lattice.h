// Plain form of a driftfield call: the node lattice, the parameters and the
// per-node results, free of any host array.
#ifndef REGMEX_DRIFTFIELD_LATTICE_H
#define REGMEX_DRIFTFIELD_LATTICE_H

namespace driftfield {

struct Point {
    double x;  // column, 1-based for node positions
    double y;  // row
};

// Node (y, x) lives in slot y*cols + x: x varies fastest, unlike host arrays.
struct LatticeView {
    int rows = 0;  // M
    int cols = 0;  // N
    const Point* positions = nullptr;
    const Point* references = nullptr;
    const unsigned char* fixed = nullptr;  // nonzero: the node does not move

    int slot(int y, int x) const { return y * cols + x; }
};

// Which reduction turns a belief into a position (mode truncated toward zero).
enum class Estimator { WeightedMean = 0, ArgMax = 1, MeanShift = 2 };

struct FieldParams {
    bool maxProduct = false;  // mode is exactly 1.0
    Estimator estimator = Estimator::ArgMax;
    double pairWeight = 0.0;  // lambda
    double dataWeight = 0.0;  // beta
    double bandwidth = 1.0;   // h
    int windowHalf = 0;       // a
};

struct NodeResult {
    double x;
    double y;
    double score;
};

}  // namespace driftfield

#endif
