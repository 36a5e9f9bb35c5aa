#include "RegistrationMethods.h"

#include <opencv2/imgcodecs.hpp>
#include <opencv2/video/tracking.hpp>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <map>
#include <sstream>
#include <stdexcept>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace regbench {

namespace {

double secondsSince(std::chrono::steady_clock::time_point t0) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

void makeDir(const std::string& dir) {
    std::string partial;
    std::stringstream parts(dir);
    std::string part;
    while (std::getline(parts, part, '/')) {
        partial += part + "/";
        mkdir(partial.c_str(), 0755);
    }
}

// Runs argv[0] (a path, or a name looked up in PATH) without a shell and
// returns its exit status (128 + the signal that ended it, -1 when it could
// not run); its standard output and error go to `output`.
int runProcess(const std::vector<std::string>& argv, std::string& output) {
    int fds[2];
    if (pipe(fds) != 0) return -1;
    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(fds[1], 1);
        dup2(fds[1], 2);
        close(fds[0]);
        close(fds[1]);
        execvp(args[0], args.data());
        _exit(127);
    }
    close(fds[1]);
    output.clear();
    char buf[4096];
    ssize_t n;
    while ((n = read(fds[0], buf, sizeof buf)) > 0) output.append(buf, static_cast<size_t>(n));
    close(fds[0]);
    int status = 0;
    if (pid < 0 || waitpid(pid, &status, 0) != pid) return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : WIFSIGNALED(status) ? 128 + WTERMSIG(status) : -1;
}

// The end of a program's output, on one line.
std::string tail(const std::string& s, size_t n = 300) {
    std::string t = s.size() > n ? "..." + s.substr(s.size() - n) : s;
    for (char& c : t)
        if (c == '\n' || c == '\r') c = ' ';
    return t;
}

bool onPath(const std::string& program) {
    std::string out;
    return runProcess({"sh", "-c", "command -v " + program}, out) == 0;
}

Run emptyRun(size_t n) {
    Run r;
    r.maps.resize(n);
    r.seconds.assign(n, 0.0);
    r.failure.assign(n, "");
    return r;
}

// The pair's two images as PNG files in dir: <k>_ref.png, <k>_mov.png.
void writePair(const Pair& p, const std::string& dir, size_t k, std::string& refPath, std::string& movPath) {
    refPath = dir + "/" + std::to_string(k) + "_ref.png";
    movPath = dir + "/" + std::to_string(k) + "_mov.png";
    if (!cv::imwrite(refPath, p.ref) || !cv::imwrite(movPath, p.mov))
        throw std::runtime_error("cannot write the pair into " + dir);
}

// Raw single-precision maps, row by row, as regbench_octave.m writes them.
bool readRawMap(const std::string& path, cv::Size frame, cv::Mat& out) {
    out.create(frame, CV_32F);
    std::ifstream in(path, std::ios::binary);
    in.read(reinterpret_cast<char*>(out.data), static_cast<std::streamsize>(out.total() * sizeof(float)));
    return static_cast<bool>(in) && in.peek() == EOF;
}

// transformix's deformation field (MetaImage, two channels, x then y, in
// physical units; the PNG input has unit spacing and origin 0).
bool readDeformation(const std::string& mhd, cv::Size frame, Maps& maps, std::string& why) {
    std::ifstream in(mhd);
    std::map<std::string, std::string> header;
    std::string line;
    while (std::getline(in, line)) {
        const size_t eq = line.find(" = ");
        if (eq != std::string::npos) header[line.substr(0, eq)] = line.substr(eq + 3);
    }
    const std::string type = header["ElementType"];
    const size_t bytes = type == "MET_FLOAT" ? 4 : type == "MET_DOUBLE" ? 8 : 0;
    std::stringstream dims(header["DimSize"]);
    int w = 0, h = 0;
    dims >> w >> h;
    if (bytes == 0 || header["ElementNumberOfChannels"] != "2" || w != frame.width || h != frame.height ||
        header["BinaryDataByteOrderMSB"] != "False" || header["Offset"].rfind("0 0", 0) != 0 ||
        header["ElementSpacing"].rfind("1 1", 0) != 0) {
        why = "unexpected deformation field header in " + mhd;
        return false;
    }
    const std::string raw = mhd.substr(0, mhd.rfind('/') + 1) + header["ElementDataFile"];
    cv::Mat field(frame, bytes == 4 ? CV_32FC2 : CV_64FC2);
    std::ifstream data(raw, std::ios::binary);
    data.read(reinterpret_cast<char*>(field.data), static_cast<std::streamsize>(field.total() * 2 * bytes));
    if (!data) {
        why = "cannot read " + raw;
        return false;
    }
    std::remove(raw.c_str());  // 2-4 MB a pair
    field.convertTo(field, CV_32FC2);
    cv::Mat xy[2];
    cv::split(field, xy);
    maps = identityMaps(frame);
    maps.x += xy[0];
    maps.y += xy[1];
    return true;
}

}  // namespace

