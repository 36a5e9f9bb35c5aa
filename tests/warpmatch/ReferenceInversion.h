// The point inversion written out literally, as the reference that the
// product's inversion must match bit for bit: per level it allocates the
// candidate lists and the K x 121 distance table, and evaluates each spline
// on its own (two logarithms per kernel value).
#ifndef REGMEX_TESTS_WARPMATCH_REFERENCEINVERSION_H
#define REGMEX_TESTS_WARPMATCH_REFERENCEINVERSION_H

#include "Inversion.h"
#include "SplineKernel.h"

namespace warpmatch {

// The scalar kernel path for the life of the guard: the references use the C
// library's log, the only step in which the vector paths differ.
struct ScalarKernel {
    KernelPath was = kernelPath();
    ScalarKernel() { setKernelPath(KernelPath::kScalar); }
    ~ScalarKernel() { setKernelPath(was); }
};

void referenceInvertRange(const InversionInput& in, int start, int end, double* outX, double* outY);

// Coarse node values the literal way: one distance buffer, tpsEval per spline.
void referenceCoarseEvaluate(const SplinePair& s, int Mq, int Nq, double stepX, double stepY,
                             float* smallX, float* smallY);

}  // namespace warpmatch

#endif
