#include "Parallel.h"

#include "mex.h"

namespace parallel {

namespace {

std::atomic<int> threadFailureIn{0};
std::atomic<int> refused{0};

}  // namespace

int coreCount() {
    const unsigned n = std::thread::hardware_concurrency();
    if (n == 0) return 1;
    return n < static_cast<unsigned>(kMostWorkers) ? static_cast<int>(n) : kMostWorkers;
}

int workersFor(size_t items, size_t minItems) {
    const size_t most = minItems ? items / minItems : items;
    const int cores = coreCount();
    return most >= static_cast<size_t>(cores) ? cores : (most < 1 ? 1 : static_cast<int>(most));
}

void failThreadStart(int n) { threadFailureIn = n; }

bool threadStartFails() {
    int n = threadFailureIn.load();
    while (n > 0 && !threadFailureIn.compare_exchange_weak(n, n - 1)) {
    }
    if (n != 1) return false;
    ++refused;
    return true;
}

int refusedStarts() { return refused.load(); }

void Pool::countStarted() {
    std::lock_guard<std::mutex> guard(lock_);
    ++started_;
}

void Pool::finished() {
    std::lock_guard<std::mutex> guard(lock_);
    ++finished_;
    done_.notify_one();
}

void Pool::wait() {
    {
        std::unique_lock<std::mutex> wait(lock_);
        while (!done_.wait_for(wait, kPollInterval, [this] { return finished_ == started_; })) {
            // Asked without the lock: the hook may ask its host.
            wait.unlock();
            stopping();
            wait.lock();
        }
        started_ = finished_ = 0;
    }
    for (std::thread& t : threads_) t.join();
    threads_.clear();
}

}  // namespace parallel

#ifdef REGMEX_EMBEDDED_HOST
// For tests that load a plug-in built for the embedded host; MEX files built
// for Octave or MATLAB export only their entry points.
extern "C" __attribute__((visibility("default"))) void regmexFailThreadCreation(int n) {
    parallel::failThreadStart(n);
}
extern "C" __attribute__((visibility("default"))) int regmexRefusedThreadStarts() { return parallel::refusedStarts(); }
#endif
