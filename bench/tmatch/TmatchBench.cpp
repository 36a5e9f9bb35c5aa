// tmatch through the embedded host (conversion, matching, copy back) beside
// a bare cvMatchTemplate on the same 8-bit images; and the local search of a
// tracker, a small region of a large image, timed side by side with the bare
// call on that region, the ratio as a counter.
#include "MexHost.h"

#include <benchmark/benchmark.h>
#include <opencv2/core/core_c.h>
#include <opencv2/imgproc/imgproc_c.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <random>

namespace {

const int kSize = 1024;

std::vector<double> texture(int rows, int cols, unsigned seed) {
    std::mt19937 rng(seed);
    std::uniform_int_distribution<int> v(0, 255);
    std::vector<double> out(static_cast<size_t>(rows) * cols);
    for (auto& x : out) x = v(rng);
    return out;
}

IplImage* toImage(const std::vector<double>& v, int rows, int cols) {
    IplImage* im = cvCreateImage(cvSize(cols, rows), IPL_DEPTH_8U, 1);
    for (int r = 0; r < rows; ++r)
        for (int c = 0; c < cols; ++c) cvSet2D(im, r, c, cvScalar(v[r + static_cast<size_t>(c) * rows]));
    return im;
}

void BareLibrary(benchmark::State& state) {
    const int t = static_cast<int>(state.range(0));
    IplImage* image = toImage(texture(kSize, kSize, 1), kSize, kSize);
    IplImage* templ = toImage(texture(t, t, 2), t, t);
    IplImage* map = cvCreateImage(cvSize(kSize - t + 1, kSize - t + 1), IPL_DEPTH_32F, 1);
    for (auto _ : state) {
        cvMatchTemplate(image, templ, map, CV_TM_CCOEFF_NORMED);
        benchmark::DoNotOptimize(map->imageData);
    }
    cvReleaseImage(&image);
    cvReleaseImage(&templ);
    cvReleaseImage(&map);
}

void ThroughHost(benchmark::State& state) {
    const int t = static_cast<int>(state.range(0));
    setenv("REGMEX_PLUGIN_DIR", REGMEX_PLUGIN_DIR_BENCH, 0);
    mexhost::Plugin plugin(mexhost::pluginPath("tmatch"));
    auto image = mexhost::matrix(kSize, kSize, texture(kSize, kSize, 1));
    auto templ = mexhost::matrix(t, t, texture(t, t, 2));
    auto whole = mexhost::scalar(-1);
    for (auto _ : state) {
        auto r = plugin.call(1, {image.get(), whole.get(), templ.get()});
        if (!r.ok) state.SkipWithError(r.errorMessage.c_str());
        benchmark::DoNotOptimize(r.outputs);
    }
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

double seconds(std::chrono::steady_clock::time_point a, std::chrono::steady_clock::time_point b) {
    return std::chrono::duration<double>(b - a).count();
}

// 4096x4096 image, 96x96 region at 1-based (2001, 1501), 32x32 template cut
// from it.  The host's argument fingerprints are off: over a 128 MB image
// they cost more than the search, and MATLAB makes no such check.
void LocalSearch(benchmark::State& state) {
    const int S = 4096, R = 96, T = 32, x0 = 2000, y0 = 1500;
    setenv("REGMEX_PLUGIN_DIR", REGMEX_PLUGIN_DIR_BENCH, 0);
    mexhost::Plugin plugin(mexhost::pluginPath("tmatch"));
    const std::vector<double> pixels = texture(S, S, 3);
    auto image = mexhost::matrix(S, S, pixels);
    std::vector<double> t(static_cast<size_t>(T) * T);
    for (int c = 0; c < T; ++c)
        for (int r = 0; r < T; ++r) t[r + c * T] = pixels[(y0 + 30 + r) + static_cast<size_t>(x0 + 40 + c) * S];
    auto templ = mexhost::matrix(T, T, t);
    auto region = mexhost::matrix(1, 4, {x0 + 1.0, y0 + 1.0, double(R), double(R)});

    // The bare call: the same region and template as 8-bit images.
    std::vector<double> rv(static_cast<size_t>(R) * R);
    for (int c = 0; c < R; ++c)
        for (int r = 0; r < R; ++r) rv[r + c * R] = pixels[(y0 + r) + static_cast<size_t>(x0 + c) * S];
    IplImage* I = toImage(rv, R, R);
    IplImage* Tm = toImage(t, T, T);
    IplImage* map = cvCreateImage(cvSize(R - T + 1, R - T + 1), IPL_DEPTH_32F, 1);
    cvMatchTemplate(I, Tm, map, CV_TM_CCOEFF_NORMED);

    mexhost::setArgumentCheck(false);
    auto check = plugin.call(1, {image.get(), region.get(), templ.get()});
    bool same = check.ok && mxGetM(check.outputs[0].get()) == static_cast<size_t>(map->height) &&
                mxGetN(check.outputs[0].get()) == static_cast<size_t>(map->width);
    for (int c = 0; same && c < map->width; ++c)
        for (int r = 0; r < map->height; ++r)
            same = same && mxGetPr(check.outputs[0].get())[r + c * map->height] ==
                               reinterpret_cast<const float*>(map->imageData + r * map->widthStep)[c];
    if (!same) state.SkipWithError("the local search differs from the bare call on its region");
    std::vector<double> bare, host;
    for (auto _ : state) {
        if (!same) break;
        auto a = std::chrono::steady_clock::now();
        cvMatchTemplate(I, Tm, map, CV_TM_CCOEFF_NORMED);
        auto b = std::chrono::steady_clock::now();
        auto r = plugin.call(1, {image.get(), region.get(), templ.get()});
        auto c = std::chrono::steady_clock::now();
        benchmark::DoNotOptimize(r.outputs);
        bare.push_back(seconds(a, b));
        host.push_back(seconds(b, c));
        state.SetIterationTime(seconds(b, c));
    }
    mexhost::setArgumentCheck(true);
    if (same) {
        state.counters["bare_ms"] = 1e3 * median(bare);
        state.counters["host_ms"] = 1e3 * median(host);
        state.counters["ratio"] = median(host) / median(bare);
    }
    cvReleaseImage(&I);
    cvReleaseImage(&Tm);
    cvReleaseImage(&map);
}

}  // namespace

BENCHMARK(LocalSearch)->Iterations(400)->UseManualTime()->Unit(benchmark::kMillisecond);
// Medians of repetitions: a few milliseconds of noise on a shared machine
// would otherwise decide the ratio.
BENCHMARK(BareLibrary)->Arg(16)->Arg(64)->Arg(128)->Unit(benchmark::kMillisecond)->UseRealTime()->Repetitions(7)->ReportAggregatesOnly(true);
BENCHMARK(ThroughHost)->Arg(16)->Arg(64)->Arg(128)->Unit(benchmark::kMillisecond)->UseRealTime()->Repetitions(7)->ReportAggregatesOnly(true);
BENCHMARK_MAIN();
