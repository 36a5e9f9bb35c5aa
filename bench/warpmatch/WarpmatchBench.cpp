// The point inversion, literal (two logarithms per kernel value, per-level
// allocation) beside the product's (one kernel value for both splines,
// vector logarithm, no allocation), on one thread and the same points; then
// the whole call on a 512x512 image through the embedded host.  Both
// inversions are compared (within 1e-9 px: the vector logarithm's last bits)
// before they are timed, and the call's points with the literal inversion of
// the same targets.  Then the whole call on 2048x2048 and 4096x4096 images
// with K = 0 beside its library calls alone (cvWarpAffine twice, cvRemap
// once) on the same images, and beside its floor: those library calls and
// the writing of their three images into fresh host matrices, timed side by
// side.  Last, the kernel sums of the coarse stage and of the point search
// beside a plain loop over the same kernel values.  A smoke run takes a
// 64x64 image and fewer control points.
#include "BenchSupport.h"
#include "CoarseGrid.h"
#include "MatrixImage.h"
#include "MexHost.h"
#include "ReferenceInversion.h"
#include "KernelLoop.h"
#include "SplineKernel.h"
#include "SplineProblem.h"

#include <opencv2/imgproc/imgproc_c.h>

#include <algorithm>
#include <cmath>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <functional>
#include <string>
#include <vector>

using namespace warpmatch;

