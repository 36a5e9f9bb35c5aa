#include "MexArgs.h"

#include <climits>
#include <cmath>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

// The format check of MexArgs.h takes this vsnprintf to be C99's.
#if defined(__MINGW32__) && !__USE_MINGW_ANSI_STDIO
#error "MinGW-w64 without its C99 stdio: the messages' %zu would not format"
#endif

namespace mexargs {

namespace {

[[noreturn]] void raiseError(const char* id, const char* message) {
    mexErrMsgIdAndTxt(id, "%s", message);
    // Hosts declare mexErrMsgIdAndTxt differently; none returns from it.
    std::abort();
}

[[noreturn]] void raiseError(const Arg& arg, const char* message) {
    char id[128];
    std::snprintf(id, sizeof id, "%s:%s", arg.plugin, arg.entry.mnemonic);
    raiseError(id, message);
}

// "argument <number> (<name>)", or "option '<name>'", and the formatted
// continuation, into message.
void formatArg(char* message, size_t size, const Arg& arg, const char* fmt, va_list ap) {
    const int used = arg.entry.kind == Kind::option
                         ? std::snprintf(message, size, "option '%s'", arg.entry.name)
                         : std::snprintf(message, size, "argument %d (%s)", arg.number(), arg.entry.name);
    if (used > 0 && static_cast<size_t>(used) < size) std::vsnprintf(message + used, size - static_cast<size_t>(used), fmt, ap);
}

// A character row vector (or an empty text such as '').
bool isText(const mxArray* a) {
    return a && mxIsChar(a) && mxGetNumberOfDimensions(a) == 2 && (mxGetM(a) == 1 || mxIsEmpty(a));
}

// Longer texts match no name or choice; they are shown cut, with "...".
const size_t kTextBuffer = 64;

void readText(const mxArray* a, char* text) {
    if (mxGetString(a, text, kTextBuffer) != 0) std::snprintf(text + kTextBuffer - 4, 4, "...");
}

// ASCII letters compared without case: the same on every host and locale.
bool sameText(const char* a, const char* b) {
    for (;; ++a, ++b) {
        const char x = (*a >= 'A' && *a <= 'Z') ? static_cast<char>(*a - 'A' + 'a') : *a;
        const char y = (*b >= 'A' && *b <= 'Z') ? static_cast<char>(*b - 'A' + 'a') : *b;
        if (x != y) return false;
        if (!x) return true;
    }
}

// Appends "'<text>'" to a list of quoted texts separated by commas.
void appendQuoted(char* list, size_t size, const char* text) {
    const size_t used = std::strlen(list);
    if (used < size) std::snprintf(list + used, size - used, "%s'%s'", used ? ", " : "", text);
}

void listOptions(const ArgSpec* specs, int count, char* list, size_t size) {
    list[0] = '\0';
    for (int i = 0; i < count; ++i)
        if (specs[i].kind == Kind::option) appendQuoted(list, size, specs[i].name);
}

void listChoices(const char* const* choices, char* list, size_t size) {
    list[0] = '\0';
    for (const char* const* c = choices; c && *c; ++c) appendQuoted(list, size, *c);
}

// The index of the choice a text names, or -1.
int findChoice(const char* const* choices, const char* text) {
    int i = 0;
    for (const char* const* c = choices; c && *c; ++c, ++i)
        if (sameText(*c, text)) return i;
    return -1;
}

// The table slot of the option a text names, or -1.
int findOption(const ArgSpec* specs, int count, const char* text) {
    for (int i = 0; i < count; ++i)
        if (specs[i].kind == Kind::option && sameText(specs[i].name, text)) return i;
    return -1;
}

}  // namespace

void fail(const char* id, const char* fmt, ...) {
    char message[1024];
    va_list ap;
    va_start(ap, fmt);
    std::vsnprintf(message, sizeof message, fmt, ap);
    va_end(ap);
    raiseError(id, message);
}

void failArg(const Arg& arg, const char* fmt, ...) {
    char message[1024];
    va_list ap;
    va_start(ap, fmt);
    formatArg(message, sizeof message, arg, fmt, ap);
    va_end(ap);
    raiseError(arg, message);
}

void refuse(const Arg& arg, const mxArray* value, const char* fmt, ...) {
    char message[1024];
    va_list ap;
    va_start(ap, fmt);
    formatArg(message, sizeof message, arg, fmt, ap);
    va_end(ap);
    char what[192];
    describe(value, what, sizeof what);
    const size_t used = std::strlen(message);
    std::snprintf(message + used, sizeof message - used, ", got %s", what);
    raiseError(arg, message);
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

void checkCounts(const char* plugin, int nrhs, int minIn, int maxIn, int nlhs, int maxOut, const char* usage) {
    char id[64];
    std::snprintf(id, sizeof id, "%s:nargin", plugin);
    if (nrhs < minIn)
        fail(id, "%s needs %d input arguments, got %d. Usage: %s", plugin, minIn, nrhs, usage);
    if (nrhs > maxIn) {
        if (minIn == maxIn)
            fail(id, "%s takes %d input arguments, got %d. Usage: %s", plugin, maxIn, nrhs, usage);
        fail(id, "%s takes at most %d input arguments, got %d. Usage: %s", plugin, maxIn, nrhs, usage);
    }
    if (nlhs > maxOut) {
        std::snprintf(id, sizeof id, "%s:nargout", plugin);
        fail(id, "%s returns at most %d result%s, %d requested. Usage: %s", plugin, maxOut,
             maxOut == 1 ? "" : "s", nlhs, usage);
    }
}

Inputs parseInputs(const char* plugin, const char* usage, int maxResults, const ArgSpec* specs, int count, int nlhs,
                   int nrhs, const mxArray* const* prhs) {
    int required = 0;
    int positional = 0;
    for (int i = 0; i < count; ++i) {
        if (specs[i].kind == Kind::required) ++required;
        if (specs[i].kind != Kind::option) ++positional;
    }
    const bool hasOptions = positional < count;
    // With options, any number of name/value pairs may follow.
    checkCounts(plugin, nrhs, required, hasOptions ? INT_MAX : positional, nlhs, maxResults, usage);

    Inputs in;
    in.nrhs = nrhs;
    in.prhs = prhs;
    for (int& at : in.at) at = -1;
    char text[kTextBuffer];
    char names[512];
    listOptions(specs, count, names, sizeof names);
    int next = 0;
    for (; next < positional && next < nrhs; ++next) {
        if (next >= required && hasOptions && isText(prhs[next])) {
            readText(prhs[next], text);
            if (!specs[next].choices || findOption(specs, count, text) >= 0) break;
            // Neither an option nor a choice: the caller may have meant either.
            if (findChoice(specs[next].choices, text) < 0) {
                char list[512];
                listChoices(specs[next].choices, list, sizeof list);
                failArg(Arg{next, plugin, specs[next]}, " must be one of %s or an option name (%s), got '%s'", list,
                        names, text);
            }
        }
        in.at[next] = next;
    }
    if (next >= nrhs) return in;

    char id[96];
    std::snprintf(id, sizeof id, "%s:option", plugin);
    for (; next < nrhs; next += 2) {
        const mxArray* name = prhs[next];
        if (!isText(name)) {
            char what[192];
            describe(name, what, sizeof what);
            fail(id, "argument %d must be an option name (%s), got %s", next + 1, names, what);
        }
        readText(name, text);
        const int slot = findOption(specs, count, text);
        if (slot < 0) fail(id, "argument %d: there is no option '%s'; the options are %s", next + 1, text, names);
        if (next + 1 >= nrhs) fail(id, "option '%s' (argument %d) has no value after it", specs[slot].name, next + 1);
        in.at[slot] = next + 1;
    }
    return in;
}

bool isRealNumeric(const mxArray* a) {
    return a && (mxIsNumeric(a) || mxIsLogical(a)) && !mxIsComplex(a) && !mxIsSparse(a);
}

void requireRealNumeric(const Arg& arg, const mxArray* a) {
    if (!isRealNumeric(a)) refuse(arg, a, " must be a real numeric array");
}

void requireImage2D(const Arg& arg, const mxArray* a) {
    requireRealNumeric(arg, a);
    if (mxGetNumberOfDimensions(a) > 2)
        refuse(arg, a, " must be a 2-D grey-level matrix (convert a colour image to grey first)");
    if (mxIsEmpty(a)) refuse(arg, a, " must not be empty");
}

double realScalar(const Arg& arg, const mxArray* a) {
    if (!a && arg.entry.kind != Kind::required) return arg.entry.byDefault;
    if (!isRealNumeric(a) || mxGetNumberOfElements(a) != 1) refuse(arg, a, " must be a real numeric scalar");
    return elementValue(a, 0);
}

int choice(const Arg& arg, const mxArray* a) {
    if (!a && arg.entry.kind != Kind::required) return static_cast<int>(arg.entry.byDefault);
    char list[512];
    listChoices(arg.entry.choices, list, sizeof list);
    if (!isText(a)) refuse(arg, a, " must be one of %s", list);
    char text[kTextBuffer];
    readText(a, text);
    const int i = findChoice(arg.entry.choices, text);
    if (i < 0) failArg(arg, " must be one of %s, got '%s'", list, text);
    return i;
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
