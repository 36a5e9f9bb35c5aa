// The threaded inversion and coarse evaluation under ThreadSanitizer: built
// with -fsanitize=thread from the host-free core alone.  Any race makes the
// sanitizer fail the run; the results must also equal the serial literal
// versions bit for bit.
#include "CoarseGrid.h"
#include "ReferenceInversion.h"
#include "SplineProblem.h"
#include "Threads.h"
#include "WarpMaps.h"

#include <cstdlib>

#include <cstdio>
#include <cstring>
#include <vector>

using namespace warpmatch;

int main() {
    const ScalarKernel scalar;
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
    for (int K : {0, 7, 40}) {
        SplineProblem p = SplineProblem::random(K, static_cast<unsigned>(K + 100), 60);
        const CoarseGrid g = coarseGrid(61, 45);  // 16 node rows: no even split
        const size_t n = static_cast<size_t>(g.Mq * g.Nq);
        std::vector<float> rx(n), ry(n);
        referenceCoarseEvaluate(p.pair(), g.Mq, g.Nq, g.stepX, g.stepY, rx.data(), ry.data());
        for (int workers : {1, 2, 3, 7, 0}) {
            std::vector<float> x(n), y(n);
            coarseEvaluate(p.pair(), g, x.data(), static_cast<size_t>(g.Nq), y.data(), static_cast<size_t>(g.Nq),
                           workers);
            if (std::memcmp(x.data(), rx.data(), n * sizeof(float)) != 0 ||
                std::memcmp(y.data(), ry.data(), n * sizeof(float)) != 0) {
                std::printf("K %d, %d workers: coarse nodes differ from the serial evaluation\n", K, workers);
                ++failures;
            }
        }
    }
    // The noise fill: rows scanned on all cores, filled in order on one.
    {
        IplImage* image = cvCreateImage(cvSize(700, 800), IPL_DEPTH_32F, 1);
        std::vector<float> plain(700 * 800);
        for (size_t i = 0; i < plain.size(); ++i) plain[i] = (i * 7919) % 1000 == 0 ? -100.0f : 1.0f + i % 7;
        for (int r = 0; r < 800; ++r)
            std::memcpy(image->imageData + r * image->widthStep, &plain[static_cast<size_t>(r) * 700], 700 * sizeof(float));
        std::srand(99);
        long literal = 0;
        for (float& v : plain)
            if (v < -1.0f) {
                v = static_cast<float>(std::rand() / 2147483647.0);
                ++literal;
            }
        std::srand(99);
        bool same = fillNoise(image) == literal;
        for (int r = 0; r < 800; ++r)
            same = same && std::memcmp(image->imageData + r * image->widthStep, &plain[static_cast<size_t>(r) * 700],
                                       700 * sizeof(float)) == 0;
        if (!same) {
            std::printf("noise fill differs from the plain scan\n");
            ++failures;
        }
        cvReleaseImage(&image);
    }
    std::printf("%s\n", failures ? "FAILED" : "passed");
    return failures ? 1 : 0;
}
