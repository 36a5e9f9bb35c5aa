// The embedded host's call loop and plug-in loader.
#include "HostState.h"

#ifdef _WIN32
#ifndef NOMINMAX
#define NOMINMAX
#endif
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#else
#include <dlfcn.h>
#endif

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <thread>

#ifndef REGMEX_PLUGIN_DIR_DEFAULT
#define REGMEX_PLUGIN_DIR_DEFAULT "."
#endif

namespace mexhost {

namespace {

std::atomic<bool> argumentCheck{true};

struct InterruptFlag {
    std::mutex mu;
    bool raised = false;
    long pollsLeft = -1;  // polls still answered no before raising; -1: none armed
    bool timed = false;
    std::chrono::steady_clock::time_point deadline;
    unsigned long polls = 0;
    unsigned long offThreadPolls = 0;
    std::thread::id caller;  // the running call's thread
};

InterruptFlag& interruptFlag() {
    static InterruptFlag flag;
    return flag;
}

}  // namespace

void setArgumentCheck(bool on) { argumentCheck = on; }

void failNextCallAllocation(size_t n) {
    std::lock_guard<std::mutex> lock(state().mu);
    state().failAt = n;
}

void raiseInterrupt() { raiseInterruptAfterPolls(0); }

void raiseInterruptAfterPolls(unsigned long polls) {
    InterruptFlag& f = interruptFlag();
    std::lock_guard<std::mutex> lock(f.mu);
    f.raised = polls == 0;
    f.pollsLeft = polls == 0 ? -1 : static_cast<long>(polls);
}

void raiseInterruptAfter(std::chrono::milliseconds delay) {
    InterruptFlag& f = interruptFlag();
    std::lock_guard<std::mutex> lock(f.mu);
    f.timed = true;
    f.deadline = std::chrono::steady_clock::now() + delay;
}

void clearInterrupt() {
    InterruptFlag& f = interruptFlag();
    std::lock_guard<std::mutex> lock(f.mu);
    f.raised = f.timed = false;
    f.pollsLeft = -1;
}

bool interruptRaised() {
    InterruptFlag& f = interruptFlag();
    std::lock_guard<std::mutex> lock(f.mu);
    return f.raised;
}

CallResult callEntry(MexFunction entry, const std::string& name, int nlhs,
                     const std::vector<const mxArray*>& args, const HeldProbe& held) {
    HostState& s = state();
    {
        std::lock_guard<std::mutex> lock(s.mu);
        if (s.inCall) throw std::logic_error("the embedded host runs one call at a time");
        s.inCall = true;
        s.callArrays.clear();
        s.callBlocks.clear();
        s.output.clear();
        s.functionName = name;
        s.callFailAt = s.failAt;
        s.failAt = 0;
        s.allocations = 0;
        s.injected = false;
        s.held = held;
        s.heldAtHostCall = 0;
    }
    {
        std::lock_guard<std::mutex> lock(interruptFlag().mu);
        interruptFlag().polls = interruptFlag().offThreadPolls = 0;
        interruptFlag().caller = std::this_thread::get_id();
    }
    const bool check = argumentCheck;
    std::vector<uint64_t> before;
    if (check)
        for (const mxArray* a : args) before.push_back(fingerprint(a));

    // MATLAB always provides at least one slot, for ans.
    std::vector<mxArray*> plhs(static_cast<size_t>(std::max(nlhs, 1)), nullptr);
    std::vector<const mxArray*> prhs(args);
    CallResult r;
    try {
        entry(nlhs, plhs.data(), static_cast<int>(prhs.size()), prhs.data());
        r.ok = true;
    } catch (const MexError& e) {
        r.errorId = e.id;
        r.errorMessage = e.message;
    } catch (const std::exception& e) {
        r.escaped = true;
        r.errorMessage = e.what();
    } catch (...) {
        r.escaped = true;
        r.errorMessage = "unknown exception";
    }
    if (r.ok) {
        for (int i = 0; i < nlhs; ++i) {
            if (!plhs[static_cast<size_t>(i)]) {
                r.ok = false;
                r.errorId = "regmex:host:unassignedOutput";
                r.errorMessage = "One or more output arguments not assigned during call.";
                break;
            }
        }
    }

    std::vector<mxArray*> leftovers;
    std::vector<void*> blocks;
    {
        std::lock_guard<std::mutex> lock(s.mu);
        if (r.ok) {
            for (mxArray* a : plhs) {
                if (a && s.callArrays.erase(a)) r.outputs.emplace_back(a);
                else if (a) r.outputs.emplace_back(nullptr);  // not the call's to give
            }
        }
        leftovers.assign(s.callArrays.begin(), s.callArrays.end());
        blocks.assign(s.callBlocks.begin(), s.callBlocks.end());
        r.output = s.output;
        r.hostAllocations = s.allocations;
        r.injectedFailure = s.injected;
        r.heldAtHostCall = s.heldAtHostCall;
        s.held = nullptr;
        s.inCall = false;
        s.callArrays.clear();
        s.callBlocks.clear();
    }
    {
        InterruptFlag& f = interruptFlag();
        std::lock_guard<std::mutex> lock(f.mu);
        r.interruptPolls = f.polls;
        r.offThreadPolls = f.offThreadPolls;
    }
    clearInterrupt();
    // A failed call's results are discarded like the rest of its arrays.
    r.leakedArrays = leftovers.size();
    r.leakedBlocks = blocks.size();
    for (mxArray* a : leftovers) destroyArrayTree(a);
    for (void* b : blocks) mxFree(b);
    if (held) r.leakedResources = held();
    if (r.ok) {
        // Outputs beyond what the caller asked for are kept only when nlhs is 0 (ans).
        if (nlhs > 0 && r.outputs.size() > static_cast<size_t>(nlhs)) r.outputs.resize(static_cast<size_t>(nlhs));
    }
    for (size_t i = 0; check && i < args.size(); ++i) {
        if (fingerprint(args[i]) != before[i]) {
            r.ok = false;
            r.errorId = "regmex:host:argumentChanged";
            r.errorMessage = "the call wrote into argument " + std::to_string(i + 1);
        }
    }
    return r;
}

namespace {

#ifdef _WIN32
void* openLibrary(const std::string& path, std::string& error) {
    HMODULE h = LoadLibraryA(path.c_str());
    if (!h) error = "error " + std::to_string(GetLastError()) + " loading " + path;
    return reinterpret_cast<void*>(h);
}
void* findSymbol(void* handle, const char* name) {
    return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(handle), name));
}
void closeLibrary(void* handle) { FreeLibrary(static_cast<HMODULE>(handle)); }
#else
void* openLibrary(const std::string& path, std::string& error) {
    void* h = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!h) error = dlerror();
    return h;
}
void* findSymbol(void* handle, const char* name) { return dlsym(handle, name); }
void closeLibrary(void* handle) { dlclose(handle); }
#endif

}  // namespace

