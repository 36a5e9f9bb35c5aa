// Argument checks shared by the plug-in shells.  Each check raises
// mexErrMsgIdAndTxt with an identifier of the plug-in and a message naming the
// argument (counted from 1), what was expected and what was given.  Messages
// are formatted into stack buffers, since MATLAB unwinds an error without
// running destructors.
//
// A shell declares its arguments once, as an ArgTable, and checks through
// it, so that the index into prhs and the number a message shows cannot
// disagree.
#ifndef REGMEX_BRIDGE_MEXARGS_H
#define REGMEX_BRIDGE_MEXARGS_H

#include "mex.h"

#include <stddef.h>

namespace mexargs {

// One argument: its index in prhs, its name in messages, and the identifier
// "<plugin>:<condition>" of its refusals; number() is the position a MATLAB
// user counts, from 1.
struct Arg {
    int index;
    const char* name;
    const char* plugin;
    const char* condition;

    constexpr int number() const { return index + 1; }
    const mxArray* of(const mxArray* const* prhs) const { return prhs[index]; }
    // The same argument refused for another condition ("tooLarge").
    constexpr Arg as(const char* otherCondition) const { return Arg{index, name, plugin, otherCondition}; }
    // The same argument under a narrower name, refused as "<plugin>:<name>".
    constexpr Arg called(const char* narrower) const { return Arg{index, narrower, plugin, narrower}; }
};

// A plug-in's arguments in call order: argument i is named names[i] in
// messages and refused as "<plugin>:<names[i]>".  A shell indexes it with an
// enum of the same order, so prhs indices and message numbers come from one
// place.
template <int N>
struct ArgTable {
    const char* plugin;
    const char* names[N];

    constexpr Arg operator[](int i) const { return Arg{i, names[i], plugin, names[i]}; }
};

#ifdef __GNUC__
#define REGMEX_NORETURN_PRINTF(f, a) __attribute__((noreturn, format(printf, f, a)))
#else
#define REGMEX_NORETURN_PRINTF(f, a)
#endif

// Raises id with a printf-style message.
REGMEX_NORETURN_PRINTF(2, 3) void fail(const char* id, const char* fmt, ...);

// Raises arg.id with "argument <number> (<name>)" followed by the formatted
// text, which continues the sentence: " must be ...", ": element 2 ...".
REGMEX_NORETURN_PRINTF(2, 3) void failArg(const Arg& arg, const char* fmt, ...);

// As failArg, ending in ", got <description of value>".
REGMEX_NORETURN_PRINTF(3, 4) void refuse(const Arg& arg, const mxArray* value, const char* fmt, ...);

// "a 3x4 complex double array", "a 1x5 cell array", "nothing".
void describe(const mxArray* a, char* buf, size_t size);

// Refuses fewer than minIn or more than maxIn arguments ("<plugin>:nargin")
// and more than maxOut results ("<plugin>:nargout"); usage is quoted in the
// message.
void checkCounts(const char* plugin, int nrhs, int minIn, int maxIn, int nlhs, int maxOut, const char* usage);

// Real (not complex, not sparse) numeric or logical array.
bool isRealNumeric(const mxArray* a);
void requireRealNumeric(const Arg& arg, const mxArray* a);

// A grey-level image: real numeric, two-dimensional and not empty.
void requireImage2D(const Arg& arg, const mxArray* a);

// A real numeric or logical scalar, by value.
double realScalar(const Arg& arg, const mxArray* a);

// Element i of a real numeric or logical array, by value, as a double.
double elementValue(const mxArray* a, size_t i);

// A real double copy of a real numeric or logical array (same shape, values
// by value); the caller destroys it.  For a double array the copy is exact.
mxArray* toDouble(const mxArray* a);

}  // namespace mexargs

#endif
