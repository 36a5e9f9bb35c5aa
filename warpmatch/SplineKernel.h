// Both splines of a pair at many positions at once: the kernel sums of the
// coarse grid and of the point search.  Each position's sums run over the
// control points in increasing k, as in tpsEvalPair; the positions share the
// lanes of the machine's vector registers.
//
// The logarithm is the only step that differs between paths: the vector
// paths take glibc's vector logarithm (libmvec, loaded at first use), whose
// last bits may differ from the C library's scalar log.  Every other
// operation is the scalar one, in the same order and without fused
// multiply-adds, so a path's values differ from the scalar path's only
// through those last bits.
#ifndef REGMEX_WARPMATCH_SPLINEKERNEL_H
#define REGMEX_WARPMATCH_SPLINEKERNEL_H

#include "Spline.h"

#include <cstddef>

namespace warpmatch {

enum class KernelPath { kScalar = 0, kAvx2 = 1, kAvx512 = 2 };

// The widest path this processor and C library offer (scalar where neither
// AVX2 nor AVX-512 nor the vector logarithm is there).
KernelPath bestKernelPath();
// The path in use; the best one unless setKernelPath chose another.
KernelPath kernelPath();
// For tests and benchmarks: use p, or the best path when p is wider than
// that.  Returns the path now in use.  Not to be called while an evaluation
// runs.
KernelPath setKernelPath(KernelPath p);
const char* kernelPathName(KernelPath p);

// vx[i], vy[i] = the x and y spline at (xs[i], ys[i]), i < n.
void tpsEvalPairs(const SplinePair& s, const double* xs, const double* ys, int n, double* vx, double* vy);

// out[i] = ln(in[i]) through the current path's logarithm, i < n (in and out
// may be the same array).
void kernelLog(const double* in, double* out, size_t n);

}  // namespace warpmatch

#endif
