// The coarse grid on which warpmatch evaluates its spline pair before the
// affine scale-up.  Plain buffers only: no host, no image library.
#ifndef REGMEX_WARPMATCH_COARSEGRID_H
#define REGMEX_WARPMATCH_COARSEGRID_H

#include "Spline.h"

#include <cstddef>

namespace warpmatch {

// The spline is evaluated on Mq x Nq nodes that span the frame enlarged to
// 4*Mq x 4*Nq from edge to edge; node (i, j) stands at (j*stepX, i*stepY).
struct CoarseGrid {
    int Mq, Nq;
    double stepX, stepY;
};

// Needs M, N >= 5 (a single node per axis has no step).
CoarseGrid coarseGrid(int M, int N);

// Spline values at the nodes, narrowed to float: node (i, j) goes to
// smallX[i * strideX + j] and smallY[i * strideY + j] (strides in floats).
// Each node's distances and kernel values serve both splines.  The node
// rows are shared among `workers` threads (0: as many as the work is worth
// on this machine); the values do not depend on how many.
void coarseEvaluate(const SplinePair& s, const CoarseGrid& g, float* smallX, size_t strideX,
                    float* smallY, size_t strideY, int workers = 0);

}  // namespace warpmatch

#endif
