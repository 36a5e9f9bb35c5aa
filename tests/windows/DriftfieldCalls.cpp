// One set of driftfield calls, run on the Linux build and, under wine, on the
// Windows one (driftfield.mexw64 on libmx.dll), so that the two can be
// compared value by value:
//
//   driftfield_calls PLUGIN --write FILE     records every call's outcome
//   driftfield_calls PLUGIN --compare FILE   runs the same calls and compares
//
// Either way every call must end as expected (results or the expected error
// identifier), let no exception escape and leave no host memory behind (one
// ended by a failed host allocation leaves it to the host to reclaim).
// Values that involve no exp or log (shapes, the zeros and copied cells of
// fixed nodes and skipped evaluations) must be bit-identical; the others
// within 1e-12 absolute plus 1e-9 relative: the C runtimes' exp differ in
// the last bit on a few arguments.
#include "MexHost.h"

#include <algorithm>
#include <cinttypes>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <limits>
#include <map>
#include <sstream>
#include <string>
#include <vector>

using mexhost::ArrayPtr;

namespace {

const double kNaN = std::numeric_limits<double>::quiet_NaN();
const double kInf = std::numeric_limits<double>::infinity();
const char* const kHostOutOfMemory = "regmex:host:outOfMemory";

// splitmix64: the same numbers from every compiler and C library.
struct Random {
    uint64_t state;
    explicit Random(uint64_t seed) : state(seed) {}
    double unit() {
        uint64_t z = (state += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        z ^= z >> 31;
        return static_cast<double>(z >> 11) * 0x1.0p-53;
    }
};

struct Point {
    double x, y;
};

// A lattice near its references on a score map with a few NaNs.
struct Field {
    int M, N;
    std::vector<Point> P, Q;  // slot y*N + x
    std::vector<unsigned char> fixed;
    int rows, cols;
    std::vector<double> map;  // column-major
    double windowHalf = 2, mode = 1, pairWeight = 0.8, dataWeight = 2.5, radius = 3, skipEval = 0, bandwidth = 1.1;

    Field(int m, int n, uint64_t seed, double fixedShare) : M(m), N(n), rows(6 * m + 4), cols(7 * n + 3) {
        Random rng(seed);
        for (int y = 0; y < M; ++y)
            for (int x = 0; x < N; ++x) {
                const Point q{3.0 + 7.0 * x + rng.unit(), 2.0 + 6.0 * y + rng.unit()};
                Q.push_back(q);
                P.push_back(Point{q.x + 3 * (rng.unit() - 0.5), q.y + 3 * (rng.unit() - 0.5)});
                fixed.push_back(rng.unit() < fixedShare);
            }
        map.resize(static_cast<size_t>(rows) * static_cast<size_t>(cols));
        for (double& v : map) v = rng.unit() < 0.03 ? kNaN : rng.unit();
    }

    bool isFixed(size_t columnMajor) const {
        const size_t y = columnMajor % static_cast<size_t>(M), x = columnMajor / static_cast<size_t>(M);
        return fixed[y * static_cast<size_t>(N) + x] != 0;
    }

    ArrayPtr cellsOf(const std::vector<Point>& pts) const {
        ArrayPtr c = mexhost::cells(static_cast<size_t>(M), static_cast<size_t>(N));
        for (int y = 0; y < M; ++y)
            for (int x = 0; x < N; ++x) {
                const Point p = pts[static_cast<size_t>(y * N + x)];
                mexhost::setCell(c.get(), static_cast<size_t>(y), static_cast<size_t>(x),
                                 mexhost::matrix(2, 1, {p.x, p.y}).get());
            }
        return c;
    }

