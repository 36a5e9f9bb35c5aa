// gridcorners through the embedded host on a 4096x4096 photograph-like image
// (256x256 in a smoke run).
//
// Cores: the direct single-threaded loop of the detector over the blocks of
// an 8-bit image, with the plug-in's arguments and lowering of the quality
// level, against the plug-in's block loop on all cores over the same image,
// and against the whole call on that image as a uint8 matrix (conversion,
// blocks, output), timed in turn in the same iterations.
// Matrix or file: the call on that matrix against the same image through a
// PNG file, with and without writing the file first.
//
// Each case first checks that the plug-in's corners equal the reference's,
// then reports its time over the reference's (vs_<ref>, below 1 is faster)
// and, for the cores, the speed-ups themselves.
#include "BenchSupport.h"
#include "BlockDetection.h"
#include "MexHost.h"

#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>
#include <unistd.h>

namespace {

int imageSize() { return regmexbench::smoke() ? 256 : 4096; }
const double kDistance = 5.0;
const double kQuality = 0.01;
const int kLimit = 10;
int rounds() { return regmexbench::smoke() ? 1 : 5; }

using Clock = std::chrono::steady_clock;

double millisecondsSince(Clock::time_point t0) {
    return std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

// The camera photograph enlarged to 4096x4096, with fine grain added so the
// enlargement is not smoother than a photograph; a smooth random texture
// when the photograph is missing.
const cv::Mat& photo() {
    static cv::Mat out;
    if (!out.empty()) return out;
    const int kSize = imageSize();
    cv::Mat camera = cv::imread(std::string(REGMEX_DATA_DIR) + "/camera.png", cv::IMREAD_GRAYSCALE);
    cv::Mat big;
    if (camera.empty()) {
        cv::Mat noise(kSize, kSize, CV_32F);
        cv::RNG(1).fill(noise, cv::RNG::UNIFORM, 0, 255);
        cv::GaussianBlur(noise, noise, cv::Size(0, 0), 3.0);
        cv::normalize(noise, big, 0, 255, cv::NORM_MINMAX, CV_8U);
    } else {
        cv::resize(camera, big, cv::Size(kSize, kSize), 0, 0, cv::INTER_CUBIC);
    }
    cv::Mat grain(kSize, kSize, CV_16S);
    cv::RNG(2).fill(grain, cv::RNG::NORMAL, 0, 2);
    cv::add(big, grain, out, cv::noArray(), CV_8U);
    return out;
}

std::string tempPath(const char* what) {
    return std::string(std::getenv("TMPDIR") ? std::getenv("TMPDIR") : "/tmp") + "/gridcorners_bench_" +
           std::to_string(getpid()) + what;
}

// The photograph written once as PNG.
const std::string& photoFile() {
    static std::string path;
    if (!path.empty()) return path;
    path = tempPath(".png");
    cv::imwrite(path, photo());
    std::atexit([] { std::remove(photoFile().c_str()); });
    return path;
}

// The photograph as a uint8 matrix of the host, M rows = height.
mxArray* photoMatrix() {
    static mexhost::ArrayPtr matrix;
    if (matrix) return matrix.get();
    const cv::Mat& p = photo();
    const size_t n = static_cast<size_t>(imageSize());
    std::vector<double> columnMajor(n * n);
    for (size_t c = 0; c < n; ++c)
        for (size_t r = 0; r < n; ++r)
            columnMajor[c * n + r] = p.at<uchar>(static_cast<int>(r), static_cast<int>(c));
    matrix = mexhost::numeric(mxUINT8_CLASS, {n, n}, columnMajor);
    return matrix.get();
}

// The reference: every 50x50 block (clipped at the edges) of the image
// through the detector, one after another, lowering the level while a block
// yields too few; 1-based [x; y] pairs.
std::vector<double> directLoop(const cv::Mat& grey, bool adaptive) {
    std::vector<double> all;
    std::vector<cv::Point2f> block;
    all.reserve(static_cast<size_t>((grey.cols / 50 + 1) * (grey.rows / 50 + 1) * kLimit * 2));
    for (int y0 = 0; y0 < grey.rows; y0 += 50)
        for (int x0 = 0; x0 < grey.cols; x0 += 50) {
            // A header of the block alone, as the plug-in's region of
            // interest gives the detector: no pixels beyond the block.
            const cv::Mat roi(std::min(50, grey.rows - y0), std::min(50, grey.cols - x0), CV_8UC1,
                              const_cast<uchar*>(grey.ptr<uchar>(y0)) + x0, grey.step);
            double q = kQuality;
            cv::goodFeaturesToTrack(roi, block, kLimit, q, kDistance, cv::noArray(), 3, true, q);
            while (adaptive && block.size() <= kLimit * 0.9 && q >= 0.005) {
                q *= 0.8;
                cv::goodFeaturesToTrack(roi, block, kLimit, q, kDistance, cv::noArray(), 3, true, q);
            }
            for (const cv::Point2f& p : block) {
                all.push_back(static_cast<double>((p.x + static_cast<float>(x0)) + 1.0f));
                all.push_back(static_cast<double>((p.y + static_cast<float>(y0)) + 1.0f));
            }
        }
    return all;
}

std::string gridcornersPath() {
    setenv("REGMEX_PLUGIN_DIR", REGMEX_PLUGIN_DIR_BENCH, 0);
    return mexhost::pluginPath("gridcorners");
}

struct Gridcorners {
    mexhost::Plugin plugin;
    mexhost::ArrayPtr d = mexhost::scalar(kDistance), q = mexhost::scalar(kQuality), l = mexhost::scalar(kLimit);
    mexhost::ArrayPtr a;

    explicit Gridcorners(bool adaptive)
        : plugin(gridcornersPath()), a(mexhost::scalar(adaptive ? 1.0 : 0.0)) {}

    // The corners, or an empty vector with the error in error.
    std::vector<double> run(const mxArray* source, std::string* error) const {
        auto r = plugin.call(1, {source, d.get(), q.get(), l.get(), a.get()});
        if (!r.ok) {
            *error = r.errorId + ": " + r.errorMessage;
            return {};
        }
        return mexhost::values(r.outputs[0].get());
    }
};

// The plug-in's block loop on all cores; 1-based [x; y] pairs.
std::vector<double> productLoop(const cv::Mat& grey, bool adaptive, std::vector<char>& buffer) {
    IplImage ipl = cvIplImage(grey);
    const gridcorners::BlockGrid grid = gridcorners::blockGrid(grey.cols, grey.rows);
    buffer.resize(static_cast<size_t>(gridcorners::slotBytes(grid, kLimit)));
    const gridcorners::Slots slots = gridcorners::slotsIn(buffer.data(), grid, kLimit);
    const gridcorners::BlockRun run = gridcorners::detectBlocks(
        gridcorners::imagePixels(&ipl), {kDistance, kQuality, kLimit, adaptive}, gridcorners::machineWorkers(grid), slots);
    std::vector<double> out(2 * static_cast<size_t>(run.total));
    gridcorners::writeSlots(slots, out.data());
    return out;
}

void Cores(benchmark::State& state) {
    const bool adaptive = state.range(0) == 1;
    const Gridcorners g(adaptive);
    const std::vector<double> reference = directLoop(photo(), adaptive);
    std::vector<char> buffer;
    std::string error;
    if (productLoop(photo(), adaptive, buffer) != reference || g.run(photoMatrix(), &error) != reference)
        return regmexbench::fail(state, "corners differ from the direct loop " + error);
    std::vector<double> direct, blocks, call;
    for (auto _ : state) {
        Clock::time_point t0 = Clock::now();
        benchmark::DoNotOptimize(directLoop(photo(), adaptive).data());
        direct.push_back(millisecondsSince(t0));
        t0 = Clock::now();
        benchmark::DoNotOptimize(productLoop(photo(), adaptive, buffer).data());
        blocks.push_back(millisecondsSince(t0));
        t0 = Clock::now();
        benchmark::DoNotOptimize(g.run(photoMatrix(), &error).data());
        call.push_back(millisecondsSince(t0));
        state.SetIterationTime(call.back() / 1000.0);
    }
    state.counters["corners"] = static_cast<double>(reference.size() / 2);
    state.counters["cores"] = static_cast<double>(std::thread::hardware_concurrency());
    state.counters["blocks_ms"] = median(blocks);
    state.counters["call_ms"] = median(call);
    // The speed-ups over the single-threaded loop, of the block loop alone
    // and of the whole call.
    state.counters["blocks_speedup"] = median(direct) / median(blocks);
    state.counters["call_speedup"] = median(direct) / median(call);
    regmexbench::reportRatio(state, "direct", median(call) / 1000.0, median(direct) / 1000.0);
}

void MatrixOrFile(benchmark::State& state) {
    const Gridcorners g(false);
    auto name = mexhost::text(photoFile());
    std::string error;
    const std::vector<double> fromMatrix = g.run(photoMatrix(), &error);
    if (fromMatrix.empty() || g.run(name.get(), &error) != fromMatrix)
        return regmexbench::fail(state, "corners of the matrix and of the file differ " + error);
    const std::string written = tempPath("_written.png");
    auto writtenName = mexhost::text(written);
    std::vector<double> matrix, file, writeAndFile;
    for (auto _ : state) {
        Clock::time_point t0 = Clock::now();
        benchmark::DoNotOptimize(g.run(photoMatrix(), &error).data());
        matrix.push_back(millisecondsSince(t0));
        t0 = Clock::now();
        benchmark::DoNotOptimize(g.run(name.get(), &error).data());
        file.push_back(millisecondsSince(t0));
        t0 = Clock::now();
        cv::imwrite(written, photo());
        benchmark::DoNotOptimize(g.run(writtenName.get(), &error).data());
        writeAndFile.push_back(millisecondsSince(t0));
        state.SetIterationTime(matrix.back() / 1000.0);
    }
    std::remove(written.c_str());
    state.counters["matrix_ms"] = median(matrix);
    state.counters["write_file_ms"] = median(writeAndFile);
    state.counters["write_file_over_matrix"] = median(writeAndFile) / median(matrix);
    regmexbench::reportRatio(state, "file", median(matrix) / 1000.0, median(file) / 1000.0);
}

}  // namespace

// Arg: the adaptive switch.  Every iteration times both sides in turn, so
// load from other processes falls on both alike; counters are medians.
void regmexbench::registerBenchmarks() {
    for (int adaptive : {0, 1})
        benchmark::RegisterBenchmark("Cores", Cores)
            ->Arg(adaptive)
            ->Iterations(rounds())
            ->UseManualTime()
            ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("MatrixOrFile", MatrixOrFile)
        ->Iterations(rounds())
        ->UseManualTime()
        ->Unit(benchmark::kMillisecond);
}
