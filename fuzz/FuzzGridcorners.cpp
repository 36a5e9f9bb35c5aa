// gridcorners with fuzzed arguments: arbitrary arrays; file names that are
// missing, directories, special files, too long or not text; and image files
// written from fuzz bytes into a private folder, either garbage behind a
// decoder's magic bytes or small valid PGMs that decode and reach the detector.
#include "FuzzArgs.h"

#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>

#include <cstdlib>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

extern "C" void mexFunction(int, mxArray*[], int, const mxArray*[]);

namespace {

// One folder per process, removed at exit; its few file names are reused.
class Folder {
public:
    Folder() {
        char pattern[] = "/tmp/fuzz_gridcorners.XXXXXX";
        if (!mkdtemp(pattern)) std::abort();
        path_ = pattern;
        // A symbolic link loop and a FIFO: the loader must never open either.
        if (symlink((path_ + "/loop").c_str(), (path_ + "/loop").c_str()) != 0) std::abort();
        if (mkfifo((path_ + "/fifo").c_str(), 0600) != 0) std::abort();
        if (symlink(path_.c_str(), (path_ + "/dirlink").c_str()) != 0) std::abort();
        if (symlink((path_ + "/img.pgm").c_str(), (path_ + "/imglink").c_str()) != 0) std::abort();
    }
    ~Folder() {
        for (const char* f : {"img.pgm", "img.png", "img", "loop", "fifo", "dirlink", "imglink"})
            unlink((path_ + "/" + f).c_str());
        rmdir(path_.c_str());
    }
    const std::string& path() const { return path_; }

private:
    std::string path_;
};

const Folder& folder() {
    static Folder f;
    return f;
}

void writeFile(const std::string& name, const std::string& bytes) {
    FILE* f = std::fopen(name.c_str(), "wb");
    if (!f) std::abort();
    if (!bytes.empty() && std::fwrite(bytes.data(), 1, bytes.size(), f) != bytes.size()) std::abort();
    std::fclose(f);
}

// Sizes that stress the 50x50 block grid: slivers, block edges, odd sizes.
int side(fuzzargs::Bytes& in) {
    static const int special[] = {1, 2, 3, 4, 7, 49, 50, 51, 99, 100, 101, 149, 150, 151};
    return in.flag() ? special[in.range(0, 13)] : in.range(1, 160);
}

// A binary (P5) or ASCII (P2) grey map whose pixels come from the bytes:
// copied raw, or as a board or spots so that blocks hold corners.
std::string pgm(fuzzargs::Bytes& in, int* width, int* height) {
    const int w = side(in), h = side(in);
    *width = w;
    *height = h;
    const bool ascii = in.byte() % 4 == 3;
    const int maxval = in.byte() % 8 == 7 ? (in.flag() ? 65535 : in.range(1, 300)) : 255;
    const int pattern = in.range(0, 3);
    const int cell = in.range(2, 30);
    const int bright = in.range(0, maxval), dark = in.range(0, maxval);
    std::string out = std::string(ascii ? "P2\n" : "P5\n") + std::to_string(w) + " " + std::to_string(h) + "\n" +
                      std::to_string(maxval) + "\n";
    std::vector<int> px(static_cast<size_t>(w) * h, dark);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            int& p = px[static_cast<size_t>(y) * w + x];
            if (pattern == 0) p = in.byte() % (maxval + 1);
            else if (pattern == 1) p = ((x / cell) + (y / cell)) % 2 ? bright : dark;
            else if (pattern == 2 && x % cell < 3 && y % cell < 3) p = bright;
            else if (pattern == 3) p = (x * 7 + y * 13 + in.byte()) % (maxval + 1);
        }
    for (int p : px) {
        if (ascii) {
            out += std::to_string(p) + (out.size() % 70 ? " " : "\n");
        } else if (maxval > 255) {
            out += static_cast<char>(p >> 8);
            out += static_cast<char>(p & 255);
        } else {
            out += static_cast<char>(p);
        }
    }
    // Sometimes cut short or with trailing bytes.
    const int tail = in.byte() % 8;
    if (tail == 7 && !out.empty()) out.resize(out.size() - 1 - in.range(0, static_cast<int>(out.size() - 1)));
    if (tail == 6) out += "junk";
    return out;
}

