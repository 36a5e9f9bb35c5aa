// Work split over the machine's cores for loops whose items are independent:
// each worker takes one contiguous range, so the results cannot depend on
// how many workers ran.  Workers must not call host functions.
#ifndef REGMEX_BRIDGE_PARALLEL_H
#define REGMEX_BRIDGE_PARALLEL_H

#include <cstddef>
#include <system_error>
#include <thread>
#include <vector>

namespace parallel {

// std::thread::hardware_concurrency, at least 1.
inline int coreCount() {
    const unsigned n = std::thread::hardware_concurrency();
    return n == 0 ? 1 : static_cast<int>(n < 64 ? n : 64);
}

// Workers worth starting for `items` items when each should get at least
// `minItems` (thread start-up costs tens of microseconds).
inline int workersFor(size_t items, size_t minItems) {
    const size_t most = minItems ? items / minItems : items;
    const int cores = coreCount();
    return most >= static_cast<size_t>(cores) ? cores : (most < 1 ? 1 : static_cast<int>(most));
}

// body(begin, end) over [0, count) in `workers` contiguous ranges; the
// calling thread takes the first range.  A worker that cannot start leaves
// its range to the calling thread.
template <typename Body>
void forRanges(size_t count, int workers, Body body) {
    if (workers < 1) workers = 1;
    if (static_cast<size_t>(workers) > count) workers = count ? static_cast<int>(count) : 1;
    auto begin = [&](int w) { return count * static_cast<size_t>(w) / static_cast<size_t>(workers); };
    std::vector<std::thread> threads;
    std::vector<int> inline_;
    threads.reserve(static_cast<size_t>(workers));
    for (int w = 1; w < workers; ++w) {
        try {
            threads.emplace_back(body, begin(w), begin(w + 1));
        } catch (const std::system_error&) {
            inline_.push_back(w);
        }
    }
    body(begin(0), begin(1));
    for (int w : inline_) body(begin(w), begin(w + 1));
    for (std::thread& t : threads) t.join();
}

// helper() on a second thread while main() runs on this one, joined before
// returning; when no thread can start, helper() runs here after main().
// Meant for a serial stage (main) beside work that the two share.
template <typename Helper, typename Main>
void alongside(Helper helper, Main main) {
    std::thread thread;
    try {
        thread = std::thread(helper);
    } catch (const std::system_error&) {
        main();
        helper();
        return;
    }
    main();
    thread.join();
}

}  // namespace parallel

#endif
