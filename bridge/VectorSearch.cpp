#include "VectorSearch.h"

#include <cmath>

namespace vectorsearch {

double GetMax(const double* values, int count, int* index) {
    double best = -1000000.0;
    for (int i = 0; i < count; ++i) {
        if (values[i] > best) {
            best = values[i];
            *index = i;
        }
    }
    return best;
}

int findClosest(double x, double y, const double* xs, const double* ys, int count) {
    double best = 100000.0;
    int result = -1;
    for (int i = 0; i < count; ++i) {
        const double d = std::sqrt((x - xs[i]) * (x - xs[i]) + (y - ys[i]) * (y - ys[i]));
        if (d < best) {
            best = d;
            result = i;
        }
    }
    return result;
}

double GetSum(const double* values, int count) {
    double s = 0.0;
    for (int i = 0; i < count; ++i) s += values[i];
    return s;
}

}  // namespace vectorsearch
