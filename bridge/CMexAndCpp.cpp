#include "CMexAndCpp.h"

#include "HostIndex.h"
#include "NanElement.h"
#include "VectorSearch.h"

#include <cmath>

namespace {

// The not-a-number substitute for every element read through an mxArray.
inline double substituted(double v) { return std::isnan(v) ? kNanElement : v; }

const double kMaxStart = -1000000.0;
const double kClosestStart = 100000.0;

}  // namespace

double CMexAndCpp::GetMA(const mxArray* a, int r, int c) {
    const int M = static_cast<int>(mxGetM(a));
    return GetMA(a, r, c, M, 0);
}

double CMexAndCpp::GetMA(const mxArray* a, int r, int c, int M, int /*N*/) {
    const double* p = mxGetPr(a);
    return substituted(p[mexargs::hostIndex(r, c, M)]);
}

void CMexAndCpp::SetMA(mxArray* a, int r, int c, double v) {
    SetMA(a, r, c, v, static_cast<int>(mxGetM(a)), 0);
}

void CMexAndCpp::SetMA(mxArray* a, int r, int c, double v, int M, int /*N*/) {
    mxGetPr(a)[mexargs::hostIndex(r, c, M)] = v;
}

mxArray* CMexAndCpp::GetMC(const mxArray* cells, int r, int c) {
    const size_t M = mxGetM(cells);
    return mxGetCell(cells, static_cast<mwIndex>(static_cast<size_t>(r) + static_cast<size_t>(c) * M));
}

void CMexAndCpp::SetMC(mxArray* cells, int r, int c, const mxArray* v) {
    const size_t M = mxGetM(cells);
    const mwIndex k = static_cast<mwIndex>(static_cast<size_t>(r) + static_cast<size_t>(c) * M);
    mxArray* old = mxGetCell(cells, k);
    if (old) mxDestroyArray(old);
    mxSetCell(cells, k, mxDuplicateArray(v));
}

double CMexAndCpp::GetMax(const double* values, int count, int* index) {
    return vectorsearch::GetMax(values, count, index);
}

double CMexAndCpp::GetMax(const mxArray* a, int* row, int* col) {
    const int M = static_cast<int>(mxGetM(a));
    const int N = static_cast<int>(mxGetN(a));
    double best = kMaxStart;
    for (int r = 0; r < M; ++r) {
        for (int c = 0; c < N; ++c) {
            const double v = GetMA(a, r, c, M, N);
            if (v > best) {
                best = v;
                *row = r;
                *col = c;
            }
        }
    }
    return best;
}

int CMexAndCpp::findClosest(double x, double y, const double* xs, const double* ys, int count) {
    return vectorsearch::findClosest(x, y, xs, ys, count);
}

int CMexAndCpp::findClosest(double x, double y, const mxArray* xs, const mxArray* ys) {
    const int count = static_cast<int>(mxGetN(xs));
    const double* px = mxGetPr(xs);
    const double* py = mxGetPr(ys);
    double best = kClosestStart;
    int result = -1;
    for (int i = 0; i < count; ++i) {
        const double xi = substituted(px[i]);
        const double yi = substituted(py[i]);
        const double d = std::sqrt((x - xi) * (x - xi) + (y - yi) * (y - yi));
        if (d < best) {
            best = d;
            result = i;
        }
    }
    return result;
}

double CMexAndCpp::GetSum(const double* values, int count) {
    return vectorsearch::GetSum(values, count);
}

double CMexAndCpp::GetSum(const mxArray* a) {
    const int M = static_cast<int>(mxGetM(a));
    const int N = static_cast<int>(mxGetN(a));
    double s = 0.0;
    for (int r = 0; r < M; ++r)
        for (int c = 0; c < N; ++c) s += GetMA(a, r, c, M, N);
    return s;
}

void CMexAndCpp::division(double* values, double divisor, int count) {
    for (int i = 0; i < count; ++i) values[i] = values[i] / divisor;
}

namespace {

// result(r, c) = op(a(r, c), b(r, c)) over a's size, rows outer; b is read
// with its own row count, or is the constant when b is null.  Elements read
// through an mxArray substitute 0.1 for NaN.
template <typename Op>
mxArray* elementwise(const mxArray* a, const mxArray* b, double constant, Op op) {
    const int M = static_cast<int>(mxGetM(a));
    const int N = static_cast<int>(mxGetN(a));
    const int Mb = b ? static_cast<int>(mxGetM(b)) : 0;
    mxArray* result = mxDuplicateArray(a);
    for (int r = 0; r < M; ++r)
        for (int c = 0; c < N; ++c) {
            const double q = b ? CMexAndCpp::GetMA(b, r, c, Mb, N) : constant;
            CMexAndCpp::SetMA(result, r, c, op(CMexAndCpp::GetMA(a, r, c, M, N), q), M, N);
        }
    return result;
}

}  // namespace

mxArray* CMexAndCpp::division(const mxArray* a, double divisor) {
    return elementwise(a, nullptr, divisor, [](double p, double q) { return p / q; });
}

mxArray* CMexAndCpp::division(const mxArray* a, const mxArray* b) {
    return elementwise(a, b, 0.0, [](double p, double q) { return p / q; });
}

void CMexAndCpp::multiplication(const double* x, const double* y, double* out, int count) {
    for (int i = 0; i < count; ++i) out[i] = x[i] * y[i];
}

mxArray* CMexAndCpp::multiplication(const mxArray* a, const mxArray* b) {
    return elementwise(a, b, 0.0, [](double p, double q) { return p * q; });
}

void CMexAndCpp::Selfmultiplication(const double* x, double* y, int count) {
    for (int i = 0; i < count; ++i) y[i] = x[i] * y[i];
}