// Fuzz bytes behind a decoder's magic number, or a grey map header declaring
// sizes the data cannot fill.
std::string garbage(fuzzargs::Bytes& in) {
    static const char* const magic[] = {"\x89PNG\r\n\x1a\n", "P5\n", "P2\n", "P6\n", "BM", "\xff\xd8\xff\xe0",
                                        "II*", "MM", "GIF89a", "RIFF", "\x59\xa6\x6a\x95", "#?RADIANCE\n",
                                        "Pf\n", "P7\n", ""};
    const int which = in.range(0, 14);
    std::string out = magic[which];
    if (which == 6 || which == 7) out += '\0';
    if (in.byte() % 4 == 3) {
        static const char* const sizes[] = {"100000 100000\n255\n", "30000 30000\n255\n", "0 5\n255\n",
                                            "-3 4\n255\n", "4 4\n0\n", "4 4\n70000\n", "2147483647 1\n255\n"};
        out = std::string("P5\n") + sizes[in.range(0, 6)];
    }
    const int n = in.range(0, 600);
    for (int i = 0; i < n && !in.empty(); ++i) out += static_cast<char>(in.byte());
    return out;
}

// A flat PNG with too many blocks for the point buffer at the limits this
// branch uses: a one-pixel sliver of 6000 blocks, which decodes quickly.
// Encoded once per orientation.
const std::string& largePng(fuzzargs::Bytes& in) {
    static std::string encoded[2];
    const int which = in.range(0, 1);
    if (encoded[which].empty()) {
        const cv::Mat flat(which ? 1 : 300000, which ? 300000 : 1, CV_8UC1, cv::Scalar(which ? 200 : 0));
        std::vector<uchar> bytes;
        if (!cv::imencode(".png", flat, bytes)) std::abort();
        encoded[which].assign(bytes.begin(), bytes.end());
    }
    return encoded[which];
}

// A valid-looking file name argument, or a hostile one.
mexhost::ArrayPtr fileName(fuzzargs::Bytes& in) {
    const std::string& dir = folder().path();
    switch (in.range(0, 31)) {
    case 5: return mexhost::text(dir + "/missing" + std::to_string(in.byte()));
    case 6: return mexhost::text(dir);
    case 7: return mexhost::text(dir + "/dirlink");
    case 8: return mexhost::text(dir + "/loop");
    case 9: return mexhost::text(dir + "/fifo");
    case 10: return mexhost::text("/dev/null");
    case 11: {
        static const size_t lengths[] = {1022, 1023, 1024, 1025, 4096};
        const size_t n = lengths[in.range(0, 4)];
        std::string name = dir + "/";
        name += std::string(n > name.size() ? n - name.size() : 0, 'a');
        return mexhost::text(name);
    }
    case 12: {
        // NUL, characters beyond 8 bits, or a matrix of characters.
        const std::string name = dir + "/img.pgm";
        std::vector<uint16_t> chars(name.begin(), name.end());
        const size_t at = in.range(0, static_cast<int>(chars.size() - 1));
        const int how = in.range(0, 3);
        if (how == 0) chars[at] = 0;
        if (how == 1) chars[at] = static_cast<uint16_t>(256 + in.byte());
        if (how == 2) chars[at] = static_cast<uint16_t>(128 + in.byte() % 128);
        if (how == 3) return fuzzargs::charArray(in.range(0, 2), chars.size(), chars);
        return fuzzargs::charArray(1, chars.size(), chars);
    }
    case 13: return fuzzargs::charArray(in.range(0, 1), 0, {});
    case 14: return fuzzargs::anyArray(in);
    case 4: return mexhost::text(dir + "/imglink");
    default: return mexhost::text(dir + "/img.pgm");
    }
}

