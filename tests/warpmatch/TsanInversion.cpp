// The threaded inversion under ThreadSanitizer: built with -fsanitize=thread
// from the host-free core alone.  Any race makes the sanitizer fail the run;
// the results must also equal the serial literal inversion bit for bit.
#include "ReferenceInversion.h"
#include "SplineProblem.h"
#include "Threads.h"

#include <cstdio>
#include <cstring>
#include <vector>

using namespace warpmatch;

int main() {
    int failures = 0;
    for (int K : {0, 1, 25, 61, 83}) {
        for (int repeat = 0; repeat < 3; ++repeat) {
            SplineProblem p = SplineProblem::random(K, static_cast<unsigned>(K * 10 + repeat));
            std::vector<double> x(static_cast<size_t>(K) + 1), y(x), rx(x), ry(x);
            WorkerLog log;
            ThreadRun run = runInversionThreads(p.input(), x.data(), y.data(), &log);
            referenceInvertRange(p.input(), 0, K, rx.data(), ry.data());
            if (!run.ok() || log.exits != run.workers || log.count != 2 * run.workers) {
                std::printf("K %d: run failed or log incomplete\n", K);
                ++failures;
            }
            if (std::memcmp(x.data(), rx.data(), static_cast<size_t>(K) * sizeof(double)) != 0 ||
                std::memcmp(y.data(), ry.data(), static_cast<size_t>(K) * sizeof(double)) != 0) {
                std::printf("K %d: threaded results differ from the serial inversion\n", K);
                ++failures;
            }
        }
    }
    // A stop set by the calling thread while the workers read it.
    {
        SplineProblem p = SplineProblem::random(400, 3);
        std::vector<double> x(401), y(401);
        WorkerLog log;
        int asked = 0;
        ThreadRun run = runInversionThreads(p.input(), x.data(), y.data(), &log, nullptr, [&] { return ++asked == 2; });
        if (!run.ok() || !run.stopped || log.exits != run.workers) {
            std::printf("stopped run: failed, not stopped or log incomplete\n");
            ++failures;
        }
    }
    std::printf("%s\n", failures ? "FAILED" : "passed");
    return failures ? 1 : 0;
}