Plugin::Plugin(const std::string& path) : name_(path) {
    std::string error;
    handle_ = openLibrary(path, error);
    if (!handle_) throw std::runtime_error("cannot load plug-in: " + error);
    entry_ = reinterpret_cast<MexFunction>(findSymbol(handle_, "mexFunction"));
    if (!entry_) {
        closeLibrary(handle_);
        throw std::runtime_error("plug-in exports no mexFunction: " + path);
    }
    liveImages_ = reinterpret_cast<int (*)()>(findSymbol(handle_, "regmexLiveImages"));
    liveBlocks_ = reinterpret_cast<int (*)()>(findSymbol(handle_, "regmexLiveBlocks"));
    size_t slash = path.find_last_of("/\\");
    std::string base = slash == std::string::npos ? path : path.substr(slash + 1);
    if (base.rfind("lib", 0) == 0) base = base.substr(3);
    name_ = base.substr(0, base.find('.'));
}

Plugin::~Plugin() {
    if (handle_) closeLibrary(handle_);
}

CallResult Plugin::call(int nlhs, const std::vector<const mxArray*>& args) const {
    HeldProbe held;
    if (liveImages_ || liveBlocks_) held = [this] { return liveImages() + liveBlocks(); };
    return callEntry(entry_, name_, nlhs, args, held);
}