// What an accepted call promises: a 2 x K double matrix of finite 1-based
// coordinates, at most the limit per block, inside the image when its size
// is known (width 0 when not).
void checkResult(const mexhost::CallResult& r, const std::vector<const mxArray*>& args, int width, int height) {
    if (!r.ok || args.size() != 5 || r.outputs.empty()) return;
    const mxArray* P = r.outputs[0].get();
    if (!P || !mxIsDouble(P) || mxIsComplex(P) || mxGetNumberOfDimensions(P) != 2 || mxGetM(P) != 2) {
        std::fprintf(stderr, "wrong result: not a 2 x K double matrix\n");
        std::abort();
    }
    const size_t K = mxGetN(P);
    const double limit = std::trunc(fuzzargs::elementAsDouble(args[3], 0));
    if (width > 0) {
        const double blocks = std::ceil(width / 50.0) * std::ceil(height / 50.0);
        if (static_cast<double>(K) > blocks * limit || static_cast<double>(K) > blocks * 2500) {
            std::fprintf(stderr, "wrong result: %zu corners from %g blocks with limit %g\n", K, blocks, limit);
            std::abort();
        }
    }
    for (size_t k = 0; k < K; ++k) {
        const double x = mxGetPr(P)[2 * k], y = mxGetPr(P)[2 * k + 1];
        const bool inside = width > 0 ? x >= 1 && x <= width && y >= 1 && y <= height
                                      : std::isfinite(x) && std::isfinite(y) && x >= 1 && y >= 1;
        if (!inside) {
            std::fprintf(stderr, "wrong result: corner %zu at (%g, %g) outside the %dx%d image\n", k + 1, x, y,
                         width, height);
            std::abort();
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzzargs::Bytes in(data, size);
    std::vector<mexhost::ArrayPtr> keep;
    const int nlhs = in.byte() % 8 == 7 ? in.range(0, 2) : 1;
    const std::string& dir = folder().path();
    int width = 0, height = 0;
    if (in.byte() % 32 == 31) {
        const int nrhs = in.range(0, 6);
        for (int i = 0; i < nrhs; ++i) keep.push_back(fuzzargs::anyArray(in));
    } else {
        // The image: a decodable grey map, or garbage (img.pgm is also what
        // the links and most names point at, so it is always rewritten).
        // Rarely an image of so many blocks that limits from 2500 need over 1 GiB.
        const int kind = in.byte();
        const bool large = kind == 255 && in.byte() == 255;
        int w = 0, h = 0;
        writeFile(dir + "/img.pgm", large ? largePng(in) : kind % 4 == 3 ? garbage(in) : pgm(in, &w, &h));
        if (in.byte() % 8 == 7) writeFile(dir + "/img.png", garbage(in));
        keep.push_back(in.byte() % 8 == 7 ? mexhost::text(dir + "/img.png") : fileName(in));
        // The grey map's size binds the corners when the name leads to it.
        char name[1100] = "";
        if (!mxIsChar(keep.back().get()) || mxGetString(keep.back().get(), name, sizeof name) != 0 ||
            (dir + "/img.pgm" != name && dir + "/imglink" != name))
            w = h = 0;
        width = w;
        height = h;
        keep.push_back(fuzzargs::optionScalar(in, 0, 20));       // minDistance
        keep.push_back(fuzzargs::optionScalar(in, 0.001, 0.3));  // quality
        // limitPerBlock: small mostly, sometimes beyond what a block holds.
        keep.push_back(large ? mexhost::scalar(in.between(2500, 3e9))
                       : in.byte() % 16 == 15 ? mexhost::scalar(in.between(0, 3e9))
                                              : fuzzargs::optionScalar(in, 1, 30));
        keep.push_back(fuzzargs::optionScalar(in, 0, 2));        // adaptive
        if (in.byte() % 64 == 63) keep.push_back(fuzzargs::anyArray(in));
    }
    std::vector<const mxArray*> args;
    for (auto& a : keep) args.push_back(a.get());
    fuzzargs::dumpArgs(nlhs, args);
    const mexhost::CallResult r = mexhost::callEntry(mexFunction, "gridcorners", nlhs, args, fuzzargs::held);
    fuzzargs::expectClean(r, "gridcorners");
    checkResult(r, args, width, height);
    return 0;
}
