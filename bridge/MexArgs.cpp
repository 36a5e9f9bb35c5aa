#include "MexArgs.h"

#include <cmath>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstring>

namespace mexargs {

void fail(const char* id, const char* fmt, ...) {
    char message[1024];
    va_list ap;
    va_start(ap, fmt);
    std::vsnprintf(message, sizeof message, fmt, ap);
    va_end(ap);
    mexErrMsgIdAndTxt(id, "%s", message);
    // Hosts declare mexErrMsgIdAndTxt differently; it never returns.
    for (;;) {}
}

void describe(const mxArray* a, char* buf, size_t size) {
    if (!a) {
        std::snprintf(buf, size, "nothing");
        return;
    }
    char dims[128] = "";
    const mwSize nd = mxGetNumberOfDimensions(a);
    const mwSize* d = mxGetDimensions(a);
    size_t used = 0;
    for (mwSize i = 0; i < nd && used + 24 < sizeof dims; ++i)
        used += static_cast<size_t>(std::snprintf(dims + used, sizeof dims - used, i ? "x%llu" : "%llu",
                                                  static_cast<unsigned long long>(d[i])));
    const char* kind = mxIsSparse(a) ? "sparse " : "";
    const char* cplx = mxIsComplex(a) ? "complex " : "";
    std::snprintf(buf, size, "a %s %s%s%s array", dims, kind, cplx, mxGetClassName(a));
}

void checkCounts(const char* plugin, int nrhs, int minIn, int nlhs, int maxOut, const char* usage) {
    char id[64];
    if (nrhs < minIn) {
        std::snprintf(id, sizeof id, "%s:nargin", plugin);
        fail(id, "%s needs %d input arguments, got %d. Usage: %s", plugin, minIn, nrhs, usage);
    }
    if (nlhs > maxOut) {
        std::snprintf(id, sizeof id, "%s:nargout", plugin);
        fail(id, "%s returns at most %d result%s, %d requested. Usage: %s", plugin, maxOut,
             maxOut == 1 ? "" : "s", nlhs, usage);
    }
}

bool isRealNumeric(const mxArray* a) {
    return a && (mxIsNumeric(a) || mxIsLogical(a)) && !mxIsComplex(a) && !mxIsSparse(a);
}

void requireRealNumeric(const mxArray* a, const char* id, int argNo, const char* name) {
    if (isRealNumeric(a)) return;
    char what[192];
    describe(a, what, sizeof what);
    fail(id, "argument %d (%s) must be a real numeric array, got %s", argNo, name, what);
}

double realScalar(const mxArray* a, const char* id, int argNo, const char* name) {
    if (!isRealNumeric(a) || mxGetNumberOfElements(a) != 1) {
        char what[192];
        describe(a, what, sizeof what);
        fail(id, "argument %d (%s) must be a real numeric scalar, got %s", argNo, name, what);
    }
    return elementValue(a, 0);
}

double elementValue(const mxArray* a, size_t i) {
    const void* p = mxGetData(a);
    switch (mxGetClassID(a)) {
    case mxDOUBLE_CLASS: return static_cast<const double*>(p)[i];
    case mxSINGLE_CLASS: return static_cast<const float*>(p)[i];
    case mxINT8_CLASS: return static_cast<const int8_t*>(p)[i];
    case mxUINT8_CLASS: return static_cast<const uint8_t*>(p)[i];
    case mxINT16_CLASS: return static_cast<const int16_t*>(p)[i];
    case mxUINT16_CLASS: return static_cast<const uint16_t*>(p)[i];
    case mxINT32_CLASS: return static_cast<const int32_t*>(p)[i];
    case mxUINT32_CLASS: return static_cast<const uint32_t*>(p)[i];
    case mxINT64_CLASS: return static_cast<double>(static_cast<const int64_t*>(p)[i]);
    case mxUINT64_CLASS: return static_cast<double>(static_cast<const uint64_t*>(p)[i]);
    case mxLOGICAL_CLASS: return static_cast<const mxLogical*>(p)[i] ? 1.0 : 0.0;
    default: return 0.0;
    }
}

mxArray* toDouble(const mxArray* a) {
    if (mxIsDouble(a)) return mxDuplicateArray(a);
    mxArray* out = mxCreateNumericArray(mxGetNumberOfDimensions(a), mxGetDimensions(a),
                                        mxDOUBLE_CLASS, mxREAL);
    double* o = mxGetPr(out);
    const size_t n = mxGetNumberOfElements(a);
    for (size_t i = 0; i < n; ++i) o[i] = elementValue(a, i);
    return out;
}

}  // namespace mexargs
