// The point inversion written out literally, as the reference that the
// product's inversion must match bit for bit: per level it allocates the
// candidate lists and the K x 121 distance table, and evaluates each spline
// on its own (two logarithms per kernel value).
#ifndef WARPMATCH_TESTS_REFERENCE_INVERSION_H
#define WARPMATCH_TESTS_REFERENCE_INVERSION_H

#include "inversion.h"

void referenceInvertRange(const InversionInput& in, int start, int end, double* outX, double* outY);

// Coarse node values the literal way: one distance buffer, tpsEval per spline.
void referenceCoarseEvaluate(const SplinePair& s, int Mq, int Nq, double stepX, double stepY,
                             float* smallX, float* smallY);

#endif
