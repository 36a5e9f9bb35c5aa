#include "Threads.h"

namespace warpmatch {

ThreadParam param[kMaxWorkers];
pthread_t hThread[kMaxWorkers];

namespace {

const ThreadFunctions kPosixThreads = {pthread_create, pthread_join};

// param and hThread are process-wide; this keeps a second caller out.
std::mutex runLock;

}  // namespace

void WorkerLog::record(WorkerEventKind kind, int value) {
    std::lock_guard<std::mutex> guard(lock);
    if (count < 2 * kMaxWorkers) events[count++] = WorkerEvent{kind, value};
    if (kind == kWorkerExit) {
        ++exits;
        exited.notify_all();
    }
}

void* ThreadProc(void* arg) {
    const ThreadParam p = *static_cast<const ThreadParam*>(arg);
    p.log->record(kWorkerStart, p.end);
    if (p.start < p.end) {
        InversionInput in{{p.coefX, p.coefY, p.ctrlX, p.ctrlY, p.count}, p.targetX, p.targetY};
        invertRange(in, p.start, p.end, p.outX, p.outY, p.stop);
    }
    p.log->record(kWorkerExit, p.end);
    pthread_exit(nullptr);
    return nullptr;  // winpthreads does not declare pthread_exit noreturn
}

ThreadRun runInversionThreads(const InversionInput& in, double* outX, double* outY,
                              WorkerLog* log, const ThreadFunctions* fns,
                              const std::function<bool()>& shouldStop) {
    if (!fns) fns = &kPosixThreads;
    std::lock_guard<std::mutex> serial(runLock);
    ThreadRun run;
    std::atomic<bool> stop{false};
    int start[kMaxWorkers], end[kMaxWorkers];
    run.workers = partitionPoints(in.spline.K, start, end);
    for (int i = 0; i < run.workers; ++i) {
        param[i] = ThreadParam{in.spline.ctrlX, in.spline.ctrlY, in.targetX, in.targetY,
                               in.spline.coefX, in.spline.coefY, outX, outY,
                               start[i], end[i], in.spline.K, log, &stop};
    }
    for (int i = 0; i < run.workers; ++i) {
        int rc = fns->create(&hThread[i], nullptr, ThreadProc, &param[i]);
        if (rc != 0) {
            run.createError = rc;
            run.failedWorker = i;
            break;
        }
        ++run.started;
    }
    if (shouldStop) {
        // Asked without the log's lock held: the caller may ask its host.
        std::unique_lock<std::mutex> wait(log->lock);
        while (!log->exited.wait_for(wait, kStopPollWait, [&] { return log->exits >= run.started; })) {
            if (run.stopped) continue;
            wait.unlock();
            run.stopped = shouldStop();
            wait.lock();
            if (run.stopped) stop.store(true, std::memory_order_relaxed);
        }
    }
    for (int i = 0; i < run.started; ++i) {
        int rc = fns->join(hThread[i], nullptr);
        if (rc != 0 && run.joinError == 0) {
            run.joinError = rc;
            if (run.failedWorker < 0) run.failedWorker = i;
        }
    }
    if (run.joinError != 0) {
        // A worker whose join failed may still be running; its exit event is
        // the last moment it touches the caller's buffers.
        std::unique_lock<std::mutex> wait(log->lock);
        log->exited.wait(wait, [&] { return log->exits >= run.started; });
    }
    return run;
}

}  // namespace warpmatch
