// tmatch through the embedded host (conversion, matching, copy back) beside
// a bare cvMatchTemplate on the same 8-bit images, 1024x1024 (128x128 in a
// smoke run).  The host's map is compared with the bare one, element for
// element, before either is timed; the host case reports its time over the
// bare library's, measured beside it.
#include "BenchSupport.h"
#include "MexHost.h"

#include <opencv2/core/core_c.h>
#include <opencv2/imgproc/imgproc_c.h>

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
}