    std::vector<ArrayPtr> args() const {
        std::vector<double> mask(static_cast<size_t>(M) * static_cast<size_t>(N));
        for (size_t i = 0; i < mask.size(); ++i) mask[i] = isFixed(i) ? 1.0 : 0.0;
        std::vector<ArrayPtr> a;
        a.push_back(cellsOf(P));
        a.push_back(cellsOf(Q));
        for (double v : {windowHalf, mode, pairWeight, dataWeight, radius}) a.push_back(mexhost::scalar(v));
        a.push_back(mexhost::matrix(static_cast<size_t>(rows), static_cast<size_t>(cols), map));
        a.push_back(mexhost::scalar(skipEval));
        a.push_back(mexhost::scalar(bandwidth));
        a.push_back(mexhost::matrix(static_cast<size_t>(M), static_cast<size_t>(N), mask));
        return a;
    }
};

using Change = std::function<void(std::vector<ArrayPtr>&)>;

struct Case {
    std::string name;
    Field field;
    Change change;       // applied to the arguments made from field
    int nlhs;
    const char* refusal;  // expected error identifier, or null
    size_t failAllocation = 0;  // the host's n-th allocation of the call fails
};

Field field(int m, int n, uint64_t seed, double fixedShare, std::function<void(Field&)> set = {}) {
    Field f(m, n, seed, fixedShare);
    if (set) set(f);
    return f;
}

Change none() {
    return [](std::vector<ArrayPtr>&) {};
}
Change setArg(size_t i, std::function<ArrayPtr()> make) {
    return [i, make](std::vector<ArrayPtr>& a) { a[i] = make(); };
}
Change setCellOf(size_t arg, size_t row, size_t col, std::function<ArrayPtr()> make) {
    return [=](std::vector<ArrayPtr>& a) { mexhost::setCell(a[arg].get(), row, col, make().get()); };
}
ArrayPtr column(double x, double y) { return mexhost::matrix(2, 1, {x, y}); }

std::vector<Case> cases() {
    std::vector<Case> c;
    auto ok = [&c](std::string name, Field f, Change ch = none(), int nlhs = 2) {
        c.push_back(Case{std::move(name), std::move(f), std::move(ch), nlhs, nullptr});
    };
    auto refused = [&c](std::string name, const char* id, Change ch, int nlhs = 2) {
        c.push_back(Case{std::move(name), Field(3, 4, 77, 0.0), std::move(ch), nlhs, id});
    };

    // Every mode on a 6x6 lattice with fixed nodes.
    for (const char* mode : {"0", "1", "1.5", "2"})
        ok(std::string("mode ") + mode, field(6, 6, 1, 0.25, [mode](Field& f) { f.mode = std::atof(mode); }));
    ok("mean shift, all free, radius 4.5", field(5, 4, 2, 0.0, [](Field& f) {
           f.mode = 2;
           f.radius = 4.5;
           f.windowHalf = 3;
           f.bandwidth = 0.7;
       }));
    ok("weighted mean, radius 2.5, no pairwise term", field(3, 5, 3, 0.2, [](Field& f) {
           f.mode = 0;
           f.radius = 2.5;
           f.pairWeight = 0;
       }));
    ok("one row", field(1, 7, 4, 0.0, [](Field& f) { f.mode = 0; }));
    ok("one column", field(5, 1, 5, 0.0));
    ok("radius 1 keeps the positions", field(3, 3, 6, 0.3, [](Field& f) { f.radius = 1; }));
    ok("vanishing belief", field(1, 2, 7, 0.0, [](Field& f) {
           f.Q = {Point{10, 10}, Point{20, 10}};
           f.P = {Point{10, 10}, Point{60, 10}};
           f.pairWeight = 100;
       }));
    ok("skipped evaluation", field(4, 5, 8, 0.25, [](Field& f) {
           f.skipEval = 1;
           f.mode = 0;
       }),
       setCellOf(0, 1, 2, [] { return mexhost::numeric(mxINT16_CLASS, {1, 3}, {7, 8, 9}); }));
    ok("every node fixed", field(4, 3, 9, 1.0));
    ok("empty lattice", field(0, 3, 10, 0.0));
    ok("one result", field(2, 3, 11, 0.0), none(), 1);
    ok("other real classes", field(3, 4, 12, 0.25, [](Field& f) {
           for (Point& p : f.P) p = Point{std::round(p.x), std::round(p.y)};
           for (double& v : f.map) v = std::isnan(v) ? 0 : std::round(v * 200);
           f.dataWeight = 0.01;
           f.radius = 2.5;
       }),
       [](std::vector<ArrayPtr>& a) {
           const size_t rows = mxGetM(a[7].get()), cols = mxGetN(a[7].get());
           a[7] = mexhost::numeric(mxUINT8_CLASS, {rows, cols}, mexhost::values(a[7].get()));
           a[10] = mexhost::numeric(mxLOGICAL_CLASS, {3, 4}, mexhost::values(a[10].get()));
           a[6] = mexhost::numeric(mxSINGLE_CLASS, {1, 1}, {2.5});
           a[3] = mexhost::numeric(mxINT32_CLASS, {1, 1}, {1});
       });

    // A refusal of each kind: count, class, shape, value, and the memory bound.
    refused("10 inputs", "driftfield:nargin", [](std::vector<ArrayPtr>& a) { a.pop_back(); });
    refused("12 inputs", "driftfield:nargin", [](std::vector<ArrayPtr>& a) { a.push_back(mexhost::scalar(0)); });
    refused("3 results", "driftfield:nargout", none(), 3);
    refused("positions not a cell", "driftfield:positions", setArg(0, [] { return mexhost::matrix(3, 4); }));
    refused("position of one element", "driftfield:positions", setCellOf(0, 2, 1, [] { return mexhost::scalar(4); }));
    refused("complex position", "driftfield:positions", setCellOf(0, 0, 3, [] { return mexhost::complexMatrix(2, 1); }));
    refused("free node at NaN", "driftfield:positions", setCellOf(0, 0, 0, [] { return column(kNaN, 3); }));
    refused("reference shape", "driftfield:reference", setArg(1, [] { return mexhost::cells(4, 3); }));
    refused("text reference", "driftfield:reference", setCellOf(1, 1, 1, [] { return mexhost::text("ab"); }));
    refused("reference at infinity", "driftfield:reference", setCellOf(1, 2, 3, [] { return column(4, kInf); }));
    refused("same reference", "driftfield:sameReference", [](std::vector<ArrayPtr>& a) {
        const mxArray* left = mxGetCell(a[1].get(), 2 + 1 * 3);
        mexhost::setCell(a[1].get(), 2, 2, left);
    });
    refused("windowHalf a vector", "driftfield:windowHalf", setArg(2, [] { return mexhost::matrix(1, 2, {1, 2}); }));
    refused("mean shift, windowHalf NaN", "driftfield:windowHalf", [](std::vector<ArrayPtr>& a) {
        a[3] = mexhost::scalar(2);
        a[2] = mexhost::scalar(kNaN);
    });
    refused("mode text", "driftfield:mode", setArg(3, [] { return mexhost::text("x"); }));
    refused("mode NaN", "driftfield:mode", setArg(3, [] { return mexhost::scalar(kNaN); }));
    refused("pairWeight complex", "driftfield:pairWeight", setArg(4, [] { return mexhost::complexMatrix(1, 1); }));
    refused("pairWeight negative", "driftfield:pairWeight", setArg(4, [] { return mexhost::scalar(-1); }));
    refused("dataWeight empty", "driftfield:dataWeight", setArg(5, [] { return mexhost::matrix(0, 0); }));
    refused("dataWeight NaN", "driftfield:dataWeight", setArg(5, [] { return mexhost::scalar(kNaN); }));
    refused("radius 0", "driftfield:radius", setArg(6, [] { return mexhost::scalar(0); }));
    refused("radius sparse", "driftfield:radius", setArg(6, [] { return mexhost::sparseMatrix(1, 1); }));
    refused("radius squared underflows", "driftfield:radius", setArg(6, [] { return mexhost::scalar(1e-170); }));
    refused("scoreMap complex", "driftfield:scoreMap", setArg(7, [] { return mexhost::complexMatrix(5, 5); }));
    refused("scoreMap 3-D", "driftfield:scoreMap", setArg(7, [] { return mexhost::numeric(mxDOUBLE_CLASS, {4, 4, 2}); }));
    refused("skipEval a vector", "driftfield:skipEval", setArg(8, [] { return mexhost::matrix(2, 1, {1, 1}); }));
    refused("bandwidth text", "driftfield:bandwidth", setArg(9, [] { return mexhost::text("h"); }));
    refused("mean shift, bandwidth 0", "driftfield:bandwidth", [](std::vector<ArrayPtr>& a) {
        a[3] = mexhost::scalar(5);
        a[9] = mexhost::scalar(0);
    });
    refused("fixedMask shape", "driftfield:fixedMask", setArg(10, [] { return mexhost::matrix(4, 3); }));
    refused("fixedMask a cell", "driftfield:fixedMask", setArg(10, [] { return mexhost::cells(3, 4); }));
    refused("stores too large", "driftfield:tooLarge", setArg(6, [] { return mexhost::scalar(2000); }));
    refused("radius past counting", "driftfield:tooLarge", setArg(6, [] { return mexhost::scalar(1e12); }));

    // Each host allocation of a small call failing in turn, as MATLAB's do
    // when memory runs out: the host's error passes out through the
    // plug-in's frames, and nothing is left behind.  Past the call's last
    // allocation the call succeeds.
    for (size_t n = 1; n <= 16; ++n) {
        c.push_back(Case{"host allocation " + std::to_string(n) + " fails",
                         field(2, 3, 13, 0.0, [](Field& f) { f.mode = 0; }), none(), 2, kHostOutOfMemory, n});
    }
    return c;
}

struct Value {
    uint64_t bits;
    bool exact;  // no exp or log on its way
};

struct Record {
    std::string outcome;  // "ok" or the error identifier
    std::vector<Value> values;
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
    case mxINT16_CLASS: return static_cast<const int16_t*>(p)[i];
    default: return kNaN;  // no other class comes back
    }
}

// Runs one call; what went wrong with it goes to faults.
Record run(const mexhost::Plugin& plugin, const Case& c, std::vector<std::string>& faults) {
    std::vector<ArrayPtr> args = c.field.args();
    c.change(args);
    std::vector<const mxArray*> raw;
    for (const ArrayPtr& a : args) raw.push_back(a.get());
    const size_t arraysBefore = mexhost::liveArrays(), blocksBefore = mexhost::liveBlocks();
    mexhost::failNextCallAllocation(c.failAllocation);
    const mexhost::CallResult r = plugin.call(c.nlhs, raw);

    Record rec;
    rec.outcome = r.ok ? "ok" : r.errorId;
    const std::string want = c.refusal ? c.refusal : "ok";
    const bool pastLastAllocation = c.failAllocation > 1 && r.ok;
    if (r.escaped) faults.push_back(c.name + ": an exception escaped: " + r.errorMessage);
    if (rec.outcome != want && !pastLastAllocation)
        faults.push_back(c.name + ": expected " + want + ", got " + rec.outcome + " " + r.errorMessage);
    // A call ended by a failed host allocation leaves what it made to the
    // host, which reclaims it (MATLAB does so too); the plug-in itself must
    // hold nothing then.
    const bool reclaimed = r.heldAtHostCall == 0 && r.leakedResources == 0 && mexhost::liveArrays() == arraysBefore &&
                           mexhost::liveBlocks() == blocksBefore;
    if (c.failAllocation && !r.ok ? !reclaimed : !r.leakFree())
        faults.push_back(c.name + ": left " + std::to_string(r.leakedArrays) + " arrays and " +
                         std::to_string(r.leakedBlocks) + " blocks behind");
    if (!r.output.empty()) faults.push_back(c.name + ": printed \"" + r.output + "\"");
    if (!r.ok) return rec;

    const Field& f = c.field;
    const bool skipped = f.skipEval == 1.0;
    auto add = [&rec](double v, bool exact) { rec.values.push_back(Value{bitsOf(v), exact}); };
    for (const ArrayPtr& out : r.outputs) {
        const mxArray* a = out.get();
        add(static_cast<double>(mxGetClassID(a)), true);
        add(static_cast<double>(mxGetM(a)), true);
        add(static_cast<double>(mxGetN(a)), true);
        const size_t n = mxGetNumberOfElements(a);
        for (size_t i = 0; i < n; ++i) {
            const bool exact = skipped || f.isFixed(i);
            if (!mxIsCell(a)) {
                add(element(a, i), exact);
                continue;
            }
            const mxArray* cell = mxGetCell(a, i);
            add(static_cast<double>(mxGetClassID(cell)), true);
            add(static_cast<double>(mxGetM(cell)), true);
            add(static_cast<double>(mxGetN(cell)), true);
            for (size_t k = 0; k < mxGetNumberOfElements(cell); ++k) add(element(cell, k), exact);
        }
    }
    return rec;
}

bool close(double a, double b) {
    if (std::isnan(a) || std::isnan(b)) return std::isnan(a) && std::isnan(b);
    return std::fabs(a - b) <= 1e-12 + 1e-9 * std::max(std::fabs(a), std::fabs(b));
}

void write(std::ostream& out, const std::string& name, const Record& r) {
    out << "case " << name << "\n" << r.outcome << " " << r.values.size() << "\n";
    char line[32];
    for (const Value& v : r.values) {
        std::snprintf(line, sizeof line, "%016" PRIx64 " %c\n", v.bits, v.exact ? 'e' : 'c');
        out << line;
    }
}

bool read(std::istream& in, std::string& name, Record& r) {
    std::string line;
    if (!std::getline(in, line)) return false;
    if (line.rfind("case ", 0) != 0) return false;
    name = line.substr(5);
    size_t count = 0;
    if (!(in >> r.outcome >> count)) return false;
    r.values.clear();
    for (size_t i = 0; i < count; ++i) {
        std::string hex, kind;
        if (!(in >> hex >> kind)) return false;
        r.values.push_back(Value{std::stoull(hex, nullptr, 16), kind == "e"});
    }
    std::getline(in, line);  // the rest of the last line
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 4 || (std::strcmp(argv[2], "--write") != 0 && std::strcmp(argv[2], "--compare") != 0)) {
        std::fprintf(stderr, "usage: driftfield_calls PLUGIN (--write|--compare) FILE\n");
        return 2;
    }
    const bool writing = std::strcmp(argv[2], "--write") == 0;
    std::vector<std::string> faults;
    std::vector<std::pair<std::string, Record>> got;
    try {
        const mexhost::Plugin plugin(argv[1]);
        for (const Case& c : cases()) got.emplace_back(c.name, run(plugin, c, faults));
    } catch (const std::exception& e) {
        std::fprintf(stderr, "driftfield_calls: %s\n", e.what());
        return 1;
    }
    size_t refusals = 0;
    for (const auto& g : got) refusals += g.second.outcome != "ok";
    if (writing) {
        std::ofstream out(argv[3]);
        for (const auto& g : got) write(out, g.first, g.second);
        out.close();
        if (!out) {
            std::fprintf(stderr, "driftfield_calls: cannot write %s\n", argv[3]);
            return 1;
        }
        for (const std::string& f : faults) std::printf("FAULT %s\n", f.c_str());
        std::printf("driftfield_calls: %zu calls (%zu ended by an error) recorded in %s\n", got.size(), refusals,
                    argv[3]);
        return faults.empty() ? 0 : 1;
    }

