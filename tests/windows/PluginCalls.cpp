#include "PluginCalls.h"

#include <algorithm>
#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <map>
#include <sstream>

#ifndef _WIN32
#include <opencv2/imgcodecs.hpp>
#endif

using mexhost::ArrayPtr;

namespace calls {

const char* const kImages[] = {"camera.pgm", "coffee.pgm", nullptr};

namespace {

struct Pgm {
    size_t rows = 0, cols = 0;
    std::vector<unsigned char> pixels;  // row major
};

Pgm readPgm(const std::string& name) {
    std::ifstream in(name, std::ios::binary);
    std::string magic;
    int maxValue = 0;
    Pgm p;
    in >> magic >> p.cols >> p.rows >> maxValue;
    in.get();  // the one white-space character before the pixels
    if (!in || magic != "P5" || maxValue != 255) throw std::runtime_error(name + ": not an 8-bit binary PGM");
    p.pixels.resize(p.rows * p.cols);
    in.read(reinterpret_cast<char*>(p.pixels.data()), static_cast<std::streamsize>(p.pixels.size()));
    if (!in) throw std::runtime_error(name + ": short");
    return p;
}

}  // namespace

ArrayPtr imageAs(const std::string& pgm, mxClassID cls) {
    const Pgm p = readPgm(pgm);
    std::vector<double> v(p.pixels.size());
    for (size_t r = 0; r < p.rows; ++r)
        for (size_t c = 0; c < p.cols; ++c) v[c * p.rows + r] = p.pixels[r * p.cols + c];
    if (cls == mxDOUBLE_CLASS) return mexhost::matrix(p.rows, p.cols, v);
    return mexhost::numeric(cls, {p.rows, p.cols}, v);
}

ArrayPtr image(const std::string& pgm) { return imageAs(pgm, mxDOUBLE_CLASS); }

ArrayPtr row(const std::vector<double>& v) { return mexhost::matrix(1, v.size(), v); }
ArrayPtr column(const std::vector<double>& v) { return mexhost::matrix(v.size(), 1, v); }

}  // namespace calls

namespace {

using calls::Case;
using calls::Kind;

struct Value {
    uint64_t bits;
    Kind kind;
};

struct Record {
    std::string outcome;  // "ok" or the error identifier
    std::vector<Value> values;
    std::vector<std::string> lines;  // what the call printed
};

uint64_t bitsOf(double v) {
    uint64_t b;
    std::memcpy(&b, &v, sizeof b);
    return b;
}

double doubleOf(uint64_t b) {
    double v;
    std::memcpy(&v, &b, sizeof v);
    return v;
}

double element(const mxArray* a, size_t i) {
    const void* p = mxGetData(a);
    switch (mxGetClassID(a)) {
    case mxDOUBLE_CLASS: return static_cast<const double*>(p)[i];
    case mxSINGLE_CLASS: return static_cast<const float*>(p)[i];
    case mxINT32_CLASS: return static_cast<const int32_t*>(p)[i];
    case mxUINT8_CLASS: return static_cast<const uint8_t*>(p)[i];
    default: return std::nan("");  // no other class comes back
    }
}

std::vector<std::string> linesOf(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) lines.push_back(line);
    return lines;
}

Record run(const mexhost::Plugin& plugin, const Case& c, std::vector<std::string>& faults) {
    std::vector<ArrayPtr> args = c.args();
    std::vector<const mxArray*> raw;
    for (const ArrayPtr& a : args) raw.push_back(a.get());
    const size_t arraysBefore = mexhost::liveArrays(), blocksBefore = mexhost::liveBlocks();
    const size_t imagesBefore = plugin.liveImages();
    mexhost::failNextCallAllocation(c.failAllocation);
    const mexhost::CallResult r = plugin.call(c.nlhs, raw);

    Record rec;
    rec.outcome = r.ok ? "ok" : r.errorId;
    rec.lines = linesOf(r.output);
    if (c.threadLines) std::sort(rec.lines.begin(), rec.lines.end());
    const std::string want = c.refusal ? c.refusal : "ok";
    const bool pastLastAllocation = c.failAllocation > 1 && r.ok;
    if (r.escaped) faults.push_back(c.name + ": an exception escaped: " + r.errorMessage);
    if (rec.outcome != want && !pastLastAllocation)
        faults.push_back(c.name + ": expected " + want + ", got " + rec.outcome + " " + r.errorMessage);
    // A call ended by a failed host allocation leaves what it made to the
    // host, which reclaims it; the plug-in itself must hold nothing then.
    const bool reclaimed = r.heldAtHostCall == 0 && r.leakedResources == 0 && mexhost::liveArrays() == arraysBefore &&
                           mexhost::liveBlocks() == blocksBefore;
    if (c.failAllocation && !r.ok ? !reclaimed : !r.leakFree())
        faults.push_back(c.name + ": left " + std::to_string(r.leakedArrays) + " arrays, " +
                         std::to_string(r.leakedBlocks) + " blocks and " + std::to_string(r.leakedResources) +
                         " resources behind");
    // Only the Linux build exports its image count.
    if (plugin.liveImages() != imagesBefore) faults.push_back(c.name + ": left images behind");
    if (!r.ok) return rec;

    for (size_t o = 0; o < r.outputs.size(); ++o) {
        const mxArray* a = r.outputs[o].get();
        auto add = [&rec](double v, Kind k) { rec.values.push_back(Value{bitsOf(v), k}); };
        add(static_cast<double>(mxGetClassID(a)), Kind::exact);
        add(static_cast<double>(mxGetM(a)), Kind::exact);
        add(static_cast<double>(mxGetN(a)), Kind::exact);
        const size_t n = mxGetNumberOfElements(a);
        for (size_t i = 0; i < n; ++i) add(element(a, i), c.kind ? c.kind(o, i) : Kind::exact);
    }
    return rec;
}

