// Argument checks shared by the plug-in shells.  Each check raises
// mexErrMsgIdAndTxt with an identifier of the plug-in and a message naming the
// argument (counted from 1), what was expected and what was given.  Messages
// are formatted into stack buffers, since MATLAB unwinds an error without
// running destructors.
//
// A shell declares its arguments once, as an ArgTable: required ones, then
// optional trailing ones with defaults, then name/value options.  Each entry
// carries the mnemonic of its identifier beside its display name, so that
// renaming what a message shows cannot rename a public identifier.  The
// table's parse checks the counts and finds the options; an argument is then
// read through its entry, which never reads past the arguments given.
#ifndef REGMEX_BRIDGE_MEXARGS_H
#define REGMEX_BRIDGE_MEXARGS_H

#include "mex.h"

#include <stddef.h>

namespace mexargs {

// How an argument is given: in its place (required, or optional at the end
// of the call), or as a name/value pair after the positional ones.
enum class Kind { required, optional, option };

// One entry of an argument table.
struct ArgSpec {
    const char* name;      // in messages; an option's name as callers write it
    const char* mnemonic;  // refusals are "<plugin>:<mnemonic>"
    Kind kind;
    // The value of an optional argument or option left out; for a choice,
    // the index of the default choice.
    double byDefault;
    // A choice's texts, ended by a null pointer; null for any other argument.
    const char* const* choices;

    // The same entry taking one of the given texts (case-insensitively).
    constexpr ArgSpec among(const char* const* texts) const {
        return ArgSpec{name, mnemonic, kind, byDefault, texts};
    }
};

constexpr ArgSpec required(const char* name, const char* mnemonic) {
    return ArgSpec{name, mnemonic, Kind::required, 0.0, nullptr};
}
constexpr ArgSpec optional(const char* name, const char* mnemonic, double byDefault) {
    return ArgSpec{name, mnemonic, Kind::optional, byDefault, nullptr};
}
constexpr ArgSpec option(const char* name, const char* mnemonic, double byDefault) {
    return ArgSpec{name, mnemonic, Kind::option, byDefault, nullptr};
}

// The most entries a table may have.
constexpr int kMaxArgs = 32;

// One call's arguments as a table's parse found them: at[slot] is where the
// value of table entry slot is in prhs, or -1 when it was not given.
struct Inputs {
    int nrhs;
    const mxArray* const* prhs;
    int at[kMaxArgs];
};

// One table entry of a plug-in.  slot is its place in the table, which for a
// positional argument is also its index in prhs; number() is then the
// position a MATLAB user counts, from 1 (messages name an option instead).
struct Arg {
    int slot;
    const char* plugin;
    ArgSpec entry;

    constexpr int number() const { return slot + 1; }
    constexpr const char* name() const { return entry.name; }
    // The argument's value, or null when the call did not give it.
    const mxArray* of(const Inputs& in) const {
        const int i = slot >= 0 && slot < kMaxArgs ? in.at[slot] : -1;
        return i >= 0 && i < in.nrhs ? in.prhs[i] : nullptr;
    }
    // The same argument refused for another condition ("tooLarge").
    constexpr Arg as(const char* otherMnemonic) const {
        return Arg{slot, plugin, ArgSpec{entry.name, otherMnemonic, entry.kind, entry.byDefault, entry.choices}};
    }
    // The same argument under a narrower name, refused as "<plugin>:<mnemonic>".
    constexpr Arg called(const char* narrower, const char* otherMnemonic) const {
        return Arg{slot, plugin, ArgSpec{narrower, otherMnemonic, entry.kind, entry.byDefault, entry.choices}};
    }
};

// Parses a call against a table of count entries (required, then optional,
// then options): refuses too few arguments, too many positional ones (when the
// table has no options) and more than maxResults results, with the usage line
// quoted, then finds the options.  In the place of an optional argument, a
// text begins the options, unless that argument is a choice: then a text
// naming an option begins them, one naming a choice is the argument, and any
// other is refused as the argument.  Option names match case-insensitively;
// a repeated option keeps its last value.  An unknown name, a name that is not
// a text and a name without a value are refused as "<plugin>:option".
Inputs parseInputs(const char* plugin, const char* usage, int maxResults, const ArgSpec* specs, int count, int nlhs,
                   int nrhs, const mxArray* const* prhs);

namespace detail {
constexpr bool orderedFrom(const ArgSpec* specs, int count, int i) {
    return i + 1 >= count ||
           (static_cast<int>(specs[i].kind) <= static_cast<int>(specs[i + 1].kind) && orderedFrom(specs, count, i + 1));
}
constexpr bool declaredFrom(const ArgSpec* specs, int count, int i) {
    return i >= count ||
           (specs[i].name && specs[i].mnemonic && specs[i].mnemonic[0] && declaredFrom(specs, count, i + 1));
}
}  // namespace detail

// A plug-in's arguments in call order; a shell indexes it with an enum of the
// same order, so prhs indices and message numbers come from one place.
template <int N>
struct ArgTable {
    static_assert(N >= 1 && N <= kMaxArgs, "an argument table holds 1 to kMaxArgs entries");

    const char* plugin;
    const char* usage;
    int maxResults;
    ArgSpec specs[N];

    constexpr Arg operator[](int i) const { return Arg{i, plugin, specs[i]}; }
    // Required entries first, then optional ones, then options, each with a
    // name and an identifier of its own: shells static_assert this.
    constexpr bool wellFormed() const {
        return detail::orderedFrom(specs, N, 0) && detail::declaredFrom(specs, N, 0);
    }
    Inputs parse(int nlhs, int nrhs, const mxArray* const* prhs) const {
        return parseInputs(plugin, usage, maxResults, specs, N, nlhs, nrhs, prhs);
    }
};

// __printf__ rather than printf: MATLAB's mex.h defines printf as mexPrintf,
// which would leave the attribute naming an unknown format and drop the check.
// MinGW-w64's __printf__ is the Microsoft C library's, which knows no %zu;
// MexArgs.cpp formats with MinGW-w64's own C99 vsnprintf, whose format is
// gnu_printf.
#if defined(__MINGW32__)
#define REGMEX_NORETURN_PRINTF(f, a) __attribute__((__noreturn__, __format__(__gnu_printf__, f, a)))
#elif defined(__GNUC__)
#define REGMEX_NORETURN_PRINTF(f, a) __attribute__((__noreturn__, __format__(__printf__, f, a)))
#else
#define REGMEX_NORETURN_PRINTF(f, a)
#endif

// Raises id with a printf-style message.
REGMEX_NORETURN_PRINTF(2, 3) void fail(const char* id, const char* fmt, ...);

// Raises the argument's identifier with "argument <number> (<name>)", or
// "option '<name>'" for an option, followed by the formatted text, which
// continues the sentence: " must be ...", ": element 2 ...".
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

// A real numeric or logical scalar, by value; an optional argument or option
// left out (a null a) reads as its default.
double realScalar(const Arg& arg, const mxArray* a);

// The index of the choice a text names, matched case-insensitively against
// the argument's choices; left out, the default's.  Refusals list the choices.
int choice(const Arg& arg, const mxArray* a);

// Element i of a real numeric or logical array, by value, as a double.
double elementValue(const mxArray* a, size_t i);

// A real double copy of a real numeric or logical array (same shape, values
// by value); the caller destroys it.  For a double array the copy is exact.
mxArray* toDouble(const mxArray* a);

}  // namespace mexargs

#endif
