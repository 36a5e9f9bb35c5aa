// Calls of the plug-ins that link OpenCV, run on the Linux build and, under
// wine, on the Windows one, so that the two can be compared value by value:
//
//   plugin_calls NAME PLUGIN --write FILE     records every call's outcome
//   plugin_calls NAME PLUGIN --compare FILE   runs the same calls and compares
//
// run from a folder holding the images the calls read (IMAGES below).
// Every call must end as its case expects (results, or the expected error
// identifier), let no exception escape and leave no host memory behind.  A
// value marked exact must be bit-identical on both; one that went through a
// libm function (log, exp, ...) may differ by 2 units in the last place of
// its own precision (single for the values OpenCV computes in float).  The
// lines a call prints must be the same, in any order where the case says
// that threads print them.
#ifndef REGMEX_TESTS_WINDOWS_PLUGINCALLS_H
#define REGMEX_TESTS_WINDOWS_PLUGINCALLS_H

#include "MexHost.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace calls {

// How a value is compared.
enum class Kind : char {
    exact = 'e',   // bit for bit
    libm = 'd',    // within 2 ulp as a double
    single = 'f',  // within 2 ulp as a float (computed in single precision)
};

// How each element of result `output` is compared (index column-major).
using KindOf = std::function<Kind(size_t output, size_t index)>;

struct Case {
    std::string name;
    std::function<std::vector<mexhost::ArrayPtr>()> args;
    int nlhs = 1;
    const char* refusal = nullptr;  // expected error identifier, or null
    KindOf kind;                    // null: every value exact
    bool threadLines = false;       // printed lines compared in any order
    size_t failAllocation = 0;      // the host's n-th allocation of the call fails
};

// The grey image of a binary PGM (P5, 8 bits) in the current folder, column
// major as a double matrix; the calls read their photographs so, since the
// calling program links no image library.
mexhost::ArrayPtr image(const std::string& pgm);
// The same pixels, as another class or scaled.
mexhost::ArrayPtr imageAs(const std::string& pgm, mxClassID cls);
// The files the cases read; wine.sh makes them from data/.
extern const char* const kImages[];

mexhost::ArrayPtr row(const std::vector<double>& v);
mexhost::ArrayPtr column(const std::vector<double>& v);

std::vector<Case> tmatchCases();
std::vector<Case> gridcornersCases();
std::vector<Case> warpmatchCases();
std::vector<Case> patchmatchCases();

}  // namespace calls

#endif
