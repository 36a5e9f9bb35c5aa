// Bookkeeping shared by the embedded host's array functions and its call loop.
#ifndef REGMEX_HOST_HOSTSTATE_H
#define REGMEX_HOST_HOSTSTATE_H

#include "MexHost.h"

#include <cstdint>
#include <mutex>
#include <string>
#include <unordered_set>

namespace mexhost {

// What mexErrMsgIdAndTxt throws; the call loop catches it and ends the call.
struct MexError {
    std::string id;
    std::string message;
};

struct HostState {
    std::mutex mu;
    std::unordered_set<mxArray*> live;         // every array not yet destroyed
    std::unordered_set<void*> blocks;          // every mxMalloc block not yet freed
    bool inCall = false;
    std::unordered_set<mxArray*> callArrays;   // made by the running call, not given away
    std::unordered_set<void*> callBlocks;      // mxMalloc'ed by the running call
    std::string output;                        // mexPrintf text of the running call
    std::string functionName;
    size_t failAt = 0;                         // allocation of the next call to fail, 0 for none
    size_t callFailAt = 0;                     // the same for the running call
    size_t allocations = 0;                    // host allocations of the running call
    bool injected = false;
    HeldProbe held;                            // the running plug-in's probe
    size_t heldAtHostCall = 0;
};

// Every host allocation of a call passes here first: it notes what the
// plug-in holds and raises the injected out-of-memory error when its turn
// has come.  Outside a call it does nothing.
void noteAllocation();
// Notes what the plug-in holds at an error that ends the call.
void noteHeld();

HostState& state();
void setElementFromDouble(mxArray* a, size_t i, double v);
void markSparse(mxArray* a);
uint64_t fingerprint(const mxArray* a);
void destroyArrayTree(mxArray* a);

}  // namespace mexhost

#endif
