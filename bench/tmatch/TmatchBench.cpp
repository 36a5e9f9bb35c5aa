// tmatch through the embedded host (conversion, matching, copy back) beside
// a bare cvMatchTemplate on the same 8-bit images.
#include "MexHost.h"

#include <benchmark/benchmark.h>
#include <opencv2/core/core_c.h>
#include <opencv2/imgproc/imgproc_c.h>

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

}  // namespace

// Medians of repetitions: a few milliseconds of noise on a shared machine
// would otherwise decide the ratio.
BENCHMARK(BareLibrary)->Arg(16)->Arg(64)->Arg(128)->Unit(benchmark::kMillisecond)->UseRealTime()->Repetitions(7)->ReportAggregatesOnly(true);
BENCHMARK(ThroughHost)->Arg(16)->Arg(64)->Arg(128)->Unit(benchmark::kMillisecond)->UseRealTime()->Repetitions(7)->ReportAggregatesOnly(true);
BENCHMARK_MAIN();
