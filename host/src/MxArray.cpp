// The embedded host's arrays, memory and console: the mx* and mex* functions
// a plug-in calls, and the bookkeeping that lets a call's leftovers be
// reclaimed and counted when it returns.
#include "HostState.h"

#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <new>

struct mxArray_tag {
    mxClassID cls = mxDOUBLE_CLASS;
    std::vector<mwSize> dims;
    std::vector<int> dims700;  // the same sizes for the 32-bit entry points
    bool isComplex = false;
    bool isSparse = false;
    void* real = nullptr;
    void* imag = nullptr;
    std::vector<mxArray*> cells;  // cell arrays only; null for an empty cell
};

namespace mexhost {

HostState& state() {
    static HostState s;
    return s;
}

namespace {

size_t elementSize(mxClassID cls) {
    switch (cls) {
    case mxDOUBLE_CLASS: case mxINT64_CLASS: case mxUINT64_CLASS: return 8;
    case mxSINGLE_CLASS: case mxINT32_CLASS: case mxUINT32_CLASS: return 4;
    case mxINT16_CLASS: case mxUINT16_CLASS: case mxCHAR_CLASS: return 2;
    case mxINT8_CLASS: case mxUINT8_CLASS: case mxLOGICAL_CLASS: return 1;
    case mxCELL_CLASS: return sizeof(mxArray*);
    default: return 0;
    }
}

size_t countOf(const std::vector<mwSize>& dims) {
    size_t n = 1;
    for (mwSize d : dims) n *= d;
    return n;
}

[[noreturn]] void hostError(const char* id, const char* what) {
    mexErrMsgIdAndTxt(id, "%s", what);
}

[[noreturn]] void outOfMemory(const char* what) { hostError("regmex:host:outOfMemory", what); }

size_t askHeld() {
    HeldProbe held;
    {
        std::lock_guard<std::mutex> lock(state().mu);
        if (!state().inCall || !state().held) return 0;
        held = state().held;
    }
    const size_t n = held();
    std::lock_guard<std::mutex> lock(state().mu);
    if (n > state().heldAtHostCall) state().heldAtHostCall = n;
    return n;
}

// Registers a new top-level array: alive, and the current call's until it is
// returned, stored in a cell or destroyed.
mxArray* track(mxArray* a) {
    HostState& s = state();
    std::lock_guard<std::mutex> lock(s.mu);
    try {
        s.live.insert(a);
        if (s.inCall) s.callArrays.insert(a);
    } catch (const std::bad_alloc&) {
        s.live.erase(a);
        throw;
    }
    return a;
}

// Arrays nested in a duplicate are parts of one allocation, not allocations
// of their own.
mxArray* makeArray(mxClassID cls, const mwSize* sizes, size_t ndim, bool isComplex, bool registerIt = true) {
    if (registerIt) noteAllocation();
    mxArray_tag* a = nullptr;
    try {
        std::vector<mwSize> dims(sizes, sizes + ndim);
        if (dims.size() < 2) dims.resize(2, dims.empty() ? 0 : 1);
        while (dims.size() > 2 && dims.back() == 1) dims.pop_back();
        a = new mxArray_tag;
        a->cls = cls;
        a->dims = dims;
        for (mwSize d : dims) a->dims700.push_back(static_cast<int>(d));
        a->isComplex = isComplex;
        size_t n = countOf(dims);
        if (cls == mxCELL_CLASS) {
            a->cells.assign(n, nullptr);
        } else {
            size_t es = elementSize(cls);
            a->real = std::calloc(n ? n : 1, es ? es : 1);
            if (isComplex) a->imag = std::calloc(n ? n : 1, es ? es : 1);
            if (!a->real || (isComplex && !a->imag)) throw std::bad_alloc();
        }
        if (registerIt) return track(a);
        std::lock_guard<std::mutex> lock(state().mu);
        state().live.insert(a);
        return a;
    } catch (const std::bad_alloc&) {
        if (a) {
            std::free(a->real);
            std::free(a->imag);
            delete a;
        }
        outOfMemory("out of memory creating an array");
    }
}

mxArray* makeMatrix(mxClassID cls, mwSize m, mwSize n, bool isComplex) {
    const mwSize dims[2] = {m, n};
    return makeArray(cls, dims, 2, isComplex);
}

void destroyTree(mxArray* a) {
    if (!a) return;
    for (mxArray* c : a->cells) destroyTree(c);
    {
        HostState& s = state();
        std::lock_guard<std::mutex> lock(s.mu);
        s.live.erase(a);
        s.callArrays.erase(a);
    }
    std::free(a->real);
    std::free(a->imag);
    delete a;
}

mxArray* duplicate(const mxArray* a, bool topLevel) {
    mxArray* d = makeArray(a->cls, a->dims.data(), a->dims.size(), a->isComplex, topLevel);
    d->isSparse = a->isSparse;
    size_t n = countOf(a->dims);
    if (a->cls == mxCELL_CLASS) {
        for (size_t i = 0; i < n; ++i)
            d->cells[i] = a->cells[i] ? duplicate(a->cells[i], false) : nullptr;
    } else {
        size_t bytes = n * elementSize(a->cls);
        if (bytes) {
            std::memcpy(d->real, a->real, bytes);
            if (a->isComplex) std::memcpy(d->imag, a->imag, bytes);
        }
    }
    return d;
}

double elementAsDouble(const mxArray* a, size_t i) {
    switch (a->cls) {
    case mxDOUBLE_CLASS: return static_cast<const double*>(a->real)[i];
    case mxSINGLE_CLASS: return static_cast<const float*>(a->real)[i];
    case mxINT8_CLASS: return static_cast<const int8_t*>(a->real)[i];
    case mxUINT8_CLASS: return static_cast<const uint8_t*>(a->real)[i];
    case mxINT16_CLASS: return static_cast<const int16_t*>(a->real)[i];
    case mxUINT16_CLASS: return static_cast<const uint16_t*>(a->real)[i];
    case mxINT32_CLASS: return static_cast<const int32_t*>(a->real)[i];
    case mxUINT32_CLASS: return static_cast<const uint32_t*>(a->real)[i];
    case mxINT64_CLASS: return static_cast<double>(static_cast<const int64_t*>(a->real)[i]);
    case mxUINT64_CLASS: return static_cast<double>(static_cast<const uint64_t*>(a->real)[i]);
    case mxLOGICAL_CLASS: return static_cast<const mxLogical*>(a->real)[i] ? 1.0 : 0.0;
    case mxCHAR_CLASS: return static_cast<const mxChar*>(a->real)[i];
    default: return 0.0;
    }
}

size_t checkedCellIndex(const mxArray* a, size_t i) {
    if (!a || a->cls != mxCELL_CLASS)
        hostError("regmex:host:notCell", "cell access on an array that is not a cell array");
    if (i >= a->cells.size())
        hostError("regmex:host:badIndex", "cell index past the end of the cell array");
    return i;
}

}  // namespace

void noteAllocation() {
    HostState& s = state();
    size_t turn;
    {
        std::lock_guard<std::mutex> lock(s.mu);
        if (!s.inCall) return;
        turn = ++s.allocations;
    }
    askHeld();
    bool fail;
    {
        std::lock_guard<std::mutex> lock(s.mu);
        fail = s.callFailAt != 0 && turn == s.callFailAt;
        if (fail) s.injected = true;
    }
    if (fail) outOfMemory("out of memory (injected failure of a host allocation)");
}

void noteHeld() { askHeld(); }

namespace {

// MATLAB's conversion of a double to an integer class: round to nearest,
// saturate at the class's limits, NaN gives 0.
template <typename T>
T toInteger(double v) {
    if (std::isnan(v)) return 0;
    const double r = std::round(v);
    if (r <= static_cast<double>(std::numeric_limits<T>::min())) return std::numeric_limits<T>::min();
    if (r >= static_cast<double>(std::numeric_limits<T>::max())) return std::numeric_limits<T>::max();
    return static_cast<T>(r);
}

}  // namespace

void setElementFromDouble(mxArray* a, size_t i, double v) {
    switch (a->cls) {
    case mxDOUBLE_CLASS: static_cast<double*>(a->real)[i] = v; break;
    case mxSINGLE_CLASS: static_cast<float*>(a->real)[i] = static_cast<float>(v); break;
    case mxINT8_CLASS: static_cast<int8_t*>(a->real)[i] = toInteger<int8_t>(v); break;
    case mxUINT8_CLASS: static_cast<uint8_t*>(a->real)[i] = toInteger<uint8_t>(v); break;
    case mxINT16_CLASS: static_cast<int16_t*>(a->real)[i] = toInteger<int16_t>(v); break;
    case mxUINT16_CLASS: static_cast<uint16_t*>(a->real)[i] = toInteger<uint16_t>(v); break;
    case mxINT32_CLASS: static_cast<int32_t*>(a->real)[i] = toInteger<int32_t>(v); break;
    case mxUINT32_CLASS: static_cast<uint32_t*>(a->real)[i] = toInteger<uint32_t>(v); break;
    case mxINT64_CLASS: static_cast<int64_t*>(a->real)[i] = toInteger<int64_t>(v); break;
    case mxUINT64_CLASS: static_cast<uint64_t*>(a->real)[i] = toInteger<uint64_t>(v); break;
    case mxLOGICAL_CLASS: static_cast<mxLogical*>(a->real)[i] = v != 0; break;
    case mxCHAR_CLASS: static_cast<mxChar*>(a->real)[i] = toInteger<mxChar>(v); break;
    default: break;
    }
}

void markSparse(mxArray* a) { a->isSparse = true; }

uint64_t fingerprint(const mxArray* a) {
    uint64_t h = 1469598103934665603ull;
    // Word by word: arguments can be large images, and this runs twice a call.
    auto mix = [&h](const void* p, size_t n) {
        const auto* b = static_cast<const unsigned char*>(p);
        // Four independent lanes keep the multiplies from waiting on each other.
        uint64_t lane[4] = {h, h + 1, h + 2, h + 3};
        size_t i = 0;
        for (; i + 32 <= n; i += 32) {
            for (int k = 0; k < 4; ++k) {
                uint64_t w;
                std::memcpy(&w, b + i + 8 * k, 8);
                lane[k] = (lane[k] ^ w) * 1099511628211ull;
            }
        }
        h = lane[0] ^ (lane[1] * 3) ^ (lane[2] * 5) ^ (lane[3] * 7);
        for (; i < n; ++i) h = (h ^ b[i]) * 1099511628211ull;
    };
    if (!a) return h;
    mix(&a->cls, sizeof a->cls);
    mix(a->dims.data(), a->dims.size() * sizeof(mwSize));
    size_t n = countOf(a->dims);
    if (a->cls == mxCELL_CLASS) {
        for (const mxArray* c : a->cells) {
            uint64_t ch = fingerprint(c);
            mix(&ch, sizeof ch);
        }
    } else {
        mix(a->real, n * elementSize(a->cls));
        if (a->isComplex) mix(a->imag, n * elementSize(a->cls));
    }
    return h;
}

void destroyArrayTree(mxArray* a) { destroyTree(a); }

}  // namespace mexhost

