// tmatch through the embedded host (conversion, matching, copy back) beside
// a bare cvMatchTemplate on the same 8-bit images, 1024x1024 (128x128 in a
// smoke run).  The host's map is compared with the bare one, element for
// element, before either is timed; the host case reports its time over the
// bare library's, measured beside it.  Last, the local search of a tracker,
// a small region of a large image, beside the bare call on that region.
#include "BenchSupport.h"
#include "MexHost.h"

#include <opencv2/core/core_c.h>
#include <opencv2/imgproc/imgproc_c.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

namespace {

int imageSize() { return regmexbench::smoke() ? 128 : 1024; }

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

// The bare library's images and map for a t x t template.
struct Bare {
    IplImage* image;
    IplImage* templ;
    IplImage* map;

    explicit Bare(int t) {
        const int n = imageSize();
        image = toImage(texture(n, n, 1), n, n);
        templ = toImage(texture(t, t, 2), t, t);
        map = cvCreateImage(cvSize(n - t + 1, n - t + 1), IPL_DEPTH_32F, 1);
    }
    ~Bare() {
        cvReleaseImage(&image);
        cvReleaseImage(&templ);
        cvReleaseImage(&map);
    }
    Bare(const Bare&) = delete;
    Bare& operator=(const Bare&) = delete;

    void match() { cvMatchTemplate(image, templ, map, CV_TM_CCOEFF_NORMED); }
};

void BareLibrary(benchmark::State& state) {
    Bare bare(static_cast<int>(state.range(0)));
    for (auto _ : state) {
        bare.match();
        benchmark::DoNotOptimize(bare.map->imageData);
    }
}

void ThroughHost(benchmark::State& state) {
    const int t = static_cast<int>(state.range(0));
    const int n = imageSize();
    setenv("REGMEX_PLUGIN_DIR", REGMEX_PLUGIN_DIR_BENCH, 0);
    mexhost::Plugin plugin(mexhost::pluginPath("tmatch"));
    auto image = mexhost::matrix(n, n, texture(n, n, 1));
    auto templ = mexhost::matrix(t, t, texture(t, t, 2));
    auto whole = mexhost::scalar(-1);
    Bare bare(t);
    bare.match();
    auto first = plugin.call(1, {image.get(), whole.get(), templ.get()});
    if (!first.ok) return regmexbench::fail(state, first.errorMessage);
    const std::vector<double> got = mexhost::values(first.outputs[0].get());
    const int side = n - t + 1;
    if (got.size() != static_cast<size_t>(side) * side) return regmexbench::fail(state, "the map has the wrong size");
    for (int r = 0; r < side; ++r)
        for (int c = 0; c < side; ++c) {
            const double want = reinterpret_cast<const float*>(bare.map->imageData + r * bare.map->widthStep)[c];
            if (got[r + static_cast<size_t>(c) * side] != want)
                return regmexbench::fail(state, "the map differs from the bare library's at (" + std::to_string(r) +
                                                    ", " + std::to_string(c) + ")");
        }
    const double bareSeconds = regmexbench::medianSeconds(regmexbench::smoke() ? 1 : 5, [&] { bare.match(); });
    bool ok = true;
    const double seconds = regmexbench::timeLoop(state, [&] {
        auto r = plugin.call(1, {image.get(), whole.get(), templ.get()});
        ok = ok && r.ok;
        benchmark::DoNotOptimize(r.outputs);
    });
    if (!ok) return regmexbench::fail(state, "a timed call failed");
    regmexbench::reportRatio(state, "bare", seconds, bareSeconds);
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

double seconds(std::chrono::steady_clock::time_point a, std::chrono::steady_clock::time_point b) {
    return std::chrono::duration<double>(b - a).count();
}

// 4096x4096 image (512x512 in a smoke run), 96x96 region, 32x32 template
// cut from it.  The host's argument fingerprints are off: over a 128 MB image
// they cost more than the search, and MATLAB makes no such check.
void LocalSearch(benchmark::State& state) {
    const int S = regmexbench::smoke() ? 512 : 4096, R = 96, T = 32, x0 = S / 2, y0 = S / 3;
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
    if (!same) {
        mexhost::setArgumentCheck(true);
        cvReleaseImage(&I);
        cvReleaseImage(&Tm);
        cvReleaseImage(&map);
        return regmexbench::fail(state, "the local search differs from the bare call on its region");
    }
    // Both timed in each iteration, one after the other, so that the load
    // of a shared machine falls on both alike.
    std::vector<double> bare, host;
    for (auto _ : state) {
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
    regmexbench::reportRatio(state, "bare", median(host), median(bare));
    cvReleaseImage(&I);
    cvReleaseImage(&Tm);
    cvReleaseImage(&map);
}

}  // namespace

// Medians of repetitions: a few milliseconds of noise on a shared machine
// would otherwise decide the ratio.
void regmexbench::registerBenchmarks() {
    for (auto [name, fn] : {std::pair{"BareLibrary", BareLibrary}, std::pair{"ThroughHost", ThroughHost}}) {
        auto* b = benchmark::RegisterBenchmark(name, fn)->Unit(benchmark::kMillisecond)->UseRealTime();
        if (smoke())
            b->Arg(16)->Iterations(1);
        else
            b->Arg(16)->Arg(64)->Arg(128)->Repetitions(7)->ReportAggregatesOnly(true);
    }
    benchmark::RegisterBenchmark("LocalSearch", LocalSearch)
        ->Iterations(smoke() ? 1 : 400)
        ->UseManualTime()
        ->Unit(benchmark::kMillisecond);
}
