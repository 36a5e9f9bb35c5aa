#include "SplineKernel.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>

// The vector paths need the vector extensions and x86 target attributes of
// GCC and clang, and glibc's libmvec; elsewhere (macOS, Windows) the scalar
// path is the only one.
#if defined(__GNUC__) && defined(__x86_64__) && defined(__GLIBC__)
#define REGMEX_KERNEL_VECTOR 1
#include <dlfcn.h>
// A fused multiply-add would round differently from the scalar path's
// separate multiply and add; AVX-512 code may otherwise contract them.
#ifdef __clang__
#pragma clang fp contract(off)
#else
#pragma GCC optimize("fp-contract=off")
#endif
#endif

namespace warpmatch {

namespace {

void scalarPairs(const SplinePair& s, const double* xs, const double* ys, int n, double* vx, double* vy) {
    for (int i = 0; i < n; ++i) tpsEvalPair(s, xs[i], ys[i], &vx[i], &vy[i]);
}

void scalarLog(const double* in, double* out, size_t n) {
    for (size_t i = 0; i < n; ++i) out[i] = std::log(in[i]);
}

#ifdef REGMEX_KERNEL_VECTOR

// glibc's vector logarithms, by their vector-ABI names: 4 lanes for AVX2,
// 8 for AVX-512.  Loaded rather than linked, so the plug-in needs no extra
// library on any build and still runs where libmvec is missing.
struct VectorLogs {
    void* log4 = nullptr;
    void* log8 = nullptr;
};

const VectorLogs& vectorLogs() {
    static const VectorLogs logs = [] {
        VectorLogs v;
        // Kept loaded for the life of the process.
        if (void* lib = dlopen("libmvec.so.1", RTLD_NOW | RTLD_LOCAL)) {
            v.log4 = dlsym(lib, "_ZGVdN4v_log");
            v.log8 = dlsym(lib, "_ZGVeN8v_log");
        }
        return v;
    }();
    return logs;
}

typedef double Lanes4 __attribute__((vector_size(32)));
typedef double Lanes8 __attribute__((vector_size(64)));

// One path: positions in groups of L lanes, a short group padded with its
// last position.  Per control point the same operations as tpsEvalPair, in
// the same order, on every lane.
#define REGMEX_KERNEL_PATH(PAIRS, LOG, TARGET, V, L, LOGFN)                                                \
    __attribute__((target(TARGET))) void PAIRS(const SplinePair& s, const double* xs, const double* ys, int n, \
                                               double* vx, double* vy) {                                   \
        using VectorLog = V (*)(V);                                                                         \
        const VectorLog vlog = reinterpret_cast<VectorLog>(vectorLogs().LOGFN);                             \
        const int K = s.K;                                                                                  \
        const double* wx = s.coefX;                                                                         \
        const double* wy = s.coefY;                                                                         \
        for (int i0 = 0; i0 < n; i0 += L) {                                                                 \
            const int m = std::min(L, n - i0);                                                              \
            V px, py;                                                                                       \
            for (int l = 0; l < L; ++l) {                                                                   \
                px[l] = xs[i0 + std::min(l, m - 1)];                                                        \
                py[l] = ys[i0 + std::min(l, m - 1)];                                                        \
            }                                                                                               \
            V sumX = px - px, sumY = sumX;                                                                  \
            for (int k = 0; k < K; ++k) {                                                                   \
                const V dx = s.ctrlX[k] - px;                                                               \
                const V dy = s.ctrlY[k] - py;                                                               \
                const V d = dx * dx + dy * dy;                                                              \
                const V u = d * vlog(d + kTpsGuard);                                                        \
                sumX = sumX + wx[k] * u;                                                                    \
                sumY = sumY + wy[k] * u;                                                                    \
            }                                                                                               \
            for (int l = 0; l < m; ++l) {                                                                   \
                const double x = px[l], y = py[l];                                                          \
                vx[i0 + l] = sumX[l] + ((wx[K + 1] * x + wx[K]) + wx[K + 2] * y);                           \
                vy[i0 + l] = sumY[l] + ((wy[K + 1] * x + wy[K]) + wy[K + 2] * y);                           \
            }                                                                                               \
        }                                                                                                   \
    }                                                                                                       \
    __attribute__((target(TARGET))) void LOG(const double* in, double* out, size_t n) {                     \
        using VectorLog = V (*)(V);                                                                         \
        const VectorLog vlog = reinterpret_cast<VectorLog>(vectorLogs().LOGFN);                             \
        for (size_t i0 = 0; i0 < n; i0 += L) {                                                              \
            const size_t m = std::min(static_cast<size_t>(L), n - i0);                                      \
            V v = {};                                                                                       \
            v = v + 1.0;                                                                                    \
            std::memcpy(&v, in + i0, m * sizeof(double));                                                   \
            v = vlog(v);                                                                                    \
            std::memcpy(out + i0, &v, m * sizeof(double));                                                  \
        }                                                                                                   \
    }

REGMEX_KERNEL_PATH(avx2Pairs, avx2Log, "avx2", Lanes4, 4, log4)
REGMEX_KERNEL_PATH(avx512Pairs, avx512Log, "avx512f", Lanes8, 8, log8)

#undef REGMEX_KERNEL_PATH

KernelPath detectBest() {
    const VectorLogs& logs = vectorLogs();
    __builtin_cpu_init();
    if (logs.log8 && __builtin_cpu_supports("avx512f")) return KernelPath::kAvx512;
    if (logs.log4 && __builtin_cpu_supports("avx2")) return KernelPath::kAvx2;
    return KernelPath::kScalar;
}

#else

KernelPath detectBest() { return KernelPath::kScalar; }

#endif

std::atomic<int>& current() {
    static std::atomic<int> path{static_cast<int>(bestKernelPath())};
    return path;
}

// Chosen when the library is loaded, so that loading libmvec does not fall
// inside the first call's coarse stage, between its stop polls.
[[maybe_unused]] const bool chosenAtLoad = current().load() >= 0;

}  // namespace

KernelPath bestKernelPath() {
    static const KernelPath best = detectBest();
    return best;
}

KernelPath kernelPath() { return static_cast<KernelPath>(current().load(std::memory_order_relaxed)); }

KernelPath setKernelPath(KernelPath p) {
    const KernelPath use = std::min(p, bestKernelPath());
    current().store(static_cast<int>(use), std::memory_order_relaxed);
    return use;
}

const char* kernelPathName(KernelPath p) {
    switch (p) {
        case KernelPath::kAvx512: return "avx512";
        case KernelPath::kAvx2: return "avx2";
        default: return "scalar";
    }
}

void tpsEvalPairs(const SplinePair& s, const double* xs, const double* ys, int n, double* vx, double* vy) {
    switch (kernelPath()) {
#ifdef REGMEX_KERNEL_VECTOR
        case KernelPath::kAvx512: return avx512Pairs(s, xs, ys, n, vx, vy);
        case KernelPath::kAvx2: return avx2Pairs(s, xs, ys, n, vx, vy);
#endif
        default: return scalarPairs(s, xs, ys, n, vx, vy);
    }
}

void kernelLog(const double* in, double* out, size_t n) {
    switch (kernelPath()) {
#ifdef REGMEX_KERNEL_VECTOR
        case KernelPath::kAvx512: return avx512Log(in, out, n);
        case KernelPath::kAvx2: return avx2Log(in, out, n);
#endif
        default: return scalarLog(in, out, n);
    }
}

}  // namespace warpmatch