// Units in the last place between two values of the same precision (both
// finite or both the same non-finite value; otherwise far apart).
uint64_t ulps(double a, double b, Kind kind) {
    if (std::isnan(a) || std::isnan(b)) return std::isnan(a) && std::isnan(b) ? 0 : UINT64_MAX;
    if (a == b) return 0;
    if (std::isinf(a) || std::isinf(b)) return UINT64_MAX;
    auto ordered64 = [](double v) {
        int64_t i;
        std::memcpy(&i, &v, sizeof i);
        return i < 0 ? INT64_MIN - i : i;
    };
    auto ordered32 = [](double v) {
        const float f = static_cast<float>(v);
        int32_t i;
        std::memcpy(&i, &f, sizeof i);
        return static_cast<int64_t>(i < 0 ? INT32_MIN - i : i);
    };
    const int64_t x = kind == Kind::single ? ordered32(a) : ordered64(a);
    const int64_t y = kind == Kind::single ? ordered32(b) : ordered64(b);
    return x > y ? static_cast<uint64_t>(x) - static_cast<uint64_t>(y)
                 : static_cast<uint64_t>(y) - static_cast<uint64_t>(x);
}

void write(std::ostream& out, const std::string& name, const Record& r) {
    out << "case " << name << "\n" << r.outcome << " " << r.values.size() << " " << r.lines.size() << "\n";
    char line[32];
    for (const Value& v : r.values) {
        std::snprintf(line, sizeof line, "%016" PRIx64 " %c\n", v.bits, static_cast<char>(v.kind));
        out << line;
    }
    for (const std::string& l : r.lines) out << "| " << l << "\n";
}

bool read(std::istream& in, std::string& name, Record& r) {
    std::string line;
    if (!std::getline(in, line) || line.rfind("case ", 0) != 0) return false;
    name = line.substr(5);
    size_t count = 0, lines = 0;
    if (!(in >> r.outcome >> count >> lines)) return false;
    r.values.clear();
    r.lines.clear();
    for (size_t i = 0; i < count; ++i) {
        std::string hex, kind;
        if (!(in >> hex >> kind) || kind.size() != 1) return false;
        r.values.push_back(Value{std::stoull(hex, nullptr, 16), static_cast<Kind>(kind[0])});
    }
    std::getline(in, line);  // the rest of the last value's line
    for (size_t i = 0; i < lines; ++i) {
        if (!std::getline(in, line) || line.rfind("| ", 0) != 0) return false;
        r.lines.push_back(line.substr(2));
    }
    return true;
}

std::vector<Case> casesOf(const std::string& plugin) {
    if (plugin == "tmatch") return calls::tmatchCases();
    if (plugin == "gridcorners") return calls::gridcornersCases();
    if (plugin == "warpmatch") return calls::warpmatchCases();
    if (plugin == "patchmatch") return calls::patchmatchCases();
    throw std::runtime_error("no calls for " + plugin);
}

