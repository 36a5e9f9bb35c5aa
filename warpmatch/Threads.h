// Worker threads of the point inversion.  Each worker inverts one contiguous
// range of points (see Partition.h) and writes only that range of the two
// result buffers.  Workers never call into the host: they record their start
// and exit into a WorkerLog, which the calling thread prints after the joins.
#ifndef REGMEX_WARPMATCH_THREADS_H
#define REGMEX_WARPMATCH_THREADS_H

#include "Inversion.h"
#include "Partition.h"

#include <pthread.h>

#include <condition_variable>
#include <cstdint>
#include <mutex>

namespace warpmatch {

enum WorkerEventKind { kWorkerStart, kWorkerExit };

struct WorkerEvent {
    WorkerEventKind kind;
    int value;  // the worker's end index
};

// Start and exit events of one call, in the order they happened.
struct WorkerLog {
    std::mutex lock;
    std::condition_variable exited;
    int count = 0;
    int exits = 0;
    WorkerEvent events[2 * kMaxWorkers];

    void record(WorkerEventKind kind, int value);
    // Empties the log for the next call (no worker may be running).
    void reset() { count = exits = 0; }
};

// One worker's parameters.  Borrows everything, owns nothing.
struct ThreadParam {
    const double* ctrlX;
    const double* ctrlY;
    const double* targetX;
    const double* targetY;
    const double* coefX;
    const double* coefY;
    double* outX;  // shared by all workers; each writes [start, end)
    double* outY;
    int32_t start;
    int32_t end;
    int32_t count;  // K
    WorkerLog* log;
};

// Rewritten by every call; one call at a time (runInversionThreads serialises).
extern ThreadParam param[kMaxWorkers];
extern pthread_t hThread[kMaxWorkers];

void* ThreadProc(void* arg);

// The thread primitives, replaceable so tests can make them fail.
struct ThreadFunctions {
    int (*create)(pthread_t*, const pthread_attr_t*, void* (*)(void*), void*);
    int (*join)(pthread_t, void**);
};

struct ThreadRun {
    int workers = 0;       // workers the partition asked for
    int started = 0;       // workers actually created
    int createError = 0;   // pthread_create's code for worker `started`, 0 when all started
    int joinError = 0;     // code of the first failed join, 0 when none
    int failedWorker = -1; // the worker whose creation or join failed first
    bool ok() const { return createError == 0 && joinError == 0; }
};

// Partitions the K points, runs the workers and waits for all of them.  When
// a creation fails no further worker is created; every started worker is
// still waited for, so on return no worker touches outX, outY or log.
ThreadRun runInversionThreads(const InversionInput& in, double* outX, double* outY,
                              WorkerLog* log, const ThreadFunctions* fns = nullptr);

}  // namespace warpmatch

#endif