using mexhost::state;

extern "C" {

double* mxGetPr(const mxArray* a) {
    return a && a->cls == mxDOUBLE_CLASS ? static_cast<double*>(a->real) : nullptr;
}
double* mxGetPi(const mxArray* a) {
    return a && a->cls == mxDOUBLE_CLASS ? static_cast<double*>(a->imag) : nullptr;
}
void* mxGetData(const mxArray* a) { return a && a->cls != mxCELL_CLASS ? a->real : nullptr; }
void* mxGetImagData(const mxArray* a) { return a ? a->imag : nullptr; }

double mxGetScalar(const mxArray* a) {
    if (!a || a->cls == mxCELL_CLASS || mexhost::countOf(a->dims) == 0) return 0.0;
    return mexhost::elementAsDouble(a, 0);
}

size_t mxGetM(const mxArray* a) { return a->dims[0]; }
size_t mxGetN(const mxArray* a) {
    size_t n = 1;
    for (size_t i = 1; i < a->dims.size(); ++i) n *= a->dims[i];
    return n;
}
mwSize mxGetNumberOfDimensions(const mxArray* a) { return a->dims.size(); }
const mwSize* mxGetDimensions(const mxArray* a) { return a->dims.data(); }
size_t mxGetNumberOfElements(const mxArray* a) { return mexhost::countOf(a->dims); }
size_t mxGetElementSize(const mxArray* a) { return mexhost::elementSize(a->cls); }
mxClassID mxGetClassID(const mxArray* a) { return a->cls; }

const char* mxGetClassName(const mxArray* a) {
    switch (a->cls) {
    case mxCELL_CLASS: return "cell";
    case mxSTRUCT_CLASS: return "struct";
    case mxLOGICAL_CLASS: return "logical";
    case mxCHAR_CLASS: return "char";
    case mxDOUBLE_CLASS: return "double";
    case mxSINGLE_CLASS: return "single";
    case mxINT8_CLASS: return "int8";
    case mxUINT8_CLASS: return "uint8";
    case mxINT16_CLASS: return "int16";
    case mxUINT16_CLASS: return "uint16";
    case mxINT32_CLASS: return "int32";
    case mxUINT32_CLASS: return "uint32";
    case mxINT64_CLASS: return "int64";
    case mxUINT64_CLASS: return "uint64";
    case mxFUNCTION_CLASS: return "function_handle";
    default: return "unknown";
    }
}

bool mxIsDouble(const mxArray* a) { return a->cls == mxDOUBLE_CLASS; }
bool mxIsSingle(const mxArray* a) { return a->cls == mxSINGLE_CLASS; }
bool mxIsNumeric(const mxArray* a) { return a->cls >= mxDOUBLE_CLASS && a->cls <= mxUINT64_CLASS; }
bool mxIsLogical(const mxArray* a) { return a->cls == mxLOGICAL_CLASS; }
bool mxIsChar(const mxArray* a) { return a->cls == mxCHAR_CLASS; }
bool mxIsCell(const mxArray* a) { return a->cls == mxCELL_CLASS; }
bool mxIsStruct(const mxArray* a) { return a->cls == mxSTRUCT_CLASS; }
bool mxIsComplex(const mxArray* a) { return a->isComplex; }
bool mxIsSparse(const mxArray* a) { return a->isSparse; }
bool mxIsEmpty(const mxArray* a) { return mexhost::countOf(a->dims) == 0; }
bool mxIsScalar(const mxArray* a) { return mexhost::countOf(a->dims) == 1; }
bool mxIsInt8(const mxArray* a) { return a->cls == mxINT8_CLASS; }
bool mxIsUint8(const mxArray* a) { return a->cls == mxUINT8_CLASS; }
bool mxIsInt16(const mxArray* a) { return a->cls == mxINT16_CLASS; }
bool mxIsUint16(const mxArray* a) { return a->cls == mxUINT16_CLASS; }
bool mxIsInt32(const mxArray* a) { return a->cls == mxINT32_CLASS; }
bool mxIsUint32(const mxArray* a) { return a->cls == mxUINT32_CLASS; }
bool mxIsInt64(const mxArray* a) { return a->cls == mxINT64_CLASS; }
bool mxIsUint64(const mxArray* a) { return a->cls == mxUINT64_CLASS; }

mxArray* mxCreateDoubleMatrix(mwSize m, mwSize n, mxComplexity flag) {
    return mexhost::makeMatrix(mxDOUBLE_CLASS, m, n, flag == mxCOMPLEX);
}
mxArray* mxCreateDoubleScalar(double value) {
    mxArray* a = mexhost::makeMatrix(mxDOUBLE_CLASS, 1, 1, false);
    *static_cast<double*>(a->real) = value;
    return a;
}
mxArray* mxCreateNumericMatrix(mwSize m, mwSize n, mxClassID classid, mxComplexity flag) {
    return mexhost::makeMatrix(classid, m, n, flag == mxCOMPLEX);
}
mxArray* mxCreateNumericArray(mwSize ndim, const mwSize* dims, mxClassID classid,
                              mxComplexity flag) {
    return mexhost::makeArray(classid, dims, ndim, flag == mxCOMPLEX);
}
mxArray* mxCreateLogicalMatrix(mwSize m, mwSize n) {
    return mexhost::makeMatrix(mxLOGICAL_CLASS, m, n, false);
}
mxArray* mxCreateLogicalScalar(bool value) {
    mxArray* a = mexhost::makeMatrix(mxLOGICAL_CLASS, 1, 1, false);
    *static_cast<mxLogical*>(a->real) = value ? 1 : 0;
    return a;
}
mxArray* mxCreateString(const char* str) {
    size_t n = str ? std::strlen(str) : 0;
    mxArray* a = mexhost::makeMatrix(mxCHAR_CLASS, n ? 1 : 0, n, false);
    for (size_t i = 0; i < n; ++i)
        static_cast<mxChar*>(a->real)[i] = static_cast<unsigned char>(str[i]);
    return a;
}
mxArray* mxCreateCharArray(mwSize ndim, const mwSize* dims) {
    return mexhost::makeArray(mxCHAR_CLASS, dims, ndim, false);
}
mxArray* mxCreateCellMatrix(mwSize m, mwSize n) {
    return mexhost::makeMatrix(mxCELL_CLASS, m, n, false);
}
mxArray* mxCreateCellArray(mwSize ndim, const mwSize* dims) {
    return mexhost::makeArray(mxCELL_CLASS, dims, ndim, false);
}
mxArray* mxDuplicateArray(const mxArray* a) { return a ? mexhost::duplicate(a, true) : nullptr; }
void mxDestroyArray(mxArray* a) { mexhost::destroyTree(a); }

mxArray* mxGetCell(const mxArray* a, mwIndex i) {
    size_t k = mexhost::checkedCellIndex(a, i);
    return a->cells[k];
}

void mxSetCell(mxArray* a, mwIndex i, mxArray* value) {
    mexhost::checkedCellIndex(a, i);
    mxArray* old = a->cells[i];
    a->cells[i] = value;
    auto& s = state();
    std::lock_guard<std::mutex> lock(s.mu);
    if (value) s.callArrays.erase(value);  // the cell array owns it now
    // The previous content is not released (the MEX contract); inside a call
    // it becomes the call's again, so it is reclaimed and counted.
    if (old && old != value && s.inCall) s.callArrays.insert(old);
}

int mxGetString(const mxArray* a, char* buf, mwSize buflen) {
    if (buflen == 0) return 1;
    buf[0] = '\0';
    if (!a || a->cls != mxCHAR_CLASS) return 1;
    size_t n = mexhost::countOf(a->dims);
    size_t k = n < buflen - 1 ? n : buflen - 1;
    for (size_t i = 0; i < k; ++i) buf[i] = static_cast<char>(static_cast<const mxChar*>(a->real)[i]);
    buf[k] = '\0';
    return k == n ? 0 : 1;
}

char* mxArrayToString(const mxArray* a) {
    if (!a || a->cls != mxCHAR_CLASS) return nullptr;
    size_t n = mexhost::countOf(a->dims);
    auto* s = static_cast<char*>(mxMalloc(n + 1));
    mxGetString(a, s, n + 1);
    return s;
}

void* mxMalloc(size_t n) {
    mexhost::noteAllocation();
    void* p = std::malloc(n ? n : 1);
    auto& s = state();
    bool inCall;
    {
        std::lock_guard<std::mutex> lock(s.mu);
        inCall = s.inCall;
        try {
            if (p) {
                s.blocks.insert(p);
                if (s.inCall) s.callBlocks.insert(p);
            }
        } catch (const std::bad_alloc&) {
            s.blocks.erase(p);
            std::free(p);
            p = nullptr;
        }
    }
    if (!p && inCall) mexhost::outOfMemory("out of memory in mxMalloc");
    return p;
}

void* mxCalloc(size_t n, size_t size) {
    if (size && n > std::numeric_limits<size_t>::max() / size) {
        mexhost::hostError("regmex:host:outOfMemory", "mxCalloc size overflows");
    }
    void* p = mxMalloc(n * size);
    if (p) std::memset(p, 0, n * size);
    return p;
}

void* mxRealloc(void* ptr, size_t size) {
    if (!ptr) return mxMalloc(size);
    mexhost::noteAllocation();
    void* p = std::realloc(ptr, size ? size : 1);
    if (!p) mexhost::hostError("regmex:host:outOfMemory", "out of memory in mxRealloc");
    auto& s = state();
    std::lock_guard<std::mutex> lock(s.mu);
    bool wasCall = s.callBlocks.erase(ptr) > 0;
    s.blocks.erase(ptr);
    s.blocks.insert(p);
    if (wasCall || s.inCall) s.callBlocks.insert(p);
    return p;
}

void mxFree(void* ptr) {
    if (!ptr) return;
    auto& s = state();
    {
        std::lock_guard<std::mutex> lock(s.mu);
        s.blocks.erase(ptr);
        s.callBlocks.erase(ptr);
    }
    std::free(ptr);
}

double mxGetNaN(void) { return std::numeric_limits<double>::quiet_NaN(); }
double mxGetInf(void) { return std::numeric_limits<double>::infinity(); }
double mxGetEps(void) { return std::numeric_limits<double>::epsilon(); }
bool mxIsNaN(double x) { return std::isnan(x); }
bool mxIsInf(double x) { return std::isinf(x); }
bool mxIsFinite(double x) { return std::isfinite(x); }

static std::string formatMessage(const char* fmt, va_list ap) {
    va_list copy;
    va_copy(copy, ap);
    int n = std::vsnprintf(nullptr, 0, fmt, copy);
    va_end(copy);
    std::string text(n > 0 ? static_cast<size_t>(n) : 0, '\0');
    if (n > 0) std::vsnprintf(&text[0], text.size() + 1, fmt, ap);
    return text;
}

int mexPrintf(const char* fmt, ...) {
    va_list ap;
    va_start(ap, fmt);
    const std::string text = formatMessage(fmt, ap);
    va_end(ap);
    auto& s = state();
    std::lock_guard<std::mutex> lock(s.mu);
    if (s.inCall)
        s.output += text;
    else
        std::fputs(text.c_str(), stdout);
    return static_cast<int>(text.size());
}

void mexErrMsgIdAndTxt(const char* id, const char* fmt, ...) {
    mexhost::noteHeld();
    va_list ap;
    va_start(ap, fmt);
    std::string message = formatMessage(fmt, ap);
    va_end(ap);
    throw mexhost::MexError{id ? id : "", message};
}

void mexErrMsgTxt(const char* msg) {
    mexhost::noteHeld();
    throw mexhost::MexError{"", msg ? msg : ""}; }

void mexWarnMsgIdAndTxt(const char* id, const char* fmt, ...) {
    va_list ap;
    va_start(ap, fmt);
    std::string message = formatMessage(fmt, ap);
    va_end(ap);
    mexPrintf("Warning: %s [%s]\n", message.c_str(), id ? id : "");
}

const char* mexFunctionName(void) {
    auto& s = state();
    std::lock_guard<std::mutex> lock(s.mu);
    return s.functionName.c_str();
}

// The 32-bit entry points take int sizes and indices; a negative one is
// refused before it is widened.
static mwSize size700(int m) {
    if (m < 0) mexhost::hostError("regmex:host:badSize", "negative matrix size");
    return static_cast<mwSize>(m);
}
static mwIndex index700(int i) {
    if (i < 0) mexhost::hostError("regmex:host:badIndex", "negative cell index");
    return static_cast<mwIndex>(i);
}
static std::vector<mwSize> widen(int ndim, const int* dims) {
    std::vector<mwSize> d;
    for (int i = 0; i < ndim; ++i) {
        if (dims[i] < 0) mexhost::hostError("regmex:host:badSize", "negative array size");
        d.push_back(static_cast<mwSize>(dims[i]));
    }
    return d;
}

mxArray* mxCreateDoubleMatrix_700(int m, int n, mxComplexity flag) {
    return mxCreateDoubleMatrix(size700(m), size700(n), flag);
}
mxArray* mxCreateNumericMatrix_700(int m, int n, mxClassID classid, mxComplexity flag) {
    return mxCreateNumericMatrix(size700(m), size700(n), classid, flag);
}
mxArray* mxCreateLogicalMatrix_700(int m, int n) { return mxCreateLogicalMatrix(size700(m), size700(n)); }
mxArray* mxCreateCellMatrix_700(int m, int n) { return mxCreateCellMatrix(size700(m), size700(n)); }
mxArray* mxCreateNumericArray_700(int ndim, const int* dims, mxClassID classid, mxComplexity flag) {
    const std::vector<mwSize> d = widen(ndim, dims);
    return mxCreateNumericArray(d.size(), d.data(), classid, flag);
}
mxArray* mxCreateCharArray_700(int ndim, const int* dims) {
    const std::vector<mwSize> d = widen(ndim, dims);
    return mxCreateCharArray(d.size(), d.data());
}
mxArray* mxCreateCellArray_700(int ndim, const int* dims) {
    const std::vector<mwSize> d = widen(ndim, dims);
    return mxCreateCellArray(d.size(), d.data());
}
mxArray* mxGetCell_700(const mxArray* a, int i) { return mxGetCell(a, index700(i)); }
void mxSetCell_700(mxArray* a, int i, mxArray* value) { mxSetCell(a, index700(i), value); }
int mxGetString_700(const mxArray* a, char* buf, int buflen) {
    return buflen <= 0 ? 1 : mxGetString(a, buf, static_cast<mwSize>(buflen));
}
int mxGetNumberOfDimensions_700(const mxArray* a) { return static_cast<int>(a->dims.size()); }
const int* mxGetDimensions_700(const mxArray* a) { return a->dims700.data(); }

}  // extern "C"
