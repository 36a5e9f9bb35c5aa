// The host's interrupt request (Ctrl-C), found at run time so that no
// plug-in links anything new:
//   MATLAB         utIsInterruptPending() of libut
//   GNU Octave     octave_signal_caught and octave_interrupt_state of liboctave
//   embedded host  regmexHostInterruptPending() (see MexHost.h)
// A host offering none of them is never seen to interrupt.
//
// Polling only reads the host's state and never clears it, so the host still
// sees its interrupt once the call has returned.  In Octave a SIGINT both
// sets octave_signal_caught and raises octave_interrupt_state above 0 at
// once, in the signal handler; other signals (SIGCHLD, SIGUSR1, SIGPIPE,
// SIGALRM ...) set octave_signal_caught alone.  Both variables change
// behind the compiler's back and are read as volatile: octave_interrupt_state
// is not declared so, and a loop reading it as declared may never see it
// change.
#ifndef REGMEX_BRIDGE_INTERRUPT_H
#define REGMEX_BRIDGE_INTERRUPT_H

#include <chrono>
#include <csignal>
#include <functional>

class InterruptPoll {
public:
    // Asks the host at most this often; calls in between repeat the last answer.
    static constexpr std::chrono::milliseconds kInterval{2};

    // Looks up the host; on the host's calling thread.
    InterruptPoll();

    // True when the host offers an interrupt state.
    bool available() const { return kind_ != Kind::none; }

    // On the host's calling thread only, never on a worker: true once the host
    // has an interrupt pending (and from then on).  Cheap enough between any
    // two pieces of work of a few microseconds.
    bool pending();

private:
    enum class Kind { none, function, octave };
    Kind kind_ = Kind::none;
    bool (*function_)() = nullptr;
    volatile std::sig_atomic_t* signalCaught_ = nullptr;
    volatile std::sig_atomic_t* interruptState_ = nullptr;
    std::chrono::steady_clock::time_point next_{};
    bool raised_ = false;
};

// The host's interrupt as the stop hook of a call's worker pool (Parallel.h),
// empty when the host offers none, so that nothing is asked in vain.  Lives
// on the host's calling thread for the call.
class InterruptHook {
public:
    InterruptHook() {
        if (poll_.available()) hook_ = [this] { return poll_.pending(); };
    }
    InterruptHook(const InterruptHook&) = delete;
    InterruptHook& operator=(const InterruptHook&) = delete;

    const std::function<bool()>& shouldStop() const { return hook_; }

private:
    mutable InterruptPoll poll_;  // asked through hook_, also of a const hook
    std::function<bool()> hook_;
};

#endif