int compare(const std::string& program, const std::vector<std::pair<std::string, Record>>& got,
            const std::vector<std::pair<std::string, Record>>& want, std::vector<std::string>& faults) {
    if (want.size() != got.size())
        faults.push_back("the record holds " + std::to_string(want.size()) + " calls, " + std::to_string(got.size()) +
                         " were made");
    size_t total = 0, identical = 0, exactTotal = 0, exactIdentical = 0;
    uint64_t worst = 0;
    for (size_t i = 0; i < want.size() && i < got.size(); ++i) {
        const std::string& label = got[i].first;
        const Record& w = want[i].second;
        const Record& g = got[i].second;
        if (want[i].first != label) {
            faults.push_back("call " + std::to_string(i + 1) + " is \"" + label + "\" here, \"" + want[i].first +
                             "\" in the record");
            continue;
        }
        if (w.outcome != g.outcome) faults.push_back(label + ": " + g.outcome + " here, " + w.outcome + " on Linux");
        if (w.lines != g.lines) faults.push_back(label + ": printed other lines than on Linux");
        if (w.values.size() != g.values.size()) {
            faults.push_back(label + ": " + std::to_string(g.values.size()) + " values here, " +
                             std::to_string(w.values.size()) + " on Linux");
            continue;
        }
        for (size_t k = 0; k < g.values.size(); ++k) {
            const Value& a = g.values[k];
            const Value& b = w.values[k];
            ++total;
            exactTotal += b.kind == Kind::exact;
            if (a.bits == b.bits && a.kind == b.kind) {
                ++identical;
                exactIdentical += b.kind == Kind::exact;
                continue;
            }
            const double x = doubleOf(a.bits), y = doubleOf(b.bits);
            const uint64_t apart = a.kind == b.kind ? ulps(x, y, b.kind) : UINT64_MAX;
            if (b.kind == Kind::exact || apart > 2) {
                char what[200];
                std::snprintf(what, sizeof what, "value %zu: %.17g here, %.17g on Linux (%s)", k + 1, x, y,
                              b.kind == Kind::exact ? "must be bit-identical" : "more than 2 ulp apart");
                faults.push_back(label + ": " + what);
                continue;
            }
            worst = std::max(worst, apart);
        }
    }
    for (const std::string& f : faults) std::printf("FAULT %s\n", f.c_str());
    size_t refusals = 0;
    for (const auto& g : got) refusals += g.second.outcome != "ok";
    std::printf("%s: %zu calls, %zu of them ended by an error; %zu values compared with the Linux build: %zu "
                "bit-identical (%zu of the %zu that must be), %zu not (the others at most %" PRIu64 " ulp apart)\n",
                program.c_str(), got.size(), refusals, total, identical, exactIdentical, exactTotal, total - identical,
                worst);
    if (!faults.empty()) std::printf("%s: %zu faults\n", program.c_str(), faults.size());
    return faults.empty() ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
#ifndef _WIN32
    // The photographs as the calls read them, made on the Linux side only.
    if (argc == 4 && std::strcmp(argv[1], "--pgm") == 0) {
        const cv::Mat grey = cv::imread(argv[2], cv::IMREAD_GRAYSCALE);
        if (grey.empty() || !cv::imwrite(argv[3], grey)) {
            std::fprintf(stderr, "plugin_calls: cannot convert %s to %s\n", argv[2], argv[3]);
            return 1;
        }
        return 0;
    }
#endif
    if (argc != 5 || (std::strcmp(argv[3], "--write") != 0 && std::strcmp(argv[3], "--compare") != 0)) {
        std::fprintf(stderr, "usage: plugin_calls NAME PLUGIN (--write|--compare) FILE\n");
        return 2;
    }
    const std::string program = std::string(argv[1]) + "_calls";
    const bool writing = std::strcmp(argv[3], "--write") == 0;
    std::vector<std::string> faults;
    std::vector<std::pair<std::string, Record>> got;
    try {
        const mexhost::Plugin plugin(argv[2]);
        for (const Case& c : casesOf(argv[1])) got.emplace_back(c.name, run(plugin, c, faults));
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s: %s\n", program.c_str(), e.what());
        return 1;
    }
    if (writing) {
        std::ofstream out(argv[4]);
        for (const auto& g : got) write(out, g.first, g.second);
        out.close();
        if (!out) {
            std::fprintf(stderr, "%s: cannot write %s\n", program.c_str(), argv[4]);
            return 1;
        }
        for (const std::string& f : faults) std::printf("FAULT %s\n", f.c_str());
        std::printf("%s: %zu calls recorded in %s\n", program.c_str(), got.size(), argv[4]);
        return faults.empty() ? 0 : 1;
    }
    std::ifstream in(argv[4]);
    std::vector<std::pair<std::string, Record>> want;
    std::string name;
    Record r;
    while (read(in, name, r)) want.emplace_back(name, r);
    if (want.empty()) {
        std::fprintf(stderr, "%s: no calls recorded in %s\n", program.c_str(), argv[4]);
        return 1;
    }
    return compare(program, got, want, faults);
}
