#include "Parallel.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

// Whatever the count of workers and whichever start the system refuses,
// every item is done exactly once, the refused ranges on the calling thread.
TEST(Pool, RangesCoverEveryItemOnceWhicheverStartIsRefused) {
    for (size_t count : {size_t(0), size_t(1), size_t(5), size_t(1000)}) {
        for (int workers : {1, 2, 3, 7}) {
            for (int refuse : {0, 1, 2, 6}) {
                std::vector<std::atomic<int>> done(count);
                parallel::failThreadStart(refuse);
                parallel::forRanges(count, workers, [&](size_t begin, size_t end) {
                    for (size_t i = begin; i < end; ++i) ++done[i];
                });
                parallel::failThreadStart(0);
                for (size_t i = 0; i < count; ++i)
                    ASSERT_EQ(done[i].load(), 1) << count << " items, " << workers << " workers, start " << refuse
                                                 << " refused, item " << i;
            }
        }
    }
}

// The hook is asked on the calling thread only, while it waits too; its yes
// reaches every worker, and a launched worker's refused start reports EAGAIN.
TEST(Pool, StopAskedOnTheCallingThreadReachesEveryWorker) {
    const std::thread::id caller = std::this_thread::get_id();
    std::atomic<bool> offThread{false};
    int asked = 0;
    parallel::Pool pool([&] {
        offThread = offThread || std::this_thread::get_id() != caller;
        return ++asked == 3;
    });
    std::atomic<int> stoppedWorkers{0};
    const int started = pool.start(0, 3, [&](int) {
        while (!pool.stopping()) std::this_thread::sleep_for(std::chrono::microseconds(100));
        ++stoppedWorkers;
    });
    pool.wait();
    EXPECT_EQ(started, 3);
    EXPECT_EQ(stoppedWorkers.load(), 3);
    EXPECT_EQ(asked, 3);
    EXPECT_TRUE(pool.stopped());
    EXPECT_FALSE(offThread.load());

    int error = 0;
    parallel::failThreadStart(2);
    const int launched = pool.launch(0, 4, [&](int) { pool.finished(); return 0; }, &error);
    parallel::failThreadStart(0);
    pool.wait();
    EXPECT_EQ(launched, 1);
    EXPECT_EQ(error, parallel::Pool::kRefused);
}
