// Split of K points into contiguous worker ranges: one worker per started
// block of 20 points, at most four; the last worker takes the remainder.
#ifndef REGMEX_WARPMATCH_PARTITION_H
#define REGMEX_WARPMATCH_PARTITION_H

namespace warpmatch {

constexpr int kMaxWorkers = 4;
constexpr int kPointsPerWorker = 20;

// Fills start[i], end[i] for the workers i < n and returns n (0 when K <= 0).
int partitionPoints(int K, int start[kMaxWorkers], int end[kMaxWorkers]);

}  // namespace warpmatch

#endif
