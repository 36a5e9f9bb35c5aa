// The first call of each plug-in in a fresh Octave: what a script that starts
// Octave per job pays before any work, mostly loading the MEX file and the
// libraries it links.  Each measurement starts octave-cli anew, prepares the
// arguments, and times with tic/toc the first call (lookup, load, call);
// the call's result is checked in the same Octave before the time counts.
// Beside each plug-in, interleaved start by start, the first call of an
// empty MEX file built the same way and, for the OpenCV plug-ins, that of
// driftfield, which links no image library.  Medians of 7 starts (one in a
// smoke run); the counters give the other two medians and the ratios.
//
// REGMEX_MEX_DIR=<folder> measures the MEX files of another build.
#include "BenchSupport.h"

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>
#include <sys/wait.h>
#include <unistd.h>

namespace {

struct Call {
    const char* name;
    const char* prepare;  // m-code run before the clock starts
    const char* call;     // the timed first call
    const char* check;    // m-code that raises an error when the result is wrong
};

const Call kEmpty = {"regmex_empty", "", "regmex_empty ();", ""};

const Call kCalls[] = {
    {"tmatch", "rand (\"state\", 1); img = round (255 * rand (96)); tpl = img(41:56, 31:46);",
     "C = tmatch (img, -1, tpl);",
     "[~, k] = max (C(:)); [r, c] = ind2sub (size (C), k); assert ([r, c], [41, 31]);"},
    {"gridcorners", "file = fullfile (\"" REGMEX_DATA_DIR "\", \"camera.png\");",
     "P = gridcorners (file, 5, 0.01, 5, 0);", "assert (rows (P) == 2 && columns (P) > 0);"},
    {"warpmatch", "img = mod ((0:63)' * (1:64), 256);",
     "[pts, mx, my, out] = warpmatch ([0 0 1 0]', [0 0 0 1]', 10, 10, 12, 14, [], [], img);",
     "assert (pts, [12 14], 1e-6); assert (size (out), [64 64]);"},
    {"driftfield", "pos = {[5; 5], [10; 5]}; map = ones (20, 20);",
     "[s, P] = driftfield (pos, pos, 1, 1, 0.5, 1, 2, map, 0, 1, zeros (1, 2));",
     "assert (size (s), [1 2]); assert (iscell (P) && isequal (size (P), [1 2]));"},
};

std::string mexDir() {
    const char* dir = std::getenv("REGMEX_MEX_DIR");
    return dir && *dir ? dir : REGMEX_MEX_DIR_BENCH;
}

// Milliseconds of the first call in a fresh octave-cli, or a negative value
// with the reason in `error`.
double firstCallMs(const Call& c, std::string& error) {
    const std::string script = "addpath (\"" + mexDir() + "\"); addpath (\"" REGMEX_EMPTY_MEX_DIR "\"); " +
                               c.prepare + " t0 = tic; " + c.call + " ms = 1000 * toc (t0); " + c.check +
                               " printf (\"first-call-ms %.6f\\n\", ms);";
    // Started without a shell, so the m-code needs no quoting.
    int fds[2];
    if (pipe(fds) != 0) {
        error = "cannot make a pipe";
        return -1;
    }
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(fds[1], 1);
        dup2(fds[1], 2);
        close(fds[0]);
        close(fds[1]);
        execl(REGMEX_OCTAVE_CLI, REGMEX_OCTAVE_CLI, "--norc", "--quiet", "--no-history", "--no-window-system",
              "--eval", script.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    close(fds[1]);
    std::string out;
    char buf[512];
    ssize_t n;
    while ((n = read(fds[0], buf, sizeof buf)) > 0) out.append(buf, static_cast<size_t>(n));
    close(fds[0]);
    int status = -1;
    if (pid < 0 || waitpid(pid, &status, 0) != pid) {
        error = "cannot start " REGMEX_OCTAVE_CLI;
        return -1;
    }
    const size_t at = out.find("first-call-ms ");
    if (status != 0 || at == std::string::npos) {
        error = std::string(c.name) + ": " + out;
        return -1;
    }
    return std::strtod(out.c_str() + at + 14, nullptr);
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

void FirstCall(benchmark::State& state, const Call& plugin) {
    const bool againstDriftfield = std::string(plugin.name) != "driftfield";
    const Call& driftfield = kCalls[3];
    const int starts = regmexbench::smoke() ? 1 : 7;
    std::vector<double> own, empty, drift;
    std::string error;
    for (int i = 0; i < starts; ++i) {
        const double e = firstCallMs(kEmpty, error);
        const double p = e >= 0 ? firstCallMs(plugin, error) : -1;
        const double d = p >= 0 && againstDriftfield ? firstCallMs(driftfield, error) : 0;
        if (e < 0 || p < 0 || d < 0) return regmexbench::fail(state, error);
        empty.push_back(e);
        own.push_back(p);
        drift.push_back(d);
    }
    const double ms = median(own);
    for (auto _ : state) state.SetIterationTime(ms / 1e3);
    regmexbench::reportRatio(state, "empty", ms / 1e3, median(empty) / 1e3);
    if (againstDriftfield) regmexbench::reportRatio(state, "driftfield", ms / 1e3, median(drift) / 1e3);
}

}  // namespace

void regmexbench::registerBenchmarks() {
    for (const Call& c : kCalls)
        benchmark::RegisterBenchmark((std::string("FirstCall/") + c.name).c_str(),
                                     [&c](benchmark::State& s) { FirstCall(s, c); })
            ->UseManualTime()
            ->Iterations(1)
            ->Unit(benchmark::kMillisecond);
}
