#include "Threads.h"

#ifdef REGMEX_WARPMATCH_STD_THREADS
#include <cerrno>
#include <new>
#include <system_error>
#endif

namespace warpmatch {

ThreadParam param[kMaxWorkers];
ThreadHandle hThread[kMaxWorkers];

#ifdef REGMEX_WARPMATCH_STD_THREADS
namespace {

// pthread_create's and pthread_join's contracts over std::thread: 0 or an
// error code, never an exception.
int createStdThread(ThreadHandle* t, const ThreadAttr*, void* (*f)(void*), void* arg) {
    try {
        *t = new std::thread(f, arg);
        return 0;
    } catch (const std::system_error& e) {
        return e.code().value() ? e.code().value() : EAGAIN;
    } catch (const std::bad_alloc&) {
        return ENOMEM;
    }
}

int joinStdThread(ThreadHandle t, void** result) {
    if (result) *result = nullptr;
    int rc = 0;
    try {
        t->join();
    } catch (const std::system_error& e) {
        rc = e.code().value() ? e.code().value() : EINVAL;
    }
    if (rc == 0) delete t;  // deleting a thread not joined would terminate
    return rc;
}

}  // namespace

const ThreadFunctions kPlatformThreads = {createStdThread, joinStdThread};
#else
const ThreadFunctions kPlatformThreads = {pthread_create, pthread_join};
#endif

namespace {

// param and hThread are process-wide; this keeps a second caller out.
std::mutex runLock;

}  // namespace

void WorkerLog::record(WorkerEventKind kind, int value) {
    std::lock_guard<std::mutex> guard(lock);
    if (count < 2 * kMaxWorkers) events[count++] = WorkerEvent{kind, value};
    if (kind == kWorkerExit) ++exits;
}

void* ThreadProc(void* arg) {
    const ThreadParam p = *static_cast<const ThreadParam*>(arg);
    p.log->record(kWorkerStart, p.end);
    if (p.start < p.end) {
        InversionInput in{{p.coefX, p.coefY, p.ctrlX, p.ctrlY, p.count}, p.targetX, p.targetY};
        invertRange(in, p.start, p.end, p.outX, p.outY, &p.pool->stopFlag());
    }
    p.log->record(kWorkerExit, p.end);
    p.pool->finished();
#ifndef REGMEX_WARPMATCH_STD_THREADS
    pthread_exit(nullptr);
#endif
    return nullptr;  // winpthreads does not declare pthread_exit noreturn
}

ThreadRun runInversionThreads(const InversionInput& in, double* outX, double* outY,
                              WorkerLog* log, const ThreadFunctions* fns,
                              const std::function<bool()>& shouldStop) {
    if (!fns) fns = &kPlatformThreads;
    std::lock_guard<std::mutex> serial(runLock);
    ThreadRun run;
    parallel::Pool pool(shouldStop);
    int start[kMaxWorkers], end[kMaxWorkers];
    run.workers = partitionPoints(in.spline.K, start, end);
    for (int i = 0; i < run.workers; ++i) {
        param[i] = ThreadParam{in.spline.ctrlX, in.spline.ctrlY, in.targetX, in.targetY,
                               in.spline.coefX, in.spline.coefY, outX, outY,
                               start[i], end[i], in.spline.K, log, &pool};
    }
    run.started = pool.launch(
        0, run.workers, [&](int i) { return fns->create(&hThread[i], nullptr, ThreadProc, &param[i]); },
        &run.createError);
    if (run.createError != 0) run.failedWorker = run.started;
    // Every started worker has left the caller's buffers before any join, so
    // a failed join leaves none of them running on them.
    pool.wait();
    run.stopped = pool.stopped();
    for (int i = 0; i < run.started; ++i) {
        int rc = fns->join(hThread[i], nullptr);
        if (rc != 0 && run.joinError == 0) {
            run.joinError = rc;
            if (run.failedWorker < 0) run.failedWorker = i;
        }
    }
    return run;
}

}  // namespace warpmatch
