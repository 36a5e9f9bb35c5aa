// The worker pool every threaded loop of the plug-ins runs on.  A Pool
// belongs to one call on the host's calling thread: it starts workers, waits
// for them while it asks its stop hook (the host's interrupt, Interrupt.h)
// every few milliseconds, and passes a stop on to every worker through one
// flag.  Workers never call host functions.
//
// One rule for the number of workers: one per core, at most kMostWorkers,
// and never more than there are pieces of work worth a thread each
// (workersFor).  A loop whose design fixes its own count (warpmatch's
// partition) passes that count in instead.
#ifndef REGMEX_BRIDGE_PARALLEL_H
#define REGMEX_BRIDGE_PARALLEL_H

#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <exception>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace parallel {

// Past this many cores more workers add threads, and per-worker scratch
// (images, message buffers), faster than they add speed.
constexpr int kMostWorkers = 64;

// std::thread::hardware_concurrency within [1, kMostWorkers].
int coreCount();

// Workers worth starting for `items` items when each should get at least
// `minItems` (thread start-up costs tens of microseconds): at least 1.
int workersFor(size_t items, size_t minItems = 1);

// Test seam: the n-th worker start from now on fails, n counted from 1, 0
// switching the seam off, as a system out of threads refuses one.
void failThreadStart(int n);
// Asked by the pool before each start; true consumes the armed failure.
bool threadStartFails();
// Starts the seam has refused so far, so that a test knows when a call made
// fewer starts than the one it armed.
int refusedStarts();

class Pool {
public:
    // How long the calling thread waits for its workers between two
    // questions to the stop hook.
    static constexpr std::chrono::milliseconds kPollInterval{2};

    // Made on the calling thread, the only one that asks shouldStop.
    explicit Pool(std::function<bool()> shouldStop = nullptr)
        : shouldStop_(std::move(shouldStop)), caller_(std::this_thread::get_id()) {}
    Pool(const Pool&) = delete;
    Pool& operator=(const Pool&) = delete;
    ~Pool() { wait(); }

    // Any thread, between two pieces of work: true once a stop was asked for.
    // On the calling thread this also asks the hook.
    bool stopping() {
        if (stopped()) return true;
        if (shouldStop_ && std::this_thread::get_id() == caller_ && shouldStop_()) {
            stop_.store(true, std::memory_order_relaxed);
            return true;
        }
        return false;
    }
    // Whether a stop was asked for, without asking again.
    bool stopped() const { return stop_.load(std::memory_order_relaxed); }
    const std::atomic<bool>& stopFlag() const { return stop_; }

    // Starts work(w) on a thread of its own for w = first .. last-1 in order
    // and returns how many started: a start refused (the seam, no thread, no
    // memory for its state) ends the starting, and the workers that did start,
    // or the calling thread, take the refused ones' share.
    template <typename Work>
    int start(int first, int last, Work work) {
        int started = 0;
        try {
            threads_.reserve(threads_.size() + static_cast<size_t>(last > first ? last - first : 0));
        } catch (const std::exception&) {
            return 0;
        }
        for (int w = first; w < last; ++w) {
            if (threadStartFails()) break;
            try {
                threads_.emplace_back([this, work, w] {
                    work(w);
                    finished();
                });
            } catch (const std::exception&) {
                break;
            }
            ++started;
            countStarted();
        }
        return started;
    }

    // Starts workers w = first .. last-1 through the caller's own thread
    // primitive: launch(w) returns 0 once the worker runs, else the error
    // code, which ends the starting and goes to *error.  Such a worker calls
    // finished() when it is done with the caller's data; the caller joins it
    // after wait().  The seam fails a start as EAGAIN.
    template <typename Launch>
    int launch(int first, int last, Launch launch, int* error) {
        int started = 0;
        *error = 0;
        for (int w = first; w < last; ++w) {
            const int rc = threadStartFails() ? kRefused : launch(w);
            if (rc != 0) {
                *error = rc;
                break;
            }
            ++started;
            countStarted();
        }
        return started;
    }

    // A launched worker, as the last thing it does with the caller's data.
    void finished();

    // Calling thread: waits until every worker started so far has finished,
    // asking the hook every kPollInterval until one answer is yes, then
    // joins the pool's own threads.  The pool can start workers again.
    void wait();

    // The error a start refused by the seam reports, as pthread_create's.
    static constexpr int kRefused = EAGAIN;

private:
    void countStarted();

    std::function<bool()> shouldStop_;
    const std::thread::id caller_;
    std::atomic<bool> stop_{false};
    std::mutex lock_;
    std::condition_variable done_;
    int started_ = 0;
    int finished_ = 0;
    std::vector<std::thread> threads_;
};

// body(begin, end) over [0, count) in `workers` contiguous ranges; the
// calling thread takes the first range, and the ranges of workers that
// cannot start after its own.  Each item's result depends on its range
// alone, so not on how many workers ran.  The body may ask pool.stopping().
template <typename Body>
void forRanges(Pool& pool, size_t count, int workers, Body body) {
    if (workers < 1) workers = 1;
    if (static_cast<size_t>(workers) > count) workers = count ? static_cast<int>(count) : 1;
    auto begin = [&](int w) { return count * static_cast<size_t>(w) / static_cast<size_t>(workers); };
    const int started = pool.start(1, workers, [&body, &begin](int w) { body(begin(w), begin(w + 1)); });
    body(begin(0), begin(1));
    for (int w = 1 + started; w < workers; ++w) body(begin(w), begin(w + 1));
    pool.wait();
}

template <typename Body>
void forRanges(size_t count, int workers, Body body) {
    Pool pool;
    forRanges(pool, count, workers, body);
}

// helper() on a second thread while main() runs on this one, joined before
// returning; when no thread can start, helper() runs here after main().
// Meant for a serial stage (main) beside work that the two share.
template <typename Helper, typename Main>
void alongside(Helper helper, Main main) {
    Pool pool;
    const bool started = pool.start(0, 1, [&helper](int) { helper(); }) == 1;
    main();
    if (!started) helper();
    pool.wait();
}

}  // namespace parallel

#endif
