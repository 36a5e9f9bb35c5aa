// The point inversion written out literally, as the reference that the
// product's inversion must match bit for bit: per level it allocates the
// candidate lists and the K x 121 distance table, and evaluates each spline
// on its own (two logarithms per kernel value).
#ifndef REGMEX_TESTS_WARPMATCH_REFERENCEINVERSION_H
#define REGMEX_TESTS_WARPMATCH_REFERENCEINVERSION_H

#include "Inversion.h"

namespace warpmatch {

void referenceInvertRange(const InversionInput& in, int start, int end, double* outX, double* outY);

// Coarse node values the literal way: one distance buffer, tpsEval per spline.
void referenceCoarseEvaluate(const SplinePair& s, int Mq, int Nq, double stepX, double stepY,
                             float* smallX, float* smallY);

}  // namespace warpmatch

#endif
