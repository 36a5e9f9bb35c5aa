// Argument checks shared by the plug-in shells.  Each check raises
// mexErrMsgIdAndTxt with the caller's identifier and a message naming the
// argument (counted from 1), what was expected and what was given.  Messages
// are formatted into stack buffers, since MATLAB unwinds an error without
// running destructors.
#ifndef REGMEX_BRIDGE_MEXARGS_H
#define REGMEX_BRIDGE_MEXARGS_H

#include "mex.h"

#include <stddef.h>

namespace mexargs {

// Raises id with a printf-style message.
#ifdef __GNUC__
__attribute__((noreturn, format(printf, 2, 3)))
#endif
void fail(const char* id, const char* fmt, ...);

// "a 3x4 complex double array", "a 1x5 cell array", "an empty double array".
void describe(const mxArray* a, char* buf, size_t size);

// Refuses fewer than minIn arguments (id "<plugin>:nargin") or more than
// maxOut results ("<plugin>:nargout"); usage is quoted in the message.
void checkCounts(const char* plugin, int nrhs, int minIn, int nlhs, int maxOut, const char* usage);

// Real (not complex, not sparse) numeric or logical array.
bool isRealNumeric(const mxArray* a);
void requireRealNumeric(const mxArray* a, const char* id, int argNo, const char* name);

// A real numeric or logical scalar, by value.
double realScalar(const mxArray* a, const char* id, int argNo, const char* name);

// Element i of a real numeric or logical array, by value, as a double.
double elementValue(const mxArray* a, size_t i);

// A real double copy of a real numeric or logical array (same shape, values
// by value); the caller destroys it.  For a double array the copy is exact.
mxArray* toDouble(const mxArray* a);

}  // namespace mexargs

#endif