size_t Plugin::liveImages() const { return liveImages_ ? static_cast<size_t>(liveImages_()) : 0; }
size_t Plugin::liveBlocks() const { return liveBlocks_ ? static_cast<size_t>(liveBlocks_()) : 0; }

void* Plugin::symbol(const char* name) const { return findSymbol(handle_, name); }

std::string pluginPath(const std::string& name) {
    const char* dir = std::getenv("REGMEX_PLUGIN_DIR");
    std::string d = dir && *dir ? dir : REGMEX_PLUGIN_DIR_DEFAULT;
#ifdef _WIN32
    return d + "/" + name + ".mexw64";
#else
    return d + "/lib" + name + ".so";
#endif
}

ArrayPtr matrix(size_t rows, size_t cols, const std::vector<double>& columnMajor) {
    ArrayPtr a(mxCreateDoubleMatrix(rows, cols, mxREAL));
    double* p = mxGetPr(a.get());
    for (size_t i = 0; i < columnMajor.size() && i < rows * cols; ++i) p[i] = columnMajor[i];
    return a;
}

ArrayPtr scalar(double value) { return ArrayPtr(mxCreateDoubleScalar(value)); }

ArrayPtr text(const std::string& s) { return ArrayPtr(mxCreateString(s.c_str())); }

ArrayPtr numeric(mxClassID cls, const std::vector<size_t>& dims,
                 const std::vector<double>& columnMajor) {
    ArrayPtr a(mxCreateNumericArray(dims.size(), dims.data(), cls, mxREAL));
    size_t n = mxGetNumberOfElements(a.get());
    for (size_t i = 0; i < columnMajor.size() && i < n; ++i) setElementFromDouble(a.get(), i, columnMajor[i]);
    return a;
}

ArrayPtr complexMatrix(size_t rows, size_t cols) {
    return ArrayPtr(mxCreateDoubleMatrix(rows, cols, mxCOMPLEX));
}

ArrayPtr sparseMatrix(size_t rows, size_t cols) {
    ArrayPtr a(mxCreateDoubleMatrix(rows, cols, mxREAL));
    markSparse(a.get());
    return a;
}

ArrayPtr cells(size_t rows, size_t cols) { return ArrayPtr(mxCreateCellMatrix(rows, cols)); }

void setCell(mxArray* cellArray, size_t row, size_t col, const mxArray* value) {
    size_t k = row + col * mxGetM(cellArray);
    mxDestroyArray(mxGetCell(cellArray, k));
    mxSetCell(cellArray, k, value ? mxDuplicateArray(value) : nullptr);
}

std::vector<double> values(const mxArray* a) {
    const double* p = mxGetPr(a);
    if (!p) return {};
    return std::vector<double>(p, p + mxGetNumberOfElements(a));
}

size_t liveArrays() {
    std::lock_guard<std::mutex> lock(state().mu);
    return state().live.size();
}

size_t liveBlocks() {
    std::lock_guard<std::mutex> lock(state().mu);
    return state().blocks.size();
}

}  // namespace mexhost

bool regmexHostInterruptPending(void) {
    mexhost::InterruptFlag& f = mexhost::interruptFlag();
    std::lock_guard<std::mutex> lock(f.mu);
    ++f.polls;
    if (std::this_thread::get_id() != f.caller) ++f.offThreadPolls;
    if (f.pollsLeft > 0 && --f.pollsLeft == 0) {
        f.raised = true;
        f.pollsLeft = -1;
        return false;  // this poll still answers no; the next one sees it
    }
    if (f.timed && std::chrono::steady_clock::now() >= f.deadline) f.raised = true;
    return f.raised;
}
