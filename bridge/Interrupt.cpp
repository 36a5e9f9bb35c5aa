#include "Interrupt.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <dlfcn.h>
#endif

namespace {

using PendingFunction = bool (*)();

#ifdef _WIN32
void* findSymbol(const char* library, const char* name) {
    HMODULE module = GetModuleHandleA(library);  // only a library already loaded
    return module ? reinterpret_cast<void*>(GetProcAddress(module, name)) : nullptr;
}
void* findGlobal(const char* name) {
    HMODULE module = GetModuleHandleA(nullptr);
    return module ? reinterpret_cast<void*>(GetProcAddress(module, name)) : nullptr;
}
#else
void* findGlobal(const char* name) { return dlsym(RTLD_DEFAULT, name); }
// MATLAB may keep libut out of the global scope; RTLD_NOLOAD only finds a
// library that is loaded already, it never loads one.
void* findSymbol(const char* library, const char* name) {
    void* handle = dlopen(library, RTLD_LAZY | RTLD_NOLOAD);
    if (!handle) return nullptr;
    void* symbol = dlsym(handle, name);
    dlclose(handle);  // drops the reference RTLD_NOLOAD took
    return symbol;
}
#endif

PendingFunction matlabFunction() {
    void* f = findGlobal("utIsInterruptPending");
#if defined(_WIN32)
    if (!f) f = findSymbol("libut.dll", "utIsInterruptPending");
#elif defined(__APPLE__)
    if (!f) f = findSymbol("libut.dylib", "utIsInterruptPending");
#else
    if (!f) f = findSymbol("libut.so", "utIsInterruptPending");
#endif
    return reinterpret_cast<PendingFunction>(f);
}

}  // namespace

InterruptPoll::InterruptPoll() {
    if ((function_ = matlabFunction()) != nullptr) {
        kind_ = Kind::function;
        return;
    }
    signalCaught_ = static_cast<volatile std::sig_atomic_t*>(findGlobal("octave_signal_caught"));
    interruptState_ = static_cast<volatile std::sig_atomic_t*>(findGlobal("octave_interrupt_state"));
    if (signalCaught_ && interruptState_) {
        kind_ = Kind::octave;
        return;
    }
    function_ = reinterpret_cast<PendingFunction>(findGlobal("regmexHostInterruptPending"));
    if (function_) kind_ = Kind::function;
}

bool InterruptPoll::pending() {
    if (raised_ || kind_ == Kind::none) return raised_;
    const auto now = std::chrono::steady_clock::now();
    if (now < next_) return false;
    next_ = now + kInterval;
    if (kind_ == Kind::octave) {
        // A caught signal that left no interrupt pending (state 0; below 0
        // while Octave handles one) is not ours to act on, and stays caught
        // for Octave to handle after the call.
        raised_ = *signalCaught_ != 0 && *interruptState_ > 0;
    } else {
        raised_ = function_();
    }
    return raised_;
}
