// The current estimate of a registration: a thin-plate spline pair that takes
// a position of the reference frame to the moving image, in warpmatch's
// layout (K kernel weights, then a0, ax, ay; U(d) = d * ln(d + 2.2204e-16)
// of the squared distance d).  K = 0 is a plain affine map.
#ifndef REGMEX_PATCHMATCH_THINPLATE_H
#define REGMEX_PATCHMATCH_THINPLATE_H

#include <atomic>
#include <cstddef>
#include <functional>

namespace patchmatch {

struct ThinPlate {
    const double* ctrl = nullptr;   // 2 x K column-major: x0 y0 x1 y1 ...
    const double* coefX = nullptr;  // K + 3
    const double* coefY = nullptr;  // K + 3
    int K = 0;

    // (tx, ty) = T(x, y).
    void at(double x, double y, double* tx, double* ty) const;
};

// The displacement T(p) - p of the spline at the nodes of a grid, in the
// units of a pyramid level: node (i, j) lies at level position (origin + j *
// step, origin + i * step), that is at full resolution that times scale,
// and gets (T - p) / scale.  Rows of `cols` floats, `rows` rows.  Rows are
// shared among `workers` threads; shouldStop (may be empty) is asked on the
// calling thread between rows.  False when stopped.
bool displacementNodes(const ThinPlate& t, int rows, int cols, double step, double origin, double scale, float* dx,
                       float* dy, int workers, const std::function<bool()>& shouldStop);

}  // namespace patchmatch

#endif
