// Element, cell, search, sum and arithmetic operations on host matrices and
// plain double vectors, addressed by 0-based row and column.
//
// Every operation that reads elements through an mxArray reads a NaN element
// as 0.1; infinities pass unchanged.  Plain-vector operations and all writes
// use values as they are.  Positions are the caller's to keep in range.
#ifndef REGMEX_BRIDGE_CMEXANDCPP_H
#define REGMEX_BRIDGE_CMEXANDCPP_H

#include "mex.h"

class CMexAndCpp {
public:
    CMexAndCpp() {}
    ~CMexAndCpp() {}

    // Element (r, c) at r + c*M, M the matrix's own row count.
    static double GetMA(const mxArray* a, int r, int c);
    // Element at r + c*M with the caller's M; N plays no part.
    static double GetMA(const mxArray* a, int r, int c, int M, int N);
    static void SetMA(mxArray* a, int r, int c, double v);
    static void SetMA(mxArray* a, int r, int c, double v, int M, int N);

    // The array held in cell (r, c), still owned by the cell array; null when empty.
    static mxArray* GetMC(const mxArray* cells, int r, int c);
    // Replaces cell (r, c) by a copy of v, destroying the previous content first.
    static void SetMC(mxArray* cells, int r, int c, const mxArray* v);

    // Running best from -1000000, strictly greater wins: the first maximum
    // wins and index is written only on improvement.
    static double GetMax(const double* values, int count, int* index);
    // Scans row by row (rows outer, columns inner), not in memory order.
    static double GetMax(const mxArray* a, int* row, int* col);
    // Nearest point within 100000, strictly nearer wins; -1 when none.
    static int findClosest(double x, double y, const double* xs, const double* ys, int count);
    // Points are the mxGetN(xs) columns of row vectors xs and ys.
    static int findClosest(double x, double y, const mxArray* xs, const mxArray* ys);
    static double GetSum(const double* values, int count);
    // Sums row by row, which fixes the rounding.
    static double GetSum(const mxArray* a);

    static void division(double* values, double divisor, int count);
    static mxArray* division(const mxArray* a, double divisor);
    static mxArray* division(const mxArray* a, const mxArray* b);
    static void multiplication(const double* x, const double* y, double* out, int count);
    static mxArray* multiplication(const mxArray* a, const mxArray* b);
    static void Selfmultiplication(const double* x, double* y, int count);
};

#endif