Run runDis(const std::vector<Pair>& pairs) {
    Run run = emptyRun(pairs.size());
    auto flowOf = [](const Pair& p) {
        cv::Mat flow;
        cv::DISOpticalFlow::create(cv::DISOpticalFlow::PRESET_MEDIUM)->calc(p.ref, p.mov, flow);
        return flow;
    };
    if (!pairs.empty()) flowOf(pairs[0]);  // the library's first-call set-up is not the method's cost
    for (size_t k = 0; k < pairs.size(); ++k) {
        const auto t0 = std::chrono::steady_clock::now();
        cv::Mat flow = flowOf(pairs[k]);
        run.seconds[k] = secondsSince(t0);
        // flow(q) is where ref's pixel q lies in mov, less q.
        cv::Mat xy[2];
        cv::split(flow, xy);
        run.maps[k] = identityMaps(pairs[k].ref.size());
        run.maps[k].x += xy[0];
        run.maps[k].y += xy[1];
    }
    return run;
}

Run runElastix(const std::vector<Pair>& pairs, const std::string& paramDir, const std::string& workDir) {
    Run run = emptyRun(pairs.size());
    if (!onPath("elastix") || !onPath("transformix")) {
        run.skipped = "elastix or transformix not installed";
        return run;
    }
    for (size_t k = 0; k < pairs.size(); ++k) {
        const std::string dir = workDir + "/" + std::to_string(k);
        makeDir(dir);
        std::remove((dir + "/deformationField.mhd").c_str());
        std::string ref, mov, out;
        writePair(pairs[k], dir, k, ref, mov);
        const auto t0 = std::chrono::steady_clock::now();
        int status = runProcess({"elastix", "-f", ref, "-m", mov, "-p", paramDir + "/elastix_affine.txt", "-p",
                                 paramDir + "/elastix_bspline.txt", "-out", dir, "-threads", "2"},
                                out);
        if (status == 0) {
            const std::vector<std::string> transformix = {
                "transformix", "-def", "all", "-tp", dir + "/TransformParameters.1.txt", "-out", dir};
            status = runProcess(transformix, out);
            // transformix 5.0.1 now and then aborts as it exits (a
            // std::system_error from a thread): run it once more, in the
            // time, as a user would have to.
            if (status != 0) status = runProcess(transformix, out);
        }
        run.seconds[k] = secondsSince(t0);
        std::string why;
        if (status != 0)
            run.failure[k] = "elastix/transformix exit " + std::to_string(status) + ": " + tail(out);
        else if (!readDeformation(dir + "/deformationField.mhd", pairs[k].ref.size(), run.maps[k], why))
            run.failure[k] = why;
    }
    return run;
}

Run runOctave(const std::string& method, const std::vector<Pair>& pairs, const std::string& scriptDir,
              const std::string& mexDir, const std::string& mPath, const std::string& workDir) {
    Run run = emptyRun(pairs.size());
    makeDir(workDir);
    const std::string list = workDir + "/pairs.txt";
    {
        std::ofstream out(list);
        for (size_t k = 0; k < pairs.size(); ++k) {
            std::string ref, mov;
            writePair(pairs[k], workDir, k, ref, mov);
            out << ref << '\t' << mov << '\t' << workDir << "/" << k << "_map\n";
        }
    }
    // m-code quoted for Octave's double-quoted strings: paths hold no '"'.
    // addpath puts each folder first: the MEX folder goes last, ahead of
    // the help files of the same names in the m-function folders.
    std::string script = "addpath (\"" + scriptDir + "\");";
    std::stringstream dirs(mPath);
    std::string dir;
    while (std::getline(dirs, dir, ':'))
        if (!dir.empty()) script += " addpath (\"" + dir + "\");";
    script += " addpath (\"" + mexDir + "\"); regbench_octave (\"" + method + "\", \"" + list + "\");";
    std::string out;
    const int status = runProcess(
        {"octave-cli", "--norc", "--quiet", "--no-history", "--no-window-system", "--eval", script}, out);
    if (out.find("regbench-missing") != std::string::npos) {
        run.skipped = method + " is not on the path (" + mexDir + ":" + mPath + ")";
        return run;
    }
    std::vector<bool> reported(pairs.size(), false);
    std::stringstream lines(out);
    std::string line;
    while (std::getline(lines, line)) {
        std::stringstream words(line);
        std::string tag;
        size_t k = 0;
        words >> tag >> k;
        if ((tag != "regbench-time" && tag != "regbench-fail") || k >= pairs.size()) continue;
        reported[k] = true;
        if (tag == "regbench-fail") {
            std::getline(words, run.failure[k]);
            continue;
        }
        words >> run.seconds[k];
        const std::string prefix = workDir + "/" + std::to_string(k) + "_map";
        Maps m;
        if (readRawMap(prefix + ".x", pairs[k].ref.size(), m.x) && readRawMap(prefix + ".y", pairs[k].ref.size(), m.y))
            run.maps[k] = m;
        else
            run.failure[k] = "maps missing or of the wrong size";
        std::remove((prefix + ".x").c_str());  // 2 MB a 512x512 map
        std::remove((prefix + ".y").c_str());
    }
    for (size_t k = 0; k < pairs.size(); ++k)
        if (!reported[k])
            throw std::runtime_error("octave-cli (" + method + ", exit " + std::to_string(status) +
                                     ") reported nothing for pair " + std::to_string(k) + ": " + tail(out));
    return run;
}

}  // namespace regbench
