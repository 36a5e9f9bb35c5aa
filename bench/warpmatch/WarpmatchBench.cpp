// The point inversion, literal (two logarithms per kernel value, per-level
// allocation) beside the product's (one kernel value for both splines, no
// allocation), on one thread and the same points; then the whole call on a
// 512x512 image through the embedded host.  Both inversions are compared bit
// for bit before they are timed, and the call's points with the literal
// inversion of the same targets.  Last, the whole call on a 2048x2048 image
// with K = 0 beside its library calls alone (cvWarpAffine twice, cvRemap
// once) on the same images, and beside its floor: those library calls and
// the writing of their three images into fresh host matrices, timed side by
// side.  A smoke run takes a 64x64 image and fewer control points.
#include "BenchSupport.h"
#include "CoarseGrid.h"
#include "MatrixImage.h"
#include "MexHost.h"
#include "ReferenceInversion.h"
#include "SplineProblem.h"

#include <opencv2/imgproc/imgproc_c.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

using namespace warpmatch;

namespace {

const int kPoints = 8;  // points inverted per iteration

using Inverter = void (*)(const InversionInput&, int, int, double*, double*);

bool sameBits(const std::vector<double>& a, const double* b, size_t n) {
    return a.size() >= n && std::memcmp(a.data(), b, sizeof(double) * n) == 0;
}

bool identical(const SplineProblem& p) {
    std::vector<double> x(kPoints), y(kPoints), rx(kPoints), ry(kPoints);
    invertRange(p.input(), 0, kPoints, x.data(), y.data());
    referenceInvertRange(p.input(), 0, kPoints, rx.data(), ry.data());
    return sameBits(x, rx.data(), kPoints) && sameBits(y, ry.data(), kPoints);
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
    if (!identical(p)) return regmexbench::fail(state, "literal and product inversions differ");
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
    if (pts.size() != 2 * rx.size() || !sameBits(pts, rx.data(), rx.size()) ||
        std::memcmp(pts.data() + K, ry.data(), sizeof(double) * ry.size()) != 0)
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

}  // namespace

void regmexbench::registerBenchmarks() {
    using benchmark::kMillisecond;
    if (smoke()) {
        benchmark::RegisterBenchmark("LiteralInversion", LiteralInversion)->Arg(20)->Iterations(1);
        benchmark::RegisterBenchmark("ProductInversion", ProductInversion)->Arg(20)->Iterations(1);
        benchmark::RegisterBenchmark("WholeCall", WholeCall)->Args({20, 64})->Iterations(1);
        benchmark::RegisterBenchmark("WholeVsLibrary", WholeVsLibrary)->Args({0, 64})->Iterations(1)->UseManualTime();
        return;
    }
    benchmark::RegisterBenchmark("LiteralInversion", LiteralInversion)->Arg(50)->Arg(200)->Arg(1000)->Unit(kMillisecond);
    benchmark::RegisterBenchmark("ProductInversion", ProductInversion)->Arg(50)->Arg(200)->Arg(1000)->Unit(kMillisecond);
    benchmark::RegisterBenchmark("WholeCall", WholeCall)->Args({200, 512})->Unit(kMillisecond)->UseRealTime();
    benchmark::RegisterBenchmark("WholeVsLibrary", WholeVsLibrary)
        ->Args({0, 2048})
        ->Iterations(15)
        ->UseManualTime()
        ->Unit(kMillisecond);
}