    std::ifstream in(argv[3]);
    std::vector<std::pair<std::string, Record>> want;
    std::string name;
    Record r;
    while (read(in, name, r)) want.emplace_back(name, r);
    if (want.empty()) {
        std::fprintf(stderr, "driftfield_calls: no calls recorded in %s\n", argv[3]);
        return 1;
    }
    if (want.size() != got.size()) faults.push_back("the record holds " + std::to_string(want.size()) + " calls, " +
                                                    std::to_string(got.size()) + " were made");
    size_t total = 0, identical = 0, exactTotal = 0, exactIdentical = 0;
    double worstAbs = 0, worstRel = 0;
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
        if (w.values.size() != g.values.size()) {
            faults.push_back(label + ": " + std::to_string(g.values.size()) + " values here, " +
                             std::to_string(w.values.size()) + " on Linux");
            continue;
        }
        for (size_t k = 0; k < g.values.size(); ++k) {
            const Value& a = g.values[k];
            const Value& b = w.values[k];
            ++total;
            exactTotal += b.exact;
            if (a.bits == b.bits) {
                ++identical;
                exactIdentical += b.exact;
                continue;
            }
            const double x = doubleOf(a.bits), y = doubleOf(b.bits);
            char what[160];
            std::snprintf(what, sizeof what, "value %zu: %.17g here, %.17g on Linux", k + 1, x, y);
            if (b.exact || a.exact != b.exact || !close(x, y)) {
                faults.push_back(label + ": " + what + (b.exact ? " (must be bit-identical)" : ""));
                continue;
            }
            if (!std::isnan(x)) {
                const double d = std::fabs(x - y);
                worstAbs = std::max(worstAbs, d);
                worstRel = std::max(worstRel, d / std::max(std::fabs(x), std::fabs(y)));
            }
        }
    }
    for (const std::string& f : faults) std::printf("FAULT %s\n", f.c_str());
    std::printf("driftfield_calls: %zu calls, %zu of them ended by an error; %zu values compared with the Linux "
                "build: %zu bit-identical (%zu of the %zu that involve no exp or log), %zu not (largest difference %.3g, "
                "relative %.3g)\n",
                got.size(), refusals, total, identical, exactIdentical, exactTotal, total - identical, worstAbs,
                worstRel);
    if (!faults.empty()) std::printf("driftfield_calls: %zu faults\n", faults.size());
    return faults.empty() ? 0 : 1;
}
