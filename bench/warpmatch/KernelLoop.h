// The plain loop that warpmatch's kernel sums are measured against.
#ifndef REGMEX_BENCH_WARPMATCH_KERNELLOOP_H
#define REGMEX_BENCH_WARPMATCH_KERNELLOOP_H

#include "SplineKernel.h"

#include <vector>

#if defined(__GNUC__) && defined(__x86_64__) && defined(__GLIBC__)
#include <dlfcn.h>
#define REGMEX_BENCH_KERNEL_LOOP_AVX512 1
// As in the product's kernel: no fused multiply-add in the reference either.
#ifdef __clang__
#pragma clang fp contract(off)
#else
#pragma GCC optimize("fp-contract=off")
#endif
#endif

namespace warpmatch {

#ifdef REGMEX_BENCH_KERNEL_LOOP_AVX512
typedef double LoopLanes __attribute__((vector_size(64)));

// Eight positions per step, glibc's 8-lane logarithm called directly: the
// kernel values of the coarse stage and the point search and nothing else
// (no grid, no candidates, no padding, no narrowing).
__attribute__((target("avx512f"))) inline void kernelLoop8(const SplinePair& s, const double* xs, const double* ys,
                                                          size_t n, double* vx, double* vy) {
    static void* const entry = dlsym(dlopen("libmvec.so.1", RTLD_NOW), "_ZGVeN8v_log");
    using Log = LoopLanes (*)(LoopLanes);
    const Log vlog = reinterpret_cast<Log>(entry);
    const int K = s.K;
    for (size_t i0 = 0; i0 + 8 <= n; i0 += 8) {
        LoopLanes px, py;
        __builtin_memcpy(&px, xs + i0, sizeof px);
        __builtin_memcpy(&py, ys + i0, sizeof py);
        LoopLanes sx = px - px, sy = sx;
        for (int k = 0; k < K; ++k) {
            const LoopLanes dx = s.ctrlX[k] - px, dy = s.ctrlY[k] - py;
            const LoopLanes d = dx * dx + dy * dy;
            const LoopLanes u = d * vlog(d + kTpsGuard);
            sx = sx + s.coefX[k] * u;
            sy = sy + s.coefY[k] * u;
        }
        for (int l = 0; l < 8; ++l) {
            vx[i0 + l] = sx[l] + ((s.coefX[K + 1] * px[l] + s.coefX[K]) + s.coefX[K + 2] * py[l]);
            vy[i0 + l] = sy[l] + ((s.coefY[K + 1] * px[l] + s.coefY[K]) + s.coefY[K + 2] * py[l]);
        }
    }
}
#endif

// The loop: on the AVX-512 kernel path the 8-lane loop above; otherwise,
// for each position, the squared distances to all K points, their
// logarithms in one pass of the path's logarithm, then both sums.  One
// thread; positions in whole blocks of 8; d and logs hold K values.
inline void kernelLoop(const SplinePair& s, const std::vector<double>& xs, const std::vector<double>& ys,
                       std::vector<double>& d, std::vector<double>& logs, double* vx, double* vy) {
#ifdef REGMEX_BENCH_KERNEL_LOOP_AVX512
    if (kernelPath() == KernelPath::kAvx512) return kernelLoop8(s, xs.data(), ys.data(), xs.size(), vx, vy);
#endif
    const int K = s.K;
    for (size_t i = 0; i < xs.size(); ++i) {
        for (int k = 0; k < K; ++k) {
            const double dx = s.ctrlX[k] - xs[i], dy = s.ctrlY[k] - ys[i];
            d[static_cast<size_t>(k)] = dx * dx + dy * dy;
            logs[static_cast<size_t>(k)] = d[static_cast<size_t>(k)] + kTpsGuard;
        }
        kernelLog(logs.data(), logs.data(), static_cast<size_t>(K));
        double sx = 0, sy = 0;
        for (int k = 0; k < K; ++k) {
            const double u = d[static_cast<size_t>(k)] * logs[static_cast<size_t>(k)];
            sx += s.coefX[k] * u;
            sy += s.coefY[k] * u;
        }
        vx[i] = sx + ((s.coefX[K + 1] * xs[i] + s.coefX[K]) + s.coefX[K + 2] * ys[i]);
        vy[i] = sy + ((s.coefY[K + 1] * xs[i] + s.coefY[K]) + s.coefY[K + 2] * ys[i]);
    }
}

}  // namespace warpmatch

#endif
