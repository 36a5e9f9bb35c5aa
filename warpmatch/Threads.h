// Worker threads of the point inversion.  Each worker inverts one contiguous
// range of points (see Partition.h) and writes only that range of the two
// result buffers.  Workers never call into the host: they record their start
// and exit into a WorkerLog, which the calling thread prints after the joins.
// They run in the bridge's worker pool, started through pthread_create with
// the design's param and hThread: while they run, the calling thread waits in
// steps of a few milliseconds and asks its caller between steps whether to
// stop; then the pool sets the flag that the workers check between points.
#ifndef REGMEX_WARPMATCH_THREADS_H
#define REGMEX_WARPMATCH_THREADS_H

#include "Inversion.h"
#include "Parallel.h"
#include "Partition.h"

#include <cstdint>
#include <functional>
#include <mutex>

// POSIX threads where the platform has them (MinGW-w64 included); MSVC has
// none, so there the workers are C++ standard threads behind the same seam.
#if (defined(_WIN32) && !defined(__MINGW32__)) || defined(REGMEX_STD_THREADS)
#define REGMEX_WARPMATCH_STD_THREADS 1
#include <thread>
#else
#include <pthread.h>
#endif

namespace warpmatch {

#ifdef REGMEX_WARPMATCH_STD_THREADS
typedef std::thread* ThreadHandle;  // owned until joined
struct ThreadAttr;                  // no attributes: always the defaults
#else
typedef pthread_t ThreadHandle;
typedef pthread_attr_t ThreadAttr;
#endif

enum WorkerEventKind { kWorkerStart, kWorkerExit };

struct WorkerEvent {
    WorkerEventKind kind;
    int value;  // the worker's end index
};

// Start and exit events of one call, in the order they happened.
struct WorkerLog {
    std::mutex lock;
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
    parallel::Pool* pool;  // its stop flag: leave the range unfinished; told when the worker is done
};

// Rewritten by every call; one call at a time (runInversionThreads serialises).
extern ThreadParam param[kMaxWorkers];
extern ThreadHandle hThread[kMaxWorkers];

void* ThreadProc(void* arg);

// The thread primitives, replaceable so tests can make them fail.
struct ThreadFunctions {
    int (*create)(ThreadHandle*, const ThreadAttr*, void* (*)(void*), void*);
    int (*join)(ThreadHandle, void**);
};
// pthread_create and pthread_join, or their std::thread equivalents.
extern const ThreadFunctions kPlatformThreads;

struct ThreadRun {
    int workers = 0;       // workers the partition asked for
    int started = 0;       // workers actually created
    int createError = 0;   // the create function's code for worker `started`, 0 when all started
    int joinError = 0;     // code of the first failed join, 0 when none
    int failedWorker = -1; // the worker whose creation or join failed first
    bool stopped = false;  // shouldStop asked for it: some points were left unfinished
    bool ok() const { return createError == 0 && joinError == 0; }
};

// Partitions the K points, runs the workers and waits for all of them.  When
// a creation fails no further worker is created; every started worker is
// still waited for, so on return no worker touches outX, outY or log.
// shouldStop, when given, is called on the calling thread while workers run;
// once it answers true the workers stop and the run is marked stopped.
ThreadRun runInversionThreads(const InversionInput& in, double* outX, double* outY,
                              WorkerLog* log, const ThreadFunctions* fns = nullptr,
                              const std::function<bool()>& shouldStop = nullptr);

}  // namespace warpmatch

#endif
