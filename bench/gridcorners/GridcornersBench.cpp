// gridcorners through the embedded host on a 2048x2048 photograph-like image
// (256x256 in a smoke run: load, block loop, output) beside the same file
// loaded and its blocks run through cv::goodFeaturesToTrack directly in one
// loop, with the same arguments and the same lowering of the quality level.
// The plug-in's corners are compared with the direct loop's before either is
// timed, and the plug-in case reports its time over the direct loop's.
#include "BenchSupport.h"
#include "MexHost.h"

#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>
#include <unistd.h>

namespace {

int imageSize() { return regmexbench::smoke() ? 256 : 2048; }
const double kDistance = 5.0;
const double kQuality = 0.01;
const int kLimit = 10;

// The camera photograph enlarged to 2048x2048, with fine grain added so the
// enlargement is not smoother than a photograph; a smooth random texture
// when the photograph is missing.  Written once as PNG.
const std::string& imagePath() {
    static std::string path;
    if (!path.empty()) return path;
    const int kSize = imageSize();
    cv::Mat photo = cv::imread(std::string(REGMEX_DATA_DIR) + "/camera.png", cv::IMREAD_GRAYSCALE);
    cv::Mat big;
    if (photo.empty()) {
        cv::Mat noise(kSize, kSize, CV_32F);
        cv::RNG(1).fill(noise, cv::RNG::UNIFORM, 0, 255);
        cv::GaussianBlur(noise, noise, cv::Size(0, 0), 3.0);
        cv::normalize(noise, big, 0, 255, cv::NORM_MINMAX, CV_8U);
    } else {
        cv::resize(photo, big, cv::Size(kSize, kSize), 0, 0, cv::INTER_CUBIC);
    }
    cv::Mat grain(kSize, kSize, CV_16S);
    cv::RNG(2).fill(grain, cv::RNG::NORMAL, 0, 2);
    cv::Mat out;
    cv::add(big, grain, out, cv::noArray(), CV_8U);
    path = std::string(std::getenv("TMPDIR") ? std::getenv("TMPDIR") : "/tmp") + "/gridcorners_bench_" +
           std::to_string(getpid()) + ".png";
    cv::imwrite(path, out);
    std::atexit([] { std::remove(imagePath().c_str()); });
    return path;
}

// The reference: every 50x50 block (clipped at the edges) of the loaded file
// through the detector, lowering the level while a block yields too few;
// the corners 1-based, in block order.
std::vector<cv::Point2f> directLoop(const std::string& path, bool adaptive) {
    cv::Mat grey = cv::imread(path, cv::IMREAD_GRAYSCALE);
    std::vector<cv::Point2f> all, block;
    all.reserve(static_cast<size_t>((grey.cols / 50 + 1) * (grey.rows / 50 + 1) * kLimit));
    for (int y0 = 0; y0 < grey.rows; y0 += 50)
        for (int x0 = 0; x0 < grey.cols; x0 += 50) {
            // A header of the block alone, as the plug-in's region of
            // interest gives the detector: no pixels beyond the block.
            const cv::Mat roi(std::min(50, grey.rows - y0), std::min(50, grey.cols - x0), CV_8UC1,
                              grey.ptr<uchar>(y0) + x0, grey.step);
            double q = kQuality;
            cv::goodFeaturesToTrack(roi, block, kLimit, q, kDistance, cv::noArray(), 3, true, q);
            while (adaptive && block.size() <= kLimit * 0.9 && q >= 0.005) {
                q *= 0.8;
                cv::goodFeaturesToTrack(roi, block, kLimit, q, kDistance, cv::noArray(), 3, true, q);
            }
            for (const cv::Point2f& p : block) all.push_back(cv::Point2f(p.x + x0 + 1.0f, p.y + y0 + 1.0f));
        }
    return all;
}

void Direct(benchmark::State& state) {
    const std::string& path = imagePath();
    size_t n = 0;
    for (auto _ : state) {
        n = directLoop(path, state.range(0) == 1).size();
        benchmark::DoNotOptimize(n);
    }
    state.counters["corners"] = static_cast<double>(n);
}

void Plugin(benchmark::State& state) {
    const std::string& path = imagePath();
    const bool adaptive = state.range(0) == 1;
    setenv("REGMEX_PLUGIN_DIR", REGMEX_PLUGIN_DIR_BENCH, 0);
    mexhost::Plugin plugin(mexhost::pluginPath("gridcorners"));
    auto name = mexhost::text(path);
    auto d = mexhost::scalar(kDistance), q = mexhost::scalar(kQuality), l = mexhost::scalar(kLimit);
    auto a = mexhost::scalar(adaptive ? 1.0 : 0.0);
    const std::vector<const mxArray*> args = {name.get(), d.get(), q.get(), l.get(), a.get()};
    auto first = plugin.call(1, args);
    if (!first.ok) return regmexbench::fail(state, first.errorMessage);
    std::vector<cv::Point2f> want;
    const double directSeconds =
        regmexbench::medianSeconds(regmexbench::smoke() ? 1 : 3, [&] { want = directLoop(path, adaptive); });
    const std::vector<double> got = mexhost::values(first.outputs[0].get());
    if (got.size() != 2 * want.size())
        return regmexbench::fail(state, std::to_string(got.size() / 2) + " corners, the direct loop finds " +
                                            std::to_string(want.size()));
    for (size_t k = 0; k < want.size(); ++k)
        if (got[2 * k] != want[k].x || got[2 * k + 1] != want[k].y)
            return regmexbench::fail(state, "corner " + std::to_string(k + 1) + " differs from the direct loop's");
    bool ok = true;
    const double seconds = regmexbench::timeLoop(state, [&] {
        auto r = plugin.call(1, args);
        ok = ok && r.ok;
        benchmark::DoNotOptimize(r.outputs);
    });
    if (!ok) return regmexbench::fail(state, "a timed call failed");
    state.counters["corners"] = static_cast<double>(want.size());
    regmexbench::reportRatio(state, "direct", seconds, directSeconds);
}

// What loading the file alone costs, inside both of the above.
void LoadOnly(benchmark::State& state) {
    const std::string& path = imagePath();
    for (auto _ : state) {
        cv::Mat grey = cv::imread(path, cv::IMREAD_GRAYSCALE);
        benchmark::DoNotOptimize(grey.data);
    }
}

}  // namespace

// Arg: the adaptive switch.  Each pair runs side by side in one process.
void regmexbench::registerBenchmarks() {
    auto add = [](const char* name, void (*fn)(benchmark::State&)) {
        auto* b = benchmark::RegisterBenchmark(name, fn)->Unit(benchmark::kMillisecond)->UseRealTime();
        if (smoke()) b->Iterations(1);
        return b;
    };
    for (int adaptive : {0, 1}) {
        add("Direct", Direct)->Arg(adaptive);
        add("Plugin", Plugin)->Arg(adaptive);
    }
    add("LoadOnly", LoadOnly);
}
