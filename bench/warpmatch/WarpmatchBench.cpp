// The point inversion, literal (two logarithms per kernel value, per-level
// allocation) beside the product's (one kernel value for both splines, no
// allocation), on one thread and the same points; then the whole call on a
// 512x512 image through the embedded host.  Both inversions are compared bit
// for bit before they are timed.  Last, the whole call on a 2048x2048 image
// with K = 0 beside its library calls alone (cvWarpAffine twice, cvRemap
// once) on the same images, timed side by side, the ratio as a counter.
#include "MexHost.h"
#include "ReferenceInversion.h"
#include "CoarseGrid.h"
#include "SplineProblem.h"

#include <opencv2/imgproc/imgproc_c.h>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <vector>

using namespace warpmatch;

namespace {

const int kPoints = 8;  // points inverted per iteration

using Inverter = void (*)(const InversionInput&, int, int, double*, double*);

bool identical(const SplineProblem& p) {
    std::vector<double> x(kPoints), y(kPoints), rx(kPoints), ry(kPoints);
    invertRange(p.input(), 0, kPoints, x.data(), y.data());
    referenceInvertRange(p.input(), 0, kPoints, rx.data(), ry.data());
    return std::memcmp(x.data(), rx.data(), sizeof(double) * kPoints) == 0 &&
           std::memcmp(y.data(), ry.data(), sizeof(double) * kPoints) == 0;
}

void invert(benchmark::State& state, Inverter f) {
    const int K = static_cast<int>(state.range(0));
    SplineProblem p = SplineProblem::random(K, 77);
    if (!identical(p)) {
        state.SkipWithError("literal and product inversions differ");
        return;
    }
    std::vector<double> x(static_cast<size_t>(K)), y(x);
    for (auto _ : state) {
        f(p.input(), 0, kPoints, x.data(), y.data());
        benchmark::DoNotOptimize(x.data());
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * kPoints);
}

void LiteralInversion(benchmark::State& state) { invert(state, referenceInvertRange); }
void ProductInversion(benchmark::State& state) { invert(state, invertRange); }

void WholeCall512(benchmark::State& state) {
    const int K = static_cast<int>(state.range(0));
    const size_t M = 512, N = 512;
    setenv("REGMEX_PLUGIN_DIR", REGMEX_PLUGIN_DIR_BENCH, 0);
    mexhost::Plugin plugin(mexhost::pluginPath("warpmatch"));
    SplineProblem p = SplineProblem::random(K, 5, 512);
    auto column = [](const std::vector<double>& v) { return mexhost::matrix(v.size(), 1, v); };
    auto cx = column(p.coefX), cy = column(p.coefY), px = column(p.ctrlX), py = column(p.ctrlY);
    auto tx = column(p.targetX), ty = column(p.targetY), none = mexhost::matrix(0, 0);
    std::vector<double> pixels(M * N);
    for (size_t i = 0; i < pixels.size(); ++i) pixels[i] = static_cast<double>((i * 7919) % 256);
    auto image = mexhost::matrix(M, N, pixels);
    for (auto _ : state) {
        auto r = plugin.call(4, {cx.get(), cy.get(), px.get(), py.get(), tx.get(), ty.get(), none.get(),
                                 none.get(), image.get()});
        if (!r.ok) {
            state.SkipWithError(r.errorMessage.c_str());
            break;
        }
        benchmark::DoNotOptimize(r.outputs.data());
    }
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

double seconds(std::chrono::steady_clock::time_point a, std::chrono::steady_clock::time_point b) {
    return std::chrono::duration<double>(b - a).count();
}

float at(const IplImage* im, int r, int c) {
    return reinterpret_cast<const float*>(im->imageData + static_cast<size_t>(r) * im->widthStep)[c];
}

// The host's argument fingerprints are off: over the 32 MB image they would
// be timed with the call, and MATLAB makes no such check.
void WholeVsLibrary2048(benchmark::State& state) {
    const int S = 2048;
    setenv("REGMEX_PLUGIN_DIR", REGMEX_PLUGIN_DIR_BENCH, 0);
    mexhost::Plugin plugin(mexhost::pluginPath("warpmatch"));
    SplineProblem p = SplineProblem::random(static_cast<int>(state.range(0)), 8, S);  // K
    auto column = [](const std::vector<double>& v) { return mexhost::matrix(v.size(), 1, v); };
    auto cx = column(p.coefX), cy = column(p.coefY), px = column(p.ctrlX), py = column(p.ctrlY);
    auto tx = column(p.targetX), ty = column(p.targetY), none = mexhost::matrix(0, 0);
    std::vector<double> pixels(static_cast<size_t>(S) * S);
    for (size_t i = 0; i < pixels.size(); ++i) pixels[i] = static_cast<double>((i * 7919) % 256);
    auto image = mexhost::matrix(S, S, pixels);
    const std::vector<const mxArray*> args = {cx.get(), cy.get(), px.get(), py.get(), tx.get(), ty.get(),
                                              none.get(), none.get(), image.get()};

    // The library calls' inputs: the coarse nodes, the scaling, the source.
    const CoarseGrid g = coarseGrid(S, S);
    IplImage* smallX = cvCreateImage(cvSize(g.Nq, g.Mq), IPL_DEPTH_32F, 1);
    IplImage* smallY = cvCreateImage(cvSize(g.Nq, g.Mq), IPL_DEPTH_32F, 1);
    coarseEvaluate(p.pair(), g, reinterpret_cast<float*>(smallX->imageData), smallX->widthStep / sizeof(float),
                   reinterpret_cast<float*>(smallY->imageData), smallY->widthStep / sizeof(float));
    CvPoint2D32f from[3] = {{0.f, 0.f}, {float(g.Nq - 1), 0.f}, {float(g.Nq - 1), float(g.Mq - 1)}};
    CvPoint2D32f to[3] = {{0.f, 0.f}, {float(4 * g.Nq - 1), 0.f}, {float(4 * g.Nq - 1), float(4 * g.Mq - 1)}};
    CvMat* scale = cvCreateMat(2, 3, CV_32FC1);
    cvGetAffineTransform(from, to, scale);
    IplImage* bigX = cvCreateImage(cvSize(4 * g.Nq, 4 * g.Mq), IPL_DEPTH_32F, 1);
    IplImage* bigY = cvCreateImage(cvSize(4 * g.Nq, 4 * g.Mq), IPL_DEPTH_32F, 1);
    IplImage* source = cvCreateImage(cvSize(S, S), IPL_DEPTH_32F, 1);
    for (int r = 0; r < S; ++r)
        for (int c = 0; c < S; ++c)
            reinterpret_cast<float*>(source->imageData + static_cast<size_t>(r) * source->widthStep)[c] =
                static_cast<float>(pixels[r + static_cast<size_t>(c) * S]);
    IplImage* result = cvCreateImage(cvSize(S, S), IPL_DEPTH_32F, 1);
    auto library = [&] {
        cvWarpAffine(smallX, bigX, scale, 9, cvScalarAll(0));
        cvWarpAffine(smallY, bigY, scale, 9, cvScalarAll(0));
        cvSetImageROI(bigX, cvRect(0, 0, S, S));
        cvSetImageROI(bigY, cvRect(0, 0, S, S));
        cvRemap(source, result, bigX, bigY, 9, cvScalar(-100, 0, 0, 0));
        cvResetImageROI(bigX);
        cvResetImageROI(bigY);
    };

    // The call's maps are the scaled-up nodes and its image the remap, but
    // for the noise in place of samples below -1.
    library();
    mexhost::setArgumentCheck(false);
    auto check = plugin.call(4, args);
    bool same = check.ok;
    for (int c = 0; same && c < S; ++c)
        for (int r = 0; r < S; ++r) {
            const size_t i = r + static_cast<size_t>(c) * S;
            const float w = at(result, r, c);
            same = same && mxGetPr(check.outputs[1].get())[i] == at(bigX, r, c) &&
                   mxGetPr(check.outputs[2].get())[i] == at(bigY, r, c) &&
                   (w < -1 || mxGetPr(check.outputs[3].get())[i] == w);
        }
    if (!same) state.SkipWithError("the call's maps or image differ from its library calls");
    std::vector<double> bare, whole;
    for (auto _ : state) {
        if (!same) break;
        auto a = std::chrono::steady_clock::now();
        library();
        auto b = std::chrono::steady_clock::now();
        auto r = plugin.call(4, args);
        auto c = std::chrono::steady_clock::now();
        benchmark::DoNotOptimize(r.outputs.data());
        bare.push_back(seconds(a, b));
        whole.push_back(seconds(b, c));
        state.SetIterationTime(seconds(b, c));
    }
    mexhost::setArgumentCheck(true);
    if (same) {
        state.counters["library_ms"] = 1e3 * median(bare);
        state.counters["whole_ms"] = 1e3 * median(whole);
        state.counters["ratio"] = median(whole) / median(bare);
    }
    for (IplImage* im : {smallX, smallY, bigX, bigY, source, result}) cvReleaseImage(&im);
    cvReleaseMat(&scale);
}

}  // namespace

BENCHMARK(WholeVsLibrary2048)->Arg(0)->Iterations(15)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(LiteralInversion)->Arg(50)->Arg(200)->Arg(1000)->Unit(benchmark::kMillisecond);
BENCHMARK(ProductInversion)->Arg(50)->Arg(200)->Arg(1000)->Unit(benchmark::kMillisecond);
BENCHMARK(WholeCall512)->Arg(200)->Unit(benchmark::kMillisecond)->UseRealTime();

BENCHMARK_MAIN();
