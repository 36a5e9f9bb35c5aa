// Embedded MEX host: loads a plug-in's shared library and calls its
// mexFunction the way MATLAB does, owning the arrays that cross the boundary.
//
// Everything a call makes with mxMalloc or mxCreate* and does not hand back
// (through plhs, or inside a returned cell array) is reclaimed when the call
// ends and counted, so tests can assert that a call leaked nothing.
#ifndef REGMEX_HOST_MEXHOST_H
#define REGMEX_HOST_MEXHOST_H

#include "mex.h"

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

// The embedded host's interrupt flag, found by plug-ins at run time (as they
// find MATLAB's and Octave's).  Each call counts as one poll.
extern "C" bool regmexHostInterruptPending(void);

namespace mexhost {

struct ArrayDeleter {
    void operator()(mxArray* a) const { mxDestroyArray(a); }
};
using ArrayPtr = std::unique_ptr<mxArray, ArrayDeleter>;

struct CallResult {
    bool ok = false;            // mexFunction returned normally
    bool escaped = false;       // a C++ exception left mexFunction: always a defect
    std::string errorId;        // set by mexErrMsgIdAndTxt
    std::string errorMessage;   // the formatted message, or the escaped exception's text
    std::string output;         // everything printed with mexPrintf during the call
    std::vector<ArrayPtr> outputs;  // plhs, owned by the caller of call()
    size_t leakedBlocks = 0;    // mxMalloc blocks still held when the call ended
    size_t leakedArrays = 0;    // arrays made by the call and neither returned nor destroyed
    unsigned long interruptPolls = 0;  // times the call asked whether it was interrupted
    unsigned long offThreadPolls = 0;  // of those, asked from another thread than the call's: a defect
    // What the plug-in held outside the host (images, malloc blocks), as its
    // probe reports it: at the most at any host allocation or error raised
    // during the call, and after the call.  MATLAB unwinds a failing host
    // call without destructors, so anything held then is lost for good.
    size_t heldAtHostCall = 0;
    size_t leakedResources = 0;
    size_t hostAllocations = 0; // host allocations the call made (mxMalloc, mxCreate*, ...)
    bool injectedFailure = false;  // the call met the allocation failure asked for

    bool leakFree() const {
        return leakedBlocks == 0 && leakedArrays == 0 && heldAtHostCall == 0 && leakedResources == 0;
    }
};

using MexFunction = void (*)(int, mxArray**, int, const mxArray**);

// Counts what a plug-in holds outside the host right now; empty when it
// holds nothing of its own.
using HeldProbe = std::function<size_t()>;

// A plug-in shared library, opened with dlopen (LoadLibrary on Windows) and
// closed on destruction.
class Plugin {
public:
    explicit Plugin(const std::string& path);
    ~Plugin();
    Plugin(const Plugin&) = delete;
    Plugin& operator=(const Plugin&) = delete;

    // Calls mexFunction with nlhs result slots and the given arguments.
    CallResult call(int nlhs, const std::vector<const mxArray*>& args) const;
    // The symbol, or null when the library does not export it.
    void* symbol(const char* name) const;
    // Images and malloc blocks the plug-in holds now, from the counters that
    // plug-ins built for this host export (0 for one that exports none).
    size_t liveImages() const;
    size_t liveBlocks() const;

private:
    void* handle_ = nullptr;
    MexFunction entry_ = nullptr;
    int (*liveImages_)() = nullptr;
    int (*liveBlocks_)() = nullptr;
    std::string name_;
};

// Runs any entry point as one host call (used for plug-ins and for core code
// that must run inside a call scope, such as the bridge's allocations).
CallResult callEntry(MexFunction entry, const std::string& name, int nlhs,
                     const std::vector<const mxArray*>& args, const HeldProbe& held = {});

// Fault injection: the n-th host allocation of the next call (n counted from
// 1; 0 switches it off) fails as MATLAB's do when memory runs out, raising
// regmex:host:outOfMemory from inside the allocating function.
void failNextCallAllocation(size_t n);

// Whether each call fingerprints its arguments before and after, to catch a
// plug-in writing into them (on by default).  Benchmarks turn it off: over a
// large image it costs more than a small call itself, and MATLAB makes no
// such check.
void setArgumentCheck(bool on);

// Path of a plug-in built next to the tests: $REGMEX_PLUGIN_DIR/lib<name>.so
// (<name>.mexw64 on Windows), falling back to the build folder compiled into
// the host.
std::string pluginPath(const std::string& name);

// Builders for test arguments.  They are made outside any call, so they belong
// to the test, which destroys them (ArrayPtr does so).
ArrayPtr matrix(size_t rows, size_t cols, const std::vector<double>& columnMajor = {});
ArrayPtr scalar(double value);
ArrayPtr text(const std::string& s);
ArrayPtr numeric(mxClassID cls, const std::vector<size_t>& dims,
                 const std::vector<double>& columnMajor = {});
ArrayPtr complexMatrix(size_t rows, size_t cols);
ArrayPtr sparseMatrix(size_t rows, size_t cols);
ArrayPtr cells(size_t rows, size_t cols);
// Stores a copy of value in cell (row, col) of a cell array.
void setCell(mxArray* cellArray, size_t row, size_t col, const mxArray* value);
// Column-major values of a real double array.
std::vector<double> values(const mxArray* a);

// Interrupt requests, as a user's Ctrl-C would make them.  The host drops the
// request when a call ends, as MATLAB and Octave act on a pending interrupt
// once the call has returned.
void raiseInterrupt();                                      // pending from now on
void raiseInterruptAfterPolls(unsigned long polls);         // the first `polls` polls answer no
void raiseInterruptAfter(std::chrono::milliseconds delay);  // pending once delay has passed
void clearInterrupt();
bool interruptRaised();

// Arrays and mxMalloc blocks alive right now, for tests of the host itself.
size_t liveArrays();
size_t liveBlocks();

}  // namespace mexhost

#endif