namespace {

const int kPoints = 8;  // points inverted per iteration

using Inverter = void (*)(const InversionInput&, int, int, double*, double*);

// Within 1e-9 px: the vector logarithm may differ from the C library's in
// its last bits (bit for bit on the scalar kernel path).
bool near(const double* a, const double* b, size_t n) {
    for (size_t i = 0; i < n; ++i)
        if (!(std::fabs(a[i] - b[i]) <= 1e-9) && !(std::isnan(a[i]) && std::isnan(b[i]))) return false;
    return true;
}

bool agrees(const SplineProblem& p) {
    std::vector<double> x(kPoints), y(kPoints), rx(kPoints), ry(kPoints);
    invertRange(p.input(), 0, kPoints, x.data(), y.data());
    referenceInvertRange(p.input(), 0, kPoints, rx.data(), ry.data());
    return near(x.data(), rx.data(), kPoints) && near(y.data(), ry.data(), kPoints);
}

// Times f on the problem's first points; returns seconds per call.
double invert(benchmark::State& state, const SplineProblem& p, Inverter f) {
    std::vector<double> x(static_cast<size_t>(p.K())), y(x);
    const double seconds = regmexbench::timeLoop(state, [&] {
        f(p.input(), 0, kPoints, x.data(), y.data());
        benchmark::DoNotOptimize(x.data());
        benchmark::ClobberMemory();
    });
    state.SetItemsProcessed(state.iterations() * kPoints);
    return seconds;
}

void LiteralInversion(benchmark::State& state) {
    SplineProblem p = SplineProblem::random(static_cast<int>(state.range(0)), 77);
    invert(state, p, referenceInvertRange);
}

void ProductInversion(benchmark::State& state) {
    SplineProblem p = SplineProblem::random(static_cast<int>(state.range(0)), 77);
    if (!agrees(p)) return regmexbench::fail(state, "literal and product inversions differ");
    std::vector<double> x(kPoints), y(kPoints);
    const double literal = regmexbench::medianSeconds(regmexbench::smoke() ? 1 : 5, [&] {
        referenceInvertRange(p.input(), 0, kPoints, x.data(), y.data());
    });
    // The product inversion without a stop flag, as the benchmark's inverter type takes it.
    const Inverter product = [](const InversionInput& in, int start, int end, double* outX, double* outY) {
        invertRange(in, start, end, outX, outY);
    };
    regmexbench::reportRatio(state, "literal", invert(state, p, product), literal);
}

void WholeCall(benchmark::State& state) {
    const int K = static_cast<int>(state.range(0));
    const size_t M = static_cast<size_t>(state.range(1)), N = M;
    setenv("REGMEX_PLUGIN_DIR", REGMEX_PLUGIN_DIR_BENCH, 0);
    mexhost::Plugin plugin(mexhost::pluginPath("warpmatch"));
    SplineProblem p = SplineProblem::random(K, 5, static_cast<double>(M));
    auto column = [](const std::vector<double>& v) { return mexhost::matrix(v.size(), 1, v); };
    auto cx = column(p.coefX), cy = column(p.coefY), px = column(p.ctrlX), py = column(p.ctrlY);
    auto tx = column(p.targetX), ty = column(p.targetY), none = mexhost::matrix(0, 0);
    std::vector<double> pixels(M * N);
    for (size_t i = 0; i < pixels.size(); ++i) pixels[i] = static_cast<double>((i * 7919) % 256);
    auto image = mexhost::matrix(M, N, pixels);
    const std::vector<const mxArray*> args = {cx.get(), cy.get(), px.get(), py.get(), tx.get(),
                                              ty.get(), none.get(), none.get(), image.get()};
    auto first = plugin.call(4, args);
    if (!first.ok) return regmexbench::fail(state, first.errorMessage);
    std::vector<double> rx(static_cast<size_t>(K)), ry(rx);
    referenceInvertRange(p.input(), 0, K, rx.data(), ry.data());
    const std::vector<double> pts = mexhost::values(first.outputs[0].get());
    if (pts.size() != 2 * rx.size() || !near(pts.data(), rx.data(), rx.size()) ||
        !near(pts.data() + K, ry.data(), ry.size()))
        return regmexbench::fail(state, "the call's points differ from the literal inversion");
    for (auto _ : state) {
        auto r = plugin.call(4, args);
        if (!r.ok) {
            regmexbench::fail(state, r.errorMessage);
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
void WholeVsLibrary(benchmark::State& state) {
    const int S = static_cast<int>(state.range(1));
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
    // What no way of making the call can skip: the library calls, and their
    // three images written into three fresh double matrices of the host.
    auto floor = [&] {
        library();
        cvSetImageROI(bigX, cvRect(0, 0, S, S));
        cvSetImageROI(bigY, cvRect(0, 0, S, S));
        const IplImage* images[3] = {bigX, bigY, result};
        mxArray* outputs[3];
        for (int k = 0; k < 3; ++k) {
            outputs[k] = mxCreateDoubleMatrix(S, S, mxREAL);
            matriximage::toMatrix(images[k], mxGetPr(outputs[k]), S,
                                  matriximage::workersForPixels(static_cast<size_t>(S) * S));
        }
        benchmark::DoNotOptimize(outputs);
        for (mxArray* o : outputs) mxDestroyArray(o);
        cvResetImageROI(bigX);
        cvResetImageROI(bigY);
    };
    // All three timed in each iteration, one after the other, so that the
    // load of a shared machine falls on them alike.
    std::vector<double> bare, whole, least;
    for (auto _ : state) {
        if (!same) break;
        auto a = std::chrono::steady_clock::now();
        library();
        auto b = std::chrono::steady_clock::now();
        auto r = plugin.call(4, args);
        auto c = std::chrono::steady_clock::now();
        floor();
        auto d = std::chrono::steady_clock::now();
        benchmark::DoNotOptimize(r.outputs.data());
        bare.push_back(seconds(a, b));
        whole.push_back(seconds(b, c));
        least.push_back(seconds(c, d));
        state.SetIterationTime(seconds(b, c));
    }
    mexhost::setArgumentCheck(true);
    for (IplImage* im : {smallX, smallY, bigX, bigY, source, result}) cvReleaseImage(&im);
    cvReleaseMat(&scale);
    if (!same) return regmexbench::fail(state, "the call's maps or image differ from its library calls");
    regmexbench::reportRatio(state, "library", median(whole), median(bare));
    regmexbench::reportRatio(state, "floor", median(whole), median(least));
    state.counters["floor_vs_library"] = median(least) / median(bare);
}

// Nanoseconds of processor time per kernel value, on one thread, of the
// coarse stage (the nodes of a 512x512 image) and of the point search, on
// the best kernel path and on the scalar one, beside the plain loop over
// the coarse nodes, all timed in turn in each iteration.  Before timing: the loop's values
// and the vector path's nodes within 1e-9 px of the scalar path's, and the
// found points within 1e-9 px of the scalar search's.
void KernelSums(benchmark::State& state) {
    const int K = static_cast<int>(state.range(0));
    const int side = regmexbench::smoke() ? 64 : 512;
    const int points = regmexbench::smoke() ? 2 : 4;
    const SplineProblem p = SplineProblem::random(K, 41, side);
    const CoarseGrid g = coarseGrid(side, side);
    const size_t nodes = static_cast<size_t>(g.Mq) * static_cast<size_t>(g.Nq);
    std::vector<double> xs(nodes), ys(nodes), lx(nodes), ly(nodes), sx(nodes), sy(nodes), vx(nodes), vy(nodes);
    for (size_t i = 0; i < nodes; ++i) {
        xs[i] = static_cast<int>(i % static_cast<size_t>(g.Nq)) * g.stepX;
        ys[i] = static_cast<double>(i / static_cast<size_t>(g.Nq)) * g.stepY;
    }
    std::vector<double> d(static_cast<size_t>(K)), logs(d);
    const KernelPath best = kernelPath();
    kernelLoop(p.pair(), xs, ys, d, logs, lx.data(), ly.data());
    tpsEvalPairs(p.pair(), xs.data(), ys.data(), static_cast<int>(nodes), vx.data(), vy.data());
    std::vector<double> px(static_cast<size_t>(points)), py(px), qx(px), qy(px);
    invertRange(p.input(), 0, points, px.data(), py.data());
    setKernelPath(KernelPath::kScalar);
    tpsEvalPairs(p.pair(), xs.data(), ys.data(), static_cast<int>(nodes), sx.data(), sy.data());
    invertRange(p.input(), 0, points, qx.data(), qy.data());
    setKernelPath(best);
    double worst = 0;
    for (size_t i = 0; i < nodes; ++i)
        worst = std::max({worst, std::fabs(lx[i] - sx[i]), std::fabs(ly[i] - sy[i]), std::fabs(vx[i] - sx[i]),
                          std::fabs(vy[i] - sy[i])});
    for (size_t i = 0; i < px.size(); ++i) worst = std::max({worst, std::fabs(px[i] - qx[i]), std::fabs(py[i] - qy[i])});
    if (!(worst <= 1e-9)) return regmexbench::fail(state, "the vector kernel differs from the scalar one by over 1e-9 px");

    std::vector<float> fx(nodes), fy(nodes);
    auto coarse = [&] { coarseEvaluate(p.pair(), g, fx.data(), static_cast<size_t>(g.Nq), fy.data(), static_cast<size_t>(g.Nq), 1); };
    auto search = [&] { invertRange(p.input(), 0, points, px.data(), py.data()); };
    auto loop = [&] { kernelLoop(p.pair(), xs, ys, d, logs, lx.data(), ly.data()); };
    // Processor time of this thread, which runs all of it: on a shared
    // machine the wall clock also counts the other processes' turns.
    auto timed = [](const std::function<void()>& f) {
        timespec a, b;
        clock_gettime(CLOCK_THREAD_CPUTIME_ID, &a);
        f();
        clock_gettime(CLOCK_THREAD_CPUTIME_ID, &b);
        return static_cast<double>(b.tv_sec - a.tv_sec) + 1e-9 * static_cast<double>(b.tv_nsec - a.tv_nsec);
    };
    std::vector<double> tLoop, tCoarse, tSearch, tScalarCoarse, tScalarSearch;
    for (auto _ : state) {
        tLoop.push_back(timed(loop));
        tCoarse.push_back(timed(coarse));
        tSearch.push_back(timed(search));
        setKernelPath(KernelPath::kScalar);
        tScalarCoarse.push_back(timed(coarse));
        tScalarSearch.push_back(timed(search));
        setKernelPath(best);
    }
    const double coarseValues = static_cast<double>(nodes) * K;
    const double searchValues = 13.0 * 121 * points * K;
    const double loopNs = 1e9 * median(tLoop) / coarseValues;
    state.counters["loop_ns"] = loopNs;
    state.counters["coarse_ns"] = 1e9 * median(tCoarse) / coarseValues;
    state.counters["search_ns"] = 1e9 * median(tSearch) / searchValues;
    state.counters["coarse_vs_loop"] = 1e9 * median(tCoarse) / coarseValues / loopNs;
    state.counters["search_vs_loop"] = 1e9 * median(tSearch) / searchValues / loopNs;
    state.counters["scalar_coarse_ns"] = 1e9 * median(tScalarCoarse) / coarseValues;
    state.counters["scalar_search_ns"] = 1e9 * median(tScalarSearch) / searchValues;
    state.SetLabel(kernelPathName(best));
}

}  // namespace

void regmexbench::registerBenchmarks() {
    using benchmark::kMillisecond;
    if (smoke()) {
        benchmark::RegisterBenchmark("LiteralInversion", LiteralInversion)->Arg(20)->Iterations(1);
        benchmark::RegisterBenchmark("ProductInversion", ProductInversion)->Arg(20)->Iterations(1);
        benchmark::RegisterBenchmark("WholeCall", WholeCall)->Args({20, 64})->Iterations(1);
        benchmark::RegisterBenchmark("WholeVsLibrary", WholeVsLibrary)->Args({0, 64})->Iterations(1)->UseManualTime();
        benchmark::RegisterBenchmark("KernelSums", KernelSums)->Arg(20)->Iterations(1);
        return;
    }
    benchmark::RegisterBenchmark("LiteralInversion", LiteralInversion)->Arg(50)->Arg(200)->Arg(1000)->Unit(kMillisecond);
    benchmark::RegisterBenchmark("ProductInversion", ProductInversion)->Arg(50)->Arg(200)->Arg(1000)->Unit(kMillisecond);
    benchmark::RegisterBenchmark("WholeCall", WholeCall)->Args({200, 512})->Unit(kMillisecond)->UseRealTime();
    benchmark::RegisterBenchmark("WholeVsLibrary", WholeVsLibrary)
        ->Args({0, 2048})
        ->Args({0, 4096})
        ->Iterations(15)
        ->UseManualTime()
        ->Unit(kMillisecond);
    benchmark::RegisterBenchmark("KernelSums", KernelSums)->Arg(200)->Arg(1000)->Iterations(5)->Unit(kMillisecond);
}
