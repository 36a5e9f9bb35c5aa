#include "Partition.h"

#include <cmath>

namespace warpmatch {

int partitionPoints(int K, int start[kMaxWorkers], int end[kMaxWorkers]) {
    if (K <= 0) return 0;
    int n = static_cast<int>(std::ceil(K / static_cast<double>(kPointsPerWorker)));
    if (n > kMaxWorkers) n = kMaxWorkers;
    int chunk = static_cast<int>(std::floor(K / static_cast<double>(n)));
    for (int i = 0; i < n; ++i) {
        start[i] = i * chunk;
        end[i] = (i + 1) * chunk;
    }
    end[n - 1] = K;
    return n;
}

}  // namespace warpmatch
