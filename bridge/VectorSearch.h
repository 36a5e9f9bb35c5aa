// Maximum, nearest point and sum over plain double vectors: the contracts
// of CMexAndCpp's plain-vector forms, free of any host so that host-free
// code can share them.
#ifndef REGMEX_BRIDGE_VECTORSEARCH_H
#define REGMEX_BRIDGE_VECTORSEARCH_H

namespace vectorsearch {

// Running best from -1000000; only a strictly greater value replaces it, so
// the first maximum wins and *index is written only on improvement.  NaN
// never wins.
double GetMax(const double* values, int count, int* index);

// Index of the point nearest to (x, y), strictly nearer replacing, within a
// distance below 100000; -1 when there is none.
int findClosest(double x, double y, const double* xs, const double* ys, int count);

// Sum in index order; 0 for count <= 0.
double GetSum(const double* values, int count);

}  // namespace vectorsearch

#endif
